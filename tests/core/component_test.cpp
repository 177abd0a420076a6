#include "core/TqorNFCe.h"

#include <gtest/gtest.h>

#include <regex>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/TStrings.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A component configured to pass CheckConfig, all of its folders inside one temporary folder.
struct Configured {
  TempDir dir;
  TqorNFCe nfce;
  Configured() {
    nfce.SetDiretorioLogErro(dir / "LogErro/");
    nfce.SetUF("SP");
    nfce.SetCNPJ("11222333000181");
    nfce.SetDiretorioLog(dir / "Log/");
    nfce.SetDiretorioXmlDestinatario(dir / "XmlDestinatario");
    WriteFile(dir / "hom.ini", "[SP]\nNfeStatusServico4=https://127.0.0.1:1/status\n");
    nfce.SetArquivoServidoresHom(dir / "hom.ini");
    nfce.SetArquivoServidoresProd(dir / "prod.ini");
  }
  std::string ExceptionLog() { return ReadFile(dir / "LogErro/nfce_exception.log"); }
};

TEST(Component, DefaultsOfANewComponent) {
  TqorNFCe nfce;
  EXPECT_EQ(nfce.GetAmbiente(), TAmbienteKind::akHomologacao);
  EXPECT_EQ(nfce.GetVersaoManual(), TVersaoManual::vm60);
  EXPECT_EQ(nfce.GetMaxSizeLoteEnvio(), 500);
  EXPECT_EQ(nfce.GetSectionINI(), "NFCE");
  EXPECT_EQ(nfce.GetDiretorioLog(), "Log\\");
  EXPECT_EQ(nfce.GetDiretorioXmlDestinatario(), "XmlDestinatario\\");
  EXPECT_EQ(nfce.GetDiretorioLogErro(), "");
  EXPECT_EQ(nfce.GetTipoCertificado(), TCertificadoKind::ckFile);
  EXPECT_TRUE(nfce.GetIgnoreInvalidCertificates());
  EXPECT_TRUE(nfce.GetDiagnosticMode());
  EXPECT_TRUE(nfce.GetAtualizarArquivoServidores());
  EXPECT_TRUE(nfce.GetSalvarLogsEmDisco());
  EXPECT_FALSE(nfce.GetValidarEsquemaAntesEnvio());
  EXPECT_EQ(nfce.GetCaracteresRemoverAcentos().rfind("áéíóú", 0), 0u);
  EXPECT_TRUE(std::regex_match(nfce.GetVersao(), std::regex(R"(\d+\.\d+\.\d+\.\d+)")));
  // Relative folders are anchored at the executable's folder, with the version sub-folder.
  EXPECT_EQ(nfce.GetDiretorioTemplates(), ExecutableDir() + "Templates/vm60/");
  EXPECT_EQ(nfce.GetDiretorioEsquemas(), ExecutableDir() + "Esquemas/vm60/");
}

TEST(Component, UFIsCheckedAndStoredInUpperCase) {
  Configured c;
  c.nfce.SetUF("sp");
  EXPECT_EQ(c.nfce.GetUF(), "SP");
  EXPECT_EQ(c.nfce.GetLocalCode(), "35");
  c.nfce.SetUF("an");
  EXPECT_EQ(c.nfce.GetUF(), "AN");
  EXPECT_EQ(c.nfce.GetLocalCode(), "91");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { c.nfce.SetUF("XX"); }),
            "a sigla da UF XX, é inválida.");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { c.nfce.SetUF(""); }),
            "a sigla da UF , é inválida.");
  EXPECT_EQ(c.nfce.GetUF(), "AN") << "a refused UF leaves the property unchanged";
  EXPECT_NE(c.ExceptionLog().find("EqorNFCeCheckParamsException : a sigla da UF XX, é inválida."),
            std::string::npos);
}

