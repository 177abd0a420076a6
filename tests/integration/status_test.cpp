// StatusDoServico and ConsultarNF end to end: the component against the simulator over real TLS
// with the company's client certificate, and every failure on the way with its class and message.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

#include "NoteStore.h"
#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/GovX.h"
#include "platform/IniFile.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"
#include "support/TlsFaultServer.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::SchemaError;
using test::SimulatorRig;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using StatusRoad = test::SimulatorRoad;

TEST_F(StatusRoad, AnswersInOperationOverOneVerifiedConnectionAndLogsBothMessages) {
  std::vector<std::string> logged;
  nfce.OnLog = [&](const std::string& kind, const std::string&, const std::string& file) {
    logged.push_back(kind + ":" + file);
  };
  nfce.SetIgnoreInvalidCertificates(false);
  nfce.SetArquivoCadeiaCertificados(test::SharedPki().caCert);
  const int before = rig->simulator->HandshakeCount();
  const std::string reply = nfce.StatusDoServico();
  EXPECT_EQ(GetValueTag("cStat", reply), "107") << reply;
  EXPECT_EQ(GetValueTag("xMotivo", reply), "Serviço em Operação");
  EXPECT_EQ(GetValueTag("cUF", reply), "35");
  EXPECT_EQ(GetValueTag("tpAmb", reply), "2");
  ASSERT_EQ(Logs("*-ped-sta.xml").size(), 1u);
  ASSERT_EQ(Logs("*.xml").size(), 2u);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_THAT(logged[0], StartsWith("ped-sta:"));
  EXPECT_THAT(logged[1], StartsWith("sta:"));

  // Ten consecutive requests share one TLS connection; a second component has its own, so the
  // count sees it and the check can fail.
  for (int i = 0; i < 9; ++i) ASSERT_EQ(GetValueTag("cStat", nfce.StatusDoServico()), "107");
  EXPECT_EQ(rig->simulator->HandshakeCount() - before, 1);
  TqorNFCe other;
  rig->Configure(other);
  EXPECT_EQ(GetValueTag("cStat", other.StatusDoServico()), "107");
  EXPECT_EQ(rig->simulator->HandshakeCount() - before, 2);

  nfce.SetAmbiente(TAmbienteKind::akProducao);
  EXPECT_EQ(GetValueTag("tpAmb", nfce.StatusDoServico()), "1") << "the production file's address";
  // The server file is read again before each request.
  TIniFile(rig->prod).WriteString("SP", "NfeStatusServico4", "https://127.0.0.1:9/ws/fechado");
  EXPECT_THAT(MessageOf<EqorGovException>([&] { nfce.StatusDoServico(); }),
              HasSubstr("https://127.0.0.1:9/ws/fechado"));
}

// Every manual version reaches its own service and gets an answer in its own layout: vm50 and
// vm50a build the request from the template files of the data folder, vm50b and vm60 from the
// catalogue in memory. Request and reply are checked against the standard's schemas by xmllint.
struct Versao {
  TVersaoManual versao;
  const char* layout;
  friend void PrintTo(const Versao& v, std::ostream* os) { *os << ToString(v.versao); }
};
constexpr Versao kVersoes[] = {{TVersaoManual::vm50, "3.10"},
                               {TVersaoManual::vm50a, "3.10"},
                               {TVersaoManual::vm50b, "3.10"},
                               {TVersaoManual::vm60, "4.00"}};

class PorVersao : public StatusRoad, public ::testing::WithParamInterface<Versao> {};

// A key with a correct check digit that the simulator has never seen.
const std::string kDesconhecida = "35240111222333000181650010000000011123456780";

