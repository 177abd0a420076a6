// The component frame: properties, folders, configuration checks, addresses, templates, SOAP
// unwrapping, cross-reference files, telemetry, the exception family, and schema validation
// through the mapping.
#include "core/TqorNFCe.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/IniFile.h"
#include "platform/TStrings.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "support/Tools.h"
#include "templates/TqorNFCeTemplates.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::WriteFile;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// A component configured to pass CheckConfig, all of its folders inside one temporary folder.
class Component : public ::testing::Test {
 protected:
  Component() {
    nfce.SetDiretorioLogErro(dir / "LogErro/");
    nfce.SetUF("SP");
    nfce.SetCNPJ("11222333000181");
    nfce.SetDiretorioLog(dir / "Log/");
    nfce.SetDiretorioXmlDestinatario(dir / "XmlDestinatario");
    WriteFile(dir / "hom.ini", "[SP]\nNfeStatusServico4=https://127.0.0.1:1/status\n");
    nfce.SetArquivoServidoresHom(dir / "hom.ini");
    nfce.SetArquivoServidoresProd(dir / "prod.ini");
  }
  std::string Refused(const std::function<void()>& f) {
    return MessageOf<EqorNFCeCheckParamsException>(f);
  }
  // The telemetry events of `evento`: "ping" lines, or the failure lines of class `classe`.
  int Eventos(const std::string& evento, const std::string& classe = {}) {
    const std::string pasta = dir / "Log/diagnosticmode/nfce/";
    int total = 0;
    for (const std::string& arquivo : ListFiles(pasta, "telemetria-*.jsonl")) {
      TStrings linhas;
      linhas.SetText(ReadFile(pasta + arquivo));
      for (const std::string& linha : linhas.Lines()) {
        const bool falha = linha.find("\"classe\":") != std::string::npos;
        total +=
            linha.find("\"evento\":\"" + evento + "\"") != std::string::npos &&
            (classe.empty() ? !falha
                            : linha.find("\"classe\":\"" + classe + "\"") != std::string::npos);
      }
    }
    return total;
  }

  test::TempDir dir;
  TqorNFCe nfce;
};

TEST_F(Component, DefaultsOfANewComponent) {
  TqorNFCe novo;
  EXPECT_EQ(novo.GetAmbiente(), TAmbienteKind::akHomologacao);
  EXPECT_EQ(novo.GetVersaoManual(), TVersaoManual::vm60);
  EXPECT_EQ(novo.GetMaxSizeLoteEnvio(), 500);
  EXPECT_EQ(novo.GetSectionINI(), "NFCE");
  EXPECT_EQ(novo.GetDiretorioLog(), "Log\\");
  EXPECT_EQ(novo.GetDiretorioXmlDestinatario(), "XmlDestinatario\\");
  EXPECT_EQ(novo.GetDiretorioLogErro(), "");
  EXPECT_EQ(novo.GetTipoCertificado(), TCertificadoKind::ckFile);
  EXPECT_TRUE(novo.GetIgnoreInvalidCertificates());
  EXPECT_TRUE(novo.GetDiagnosticMode());
  EXPECT_TRUE(novo.GetAtualizarArquivoServidores());
  EXPECT_TRUE(novo.GetSalvarLogsEmDisco());
  EXPECT_FALSE(novo.GetValidarEsquemaAntesEnvio());
  EXPECT_THAT(novo.GetCaracteresRemoverAcentos(), StartsWith("áéíóú"));
  EXPECT_TRUE(std::regex_match(novo.GetVersao(), std::regex(R"(\d+\.\d+\.\d+\.\d+)")));
  // Relative folders are anchored at the executable's folder, with the version sub-folder.
  EXPECT_EQ(novo.GetDiretorioTemplates(), ExecutableDir() + "Templates/vm60/");
  EXPECT_EQ(novo.GetDiretorioEsquemas(), ExecutableDir() + "Esquemas/vm60/");
}

