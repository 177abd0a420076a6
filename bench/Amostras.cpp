#include "Amostras.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <utility>

#include <filesystem>

#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Xml.h"

namespace qor::bench {

std::string EsquemaDoLote() { return ExecutableDir() + "Esquemas/vm60/enviNFe_v4.00.xsd"; }

bool EsquemasInstalados() {
  if (FileExists(EsquemaDoLote())) return true;
  std::fprintf(stderr, "official schema package not copied beside the executable\n");
  return false;
}

std::string AmostraUmItem() {
  const std::string path = ExecutableDir() + "exemplos/nfce-um-item-dinheiro.tx2";
  if (!FileExists(path)) throw std::runtime_error("sample note not installed: " + path);
  return LoadFromFile(path);
}

std::string NotaComItens(int itens) {
  const std::string amostra = AmostraUmItem();
  const std::size_t inicio = amostra.find("INCLUIRITEM");
  const std::size_t fim = amostra.find("SALVARITEM\n") + 11;
  const std::string item = amostra.substr(inicio, fim - inicio);
  std::string nota = amostra.substr(0, inicio);
  for (int n = 1; n <= itens; ++n) {
    std::string copia = item;
    copia.replace(copia.find("nItem_H02=1"), 11, "nItem_H02=" + std::to_string(n));
    nota += copia;
  }
  nota += amostra.substr(fim);
  // Totals of the sample are those of its one item: scale them, and pay with change.
  const auto trocar = [&nota](const std::string& campo, double valor) {
    const std::size_t at = nota.find("\n" + campo + "=");
    const std::size_t end = nota.find('\n', at + 1);
    char texto[32];
    std::snprintf(texto, sizeof texto, "%.2f", valor);
    nota.replace(at + 1, end - at - 1, campo + "=" + texto);
  };
  for (const auto& [campo, unitario] : {std::pair{"vBC_W03", 9.00},
                                        {"vICMS_W04", 1.62},
                                        {"vProd_W07", 9.00},
                                        {"vPIS_W13", 0.15},
                                        {"vCOFINS_W14", 0.68},
                                        {"vNF_W16", 9.00}}) {
    trocar(campo, unitario * itens);
  }
  trocar("vPag_YA03", 9.00 * itens + 1.00);
  return nota;
}

std::string LoteDeNotas(int notas, int itens) {
  const std::string nota = NotaComItens(itens);
  const std::size_t nNF = nota.find("\nnNF_B08=") + 1;
  const std::size_t fim = nota.find('\n', nNF);
  std::string lote;
  for (int n = 1; n <= notas; ++n) {
    lote += nota.substr(0, nNF) + "nNF_B08=" + std::to_string(n) + nota.substr(fim);
  }
  return lote;
}

const Ambiente& AmbienteDeTeste() {
  static const Ambiente ambiente = [] {
    const auto pasta = std::filesystem::temp_directory_path() / "qornfce-bench-componente";
    Ambiente a{sim::CreateTestPki((pasta / "pki").string(), "11222333000181", "1234"),
               pasta.string() + "/", (pasta / "servidores-hom.ini").string()};
    SaveToFile(a.servidores,
               "[SP]\nURLQRCODE=https://nfce.sefaz.teste/qrcode\n[URLCONSULTACHAVE]\n"
               "SP=https://nfce.sefaz.teste/consulta-chave\n");
    return a;
  }();
  return ambiente;
}

void Configurar(TqorNFCe& nfce) {
  const Ambiente& a = AmbienteDeTeste();
  nfce.SetDiagnosticMode(false);
  nfce.SetDiretorioLogErro(a.pasta + "LogErro/");
  nfce.SetDiretorioLog(a.pasta + "Log/");
  nfce.SetDiretorioXmlDestinatario(a.pasta + "XmlDestinatario/");
  nfce.SetUF("SP");
  nfce.SetCNPJ(a.pki.cnpj);
  nfce.SetArquivoServidoresHom(a.servidores);
  nfce.SetCaminhoCertificado(a.pki.companyPfx);
  nfce.SetSenhaCertificado(a.pki.password);
}

std::chrono::system_clock::time_point InstanteDaAmostra() {
  using namespace std::chrono;
  // dhEmi 2026-12-07T10:15:00-03:00
  return sys_days{year{2026} / 12 / 7} + hours{13} + minutes{15};
}

std::string NotaAutorizada(int itens) {
  TqorNFCe nfce;
  Configurar(nfce);
  std::string nota = nfce.AssinarNota(nfce.ConverterLoteParaXml(
      NotaComItens(itens), TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g));
  if (nota.compare(0, 5, "<?xml") == 0) nota.erase(0, nota.find("?>") + 2);
  const std::string chave = GetXMLAttributeByIndex(nota, "infNFe", "Id").substr(3);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\">" +
         nota +
         "<protNFe versao=\"4.00\"><infProt><tpAmb>2</tpAmb><verAplic>SP_NFCE_1.0</verAplic>"
         "<chNFe>" +
         chave +
         "</chNFe><dhRecbto>2026-12-07T10:15:03-03:00</dhRecbto>"
         "<nProt>135260000000001</nProt><digVal>" +
         GetValueTag("DigestValue", nota) +
         "</digVal><cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo></infProt>"
         "</protNFe></nfeProc>";
}

double ResidenteMiB() {
  std::ifstream statm("/proc/self/statm");
  long total = 0, residentes = 0;
  statm >> total >> residentes;
  return static_cast<double>(residentes) * static_cast<double>(::sysconf(_SC_PAGESIZE)) /
         (1024.0 * 1024.0);
}

}  // namespace qor::bench