TEST(Component, ManualVersionOutsideTheEnumerationIsRefused) {
  Configured c;
  c.nfce.SetVersaoManual(TVersaoManual::vm50b);
  EXPECT_EQ(MessageOf<EqorNFCeVersaoManualException>(
                [&] { c.nfce.SetVersaoManual(static_cast<TVersaoManual>(4)); }),
            "O componente NFCe só aceita VersaoManual = vm50, vm50a, vm50b ou vm60");
  EXPECT_EQ(c.nfce.GetVersaoManual(), TVersaoManual::vm50b);
  EXPECT_EQ(c.nfce.GetDiretorioTemplates(), ExecutableDir() + "Templates/vm50b/");
}

TEST(Component, FoldersFollowTheManualVersionAndTheirRules) {
  Configured c;
  c.nfce.SetDiretorioTemplates(c.dir / "tpl\\VM50A\\");
  EXPECT_EQ(c.nfce.GetDiretorioTemplates(), c.dir / "tpl/vm60/");
  EXPECT_EQ(c.nfce.GetTemplateFolder(), c.dir / "tpl/vm60/SP/");
  // A leading backslash without a drive is relative to the executable, never the root.
  c.nfce.SetDiretorioEsquemas("\\Esquemas\\");
  EXPECT_EQ(c.nfce.GetDiretorioEsquemas(), ExecutableDir() + "Esquemas/vm60/");
  c.nfce.SetDiretorioXmlDestinatario(c.dir / "dest");
  EXPECT_EQ(c.nfce.GetDiretorioXmlDestinatario(), c.dir / "dest\\");
  EXPECT_EQ(c.nfce.GetDiretorioDestinatario(), c.dir / "dest/");
  EXPECT_TRUE(DirectoryExists(c.dir / "dest"));
  c.nfce.SetDiretorioLogErro(c.dir / "a/b/erros");
  EXPECT_TRUE(DirectoryExists(c.dir / "a/b/erros")) << "the error folder is made with parents";
  c.nfce.SetArquivoServidoresHom("servidores\\hom.ini");
  EXPECT_EQ(c.nfce.GetArquivoServidoresHom(), ExecutableDir() + "servidores/hom.ini");
}

TEST(Component, CheckConfigRulesInOrder) {
  {
    TqorNFCe empty;
    EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { empty.CheckConfig(); }),
              "O campo UF está vazio.");
  }
  Configured c;
  c.nfce.SetCNPJ("");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { c.nfce.CheckConfig(); }),
            "O campo CNPJ está vazio.");
  c.nfce.SetCNPJ("1122233300018");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { c.nfce.CheckConfig(); }),
            "O CNPJ não possui 14 digitos. 1122233300018");
  c.nfce.SetCNPJ("11222333000181");
  // Homologation needs only its own file; the log and recipient folders are made on the way.
  c.nfce.CheckConfig();
  EXPECT_TRUE(DirectoryExists(c.dir / "Log"));
  EXPECT_TRUE(DirectoryExists(c.dir / "XmlDestinatario"));
  c.nfce.SetAmbiente(TAmbienteKind::akProducao);
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { c.nfce.CheckConfig(); }),
            "Caminho dos servidores de Produção inválido. " + c.dir / "prod.ini");
  WriteFile(c.dir / "prod.ini", "[SP]\n");
  c.nfce.CheckConfig();
  DeleteFile(c.dir / "hom.ini");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { c.nfce.CheckConfig(); }),
            "Caminho dos servidores de Homologação inválido. " + c.dir / "hom.ini")
      << "the homologation file is required whatever the environment";
  WriteFile(c.dir / "hom.ini", "[SP]\n");
  c.nfce.SetMaxSizeLoteEnvio(0);
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { c.nfce.CheckConfig(); }),
            "O tamanho máximo para o lote está com valor menor que um.");
  c.nfce.SetMaxSizeLoteEnvio(1);
  c.nfce.SetDiretorioLog(c.dir / "nao/existe/Log/");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { c.nfce.CheckConfig(); }),
            "O diretório para salvar os Logs, é inválido. " + c.dir / "nao/existe/Log/")
      << "the log folder is made one level only";
}