TEST_F(Component, UFAndManualVersionAreCheckedAndARefusedValueChangesNothing) {
  nfce.SetUF("sp");
  EXPECT_EQ(nfce.GetUF() + nfce.GetLocalCode(), "SP35");
  nfce.SetUF("an");
  EXPECT_EQ(nfce.GetUF() + nfce.GetLocalCode(), "AN91");
  EXPECT_EQ(Refused([&] { nfce.SetUF("XX"); }), "a sigla da UF XX, é inválida.");
  EXPECT_EQ(Refused([&] { nfce.SetUF(""); }), "a sigla da UF , é inválida.");
  EXPECT_EQ(nfce.GetUF(), "AN");
  EXPECT_THAT(ReadFile(dir / "LogErro/nfce_exception.log"),
              HasSubstr("EqorNFCeCheckParamsException : a sigla da UF XX, é inválida."));

  nfce.SetVersaoManual(TVersaoManual::vm50b);
  EXPECT_EQ(MessageOf<EqorNFCeVersaoManualException>(
                [&] { nfce.SetVersaoManual(static_cast<TVersaoManual>(4)); }),
            "O componente NFCe só aceita VersaoManual = vm50, vm50a, vm50b ou vm60");
  EXPECT_EQ(nfce.GetVersaoManual(), TVersaoManual::vm50b);
  EXPECT_EQ(nfce.GetDiretorioTemplates(), ExecutableDir() + "Templates/vm50b/");
}

TEST_F(Component, FoldersFollowTheManualVersionAndTheirRules) {
  nfce.SetDiretorioTemplates(dir / "tpl\\VM50A\\");
  EXPECT_EQ(nfce.GetDiretorioTemplates(), dir / "tpl/vm60/");
  EXPECT_EQ(nfce.GetTemplateFolder(), dir / "tpl/vm60/SP/");
  // A leading backslash without a drive is relative to the executable, never the root.
  nfce.SetDiretorioEsquemas("\\Esquemas\\");
  EXPECT_EQ(nfce.GetDiretorioEsquemas(), ExecutableDir() + "Esquemas/vm60/");
  nfce.SetDiretorioXmlDestinatario(dir / "dest");
  EXPECT_EQ(nfce.GetDiretorioXmlDestinatario(), dir / "dest\\");
  EXPECT_EQ(nfce.GetDiretorioDestinatario(), dir / "dest/");
  EXPECT_TRUE(DirectoryExists(dir / "dest"));
  nfce.SetDiretorioLogErro(dir / "a/b/erros");
  EXPECT_TRUE(DirectoryExists(dir / "a/b/erros")) << "the error folder is made with parents";
  nfce.SetArquivoServidoresHom("servidores\\hom.ini");
  EXPECT_EQ(nfce.GetArquivoServidoresHom(), ExecutableDir() + "servidores/hom.ini");
}

TEST_F(Component, CheckConfigRulesInOrder) {
  TqorNFCe vazio;
  EXPECT_EQ(Refused([&] { vazio.CheckConfig(); }), "O campo UF está vazio.");
  const auto check = [&] { return Refused([&] { nfce.CheckConfig(); }); };
  nfce.SetCNPJ("");
  EXPECT_EQ(check(), "O campo CNPJ está vazio.");
  nfce.SetCNPJ("1122233300018");
  EXPECT_EQ(check(), "O CNPJ não possui 14 digitos. 1122233300018");
  nfce.SetCNPJ("11222333000181");
  // Homologation needs only its own file; the log and recipient folders are made on the way.
  nfce.CheckConfig();
  EXPECT_TRUE(DirectoryExists(dir / "Log") && DirectoryExists(dir / "XmlDestinatario"));
  nfce.SetAmbiente(TAmbienteKind::akProducao);
  EXPECT_EQ(check(), "Caminho dos servidores de Produção inválido. " + dir / "prod.ini");
  WriteFile(dir / "prod.ini", "[SP]\n");
  nfce.CheckConfig();
  DeleteFile(dir / "hom.ini");
  EXPECT_EQ(check(), "Caminho dos servidores de Homologação inválido. " + dir / "hom.ini")
      << "the homologation file is required whatever the environment";
  WriteFile(dir / "hom.ini", "[SP]\n");
  nfce.SetMaxSizeLoteEnvio(0);
  EXPECT_EQ(check(), "O tamanho máximo para o lote está com valor menor que um.");
  nfce.SetMaxSizeLoteEnvio(1);
  nfce.SetDiretorioLog(dir / "nao/existe/Log/");
  EXPECT_EQ(check(), "O diretório para salvar os Logs, é inválido. " + dir / "nao/existe/Log/")
      << "the log folder is made one level only";
}

