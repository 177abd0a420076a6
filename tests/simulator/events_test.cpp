// The event and voiding services seen by a client: requests filled from the component's own
// templates, signed with the test company's key by the simulator's signer, posted over TLS by the
// component's HTTPS client. xmllint checks every answer and every file the base keeps against the
// official schema package; xmlsec1 verifies the signed requests the base keeps.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <regex>
#include <string>

#include "NoteStore.h"
#include "Simulator.h"
#include "XmlSignature.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "platform/Format.h"
#include "platform/GovX.h"
#include "platform/Xml.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"
#include "templates/TqorNFCeTemplates.h"
#include "utils/Chave.h"

namespace qor::sim {
namespace {

using test::SharedPki;

const std::string kNfe = "http://www.portalfiscal.inf.br/nfe";
const std::string kOutroCnpj = "44555666000181";
constexpr TVersaoManual v4 = TVersaoManual::vm60, v3 = TVersaoManual::vm50b;

std::string Tpl(TVersaoManual vm, const char* name) {
  return TqorNFCeTemplates::LoadTemplate(vm, "SP", name);
}
std::string Sign(const std::string& xml, const char* element) {
  return SignEnveloped(xml, element, SharedPki().companyKeyPem, SharedPki().companyCertPem);
}
std::string Text(const std::string& xml, const std::string& path) {
  std::string value;
  XPathSelectSingleNode(xml, path, value, {}, false);
  return value;
}
std::string Element(const std::string& xml, const std::string& name) {
  std::string value;
  XPathSelectSingleNode(xml, "//*[local-name()='" + name + "']", value);
  return value;
}
std::string Field(const std::string& doc, const std::string& name) {  // of the root
  return Text(doc, "/*/*[local-name()='" + name + "']");
}
std::string Inner(const std::string& doc, const std::string& name) {  // of the first inf*
  return Text(doc, "(//*[starts-with(local-name(), 'inf')])[1]/*[local-name()='" + name + "']");
}
std::string Pad(int n, size_t width) {
  const std::string digits = std::to_string(n);
  return std::string(width - digits.size(), '0') + digits;
}
std::string YearNow(int plus = 0) {
  const std::time_t t = std::time(nullptr) - 3 * 3600;  // Brasília
  std::tm tm{};
  gmtime_r(&t, &tm);
  return Pad((tm.tm_year + plus) % 100, 2);
}

// The keys each case starts with, by nNF: 1 and 4 authorised, 2 cancelled (110111, sequence 1),
// 3 denied, 5 authorised to another emitter, 9 unknown, 20 an EPEC key (tpEmis 4); 0 is key 1
// with its check digit off by one.
std::string Key(int n) {
  const std::string key =
      CalculaChave("2026-01-10T10:00:00-03:00", "35", n == 5 ? kOutroCnpj : SharedPki().cnpj, "65",
                   "1", std::to_string(n == 0 ? 1 : n), n == 20 ? "4" : "1", "12345678");
  return n == 0 ? key.substr(0, 43) + std::to_string((key[43] - '0' + 1) % 10) : key;
}

enum class Op { Cancel, Cancel310, Subst, Epec };
enum class Twist { None, Altered, Production, WrongId, WrongProt, Late, Twice, ShortJust, OtherUf };

class EventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    StartSimulator();
    NoteStore& notes = simulator_->Notas();
    for (int n : {1, 2, 4, 5}) notes.RegistrarAutorizacao(Key(n), "2");
    notes.RegistrarCancelamentoSemEvento(Key(2), "Venda desfeita pelo cliente");
    notes.RegistrarDenegacao(Key(3), "2", "", codes::k302);
  }

  void StartSimulator() { test::StartSimulatorAndClient(dir_ / "simulador", simulator_, gov_); }

  std::string Post(const std::string& path, const std::string& envelope) {
    return gov_->PostSOAP(simulator_->BaseUrl() + path, envelope, "", "", "");
  }

