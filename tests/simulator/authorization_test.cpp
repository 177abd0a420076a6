// The authorisation services seen by a client: notes converted from the sample TX2 files, signed
// with the test company's key by the simulator's own signer, sent in the component's request
// templates through its HTTPS client over TLS. xmllint checks every answer against the official
// schema package, gzip and base64 compress the batches, xmlsec1 verifies the note the base keeps.
#include <gtest/gtest.h>

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

namespace qor::sim {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::SchemasFolder;
using test::SharedPki;
using test::WriteFile;

const std::string kNfe = "http://www.portalfiscal.inf.br/nfe";
const std::string kCpfIrregular = "12345678909";  // recipient of nfce-consumidor-identificado

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

std::string Sign(const std::string& infNFe, const std::string& keyPem = SharedPki().companyKeyPem,
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
  n->base = Sign(infNFe);
  n->outroCnf = Sign(Convert(consumidor, TVersaoEsquema::pl_009g, 0, "cNF_B03=40596979"));
  n->umItem = Sign(Convert(exemplos + "nfce-um-item-dinheiro.tx2", TVersaoEsquema::pl_009g));
  n->alterada = Edit(n->base, "<vNF>[^<]*</vNF>", "<vNF>999.99</vNF>");  // after signing
  n->dvErrado = Sign(Edit(Edit(infNFe, key, key.substr(0, 43) + wrongDv), "<cDV>" + dv + "<",
                          "<cDV>" + wrongDv + "<"));
  n->camposDivergentes = Sign(Edit(infNFe, "<nNF>1004<", "<nNF>1005<"));
  n->outroEmitente =
      Sign(Convert(consumidor, TVersaoEsquema::pl_009g, 0, "CNPJ_C02=44555666000181"));
  n->outraAc = Sign(infNFe, otherCa, otherCa);
  n->semAssinatura = "<NFe xmlns=\"" + kNfe + "\">" + infNFe + "</NFe>";
  const std::string leiaute310 =
      std::string(QORNFCE_SOURCE_DIR) + "/tests/conversion/corpus/leiaute-310.tx2";
  n->nota310a = Sign(Convert(leiaute310, TVersaoEsquema::pl_008i1, 0));
  n->nota310b = Sign(Convert(leiaute310, TVersaoEsquema::pl_008i1, 1));
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

class AuthorizationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static test::TempDir* folder = new test::TempDir();  // lives until the program ends
    if (!SchemasFolder().empty() && notes == nullptr) MakeNotes(folder->path());
  }

  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    StartSimulator();
  }

  // A simulator on the test's folder, and a client of its own: the server's Stop would wait for
  // a kept-alive connection of the previous client to time out.
  void StartSimulator() { test::StartSimulatorAndClient(dir_ / "simulador", simulator_, gov_); }

  std::string Post(const std::string& path, const std::string& envelope) {
    return gov_->PostSOAP(simulator_->BaseUrl() + path, envelope, "", "", "");
  }

  enum class Zip { None, Gzip, Garbage };

  // The envelopes the component posts: template `name` of `vm` for SP filled with `data` (4.00)
  // or with cUF and `data` (3.10).
  static std::string Envelope(TVersaoManual vm, const char* name, const std::string& data) {
    const std::string soap = TqorNFCeTemplates::LoadTemplate(vm, "SP", name);
    return vm == TVersaoManual::vm60 ? Format(soap, {data}) : Format(soap, {"35", data});
  }

  // The whole reply envelope to a batch of `nfes`.
  std::string Send(const std::string& nfes, const std::string& indSinc,
                   TVersaoManual vm = TVersaoManual::vm60, Zip zip = Zip::None) {
    std::string data =
        Format(TqorNFCeTemplates::LoadTemplate(vm, "SP", "pedido_enviarnota.xml"), {"1", nfes, ""});
    if (indSinc == "1") data = Edit(data, "<indSinc>0<", "<indSinc>1<");  // as the client does
    if (zip != Zip::None) {
      WriteFile(dir_ / "lote.xml", data);
      RunCommand("gzip -c " + dir_ / "lote.xml" + " | base64 -w0 > " + dir_ / "lote.b64");
      data = zip == Zip::Gzip ? ReadFile(dir_ / "lote.b64") : "bm90IGd6aXA=";
    }
    return Post(
        vm == TVersaoManual::vm60 ? "/ws/NFeAutorizacao4.asmx" : "/ws/NfeAutorizacao.asmx",
        Envelope(vm, zip == Zip::None ? "pedido_enviarnfe.soap" : "pedido_enviarnfezip.soap",
                 data));
  }

  std::string Receipt(const std::string& nRec, TVersaoManual vm = TVersaoManual::vm60) {
    const bool v4 = vm == TVersaoManual::vm60;
    const std::string body =
        Format(TqorNFCeTemplates::LoadTemplate(vm, "SP", "pedido_consultarecibo.xml"), {"2", nRec});
    // The 4.00 client sends the query escaped, as text of nfeDadosMsg.
    return Element(Post(v4 ? "/ws/NFeRetAutorizacao4.asmx" : "/ws/NfeRetAutorizacao.asmx",
                        Envelope(vm, "pedido_consultarecibo.soap", v4 ? Escape(body) : body)),
                   "retConsReciNFe");
  }

  std::string Query(const std::string& chave) {
    const TVersaoManual vm = TVersaoManual::vm60;
    const std::string body =
        Format(TqorNFCeTemplates::LoadTemplate(vm, "SP", "pedido_consultanf.xml"), {"2", chave});
    return Element(
        Post("/ws/NFeConsultaProtocolo4.asmx", Envelope(vm, "pedido_consultanf.soap", body)),
        "retConsSitNFe");
  }

  test::TempDir dir_;
  std::unique_ptr<Simulator> simulator_;
  std::unique_ptr<TqorGovX> gov_;
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
    const std::string ret =
        Element(Send(c.nfes, c.indSinc, TVersaoManual::vm60, c.zip), "retEnviNFe");
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
  const std::string zipped = Send(notes->base, "1", TVersaoManual::vm60, Zip::Gzip);
  EXPECT_EQ("100", Prot(Element(zipped, "retEnviNFe"), "cStat")) << zipped;

  const std::string sync310 = Send(notes->nota310a, "1", TVersaoManual::vm50b);
  const std::string ret = Element(sync310, "retEnviNFe");
  EXPECT_EQ("", test::SchemaError(ret, "retEnviNFe_v3.10.xsd"));
  EXPECT_EQ("100", Prot(ret, "cStat")) << sync310;
  EXPECT_EQ("3.10", Text(ret, "/*/@versao"));
  EXPECT_EQ("35", Text(sync310, "//*[local-name()='nfeCabecMsg']/*[local-name()='cUF']"));
  EXPECT_NE("", Element(sync310, "nfeAutorizacaoLoteResult"));

  const std::string async310 = Send(notes->nota310b, "0", TVersaoManual::vm50b, Zip::Gzip);
  EXPECT_NE("", Element(async310, "nfeAutorizacaoLoteZipResult")) << async310;
  const std::string rec = Receipt(Text(async310, "//*[local-name()='nRec']"), TVersaoManual::vm50b);
  EXPECT_EQ("", test::SchemaError(rec, "retConsReciNFe_v3.10.xsd"));
  EXPECT_EQ("104", Field(rec, "cStat")) << rec;
  EXPECT_EQ("100", Prot(rec, "cStat"));
  EXPECT_EQ(KeyOf(notes->nota310b), Prot(rec, "chNFe"));
}

}  // namespace
}  // namespace qor::sim