TEST_F(Component, AddressesReadTheFileOfTheEnvironmentEveryTimeTemplatesComeFromTheCatalogue) {
  EXPECT_EQ(nfce.GetWSAddress("NfeStatusServico4"), "https://127.0.0.1:1/status");
  EXPECT_EQ(nfce.GetWSAddress("nfestatusservico4"), "https://127.0.0.1:1/status");
  WriteFile(dir / "hom.ini",
            "[sp]\nNfeStatusServico4=https://127.0.0.1:2/novo\nSoapActionStatus=x\n");
  EXPECT_EQ(nfce.GetWSAddress("NfeStatusServico4"), "https://127.0.0.1:2/novo");
  EXPECT_EQ(nfce.GetIniVal("SoapActionStatus", "padrão"), "x");
  EXPECT_EQ(nfce.GetIniVal("ResultTagStatus", "padrão"), "padrão");
  EXPECT_EQ(MessageOf<EqorNFCeAddressException>([&] { nfce.GetWSAddress("NfeRecepcao4"); }),
            "Servidor para NfeRecepcao4 não definido no arquivo: " + dir / "hom.ini");

  const std::string status = nfce.LoadTemplate("pedido_status.xml");
  EXPECT_THAT(status, AllOf(HasSubstr("<consStatServ"), HasSubstr("versao=\"4.00\"")));
  EXPECT_EQ(nfce.LoadTemplate("nao_existe.xml"), "");
  // vm50 and vm50a read files of the template folder; an existing file name is used as is.
  nfce.SetVersaoManual(TVersaoManual::vm50a);
  nfce.SetDiretorioTemplates(dir / "Templates/");
  EXPECT_EQ(
      MessageOf<EqorTemplateNotFoundException>([&] { nfce.LoadTemplate("pedido_status.xml"); }),
      "Arquivo de template não encontrado: " + dir / "Templates/vm50a/SP/pedido_status.xml");
  WriteFile(dir / "Templates/vm50a/SP/pedido_status.xml", "<arquivo>%s %s</arquivo>");
  EXPECT_EQ(nfce.LoadTemplate("pedido_status.xml"), "<arquivo>%s %s</arquivo>");
  WriteFile(dir / "proprio.xml", "<proprio/>");
  EXPECT_EQ(nfce.LoadTemplate(dir / "proprio.xml"), "<proprio/>");

  nfce.SetAmbiente(TAmbienteKind::akProducao);
  EXPECT_EQ(MessageOf<EqorFileNotFoundException>([&] { nfce.GetWSAddress("NfeStatusServico4"); }),
            "O arquivo de servidores informado não existe: " + dir / "prod.ini");
}