TEST(Component, AddressLookupReadsTheFileOfTheEnvironmentEveryTime) {
  Configured c;
  EXPECT_EQ(c.nfce.GetWSAddress("NfeStatusServico4"), "https://127.0.0.1:1/status");
  EXPECT_EQ(c.nfce.GetWSAddress("nfestatusservico4"), "https://127.0.0.1:1/status");
  WriteFile(c.dir / "hom.ini",
            "[sp]\nNfeStatusServico4=https://127.0.0.1:2/novo\nSoapActionStatus=x\n");
  EXPECT_EQ(c.nfce.GetWSAddress("NfeStatusServico4"), "https://127.0.0.1:2/novo");
  EXPECT_EQ(c.nfce.GetIniVal("SoapActionStatus", "padrão"), "x");
  EXPECT_EQ(c.nfce.GetIniVal("ResultTagStatus", "padrão"), "padrão");
  EXPECT_EQ(MessageOf<EqorNFCeAddressException>([&] { c.nfce.GetWSAddress("NfeRecepcao4"); }),
            "Servidor para NfeRecepcao4 não definido no arquivo: " + c.dir / "hom.ini");
  c.nfce.SetAmbiente(TAmbienteKind::akProducao);
  EXPECT_EQ(MessageOf<EqorFileNotFoundException>([&] { c.nfce.GetWSAddress("NfeStatusServico4"); }),
            "O arquivo de servidores informado não existe: " + c.dir / "prod.ini");
}

TEST(Component, TemplatesComeFromTheCatalogueOrFromFiles) {
  Configured c;
  const std::string status = c.nfce.LoadTemplate("pedido_status.xml");
  EXPECT_NE(status.find("<consStatServ"), std::string::npos);
  EXPECT_NE(status.find("versao=\"4.00\""), std::string::npos);
  EXPECT_EQ(c.nfce.LoadTemplate("nao_existe.xml"), "");

  c.nfce.SetVersaoManual(TVersaoManual::vm50a);
  c.nfce.SetDiretorioTemplates(c.dir / "Templates/");
  EXPECT_EQ(
      MessageOf<EqorTemplateNotFoundException>([&] { c.nfce.LoadTemplate("pedido_status.xml"); }),
      "Arquivo de template não encontrado: " + c.dir / "Templates/vm50a/SP/pedido_status.xml");
  WriteFile(c.dir / "Templates/vm50a/SP/pedido_status.xml", "<arquivo>%s %s</arquivo>");
  EXPECT_EQ(c.nfce.LoadTemplate("pedido_status.xml"), "<arquivo>%s %s</arquivo>");
  WriteFile(c.dir / "proprio.xml", "<proprio/>");
  EXPECT_EQ(c.nfce.LoadTemplate(c.dir / "proprio.xml"), "<proprio/>")
      << "an existing file name is used as is";
}

