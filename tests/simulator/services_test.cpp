// The authorisation, event and voiding services seen by a client: notes converted from the TX2
// samples, requests filled from the component's own templates, signed with the test company's key
// by the simulator's signer and posted over TLS by the component's HTTPS client. xmllint checks
// every answer and every file the base keeps against the official schema package, gzip and base64
// compress batches, xmlsec1 verifies the signed documents the base keeps.
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
using test::ReadFile;
using test::RunCommand;
using test::SchemasFolder;
using test::SharedPki;
using test::WriteFile;

const std::string kNfe = "http://www.portalfiscal.inf.br/nfe";
const std::string kCpfIrregular = "12345678909";  // recipient of nfce-consumidor-identificado
const std::string kOutroCnpj = "44555666000181";
constexpr TVersaoManual v4 = TVersaoManual::vm60, v3 = TVersaoManual::vm50b;

std::string Tpl(TVersaoManual vm, const char* name) {
  return TqorNFCeTemplates::LoadTemplate(vm, "SP", name);
}
// `text` with the first match of `pattern` replaced; a fixture that changes nothing is a bug.
std::string Edit(const std::string& text, const std::string& pattern, const std::string& to) {
  std::string edited =
      std::regex_replace(text, std::regex(pattern), to, std::regex_constants::format_first_only);
  if (edited == text) throw std::logic_error("fixture: nothing to edit for " + pattern);
  return edited;
}

std::string Match(const std::string& text, const std::string& pattern) {
  std::smatch found;
  return std::regex_search(text, found, std::regex(pattern)) ? found.str(1) : "";
}

std::string KeyOf(const std::string& nfe) { return Match(nfe, "Id=\"NFe([0-9]{44})\""); }

// The `index`-th note of a TX2 file, with a "campo=valor" `edit` replacing the field's line.
std::string Convert(const std::string& file, TVersaoEsquema versao, int index = 0,
                    const std::string& edit = {}) {
  std::string tx2 = ReadFile(file);
  if (!edit.empty()) tx2 = Edit(tx2, edit.substr(0, edit.find('=') + 1) + "[^\r\n]*", edit);
  TqorNFCeConvTXTDataSet converter;
  converter.SetVersaoEsquema(versao);
  converter.SetXMLDicionario(std::string(QORNFCE_BIN_DIR) +
                             "/Templates/vm60/Conversor/NFCeDataSets.xml");
  converter.SetTXT(tx2);
  std::string notes = converter.Converter();
  for (int i = 0; i < index; ++i) notes = notes.substr(notes.find("\r\n") + 2);
  return notes.substr(0, notes.find("\r\n"));
}

std::string SignNFe(const std::string& infNFe,
                    const std::string& keyPem = SharedPki().companyKeyPem,
                    const std::string& certPem = SharedPki().companyCertPem) {
  return SignEnveloped("<NFe xmlns=\"" + kNfe + "\">" + infNFe + "</NFe>", "infNFe", keyPem,
                       certPem);
}

struct Notes {
  std::string base, outroCnf, umItem, alterada, dvErrado, camposDivergentes, outroEmitente, outraAc,
      semAssinatura, nota310a, nota310b;
};
const Notes* notes = nullptr;

void MakeNotes(const std::string& folder) {
  const std::string exemplos = std::string(QORNFCE_BIN_DIR) + "/exemplos/";
  const std::string consumidor = exemplos + "nfce-consumidor-identificado.tx2";
  const std::string infNFe = Convert(consumidor, TVersaoEsquema::pl_009g);
  const std::string key = KeyOf(infNFe), dv = key.substr(43);
  const std::string wrongDv = std::to_string((std::stoi(dv) + 1) % 10);
  const std::string otherCa = folder + "outra-ac.pem";
  RunCommand("openssl pkcs12 -in " + SharedPki().otherCaCompanyPfx +
             " -nodes -passin pass:" + SharedPki().password + " -out " + otherCa);

  auto* n = new Notes;
  n->base = SignNFe(infNFe);
  n->outroCnf = SignNFe(Convert(consumidor, TVersaoEsquema::pl_009g, 0, "cNF_B03=40596979"));
  n->umItem = SignNFe(Convert(exemplos + "nfce-um-item-dinheiro.tx2", TVersaoEsquema::pl_009g));
  n->alterada = Edit(n->base, "<vNF>[^<]*</vNF>", "<vNF>999.99</vNF>");  // after signing
  n->dvErrado = SignNFe(Edit(Edit(infNFe, key, key.substr(0, 43) + wrongDv), "<cDV>" + dv + "<",
                             "<cDV>" + wrongDv + "<"));
  n->camposDivergentes = SignNFe(Edit(infNFe, "<nNF>1004<", "<nNF>1005<"));
  n->outroEmitente =
      SignNFe(Convert(consumidor, TVersaoEsquema::pl_009g, 0, "CNPJ_C02=44555666000181"));
  n->outraAc = SignNFe(infNFe, otherCa, otherCa);
  n->semAssinatura = "<NFe xmlns=\"" + kNfe + "\">" + infNFe + "</NFe>";
  const std::string leiaute310 =
      std::string(QORNFCE_SOURCE_DIR) + "/tests/conversion/corpus/leiaute-310.tx2";
  n->nota310a = SignNFe(Convert(leiaute310, TVersaoEsquema::pl_008i1, 0));
  n->nota310b = SignNFe(Convert(leiaute310, TVersaoEsquema::pl_008i1, 1));
  notes = n;
}