TEST_F(Component, UnwrappingTheSoapReply) {
  const auto envelope = [](const std::string& body) {
    return "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Header/>"
           "<soap:Body>" +
           body + "</soap:Body></soap:Envelope>";
  };
  const std::string status = nfce.DesenveloparSoap(
      "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Header/>"
      "<env:Body><nfeResultMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4\">"
      "<retConsStatServ xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\">"
      "<cStat>107</cStat></retConsStatServ></nfeResultMsg></env:Body></env:Envelope>");
  EXPECT_THAT(status, StartsWith("<nfeResultMsg"));
  EXPECT_THAT(status,
              HasSubstr("xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4\""));
  EXPECT_THAT(status, HasSubstr("<cStat>107</cStat>"));
  EXPECT_THAT(nfce.DesenveloparSoap(envelope(
                  "<r><retInutNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><x>1"
                  "</x></retInutNFe></r>")),
              StartsWith("<retInutNFe"));
  const std::string noBody = "<retConsStatServ><cStat>107</cStat></retConsStatServ>";
  EXPECT_EQ(nfce.DesenveloparSoap(noBody), noBody);
  EXPECT_EQ(nfce.DesenveloparSoap("não é XML"), "não é XML");

  // A reply carried as escaped text is read back; text that is no document stays in its element.
  const auto texto = [&](const std::string& t) {
    return nfce.DesenveloparSoap(
        envelope("<nfeResultMsg xmlns=\"urn:w\">" + t + "</nfeResultMsg>"));
  };
  EXPECT_EQ(texto("\n &lt;?xml version=\"1.0\"?&gt;&lt;retConsReciNFe versao=\"4.00\"&gt;&lt;"
                  "xMotivo&gt;A &amp;amp; B&lt;/xMotivo&gt;&lt;/retConsReciNFe&gt; "),
            "<?xml version=\"1.0\"?><retConsReciNFe versao=\"4.00\"><xMotivo>A &amp; "
            "B</xMotivo></retConsReciNFe>");
  EXPECT_EQ(texto("<![CDATA[<retInutNFe><x>1</x></retInutNFe>]]>"),
            "<retInutNFe><x>1</x></retInutNFe>");
  for (const char* t :
       {"&lt;a&gt;sem fim", "Serviço paralisado", "", "texto &lt;a/&gt;<b>com filho</b>"}) {
    EXPECT_THAT(texto(t), StartsWith("<nfeResultMsg")) << t;
  }
}

TEST_F(Component, CrossReferenceFilesFollowTheSaveSwitch) {
  const std::string chave = "3500000000000000000000000000000000000000000";
  WriteFile(dir / "Log/1-env-lot.xml",
            "<enviNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><NFe><infNFe Id=\"NFe" + chave +
                "1\"/></NFe><NFe><infNFe Id=\"NFe" + chave + "2\"/></NFe></enviNFe>");
  nfce.SaveFileChavesTemporario("1-env-lot.xml");
  nfce.SaveFileTemporario("351000000000001", "1-env-lot.xml");
  for (const std::string& nome : {chave + "1", chave + "2", std::string("351000000000001")}) {
    EXPECT_EQ(ReadFile(dir / "XmlDestinatario/" + nome), "env-lot=1-env-lot.xml") << nome;
  }
  EXPECT_THROW(nfce.SaveFileTemporario("../fora", "1-env-lot.xml"), EqorNFCeCheckParamsException);
  nfce.SetSalvarLogsEmDisco(false);
  nfce.SaveFileTemporario("351000000000002", "1-env-lot.xml");
  EXPECT_FALSE(FileExists(dir / "XmlDestinatario/351000000000002"));
}