TEST(Component, UnwrappingTheSoapReply) {
  TqorNFCe nfce;
  const std::string envelope =
      "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Header/>"
      "<env:Body><nfeResultMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4\">"
      "<retConsStatServ xmlns=\"http://www.portalfiscal.inf.br/nfe\" "
      "versao=\"4.00\"><cStat>107</cStat>"
      "</retConsStatServ></nfeResultMsg></env:Body></env:Envelope>";
  const std::string body = nfce.DesenveloparSoap(envelope);
  EXPECT_EQ(body.rfind("<nfeResultMsg", 0), 0u) << body;
  EXPECT_NE(body.find("xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4\""),
            std::string::npos);
  EXPECT_NE(body.find("<cStat>107</cStat>"), std::string::npos);

  const std::string inut =
      "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body><r>"
      "<retInutNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" "
      "versao=\"4.00\"><x>1</x></retInutNFe>"
      "</r></soap:Body></soap:Envelope>";
  EXPECT_EQ(nfce.DesenveloparSoap(inut).rfind("<retInutNFe", 0), 0u);

  const std::string noBody = "<retConsStatServ><cStat>107</cStat></retConsStatServ>";
  EXPECT_EQ(nfce.DesenveloparSoap(noBody), noBody);
  EXPECT_EQ(nfce.DesenveloparSoap("não é XML"), "não é XML");

  // A reply carried as escaped text is read back; text that is no document stays in its element.
  const auto comTexto = [](const std::string& texto) {
    return "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
           "<nfeResultMsg xmlns=\"urn:w\">" +
           texto + "</nfeResultMsg></soap:Body></soap:Envelope>";
  };
  EXPECT_EQ(nfce.DesenveloparSoap(comTexto("\n &lt;?xml version=\"1.0\"?&gt;&lt;retConsReciNFe "
                                           "versao=\"4.00\"&gt;&lt;xMotivo&gt;A &amp;amp; "
                                           "B&lt;/xMotivo&gt;&lt;/retConsReciNFe&gt; ")),
            "<?xml version=\"1.0\"?><retConsReciNFe versao=\"4.00\"><xMotivo>A &amp; "
            "B</xMotivo></retConsReciNFe>");
  EXPECT_EQ(nfce.DesenveloparSoap(comTexto("<![CDATA[<retInutNFe><x>1</x></retInutNFe>]]>")),
            "<retInutNFe><x>1</x></retInutNFe>");
  for (const char* texto :
       {"&lt;a&gt;sem fim", "Serviço paralisado", "", "texto &lt;a/&gt;<b>com filho</b>"}) {
    EXPECT_EQ(nfce.DesenveloparSoap(comTexto(texto)).rfind("<nfeResultMsg", 0), 0u) << texto;
  }
}

TEST(Component, CrossReferenceFilesFollowTheSaveSwitch) {
  Configured c;
  WriteFile(c.dir / "Log/1-env-lot.xml",
            "<enviNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><NFe><infNFe "
            "Id=\"NFe35000000000000000000000000000000000000000001\"/>"
            "</NFe><NFe><infNFe "
            "Id=\"NFe35000000000000000000000000000000000000000002\"/></NFe></enviNFe>");
  c.nfce.SaveFileChavesTemporario("1-env-lot.xml");
  EXPECT_EQ(ReadFile(c.dir / "XmlDestinatario/35000000000000000000000000000000000000000001"),
            "env-lot=1-env-lot.xml");
  EXPECT_EQ(ReadFile(c.dir / "XmlDestinatario/35000000000000000000000000000000000000000002"),
            "env-lot=1-env-lot.xml");
  c.nfce.SaveFileTemporario("351000000000001", "1-env-lot.xml");
  EXPECT_EQ(ReadFile(c.dir / "XmlDestinatario/351000000000001"), "env-lot=1-env-lot.xml");
  EXPECT_THROW(c.nfce.SaveFileTemporario("../fora", "1-env-lot.xml"), EqorNFCeCheckParamsException);

  c.nfce.SetSalvarLogsEmDisco(false);
  c.nfce.SaveFileTemporario("351000000000002", "1-env-lot.xml");
  EXPECT_FALSE(FileExists(c.dir / "XmlDestinatario/351000000000002"));
}