TEST_P(PorVersao, StatusAndQueryAnswerInTheLayoutOfTheRequest) {
  const std::string layout = GetParam().layout;
  nfce.SetVersaoManual(GetParam().versao);
  const std::string reply = nfce.StatusDoServico();
  EXPECT_EQ(GetValueTag("cStat", reply), "107") << reply;
  EXPECT_EQ(GetXMLAttributeByIndex(reply, "retConsStatServ", "versao"), layout);
  EXPECT_EQ(SchemaError(ReadFile(rig->dir / "Log/" + Logs("*-ped-sta.xml").at(0)),
                        "consStatServ_v" + layout + ".xsd"),
            "");
  std::string ret;
  ASSERT_TRUE(XPathSelectSingleNode(reply, "//*[local-name()='retConsStatServ']", ret));
  EXPECT_EQ(SchemaError(ret, "retConsStatServ_v" + layout + ".xsd"), "");

  // An unknown key is a normal reply, logged under the key.
  const std::string sit = nfce.ConsultarNF(kDesconhecida);
  EXPECT_EQ(GetValueTag("cStat", sit), "217") << sit;
  EXPECT_EQ(GetValueTag("chNFe", sit), kDesconhecida);
  EXPECT_EQ(GetXMLAttributeByIndex(sit, "retConsSitNFe", "versao"), layout);
  const std::string pedido = ReadFile(rig->dir / "Log/" + kDesconhecida + "-ped-sit.xml");
  EXPECT_EQ(GetXMLAttributeByIndex(pedido, "consSitNFe", "versao"), layout);
  EXPECT_EQ(Logs(kDesconhecida + "-sit.xml").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Versoes, PorVersao, ::testing::ValuesIn(kVersoes),
                         [](const auto& info) { return ToString(info.param.versao); });

TEST_F(StatusRoad, AuthorisedAndCancelledNotesComeBackWithTheirProtocols) {
  const std::string autorizada = "35240111222333000181650010000000021123456788";
  rig->simulator->Notas().RegistrarAutorizacao(autorizada, "2");
  std::string reply = nfce.ConsultarNF(autorizada);
  EXPECT_EQ(GetValueTag("cStat", reply), "100") << reply;
  EXPECT_EQ(GetValueTag("chNFe", reply, 1), autorizada) << "the protocol names the note";

  rig->simulator->Notas().RegistrarCancelamentoSemEvento(autorizada,
                                                         "Cancelamento de teste da consulta");
  reply = nfce.ConsultarNF(autorizada);
  EXPECT_EQ(GetValueTag("cStat", reply), "101") << reply;
  std::string proc;
  EXPECT_TRUE(XPathSelectSingleNode(reply, "//*[local-name()='procEventoNFe']", proc));
  EXPECT_THAT(proc, HasSubstr("<cStat>135</cStat>"));
}

TEST_F(StatusRoad, FailuresBeforeSendingStopBeforeAnythingIsPostedOrLogged) {
  const auto& pki = test::SharedPki();
  nfce.SetCaminhoCertificado(rig->dir / "nao-existe.pfx");
  EXPECT_THROW(nfce.StatusDoServico(), EqorCertStoreException);
  nfce.SetCaminhoCertificado(pki.companyPfx);
  nfce.SetSenhaCertificado("senha-errada");
  EXPECT_THAT(MessageOf<EqorCertStoreException>([&] { nfce.StatusDoServico(); }),
              Not(HasSubstr("senha-errada")))
      << "a password never reaches a message";
  nfce.SetCaminhoCertificado(pki.expiredPfx);
  nfce.SetSenhaCertificado(pki.password);
  EXPECT_THROW(nfce.StatusDoServico(), EqorCertStoreException);
  nfce.SetCaminhoCertificado(pki.companyPfx);
  nfce.SetCNPJ("1122233300018");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { nfce.StatusDoServico(); }),
            "O CNPJ não possui 14 digitos. 1122233300018");
  nfce.SetCNPJ(pki.cnpj);
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>(
                [&] { nfce.ConsultarNF("3524011122233300018165001000000001112345678á"); }),
            "ID da Nota não pode conter acentos: 3524011122233300018165001000000001112345678á");
  EXPECT_TRUE(Logs("*.xml").empty());
  // Each failure reached the exception log and the telemetry record.
  EXPECT_THAT(ReadFile(rig->dir / "LogErro/nfce_exception.log"),
              HasSubstr("EqorCertStoreException"));
  const std::string telemetria = rig->dir / "Log/diagnosticmode/nfce/";
  const auto events = ListFiles(telemetria, "*.jsonl");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_THAT(ReadFile(telemetria + events[0]), HasSubstr("EqorNFCeCheckParamsException"));

  // A key of the wrong length is refused by the schema.
  EXPECT_THROW(nfce.ConsultarNF("123"), EqorSchemaValidationException);
  EXPECT_THAT(nfce.GetErrosValidador().Text(), HasSubstr("chNFe"));
  // A missing address stops after the request is logged.
  TIniFile(rig->hom).DeleteKey("SP", "NfeStatusServico4");
  EXPECT_EQ(MessageOf<EqorNFCeAddressException>([&] { nfce.StatusDoServico(); }),
            "Servidor para NfeStatusServico4 não definido no arquivo: " + rig->hom);
  EXPECT_EQ(Logs("*-ped-sta.xml").size(), 1u);
  EXPECT_EQ(Logs("*-sta.xml").size(), 1u) << "only the request: no reply was logged";
  TIniFile(rig->hom).DeleteKey("SP", "NfeConsulta4");
  EXPECT_THAT(MessageOf<EqorNFCeConsultaException>([&] { nfce.ConsultarNF(kDesconhecida); }),
              HasSubstr("Servidor para NfeConsulta4 não definido no arquivo"));
  EXPECT_EQ(rig->simulator->RequestCount(), 0);
}