TEST_F(Component, TelemetryRecordsPingsAndFailuresOnlyWithDiagnosticsAndALogFolder) {
  nfce.SendTelemetryPing("Teste");
  const auto files = ListFiles(dir / "Log/diagnosticmode/nfce/", "telemetria-*.jsonl");
  ASSERT_EQ(files.size(), 1u);
  const std::string arquivo = dir / "Log/diagnosticmode/nfce/" + files[0];
  EXPECT_THAT(ReadFile(arquivo), AllOf(HasSubstr("\"Teste\""), HasSubstr("11222333000181")));

  EXPECT_THROW(nfce.LoadConfig(dir / "nao-existe.ini"), EqorConfigINIException);
  EXPECT_THROW(nfce.LoadConfig(static_cast<const TIniFile*>(nullptr)), EqorConfigINIException);
  EXPECT_THROW(nfce.SaveConfig(static_cast<TIniFile*>(nullptr)), EqorConfigINIException);
  EXPECT_EQ(Eventos("LoadConfig", "EqorConfigINIException"), 2);
  EXPECT_EQ(Eventos("LoadConfig"), 0) << "the ping follows a load that was made";
  EXPECT_EQ(Eventos("SaveConfig"), 1);
  EXPECT_EQ(Eventos("SaveConfig", "EqorConfigINIException"), 1);
  TIniFile ini;
  nfce.SaveConfig(&ini);
  nfce.LoadConfig(&ini);
  EXPECT_EQ(Eventos("LoadConfig"), 1);
  // The distribution check pings, and its failure is the host's to report.
  EXPECT_THROW(nfce.ValidarArquivoXmlDestinatario(" "),
               EqorNFCeValidarArquivoXmlDestinatarioException);
  EXPECT_EQ(Eventos("ValidarArquivoXmlDestinatario"), 1);
  EXPECT_EQ(
      Eventos("ValidarArquivoXmlDestinatario", "EqorNFCeValidarArquivoXmlDestinatarioException"),
      0);

  // Without a log folder of its own a component records nothing, not even in the default one.
  const std::string padrao = ExecutableDir() + "Log/diagnosticmode/nfce/";
  const std::string marker = "Nada-" + std::to_string(CurrentProcessId());
  TqorNFCe novo;
  novo.SetDiretorioLogErro(dir / "LogErro2/");
  novo.SendTelemetryPing(marker);
  for (const auto& f : ListFiles(padrao, "*"))
    EXPECT_THAT(ReadFile(padrao + f), Not(HasSubstr(marker)));
  nfce.SetDiagnosticMode(false);
  nfce.SendTelemetryPing("Desligado");
  EXPECT_THAT(ReadFile(arquivo), Not(HasSubstr("Desligado")));
}

TEST_F(Component, ATelemetryFailureGoesToTheExceptionLogAndNeverStopsTheCaller) {
  WriteFile(dir / "Log/diagnosticmode", "um arquivo onde a pasta deveria estar");
  EXPECT_NO_THROW(nfce.SendTelemetryPing("StatusDoServico"));
  EXPECT_THAT(ReadFile(dir / "LogErro/nfce_exception.log"),
              HasSubstr(" : Ocorreu um problema ao enviar dados para telemetria: "));
}

// ---- the exception family ----

TEST_F(Component, EachExceptionBranchWritesItsOwnLogLineOrNone) {
  // The one line the family writes: "[dd/mm/YYYY hh:MM:ss:zzz] <thread> - <class> : <message>".
  const std::regex linha(R"(\[\d{2}/\d{2}/\d{4} \d{2}:\d{2}:\d{2}:\d{3}\] \d+ - (\w+) : (.*)\r\n)");
  const std::string pasta = dir / "excecoes/";
  ForceDirectories(pasta);
  EqorNFCeCheckParamsException params("O campo UF está vazio.", pasta);
  EqorNFCeDataSetConfigException dataset("Campo %s não encontrado", {"cUF_B02"}, pasta);
  EqorDataSetException quiet("sem log", pasta);
  EqorException root("sem log", pasta);
  std::smatch match;
  const std::string nfce = ReadFile(pasta + "nfce_exception.log");
  ASSERT_TRUE(std::regex_match(nfce, match, linha)) << nfce;
  EXPECT_EQ(match[1].str() + " : " + match[2].str(),
            "EqorNFCeCheckParamsException : O campo UF está vazio.");
  const std::string ds = ReadFile(pasta + "nfceDataSets_exception.log");
  ASSERT_TRUE(std::regex_match(ds, match, linha)) << ds;
  EXPECT_EQ(match[1].str() + " : " + match[2].str(),
            "EqorNFCeDataSetConfigException : Campo cUF_B02 não encontrado");
  EXPECT_EQ(ListFiles(pasta, "*").size(), 2u)
      << "EqorException and EqorDataSetException log nothing";
  EXPECT_EQ(params.GetNomeLog() + "|" + dataset.GetNomeLog() + "|" + quiet.GetNomeLog(),
            "nfce_exception.log|nfceDataSets_exception.log|");

  // The plain constructor keeps percent signs; lines are appended.
  EqorNFCeException first("100% %s %d", pasta);
  EqorNFCeException second("Servidor para %s não definido no arquivo: %s",
                           {"NfeStatusServico4", "a.ini"}, pasta);
  EXPECT_STREQ(first.what(), "100% %s %d");
  const std::string depois = ReadFile(pasta + "nfce_exception.log");
  EXPECT_THAT(depois, StartsWith(nfce));
  EXPECT_THAT(
      depois.substr(nfce.size()),
      AllOf(HasSubstr(" : 100% %s %d\r\n"),
            HasSubstr(" : Servidor para NfeStatusServico4 não definido no arquivo: a.ini\r\n")));

  // The class tree allows catching by branch.
  try {
    throw EqorNFCeVersaoEsquemaInvalidaException("x", pasta);
  } catch (const EqorNFCeDataSetsException& e) {
    EXPECT_EQ(e.ClassName(), "EqorNFCeVersaoEsquemaInvalidaException");
  }
  try {
    throw EqorCertStoreException("y", pasta);
  } catch (const EqorNFCeException& e) {
    EXPECT_STREQ(e.what(), "y");
  }
  EXPECT_THROW(throw EqorDataSetException("z", pasta), EqorException);
  EXPECT_THROW(throw EqorException("z", pasta), std::runtime_error);

  // An empty folder means the executable's; an unwritable one does not hide the failure.
  const std::string log = ExecutableDir() + "nfce_exception.log";
  const std::string before = ReadFile(log);
  EqorNFCeEventoException e("linha de teste sem pasta", "");
  const std::string after = ReadFile(log);
  ASSERT_GT(after.size(), before.size());
  EXPECT_THAT(after.substr(before.size()),
              HasSubstr("EqorNFCeEventoException : linha de teste sem pasta"));
  if (before.empty()) DeleteFile(log);
  EXPECT_STREQ(EqorNFCeException("a mensagem chega ao chamador", "/proc/nao-existe/").what(),
               "a mensagem chega ao chamador");
}

