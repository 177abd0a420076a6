// qornfce danfce: the DANFCE of a note as PDF, HTML, TXT, a PNG image or an ESC/POS receipt.
#include <iostream>
#include <set>

#include "Commands.h"
#include "ComponentOptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "utils/Notas.h"

namespace qor::cli {

namespace {

struct TFormato {
  const char* nome;
  int exportacao;  // ExportarDanfce's format; 0: not an export
  const char* extensao;
};
constexpr TFormato kFormatos[] = {{"pdf", 1, ".pdf"},
                                  {"html", 2, ".html"},
                                  {"txt", 3, ".txt"},
                                  {"png", 0, ".png"},
                                  {"escpos", 0, ".bin"}};

}  // namespace

int RunDanfce(int argc, char** argv) {
  std::set<std::string> valoradas = ComponentValuedOptions();
  valoradas.insert({"formato", "saida", "largura"});
  const Options options(argc, argv, 2, valoradas, ComponentFlags());
  if (options.Positional().size() != 1) throw UsageError("informe o arquivo da nota (ou - )");
  const std::string nomeFormato = options.Get("formato", "pdf");
  const TFormato* formato = nullptr;
  for (const TFormato& f : kFormatos) {
    if (nomeFormato == f.nome) formato = &f;
  }
  if (formato == nullptr) {
    throw UsageError("valor inválido para --formato: " + nomeFormato +
                     " (use pdf, html, txt, png ou escpos)");
  }
  const std::string largura = options.Get("largura", "80");
  if (largura != "80" && largura != "58") {
    throw UsageError("valor inválido para --largura: " + largura + " (use 58 ou 80)");
  }
  const std::string xml = ReadInput(options.Positional()[0]);

  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  TDanfceSettings& danfce = nfce.GetDanfceSettings();
  if (options.Has("largura")) {
    const std::string pares = danfce.GetParamsAvancados();
    danfce.SetParamsAvancados((pares.empty() ? "" : pares + ";") + "LarguraBobina=" + largura);
  }
  const bool escpos = std::string(formato->nome) == "escpos";
  std::string saida = options.Get("saida");
  if (saida.empty() && !(escpos && !nfce.GetEscPosSettings().GetPortaEscPos().empty())) {
    saida = getIDNotaXPath(xml) + formato->extensao;
  }
  // A receipt printer's port "tcp:HOST[:PORTA]" is an address, not a file.
  if (!saida.empty() && !(escpos && saida.starts_with("tcp:"))) saida = FromCurrentDir(saida);

  if (formato->exportacao != 0) {
    nfce.ExportarDanfce("", xml, saida, formato->exportacao, "");
  } else if (escpos) {
    TEscPosSettings& impressora = nfce.GetEscPosSettings();
    if (!saida.empty()) impressora.SetPortaEscPos(saida);
    if (options.Has("largura")) impressora.SetColunasFonteNormalEscPos(largura == "58" ? 32 : 48);
    nfce.SetUtilizarEscPOS(true);
    nfce.ImprimirDanfce("", xml, "", "");
    saida = impressora.GetPortaEscPos();
  } else {
    const std::string imagem = nfce.VisualizarDanfce("", xml, "");
    CopyFile(imagem, saida);
    DeleteFile(imagem);
  }
  std::cout << saida << "\n";
  return 0;
}

}  // namespace qor::cli