TEST_F(StatusRoad, TransportFaultsLeaveTheRequestLogAndNameTheAddress) {
  nfce.SetTimeOut(300);
  rig->simulator->SetFault(sim::SimulatorFault::Delay, 3000);
  EXPECT_THAT(MessageOf<EqorGovException>([&] { nfce.StatusDoServico(); }),
              HasSubstr(rig->simulator->BaseUrl()));
  rig->simulator->SetFault(sim::SimulatorFault::Http500);
  EXPECT_THAT(MessageOf<EqorGovException>([&] { nfce.StatusDoServico(); }), HasSubstr("500"));
  rig->simulator->SetFault(sim::SimulatorFault::NoSoapBody);
  const std::string reply = nfce.StatusDoServico();
  EXPECT_EQ(GetValueTag("Body", reply), "") << "a reply without a SOAP body comes back unchanged";
  EXPECT_FALSE(reply.empty());

  // A closed port; for the query the failure arrives as a query failure, with the request log.
  TIniFile(rig->hom).WriteString("SP", "NfeConsulta4", "https://127.0.0.1:9/ws/fechado");
  EXPECT_THAT(MessageOf<EqorNFCeConsultaException>([&] { nfce.ConsultarNF(kDesconhecida); }),
              AllOf(StartsWith("Erro ao enviar pedido de consulta: "),
                    HasSubstr("https://127.0.0.1:9/ws/fechado")));
  EXPECT_EQ(Logs(kDesconhecida + "-ped-sit.xml").size(), 1u);
  EXPECT_TRUE(Logs(kDesconhecida + "-sit.xml").empty());

  // Connections closed or cut short are failures, not replies.
  const auto& pki = test::SharedPki();
  for (auto fault : {test::TlsFaultServer::Fault::kCloseWithoutReply,
                     test::TlsFaultServer::Fault::kTruncatedBody}) {
    test::TlsFaultServer::Options options;
    options.certPem = pki.serverCert;
    options.keyPem = pki.serverKey;
    options.fault = fault;
    test::TlsFaultServer server(options);
    TIniFile(rig->hom).WriteString("SP", "NfeStatusServico4", server.Url("/ws/status"));
    EXPECT_THAT(MessageOf<EqorGovException>([&] { nfce.StatusDoServico(); }),
                HasSubstr(server.Url("/ws/status")));
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_THAT(server.Requests()[0].headers["content-type"],
                HasSubstr("action=\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4/"
                          "nfeStatusServicoNF4\""));
    EXPECT_THAT(server.Requests()[0].clientSubject, HasSubstr("EMPRESA TESTE:11222333000181"));
  }

  const int port = rig->simulator->Port();
  TIniFile(rig->hom).WriteString("SP", "NfeStatusServico4", rig->simulator->BaseUrl() + "/x");
  rig->simulator->Stop();
  EXPECT_THAT(MessageOf<EqorGovException>([&] { nfce.StatusDoServico(); }),
              HasSubstr("127.0.0.1:" + std::to_string(port)));
  EXPECT_EQ(Logs("*-ped-sta.xml").size(), 6u);
}

// Verification on, from a saved configuration: a server outside the trusted chain is refused on
// the first request as on the next.
TEST(StatusRoadTls, AServerOutsideTheConfiguredChainIsRefusedWhenVerificationIsOn) {
  QOR_NEEDS_SCHEMAS();
  SimulatorRig rig(/*otherCaServer=*/true);
  TqorNFCe configurado;
  rig.Configure(configurado);
  configurado.SetIgnoreInvalidCertificates(false);
  configurado.SetArquivoCadeiaCertificados(test::SharedPki().caCert);
  configurado.SaveConfig(rig.dir / "verifica.ini");
  TqorNFCe nfce;
  nfce.LoadConfig(rig.dir / "verifica.ini");
  for (int i = 0; i < 2; ++i) {
    EXPECT_THROW(nfce.StatusDoServico(), EqorGovException);
    EXPECT_FALSE(nfce.GetIgnoreInvalidCertificates());
    EXPECT_FALSE(nfce.GetGov().Get_HttpSettings().IgnoreInvalidCertificates);
  }
  nfce.SetIgnoreInvalidCertificates(true);
  EXPECT_EQ(GetValueTag("cStat", nfce.StatusDoServico()), "107");
}

}  // namespace
}  // namespace qor