// ---- schema validation of the requests through the mapping of the schema folder ----

const std::string kChave = "35240111222333000181650010000000011123456780";

class Validation : public ::testing::TestWithParam<TVersaoManual> {
 protected:
  void SetUp() override {
    QOR_NEEDS(FileExists(ExecutableDir() + "Esquemas/vm60/consStatServ_v4.00.xsd"),
              "the official XSD package copied beside the executables");
    nfce.SetDiretorioLogErro(dir / "LogErro/");
    nfce.SetVersaoManual(GetParam());
  }
  std::string Body(const std::string& name, FormatArgs args) {
    return Format(TqorNFCeTemplates::LoadTemplate(GetParam(), "SP", name), args);
  }
  test::TempDir dir;
  TqorNFCe nfce;
};

TEST_P(Validation, EveryCommandMapsToAnInstalledSchemaOfItsRequest) {
  const bool v4 = GetParam() == TVersaoManual::vm60;
  const std::string layout = v4 ? "4.00" : "3.10";
  const std::pair<const char*, std::string> expected[] = {
      {"ENVIO", "enviNFe_v" + layout},
      {"CONSULTARECIBO", "consReciNFe_v" + layout},
      {"CONSULTANF", "consSitNFe_v" + layout},
      {"INUTILIZACAO", "inutNFe_v" + layout},
      {"STATUS", "consStatServ_v" + layout},
      {"XMLDESTINATARIO", "procNFe_v" + layout},
      {"ENVIOCANCEVENTO", "envEventoCancNFe_v1.00"},
      {"ENVIOCANCEVENTOSUBSTITUICAO", "envEventoCancSubst_v1.00"}};
  for (const auto& [command, schema] : expected) {
    const std::string xsd = nfce.GetXSDFileName(command);
    EXPECT_EQ(xsd, nfce.GetDiretorioEsquemas() + schema + ".xsd") << command;
    EXPECT_TRUE(FileExists(xsd)) << xsd;
    // The schema compiles and judges: an empty element of another namespace is refused with a
    // report, not with a failure to read the schema.
    EXPECT_THROW(nfce.ValidarXMLNFCe("<x xmlns=\"urn:outro\"/>", command),
                 EqorSchemaValidationException);
    EXPECT_THAT(nfce.GetErrosValidador().Text(), HasSubstr("line 1")) << command;
  }
}