TEST(Component, TelemetryRecordsPingsOnlyWithDiagnosticsAndALogFolder) {
  Configured c;
  c.nfce.SendTelemetryPing("Teste");
  const auto files = ListFiles(c.dir / "Log/diagnosticmode/nfce/", "telemetria-*.jsonl");
  ASSERT_EQ(files.size(), 1u);
  const std::string events = ReadFile(c.dir / "Log/diagnosticmode/nfce/" + files[0]);
  EXPECT_NE(events.find("\"Teste\""), std::string::npos);
  EXPECT_NE(events.find("11222333000181"), std::string::npos);

  // Without a log folder of its own a component records nothing, not even in the default one.
  const std::string defaultFolder = ExecutableDir() + "Log/diagnosticmode/nfce/";
  auto allEvents = [&] {
    std::string text;
    if (DirectoryExists(defaultFolder)) {
      for (const auto& f : ListFiles(defaultFolder, "*")) text += ReadFile(defaultFolder + f);
    }
    return text;
  };
  const std::string marker = "Nada-" + std::to_string(CurrentProcessId());
  TqorNFCe fresh;
  fresh.SetDiretorioLogErro(c.dir / "LogErro2/");
  fresh.SendTelemetryPing(marker);
  EXPECT_EQ(allEvents().find(marker), std::string::npos);

  c.nfce.SetDiagnosticMode(false);
  c.nfce.SendTelemetryPing("Desligado");
  EXPECT_EQ(ReadFile(c.dir / "Log/diagnosticmode/nfce/" + files[0]).find("Desligado"),
            std::string::npos);
}

// The telemetry events of `evento`: "ping" lines, or the failure lines of class `classe`.
int Eventos(const Configured& c, const std::string& evento, const std::string& classe = {}) {
  const std::string pasta = c.dir / "Log/diagnosticmode/nfce/";
  int total = 0;
  for (const std::string& arquivo : ListFiles(pasta, "telemetria-*.jsonl")) {
    TStrings linhas;
    linhas.SetText(ReadFile(pasta + arquivo));
    for (const std::string& linha : linhas.Lines()) {
      const bool falha = linha.find("\"classe\":") != std::string::npos;
      total += linha.find("\"evento\":\"" + evento + "\"") != std::string::npos &&
               (classe.empty() ? !falha
                               : linha.find("\"classe\":\"" + classe + "\"") != std::string::npos);
    }
  }
  return total;
}

TEST(Component, TelemetryOfTheConfigurationAndOfTheDistributionCheck) {
  Configured c;
  EXPECT_THROW(c.nfce.LoadConfig(c.dir / "nao-existe.ini"), EqorConfigINIException);
  EXPECT_THROW(c.nfce.LoadConfig(static_cast<const TIniFile*>(nullptr)), EqorConfigINIException);
  EXPECT_THROW(c.nfce.SaveConfig(static_cast<TIniFile*>(nullptr)), EqorConfigINIException);
  EXPECT_EQ(Eventos(c, "LoadConfig", "EqorConfigINIException"), 2);
  EXPECT_EQ(Eventos(c, "LoadConfig"), 0) << "the ping follows a load that was made";
  EXPECT_EQ(Eventos(c, "SaveConfig"), 1);
  EXPECT_EQ(Eventos(c, "SaveConfig", "EqorConfigINIException"), 1);
  TIniFile ini;
  c.nfce.SaveConfig(&ini);
  c.nfce.LoadConfig(&ini);
  EXPECT_EQ(Eventos(c, "LoadConfig"), 1);

  // The distribution check pings, and its failure is the host's to report.
  EXPECT_THROW(c.nfce.ValidarArquivoXmlDestinatario(" "),
               EqorNFCeValidarArquivoXmlDestinatarioException);
  EXPECT_EQ(Eventos(c, "ValidarArquivoXmlDestinatario"), 1);
  EXPECT_EQ(
      Eventos(c, "ValidarArquivoXmlDestinatario", "EqorNFCeValidarArquivoXmlDestinatarioException"),
      0);
}

TEST(Component, ATelemetryFailureGoesToTheExceptionLogAndNeverStopsTheCaller) {
  Configured c;
  WriteFile(c.dir / "Log/diagnosticmode", "um arquivo onde a pasta deveria estar");
  EXPECT_NO_THROW(c.nfce.SendTelemetryPing("StatusDoServico"));
  EXPECT_NE(c.ExceptionLog().find(" : Ocorreu um problema ao enviar dados para telemetria: "),
            std::string::npos)
      << c.ExceptionLog();
}

}  // namespace
}  // namespace qor