  // The retEnvEvento answering one signed event of `op` for key `n`, built from the component's
  // templates and sent as the component sends it.
  std::string SendEvent(Op op, int n, Twist twist = Twist::None, int nSeq = 1, int ref = 4) {
    const std::string chave = Key(n), seq = std::to_string(nSeq), dh = "2026-01-10T10:05:00-03:00";
    const std::string tpEvento = op == Op::Subst ? "110112" : op == Op::Epec ? "110140" : "110111";
    const std::string id = "ID" + tpEvento + chave + Pad(nSeq + (twist == Twist::WrongId), 2);
    const std::optional<NotaRegistrada> nota = simulator_->Notas().Buscar(chave);
    const std::string nProt = twist == Twist::WrongProt || !nota ? "135260000009999" : nota->nProt;
    const std::string xJust = twist == Twist::ShortJust ? "curta" : "Cliente desistiu da compra";
    const TVersaoManual vm = op == Op::Cancel310 ? v3 : v4;
    std::string inf;
    if (op == Op::Epec)  // the infEvento alone: the signature takes the placeholder's place
      XPathSelectSingleNode(
          Format(Tpl(v4, "evento_epec.xml"),
                 {id, "35", "2", "<CNPJ>" + SharedPki().cnpj + "</CNPJ>", chave, dh, "35", dh,
                  twist == Twist::ShortJust ? "0" : "1", "111111111111", "", "10.00", "0.00"}),
          "/*/*[1]", inf);
    else if (op == Op::Subst)
      inf = Format(Tpl(v4, "evento_cancelar_substituicao.xml"),
                   {id, "35", "2", SharedPki().cnpj, chave, dh, tpEvento, seq, "35", "1", "1.0",
                    nProt, xJust, Key(ref)});
    else
      inf = Format(Tpl(vm, "evento_cancelar.xml"),
                   {id, "35", "2", SharedPki().cnpj, chave, dh, tpEvento, seq, nProt, xJust});
    std::string event = Sign(Format(Tpl(v4, "assinarevento.xml"), {inf, ""}), "infEvento");
    if (twist == Twist::Altered) event = std::regex_replace(event, std::regex("10:05"), "10:06");
    const bool epec = op == Op::Epec;
    const std::string batch =
        Format(Tpl(vm, epec ? "envio_epec.xml" : "evento_enviocancelar.xml"), {"7", event});
    const std::string soap = Tpl(vm, epec ? "pedido_envia_epec.soap" : "envio.soap");
    return Element(Post(epec       ? "/ws/RecepcaoEPEC.asmx"
                        : vm == v4 ? "/ws/NFeRecepcaoEvento4.asmx"
                                   : "/ws/RecepcaoEvento.asmx",
                        !epec && vm == v4 ? Format(soap, {batch}) : Format(soap, {"35", batch})),
                   "retEnvEvento");
  }

  // The retInutNFe answering a signed inutNFe of the company (or `cnpj`) voiding [first, last]
  // of series 1, built and sent as the component does.
  std::string SendVoiding(TVersaoManual vm, const std::string& ano, int first, int last,
                          Twist twist = Twist::None, std::string cnpj = {}) {
    if (cnpj.empty()) cnpj = SharedPki().cnpj;
    const std::string id = "35" + ano + cnpj + "65" + Pad(1, 3) + Pad(first, 9) + Pad(last, 9);
    const std::string inf = Format(
        Tpl(vm, "infinut_inutilizarnf.xml"),
        {"ID" + id, "2", "35", ano, cnpj, "65", "1", std::to_string(first), std::to_string(last),
         twist == Twist::ShortJust ? "curta" : "Numeracao pulada pelo sistema"});
    std::string inut = Sign(Format(Tpl(vm, "assinar_inutilizacao.xml"), {inf, ""}), "infInut");
    inut = inut.substr(inut.find("<inutNFe"));  // without the declaration, as the client sends it
    if (twist == Twist::Altered) inut = std::regex_replace(inut, std::regex("pulada"), "saltada");
    const std::string soap = Tpl(vm, "pedido_inutilizarnf.soap");
    return Element(vm == v4 ? Post("/ws/NFeInutilizacao4.asmx", Format(soap, {Escape(inut)}))
                            : Post("/ws/NfeInutilizacao2.asmx",
                                   Format(soap, {twist == Twist::OtherUf ? "43" : "35", inut})),
                   "retInutNFe");
  }