TEST_P(Validation, RequestsOfTheCatalogueAreValidAndBrokenOnesAreReported) {
  nfce.ValidarXMLNFCe(Body("pedido_status.xml", {"2", "35"}), "STATUS");
  nfce.ValidarXMLNFCe(Body("pedido_consultanf.xml", {"2", kChave}), "CONSULTANF");
  nfce.ValidarXMLNFCe(Body("pedido_consultarecibo.xml", {"2", "351000000000001"}),
                      "CONSULTARECIBO");
  if (GetParam() == TVersaoManual::vm60) {
    const std::string batch =
        Format(TqorNFCeTemplates::LoadTemplate(TVersaoManual::vm60, "SP", "valida_cabecalho.xml"),
               {TqorNFCeTemplates::LoadTemplate(TVersaoManual::vm60, "SP", "valida_item.xml")});
    nfce.ValidarXMLNFCe(batch, "ENVIO");
  }

  const std::string message = MessageOf<EqorSchemaValidationException>([&] {
    nfce.ValidarXMLNFCe(Body("pedido_status.xml", {"3", "35"}), "STATUS");
  });
  EXPECT_THAT(message, HasSubstr("tpAmb"));
  const std::string report = nfce.GetErrosValidador().Text();
  EXPECT_THAT(report, HasSubstr("tpAmb"));
  EXPECT_THROW(nfce.ValidarXMLNFCe(Body("pedido_consultanf.xml", {"2", "123"}), "CONSULTANF"),
               EqorSchemaValidationException);
  EXPECT_THAT(nfce.GetErrosValidador().Text(), HasSubstr("chNFe"));
  // A later success keeps the report of the last failure.
  nfce.ValidarXMLNFCe(Body("pedido_status.xml", {"1", "35"}), "STATUS");
  EXPECT_THAT(nfce.GetErrosValidador().Text(), HasSubstr("chNFe"));
}

TEST_P(Validation, ADocumentNamingItsSchemaNeedsNoMapping) {
  const bool v4 = GetParam() == TVersaoManual::vm60;
  std::string body = Body("pedido_status.xml", {"2", "35"});
  const std::string xsd = v4 ? "consStatServ_v4.00.xsd" : "consStatServ_v3.10.xsd";
  body.insert(body.find(" versao="),
              " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:schemaLocation=\""
              "http://www.portalfiscal.inf.br/nfe " +
                  xsd + "\"");
  nfce.ValidarXMLNFCe(body, "SEM-MAPEAMENTO");
  std::string escaping = body;
  escaping.replace(escaping.find(xsd), xsd.size(), "../" + xsd);
  EXPECT_THROW(nfce.ValidarXMLNFCe(escaping, "SEM-MAPEAMENTO"), EqorSchemaValidationException);
}

TEST_P(Validation, MappingFailuresKeepTheirOwnMessages) {
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { nfce.ValidarXMLNFCe("<a/>", "NADA"); }),
            "Não foi encontrado mapeamento de XSD para o comando NADA ");
  // The mapping is read again once the file changes.
  nfce.SetDiretorioEsquemas(dir / "proprio/");
  const std::string mapping = nfce.GetDiretorioEsquemas() + "Mapping.txt";
  test::WriteFile(mapping, "[ValidarXML]\nSTATUS=a.xsd\n");
  test::WriteFile(nfce.GetDiretorioEsquemas() + "a.xsd", "");
  test::WriteFile(nfce.GetDiretorioEsquemas() + "b.xsd", "");
  EXPECT_EQ(nfce.GetXSDFileName("STATUS"), nfce.GetDiretorioEsquemas() + "a.xsd");
  test::WriteFile(mapping, "[ValidarXML]\nSTATUS=b.xsd\n");
  SetFileAge(mapping, FileAge(mapping) + std::chrono::seconds(1));
  EXPECT_EQ(nfce.GetXSDFileName("STATUS"), nfce.GetDiretorioEsquemas() + "b.xsd");
}

