// qornfce demo: the whole road that exists so far, against the simulator, in one folder.
#include <filesystem>
#include <iostream>

#include "Commands.h"
#include "ComponentOptions.h"
#include "Simulator.h"
#include "TestPki.h"
#include "XmlSignature.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Xml.h"

namespace qor::cli {

namespace {

constexpr const char* kCnpj = "11222333000181";
constexpr const char* kSenha = "1234";
// A well-formed access key of the demo's company (check digit included) that was never sent.
constexpr const char* kChaveNaoEmitida = "35240111222333000181650010000000011123456780";

// The sample note the demo converts (installed beside the executable).
constexpr const char* kExemplo = "nfce-varios-itens.tx2";

// Elements named `tag` in a well-formed text.
int XmlTagCount(const std::string& xml, const std::string& tag) {
  return XmlDocument::Parse(xml).CountTag(tag);
}

void Step(int n, const std::string& text) { std::cout << "[" << n << "] " << text << "\n"; }

}  // namespace

int RunDemo(int argc, char** argv) {
  const Options options(argc, argv, 2, {"pasta"}, {"help"});
  if (options.Has("help")) {
    std::cout << "uso: qornfce demo [--pasta PASTA]\n"
                 "Cria a pasta de trabalho (padrão ./demo-nfce), inicia o simulador de\n"
                 "homologação em 127.0.0.1, cria certificados de teste, configura o componente\n"
                 "e executa as operações disponíveis, deixando logs e arquivos na pasta.\n";
    return 0;
  }
  const std::string folder = FromCurrentDir(options.Get("pasta", "demo-nfce")) + "/";
  ForceDirectories(folder);
  std::cout << "Pasta de trabalho: " << folder << "\n";

  Step(1, "Criando a cadeia de certificados de teste em " + folder + "pki/");
  const sim::TestPki pki = sim::CreateTestPki(folder + "pki", kCnpj, kSenha);

  Step(2, "Iniciando o simulador de homologação");
  sim::SimulatorOptions simOptions;
  simOptions.workFolder = folder + "simulador";
  simOptions.schemasFolder = ExecutableDir() + "Esquemas/vm60";
  simOptions.caCert = pki.caCert;
  simOptions.serverCert = pki.serverCert;
  simOptions.serverKey = pki.serverKey;
  sim::Simulator simulator(simOptions);
  simulator.Start();
  std::cout << "    ouvindo em " << simulator.BaseUrl() << "\n";

  Step(3, "Gravando os arquivos de servidores apontando para o simulador");
  const std::string prod = folder + "nfceServidoresProd.ini";
  const std::string hom = folder + "nfceServidoresHom.ini";
  simulator.WriteServerFiles(prod, hom);
  std::cout << "    " << hom << "\n    " << prod << "\n";

  Step(4, "Configurando o componente (UF SP, homologação, certificado A1, servidor verificado)");
  const std::string config = folder + "nfceConfig.ini";
  {
    TqorNFCe configurado;
    configurado.SetDiretorioLogErro(folder + "LogErro/");
    configurado.SetUF("SP");
    configurado.SetCNPJ(kCnpj);
    configurado.SetAmbiente(TAmbienteKind::akHomologacao);
    configurado.SetArquivoServidoresHom(hom);
    configurado.SetArquivoServidoresProd(prod);
    configurado.SetDiretorioLog(folder + "Log/");
    configurado.SetDiretorioXmlDestinatario(folder + "XmlDestinatario/");
    configurado.SetDiretorioTemporario(folder + "Temp/");
    configurado.SetCaminhoCertificado(pki.companyPfx);
    configurado.SetSenhaCertificado(kSenha);
    configurado.SetIgnoreInvalidCertificates(false);
    configurado.SetArquivoCadeiaCertificados(pki.caCert);
    configurado.SaveConfig(config);
  }
  std::cout << "    configuração gravada em " << config << "\n";
  // The road runs from the file alone, as a point-of-sale application would.
  TqorNFCe nfce;
  nfce.LoadConfig(config);
  nfce.OnLog = [](const std::string& kind, const std::string&, const std::string& file) {
    std::cout << "    log " << kind << ": " << file << "\n";
  };

  Step(5, "StatusDoServico");
  const std::string reply = nfce.StatusDoServico();
  std::cout << "    cStat " << GetValueTag("cStat", reply) << " - " << GetValueTag("xMotivo", reply)
            << "\n    resposta: " << reply << "\n";

  Step(6, "ConsultarNF de uma chave que a SEFAZ não conhece (o pedido é validado pelo esquema)");
  const std::string consulta = nfce.ConsultarNF(kChaveNaoEmitida);
  std::cout << "    cStat " << GetValueTag("cStat", consulta) << " - "
            << GetValueTag("xMotivo", consulta) << "\n";

  Step(7, "ConverterLoteParaXml de um exemplo TX2 (exemplos/" + std::string(kExemplo) + ")");
  const std::string lote =
      nfce.ConverterLoteParaXml(ExecutableDir() + "exemplos/" + kExemplo,
                                TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g);
  SaveToFile(folder + "nfce-convertida.xml", lote);
  const std::string nota = lote.substr(0, lote.find("\r\n"));
  std::cout << "    chave " << GetXMLAttributeByIndex(nota, "infNFe", "Id").substr(3) << ", "
            << XmlTagCount(nota, "det") << " itens, vNF " << GetValueTag("vNF", nota)
            << "\n    nota (ainda sem assinatura), gravada em " << folder
            << "nfce-convertida.xml:\n    " << nota << "\n";

  Step(8, "AssinarNota: assinatura com o certificado A1 e infNFeSupl (QR Code e urlChave)");
  // The QR code uses the homologation default CSC (no DANFCE.TokenNFCe configured) and the
  // URLQRCODE / URLCONSULTACHAVE addresses of the simulator's server files. The signature is
  // checked by the simulator's own verifier, which shares no code with the signer.
  const std::string assinada = nfce.AssinarNota(nota);
  SaveToFile(folder + "nfce-assinada.xml", assinada);
  const std::string falha = sim::VerifyEnveloped(assinada, "infNFe", pki.caCert);
  std::cout << "    chave " << GetXMLAttributeByIndex(assinada, "infNFe", "Id").substr(3)
            << "\n    "
            << (falha.empty() ? "assinatura verificada" : "assinatura inválida: " + falha)
            << "\n    qrCode " << GetValueTag("qrCode", assinada) << "\n    urlChave "
            << GetValueTag("urlChave", assinada) << "\n    nota assinada gravada em " << folder
            << "nfce-assinada.xml\n";

  simulator.Stop();
  std::cout << "\nArquivos deixados em " << folder << ":\n";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      std::cout << "  " << std::filesystem::relative(entry.path(), folder).string() << "\n";
    }
  }
  return GetValueTag("cStat", reply) == "107" && GetValueTag("cStat", consulta) == "217" &&
                 !nota.empty() && falha.empty()
             ? 0
             : 1;
}

}  // namespace qor::cli