  std::string Query(const std::string& chave) {
    return Element(Post("/ws/NFeConsultaProtocolo4.asmx",
                        Format(Tpl(v4, "pedido_consultanf.soap"),
                               {Format(Tpl(v4, "pedido_consultanf.xml"), {"2", chave})})),
                   "retConsSitNFe");
  }

  static ::testing::AssertionResult Valid(const std::string& doc, const std::string& xsd) {
    const std::string error = test::SchemaError(doc, xsd);
    if (error.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << xsd << ": " << error << "\n" << doc;
  }

  test::TempDir dir_;
  std::unique_ptr<Simulator> simulator_;
  std::unique_ptr<TqorGovX> gov_;
};

// ---- events: a table of cases, one runner ---------------------------------------------------

struct EventCase {
  const char* name;
  Op op;
  int key;  // Key(key)
  Twist twist;
  Outcome expected;
  int nSeq = 1;
  int ref = 4;  // chNFeRef of a substitution: Key(ref)
};

void PrintTo(const EventCase& c, std::ostream* os) { *os << c.name; }

class EventCaseTest : public EventsTest, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventCaseTest, AnswersEachEventWithItsCode) {
  const EventCase& c = GetParam();
  if (c.twist == Twist::Production) simulator_->SetAmbienteRecepcao("1");
  if (c.twist == Twist::Late) simulator_->SetPrazoCancelamento(0);
  if (c.twist == Twist::Twice) SendEvent(c.op, c.key);
  const std::string ret = SendEvent(c.op, c.key, c.twist, c.nSeq, c.ref);
  EXPECT_TRUE(Valid(ret, c.op == Op::Epec    ? "retEnvEvento_v1.00.xsd"
                         : c.op == Op::Subst ? "retEnvEventoCancSubst_v1.00.xsd"
                                             : "retEnvEventoCancNFe_v1.00.xsd"));
  EXPECT_EQ("7", Field(ret, "idLote"));
  if (c.expected.cStat == "215") {  // the batch is refused whole
    EXPECT_EQ("215", Field(ret, "cStat")) << ret;
    EXPECT_EQ(c.expected.xMotivo, Field(ret, "xMotivo"));
    EXPECT_EQ("", Element(ret, "retEvento"));
    return;
  }
  EXPECT_EQ("128", Field(ret, "cStat")) << ret;
  EXPECT_EQ("Lote de Evento Processado", Field(ret, "xMotivo"));
  const std::string retEvento = Element(ret, "retEvento");
  EXPECT_EQ(c.expected.cStat, Inner(retEvento, "cStat")) << ret;
  EXPECT_EQ(c.expected.xMotivo, Inner(retEvento, "xMotivo"));
  EXPECT_EQ(Key(c.key), Inner(retEvento, "chNFe"));
  const bool registered =
      c.expected.cStat == "135" || c.expected.cStat == "136" || c.expected.cStat == "155";
  EXPECT_EQ(registered ? 15u : 0u, Inner(retEvento, "nProt").size());
  if (c.op == Op::Epec) return;
  // The note query answers from the same base: 101 with the event once registered.
  const std::string situacao = Query(Key(c.key));
  if (registered) {
    EXPECT_EQ("101", Field(situacao, "cStat")) << situacao;
    EXPECT_EQ(Inner(retEvento, "nProt"),
              Inner(Element(Element(situacao, "procEventoNFe"), "retEvento"), "nProt"));
    EXPECT_EQ("", test::SignatureError(Element(situacao, "procEventoNFe"), "infEvento",
                                       SharedPki().caCert));
  } else if (c.key == 1) {
    EXPECT_EQ("100", Field(situacao, "cStat")) << situacao;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Events, EventCaseTest,
    ::testing::Values(
        EventCase{"Cancelamento135", Op::Cancel, 1, Twist::None, codes::k135},
        EventCase{"Cancelamento310135", Op::Cancel310, 1, Twist::None, codes::k135},
        EventCase{"Substituicao135", Op::Subst, 1, Twist::None, codes::k135},
        EventCase{"ForaDePrazo155", Op::Cancel, 1, Twist::Late, codes::k155},
        EventCase{"Schema215", Op::Cancel, 1, Twist::ShortJust, codes::k215},
        EventCase{"Assinatura297", Op::Cancel, 1, Twist::Altered, codes::k297},
        EventCase{"Ambiente252", Op::Cancel, 1, Twist::Production, codes::k252},
        EventCase{"Id572", Op::Cancel, 1, Twist::WrongId, codes::k572},
        EventCase{"DigitoVerificador236", Op::Cancel, 0, Twist::None, codes::k236},
        EventCase{"ChaveInexistente494", Op::Cancel, 9, Twist::None, codes::k494},
        EventCase{"Duplicidade573", Op::Cancel, 2, Twist::None, codes::k573},
        EventCase{"JaCancelada218", Op::Cancel, 2, Twist::None, codes::k218, 2},
        EventCase{"Denegada205", Op::Cancel, 3, Twist::None, codes::k205},
        EventCase{"Protocolo222", Op::Cancel, 1, Twist::WrongProt, codes::k222},
        EventCase{"SubstitutaDeOutroEmitente494", Op::Subst, 1, Twist::None, codes::k494, 1, 5},
        EventCase{"SubstitutaCancelada494", Op::Subst, 1, Twist::None, codes::k494, 1, 2},
        EventCase{"Epec136", Op::Epec, 20, Twist::None, codes::k136},
        EventCase{"EpecSchema215", Op::Epec, 20, Twist::ShortJust, codes::k215},
        EventCase{"EpecAssinatura297", Op::Epec, 20, Twist::Altered, codes::k297},
        EventCase{"EpecDuplicidade573", Op::Epec, 20, Twist::Twice, codes::k573}),
    [](const ::testing::TestParamInfo<EventCase>& info) { return std::string(info.param.name); });

// ---- voidings -------------------------------------------------------------------------------

struct VoidingCase {
  const char* name;
  TVersaoManual vm;
  std::string ano;  // empty: the current year
  int first, last;
  Twist twist;
  Outcome expected;
  std::string cnpj = {};  // empty: the company's
};

void PrintTo(const VoidingCase& c, std::ostream* os) { *os << c.name; }

class VoidingCaseTest : public EventsTest, public ::testing::WithParamInterface<VoidingCase> {};

TEST_P(VoidingCaseTest, AnswersTheRangeWithItsCode) {
  const VoidingCase& c = GetParam();
  if (c.twist == Twist::Production) simulator_->SetAmbienteRecepcao("1");
  const std::string ano = c.ano.empty() ? YearNow() : c.ano;
  if (c.twist == Twist::Twice) SendVoiding(c.vm, ano, c.first, c.last);
  const std::string ret = SendVoiding(c.vm, ano, c.first, c.last, c.twist, c.cnpj);
  EXPECT_TRUE(Valid(ret, c.vm == v4 ? "retInutNFe_v4.00.xsd" : "retInutNFe_v3.10.xsd"));
  EXPECT_EQ(c.expected.cStat, Inner(ret, "cStat")) << ret;
  EXPECT_EQ(c.expected.xMotivo, Inner(ret, "xMotivo"));
  EXPECT_EQ(c.expected.cStat == "102" ? 15u : 0u, Inner(ret, "nProt").size());
  EXPECT_EQ(c.expected.cStat == "215" ? "" : std::to_string(c.last), Inner(ret, "nNFFin"));
}

INSTANTIATE_TEST_SUITE_P(
    Voidings, VoidingCaseTest,
    ::testing::Values(VoidingCase{"Homologada102", v4, "", 10, 12, Twist::None, codes::k102},
                      VoidingCase{"Homologada310102", v3, "", 10, 12, Twist::None, codes::k102},
                      VoidingCase{"Schema215", v4, "", 10, 12, Twist::ShortJust, codes::k215},
                      VoidingCase{"Assinatura297", v4, "", 10, 12, Twist::Altered, codes::k297},
                      VoidingCase{"Ambiente252", v4, "", 10, 12, Twist::Production, codes::k252},
                      VoidingCase{"UfDoCabecalho226", v3, "", 10, 12, Twist::OtherUf, codes::k226},
                      VoidingCase{"CnpjDoCertificado213", v4, "", 10, 12, Twist::None, codes::k213,
                                  kOutroCnpj},
                      VoidingCase{"AnoAntesDe2006454", v4, "05", 10, 12, Twist::None, codes::k454},
                      VoidingCase{"AnoFuturo453", v4, YearNow(1), 10, 12, Twist::None, codes::k453},
                      VoidingCase{"NumeroUtilizado241", v4, "", 1, 3, Twist::None, codes::k241},
                      VoidingCase{"JaInutilizada256", v4, "", 10, 12, Twist::Twice, codes::k256}),
    [](const ::testing::TestParamInfo<VoidingCase>& info) { return std::string(info.param.name); });

// ---- what the base keeps, and the authorisation of a voided number ---------------------------

TEST_F(EventsTest, EpecAndVoidingsAreKeptSignedAndSurviveARestart) {
  ASSERT_EQ("136", Inner(SendEvent(Op::Epec, 20), "cStat"));
  ASSERT_EQ("102", Inner(SendVoiding(v4, YearNow(), 30, 40), "cStat"));
  const std::string folder = dir_ / "simulador/notas/";
  const std::string procEpec = test::ReadFile(folder + Key(20) + "-epec.xml");
  const std::string procInut = test::ReadFile(folder + "inut-35" + YearNow() + SharedPki().cnpj +
                                              "65001000000030000000040.xml");
  EXPECT_TRUE(Valid(procEpec, "procEventoNFe_v1.00.xsd"));
  EXPECT_TRUE(Valid(procInut, "procInutNFe_v4.00.xsd"));
  EXPECT_EQ("", test::SignatureError(procEpec, "infEvento", SharedPki().caCert));
  EXPECT_EQ("", test::SignatureError(procInut, "infInut", SharedPki().caCert));

  StartSimulator();  // on the same folder
  EXPECT_EQ("573", Inner(SendEvent(Op::Epec, 20), "cStat"));
  EXPECT_EQ("256", Inner(SendVoiding(v4, YearNow(), 35, 35), "cStat"));
}

TEST_F(EventsTest, AuthorisationRefusesAVoidedNumber206) {
  TqorNFCeConvTXTDataSet converter;
  converter.SetVersaoEsquema(TVersaoEsquema::pl_009g);
  converter.SetXMLDicionario(std::string(QORNFCE_BIN_DIR) +
                             "/Templates/vm60/Conversor/NFCeDataSets.xml");
  converter.SetTXT(
      test::ReadFile(std::string(QORNFCE_BIN_DIR) + "/exemplos/nfce-um-item-dinheiro.tx2"));
  const std::string infNFe = converter.Converter();
  const std::string nfe = Sign(
      "<NFe xmlns=\"" + kNfe + "\">" + infNFe.substr(0, infNFe.find("\r\n")) + "</NFe>", "infNFe");
  const std::string chave = Text(nfe, "substring-after(//*[local-name()='infNFe']/@Id, 'NFe')");
  const int nNF = std::stoi(chave.substr(25, 9));
  ASSERT_EQ(SharedPki().cnpj, chave.substr(6, 14));
  ASSERT_EQ("102", Inner(SendVoiding(v4, YearNow(), nNF, nNF), "cStat"));

  const std::string batch = std::regex_replace(
      Format(Tpl(v4, "pedido_enviarnota.xml"), {"1", nfe, ""}), std::regex("<indSinc>0<"),
      "<indSinc>1<");  // as the client asks for the answer at once
  const std::string ret =
      Element(Post("/ws/NFeAutorizacao4.asmx", Format(Tpl(v4, "pedido_enviarnfe.soap"), {batch})),
              "retEnviNFe");
  EXPECT_TRUE(Valid(ret, "retEnviNFe_v4.00.xsd"));
  EXPECT_EQ("206", Inner(Element(ret, "protNFe"), "cStat")) << ret;
  EXPECT_EQ(codes::k206.xMotivo, Inner(Element(ret, "protNFe"), "xMotivo"));
  EXPECT_EQ("217", Field(Query(chave), "cStat"));
}

}  // namespace
}  // namespace qor::sim