TEST_P(Validation, TheOfficialPackageFlatAsPublishedServesWithTheInstalledMapping) {
  unsetenv("QORNFCE_ESQUEMAS");
  const std::string copias = nfce.GetDiretorioEsquemas();  // the build's copies, with a mapping
  const std::string xsd =
      GetParam() == TVersaoManual::vm60 ? "consStatServ_v4.00.xsd" : "consStatServ_v3.10.xsd";
  const std::string pacote = dir / "PL_009_V4/";
  ForceDirectories(pacote);
  for (const auto& entrada : std::filesystem::directory_iterator(copias)) {
    if (entrada.path().extension() == ".xsd") {
      std::filesystem::create_symlink(entrada.path(), pacote + entrada.path().filename().string());
    }
  }
  const std::string pedido = Body("pedido_status.xml", {"2", "35"});
  // DiretorioEsquemas is the package itself: no version folder, no mapping in it.
  nfce.SetDiretorioEsquemas(pacote);
  EXPECT_EQ(nfce.GetXSDFileName("STATUS"), pacote + xsd);
  nfce.ValidarXMLNFCe(pedido, "STATUS");
  EXPECT_THROW(nfce.ValidarXMLNFCe(Body("pedido_status.xml", {"3", "35"}), "STATUS"),
               EqorSchemaValidationException);

  // Or $QORNFCE_ESQUEMAS names it; with neither, the error says where it looked and what to set.
  nfce.SetDiretorioEsquemas(dir / "vazio/");
  const std::string faltando =
      MessageOf<EqorFileNotFoundException>([&] { nfce.ValidarXMLNFCe(pedido, "STATUS"); });
  EXPECT_THAT(faltando, HasSubstr("Esquema " + xsd + " não encontrado em " +
                                  nfce.GetDiretorioEsquemas() + ", " + dir / "vazio/"));
  EXPECT_THAT(faltando, HasSubstr("DiretorioEsquemas ou em $QORNFCE_ESQUEMAS"));
  ASSERT_EQ(setenv("QORNFCE_ESQUEMAS", pacote.c_str(), 1), 0);
  EXPECT_EQ(nfce.GetXSDFileName("STATUS"), pacote + xsd);
  nfce.ValidarXMLNFCe(pedido, "STATUS");
  unsetenv("QORNFCE_ESQUEMAS");
}

INSTANTIATE_TEST_SUITE_P(Layouts, Validation,
                         ::testing::Values(TVersaoManual::vm50b, TVersaoManual::vm60),
                         [](const auto& info) { return ToString(info.param); });

TEST(Sending, WhatAFailedPostLeavesPossiblyReceived) {
  const struct {
    std::function<void()> falha;
    bool podeTerChegado;
  } casos[] = {
      {[] { throw EqorGovSemConexaoException("recusada"); }, false},
      {[] { throw EqorGovException("tempo esgotado depois do envio"); }, true},
      {[] { throw EqorGovReplyException("HTTP 404", 404, ""); }, false},
      {[] { throw EqorGovReplyException("HTTP 403", 403, ""); }, false},
      {[] { throw EqorGovReplyException("HTTP 500", 500, ""); }, true},
      {[] { throw EqorGovReplyException("200 sem envelope SOAP", 200, "<html/>"); }, true},
  };
  for (const auto& caso : casos) {
    try {
      caso.falha();
    } catch (const std::exception& falha) {
      EXPECT_EQ(TqorNFCe::PedidoPodeTerChegado(falha), caso.podeTerChegado) << falha.what();
    }
  }
}

TEST(NoteCheck, IsXMLValidoLooksForIdeAndEmit) {
  EXPECT_TRUE(TqorNFCe::isXMLValido("<NFe><infNFe><IDE></IDE><EMIT></EMIT></infNFe></NFe>"));
  EXPECT_FALSE(TqorNFCe::isXMLValido("<NFe><infNFe><ide/><emit/></infNFe></NFe>"));
  EXPECT_FALSE(TqorNFCe::isXMLValido("<emit>"));
}

}  // namespace
}  // namespace qor