// A document of a reply, found by its local name, and values inside it.
std::string Element(const std::string& xml, const std::string& name) {
  std::string value;
  XPathSelectSingleNode(xml, "//*[local-name()='" + name + "']", value);
  return value;
}
std::string Text(const std::string& xml, const std::string& path) {
  std::string value;
  XPathSelectSingleNode(xml, path, value, {}, false);
  return value;
}
std::string Field(const std::string& doc, const std::string& name) {  // of the root
  return Text(doc, "/*/*[local-name()='" + name + "']");
}
std::string Prot(const std::string& doc, const std::string& name, int n = 1) {
  return Text(doc, "(//*[local-name()='infProt'])[" + std::to_string(n) + "]/*[local-name()='" +
                       name + "']");
}

std::string Sign(const std::string& xml, const char* element) {
  return SignEnveloped(xml, element, SharedPki().companyKeyPem, SharedPki().companyCertPem);
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

// A simulator on the test's folder, and a client of its own: the server's Stop would wait for a
// kept-alive connection of the previous client to time out.
class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    StartSimulator();
  }
  void StartSimulator() { test::StartSimulatorAndClient(dir_ / "simulador", simulator_, gov_); }

  std::string Post(const std::string& path, const std::string& envelope) {
    return gov_->PostSOAP(simulator_->BaseUrl() + path, envelope, "", "", "");
  }

  // The envelope the component posts: template `name` of `vm` filled with `data` (4.00) or with
  // cUF and `data` (3.10).
  static std::string Envelope(TVersaoManual vm, const char* name, const std::string& data) {
    return vm == v4 ? Format(Tpl(vm, name), {data}) : Format(Tpl(vm, name), {"35", data});
  }

  std::string Query(const std::string& chave) {
    return Element(Post("/ws/NFeConsultaProtocolo4.asmx",
                        Envelope(v4, "pedido_consultanf.soap",
                                 Format(Tpl(v4, "pedido_consultanf.xml"), {"2", chave}))),
                   "retConsSitNFe");
  }

  enum class Zip { None, Gzip, Garbage };

  // The whole reply envelope to a batch of `nfes`.
  std::string Send(const std::string& nfes, const std::string& indSinc, TVersaoManual vm = v4,
                   Zip zip = Zip::None) {
    std::string data = Format(Tpl(vm, "pedido_enviarnota.xml"), {"1", nfes, ""});
    if (indSinc == "1") data = Edit(data, "<indSinc>0<", "<indSinc>1<");  // as the client does
    if (zip != Zip::None) {
      WriteFile(dir_ / "lote.xml", data);
      RunCommand("gzip -c " + dir_ / "lote.xml" + " | base64 -w0 > " + dir_ / "lote.b64");
      data = zip == Zip::Gzip ? ReadFile(dir_ / "lote.b64") : "bm90IGd6aXA=";
    }
    return Post(
        vm == v4 ? "/ws/NFeAutorizacao4.asmx" : "/ws/NfeAutorizacao.asmx",
        Envelope(vm, zip == Zip::None ? "pedido_enviarnfe.soap" : "pedido_enviarnfezip.soap",
                 data));
  }

  std::string Receipt(const std::string& nRec, TVersaoManual vm = v4) {
    const std::string body = Format(Tpl(vm, "pedido_consultarecibo.xml"), {"2", nRec});
    // The 4.00 client sends the query escaped, as text of nfeDadosMsg.
    return Element(Post(vm == v4 ? "/ws/NFeRetAutorizacao4.asmx" : "/ws/NfeRetAutorizacao.asmx",
                        Envelope(vm, "pedido_consultarecibo.soap", vm == v4 ? Escape(body) : body)),
                   "retConsReciNFe");
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

class AuthorizationTest : public ServicesTest {
 protected:
  static void SetUpTestSuite() {
    static test::TempDir* folder = new test::TempDir();  // lives until the program ends
    if (!SchemasFolder().empty() && notes == nullptr) MakeNotes(folder->path());
  }
};

enum class Op { Cancel, Cancel310, Subst, Epec };
enum class Twist { None, Altered, Production, WrongId, WrongProt, Late, Twice, ShortJust, OtherUf };

class EventsTest : public ServicesTest {
 protected:
  void SetUp() override {
    ServicesTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    NoteStore& base = simulator_->Notas();
    for (int n : {1, 2, 4, 5}) base.RegistrarAutorizacao(Key(n), "2");
    base.RegistrarCancelamentoSemEvento(Key(2), "Venda desfeita pelo cliente");
    base.RegistrarDenegacao(Key(3), "2", "", codes::k302);
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
};

// ---- one note, answered at once: a table of cases, one runner --------------------------------

struct Case {
  const char* name;
  std::string Notes::*first;  // sent before, for a receipt; null: nothing
  std::string Notes::*note;   // then sent for the answer at once
  std::string cStat;
  std::string xMotivo;  // "{nRec}", "{chave}": receipt and key of the note sent before
  bool denegar = false;
};

class AuthorizationCaseTest : public AuthorizationTest,
                              public ::testing::WithParamInterface<Case> {};

TEST_P(AuthorizationCaseTest, AnswersTheNoteWithItsProtocol) {
  const Case& c = GetParam();
  if (c.denegar) simulator_->SetDenegarCpfDestinatario(kCpfIrregular);
  std::string xMotivo = c.xMotivo;
  if (c.first != nullptr) {
    const std::string ret = Element(Send(notes->*c.first, "0"), "retEnviNFe");
    ASSERT_EQ("103", Field(ret, "cStat")) << ret;
    xMotivo = std::regex_replace(xMotivo, std::regex("\\{nRec\\}"),
                                 Text(ret, "//*[local-name()='nRec']"));
    xMotivo = std::regex_replace(xMotivo, std::regex("\\{chave\\}"), KeyOf(notes->*c.first));
  }
  const std::string& nfe = notes->*c.note;
  const std::string ret = Element(Send(nfe, "1"), "retEnviNFe");
  EXPECT_EQ("", test::SchemaError(ret, "retEnviNFe_v4.00.xsd"));
  EXPECT_EQ("104", Field(ret, "cStat")) << ret;
  EXPECT_EQ("Lote processado", Field(ret, "xMotivo"));
  EXPECT_EQ("", Element(ret, "infRec"));
  EXPECT_EQ(c.cStat, Prot(ret, "cStat")) << ret;
  EXPECT_EQ(xMotivo, Prot(ret, "xMotivo"));
  EXPECT_EQ(KeyOf(nfe), Prot(ret, "chNFe"));
  // Authorised and denied notes get a protocol and stay in the base; rejected ones neither.
  const bool recorded = c.cStat == "100" || c.cStat == "302";
  EXPECT_EQ(recorded ? 15u : 0u, Prot(ret, "nProt").size());
  if (recorded) {
    EXPECT_EQ(Match(nfe, "<DigestValue>([^<]+)<"), Prot(ret, "digVal"));
  }
  if (c.first == nullptr) {  // the note query answers from the same base
    EXPECT_EQ(recorded           ? c.cStat
              : c.cStat == "253" ? "236"
                                 : "217",
              Field(Query(KeyOf(nfe)), "cStat"));
  }
}

const std::string kDuplicidade = "Rejeição: Duplicidade de NF-e";

INSTANTIATE_TEST_SUITE_P(
    Authorization, AuthorizationCaseTest,
    ::testing::Values(
        Case{"Autorizada100", nullptr, &Notes::base, "100", "Autorizado o uso da NF-e"},
        Case{"AssinaturaAlterada297", nullptr, &Notes::alterada, "297",
             "Rejeição: Assinatura difere do calculado"},
        Case{"CertificadoDeOutraAc293", nullptr, &Notes::outraAc, "293",
             "Rejeição: Certificado Assinatura - erro Cadeia de Certificação"},
        Case{"DigitoVerificador253", nullptr, &Notes::dvErrado, "253",
             "Rejeição: Digito Verificador da chave de acesso composta inválida"},
        Case{"ChaveDifereDosCampos502", nullptr, &Notes::camposDivergentes, "502",
             "Rejeição: Erro na Chave de Acesso - Campo Id não corresponde à concatenação dos "
             "campos correspondentes"},
        Case{"CnpjBaseDoCertificado213", nullptr, &Notes::outroEmitente, "213",
             "Rejeição: CNPJ-Base do Emitente difere do CNPJ-Base do Certificado Digital"},
        Case{"Duplicidade204", &Notes::base, &Notes::base, "204", kDuplicidade + " [nRec:{nRec}]"},
        Case{"MesmoNumeroOutraChave539", &Notes::base, &Notes::outroCnf, "539",
             kDuplicidade + ", com diferença na Chave de Acesso [chNFe: {chave}][nRec:{nRec}]"},
        Case{"Denegada302", nullptr, &Notes::base, "302",
             "Uso Denegado: Irregularidade fiscal do destinatário", true},
        Case{"DenegadaReenviada205", &Notes::base, &Notes::base, "205",
             "Rejeição: NF-e está denegada na base de dados da SEFAZ [nRec:{nRec}]", true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// ---- batches refused whole: no receipt, no protocol ------------------------------------------

TEST_F(AuthorizationTest, RefusedBatchesCarryNeitherReceiptNorProtocol) {
  const struct {
    std::string nfes, indSinc;
    Zip zip;
    std::string cStat, xMotivo;
  } cases[] = {
      {notes->semAssinatura, "1", Zip::None, "225", "Rejeição: Falha no Schema XML do lote de NFe"},
      {notes->base + notes->umItem, "1", Zip::None, "452",
       "Rejeição: Solicitada resposta síncrona para Lote com mais de uma NF-e (indSinc=1)"},
      {notes->base, "0", Zip::Garbage, "244", "Rejeição: Falha na descompactação da área de dados"},
  };
  for (const auto& c : cases) {
    const std::string ret = Element(Send(c.nfes, c.indSinc, v4, c.zip), "retEnviNFe");
    EXPECT_EQ(c.cStat, Field(ret, "cStat")) << ret;
    EXPECT_EQ(c.xMotivo, Field(ret, "xMotivo"));
    EXPECT_EQ("", Element(ret, "infRec") + Element(ret, "protNFe")) << c.cStat;
    EXPECT_EQ("", test::SchemaError(ret, "retEnviNFe_v4.00.xsd"));
  }
  EXPECT_EQ(0u, simulator_->Notas().Quantidade());
}

// ---- a batch for a receipt, its query, and what survives a restart ----------------------------

TEST_F(AuthorizationTest, ReceiptAnswers105Then104WithOneProtocolPerNote) {
  simulator_->SetTempoProcessamentoLote(3600 * 1000);
  simulator_->SetDenegarCpfDestinatario(kCpfIrregular);
  const std::string ret =
      Element(Send(notes->umItem + notes->base + notes->dvErrado, "0"), "retEnviNFe");
  EXPECT_EQ("", test::SchemaError(ret, "retEnviNFe_v4.00.xsd"));
  EXPECT_EQ("103", Field(ret, "cStat")) << ret;
  EXPECT_EQ("Lote recebido com sucesso", Field(ret, "xMotivo"));
  EXPECT_EQ("3600", Text(ret, "//*[local-name()='tMed']"));
  const std::string nRec = Text(ret, "//*[local-name()='nRec']");
  ASSERT_TRUE(std::regex_match(nRec, std::regex("[0-9]{15}"))) << ret;

  const std::string waiting = Receipt(nRec);
  EXPECT_EQ("", test::SchemaError(waiting, "retConsReciNFe_v4.00.xsd"));
  EXPECT_EQ("105", Field(waiting, "cStat")) << waiting;
  EXPECT_EQ("Lote em processamento", Field(waiting, "xMotivo"));
  EXPECT_EQ("", Element(waiting, "protNFe"));

  simulator_->SetTempoProcessamentoLote(0);
  auto expectProcessed = [&](const std::string& rec) {
    EXPECT_EQ("", test::SchemaError(rec, "retConsReciNFe_v4.00.xsd"));
    EXPECT_EQ("104", Field(rec, "cStat")) << rec;
    EXPECT_EQ("Lote processado", Field(rec, "xMotivo"));
    EXPECT_EQ(nRec, Field(rec, "nRec"));
    EXPECT_EQ("3", Text(rec, "count(//*[local-name()='protNFe'])"));
    EXPECT_EQ("100", Prot(rec, "cStat", 1));
    EXPECT_EQ(KeyOf(notes->umItem), Prot(rec, "chNFe", 1));
    EXPECT_EQ("302", Prot(rec, "cStat", 2));
    EXPECT_EQ("253", Prot(rec, "cStat", 3));
  };
  expectProcessed(Receipt(nRec));
  const std::string unknown = Receipt("351000000099999");
  EXPECT_EQ("106", Field(unknown, "cStat")) << unknown;
  EXPECT_EQ("Lote não localizado", Field(unknown, "xMotivo"));
  EXPECT_EQ("", test::SchemaError(unknown, "retConsReciNFe_v4.00.xsd"));

  const std::string consulta = Query(KeyOf(notes->umItem));
  EXPECT_EQ("100", Field(consulta, "cStat"));
  EXPECT_EQ(Prot(Receipt(nRec), "nProt", 1), Prot(consulta, "nProt"));
  EXPECT_EQ("302", Field(Query(KeyOf(notes->base)), "cStat"));

  // The base keeps the distribution document: schema-valid, its note's signature intact.
  const std::string nfeProc = dir_ / ("simulador/notas/" + KeyOf(notes->umItem) + ".xml");
  EXPECT_EQ("", test::SchemaError(ReadFile(nfeProc), "procNFe_v4.00.xsd"));
  EXPECT_EQ("", test::SignatureError(ReadFile(nfeProc), "infNFe", SharedPki().caCert));

  StartSimulator();  // on the same folder: receipts and notes come back from disk
  expectProcessed(Receipt(nRec));
  const std::string again = Element(Send(notes->umItem + notes->base, "0"), "retEnviNFe");
  const std::string rec = Receipt(Text(again, "//*[local-name()='nRec']"));
  EXPECT_EQ(kDuplicidade + " [nRec:" + nRec + "]", Prot(rec, "xMotivo", 1)) << rec;
  EXPECT_EQ("205", Prot(rec, "cStat", 2));
}

// ---- the compressed message and the 3.10 services ------------------------------------------

TEST_F(AuthorizationTest, CompressedAndLayout310BatchesAreReadLikePlainOnes) {
  const std::string zipped = Send(notes->base, "1", v4, Zip::Gzip);
  EXPECT_EQ("100", Prot(Element(zipped, "retEnviNFe"), "cStat")) << zipped;

  const std::string sync310 = Send(notes->nota310a, "1", v3);
  const std::string ret = Element(sync310, "retEnviNFe");
  EXPECT_EQ("", test::SchemaError(ret, "retEnviNFe_v3.10.xsd"));
  EXPECT_EQ("100", Prot(ret, "cStat")) << sync310;
  EXPECT_EQ("3.10", Text(ret, "/*/@versao"));
  EXPECT_EQ("35", Text(sync310, "//*[local-name()='nfeCabecMsg']/*[local-name()='cUF']"));
  EXPECT_NE("", Element(sync310, "nfeAutorizacaoLoteResult"));

  const std::string async310 = Send(notes->nota310b, "0", v3, Zip::Gzip);
  EXPECT_NE("", Element(async310, "nfeAutorizacaoLoteZipResult")) << async310;
  const std::string rec = Receipt(Text(async310, "//*[local-name()='nRec']"), v3);
  EXPECT_EQ("", test::SchemaError(rec, "retConsReciNFe_v3.10.xsd"));
  EXPECT_EQ("104", Field(rec, "cStat")) << rec;
  EXPECT_EQ("100", Prot(rec, "cStat"));
  EXPECT_EQ(KeyOf(notes->nota310b), Prot(rec, "chNFe"));
}

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
  const std::string nfe =
      SignNFe(Convert(std::string(QORNFCE_BIN_DIR) + "/exemplos/nfce-um-item-dinheiro.tx2",
                      TVersaoEsquema::pl_009g));
  const std::string chave = KeyOf(nfe);
  const int nNF = std::stoi(chave.substr(25, 9));
  ASSERT_EQ(SharedPki().cnpj, chave.substr(6, 14));
  ASSERT_EQ("102", Inner(SendVoiding(v4, YearNow(), nNF, nNF), "cStat"));
  const std::string ret = Element(Send(nfe, "1"), "retEnviNFe");
  EXPECT_TRUE(Valid(ret, "retEnviNFe_v4.00.xsd"));
  EXPECT_EQ("206", Inner(Element(ret, "protNFe"), "cStat")) << ret;
  EXPECT_EQ(codes::k206.xMotivo, Inner(Element(ret, "protNFe"), "xMotivo"));
  EXPECT_EQ("217", Field(Query(chave), "cStat"));
}

}  // namespace
}  // namespace qor::sim
