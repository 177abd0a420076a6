// AssinarNota / AssinarEvento on notes converted from the TX2 samples, checked with tools the
// library did not write: xmlsec1 verifies every signed document as returned, xmllint validates
// the notes against the official schema package.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::MessageOf;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr char kNfeNs[] = "http://www.portalfiscal.inf.br/nfe";
constexpr char kUrlQrCode[] = "https://nfce.sefaz.teste/qrcode";
constexpr char kUrlChave[] = "https://nfce.sefaz.teste/consulta-chave";
constexpr char kCsrt[] = "G8063VRTNDMO886SFNK5LDUDEI24XJ22YIPO";  // 36 characters

// The elements `tag` ("NFe", "evento") of a concatenation, each whole.
std::vector<std::string> Split(const std::string& text, const std::string& tag) {
  std::vector<std::string> parts;
  for (std::size_t at = text.find("<" + tag + " "), end; at != std::string::npos;
       at = text.find("<" + tag + " ", end)) {
    end = text.find("</" + tag + ">", at) + tag.size() + 3;
    parts.push_back(text.substr(at, end - at));
  }
  return parts;
}

std::string Between(const std::string& text, const std::string& open, const std::string& close) {
  const auto from = text.find(open);
  const auto to = text.find(close, from);
  if (from == std::string::npos || to == std::string::npos) return "<absent>";
  return text.substr(from + open.size(), to - from - open.size());
}

class AssinaturaTest : public ::testing::Test {
 protected:
  // Three vm60 notes (the samples, as `qornfce converter` prints them, one per line) and two
  // layout 3.10 notes, the first of which carries its own qrCode.
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    TqorNFCe conversor;
    conversor.SetDiretorioLogErro(dir_->path() + "LogErro/");
    conversor.SetDiretorioLog(dir_->path() + "Log/");
    const std::string exemplos = std::string(QORNFCE_SOURCE_DIR) + "/data/exemplos/";
    std::string tx2;
    for (const char* nome :
         {"nfce-um-item-dinheiro.tx2", "nfce-varios-itens.tx2", "nfce-consumidor-identificado.tx2"})
      tx2 += test::ReadFile(exemplos + nome);
    lote60_ = new std::string(conversor.ConverterLoteParaXml(tx2, TLayoutConvKind::lkTXTDataSet,
                                                             TVersaoEsquema::pl_009g));
    lote310_ = new std::string(conversor.ConverterLoteParaXml(
        std::string(QORNFCE_SOURCE_DIR) + "/tests/conversion/corpus/leiaute-310.tx2",
        TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_008h));
    WriteFile(dir_->path() + "hom.ini", std::string("[SP]\nURLQRCODE=") + kUrlQrCode +
                                            "\n[URLCONSULTACHAVE]\nSP=" + kUrlChave + "\n");
    WriteFile(dir_->path() + "hom-sem-chave.ini", std::string("[SP]\nURLQRCODE=") + kUrlQrCode);
  }
  static void TearDownTestSuite() { delete dir_; }

  void Configure(TVersaoManual versao = TVersaoManual::vm60,
                 const std::string& servidores = "hom.ini") {
    const auto& pki = test::SharedPki();
    nfce.SetDiretorioLogErro(dir_->path() + "LogErro/");
    nfce.SetDiretorioLog(dir_->path() + "Log/");
    nfce.SetVersaoManual(versao);
    nfce.SetUF("SP");
    nfce.SetCNPJ(pki.cnpj);
    nfce.SetArquivoServidoresHom(dir_->path() + servidores);
    nfce.SetCaminhoCertificado(pki.companyPfx);
    nfce.SetSenhaCertificado(pki.password);
    nfce.GetDanfceSettings().SetIdTokenNFCe("000001");
    nfce.GetDanfceSettings().SetTokenNFCe("0123456789ABCDEF0123456789ABCDEF0123");
  }

  static std::string Xmlsec1(const std::string& xml, const std::string& element) {
    return test::SignatureError(xml, element, test::SharedPki().caCert);
  }

  std::vector<std::string> Notas(const std::string& lote) {
    std::vector<std::string> notas;
    for (int i = 0; i < nfce.GetNumNotas(lote); ++i) notas.push_back(nfce.GetNota(i, lote));
    return notas;
  }

  static TempDir* dir_;
  static std::string* lote60_;
  static std::string* lote310_;
  TqorNFCe nfce;
  TempDir work;
};

TempDir* AssinaturaTest::dir_ = nullptr;
std::string* AssinaturaTest::lote60_ = nullptr;
std::string* AssinaturaTest::lote310_ = nullptr;

TEST_F(AssinaturaTest, BatchOfThreeNotesIsSignedInOrderAsTheTextReturned) {
  Configure();
  const std::string resultado = nfce.AssinarNota(*lote60_);
  EXPECT_EQ(resultado.find_first_of("\r\n"), std::string::npos);
  EXPECT_THAT(resultado, Not(HasSubstr("<?xml version=\"1.0\"?>")));
  const std::vector<std::string> entrada = Notas(*lote60_);
  const std::vector<std::string> nfes = Split(resultado, "NFe");
  ASSERT_EQ(entrada.size(), 3u);
  ASSERT_EQ(nfes.size(), 3u);
  ASSERT_NE(lote60_->find("São Paulo"), std::string::npos);
  for (std::size_t i = 0; i < nfes.size(); ++i) {
    SCOPED_TRACE("note " + std::to_string(i + 1));
    const std::string& nfe = nfes[i];
    // The input note as it was (accents removed), in input order, signed as it stands.
    EXPECT_EQ(Between(nfe, "\">", "<infNFeSupl>"),
              DynamicRemoveAccents(entrada[i], nfce.GetCaracteresRemoverAcentos()));
    EXPECT_EQ(Xmlsec1(nfe, "infNFe"), "");
    // infNFe, infNFeSupl, Signature: the signature closes NFe.
    EXPECT_THAT(nfe, HasSubstr("</infNFe><infNFeSupl><qrCode>"));
    EXPECT_THAT(nfe, HasSubstr("</urlChave></infNFeSupl><Signature xmlns="));
    EXPECT_TRUE(nfe.ends_with("</Signature></NFe>"));
    const std::string chave = GetXMLAttributeByIndex(nfe, "infNFe", "Id").substr(3);
    EXPECT_THAT(GetValueTag("qrCode", nfe),
                StartsWith(std::string(kUrlQrCode) + "?p=" + chave + "|2|2|1|"));
    EXPECT_EQ(GetValueTag("urlChave", nfe), kUrlChave);
  }
  EXPECT_THAT(resultado, Not(HasSubstr("São")));

  std::string alterada = nfes[0];
  alterada.replace(alterada.find("<vNF>9.00"), 7, "<vNF>8.");
  EXPECT_NE(Xmlsec1(alterada, "infNFe"), "");
}

TEST_F(AssinaturaTest, SignedNotesAreValidAgainstTheOfficialSchemas) {
  QOR_NEEDS_SCHEMAS();
  Configure();
  nfce.SetIdCSRT("01");
  nfce.SetCSRT(kCsrt);
  for (const std::string& nfe : Split(nfce.AssinarNota(*lote60_), "NFe"))
    EXPECT_EQ(test::SchemaError(nfe, "nfe_v4.00.xsd"), "") << nfe;
  // Layout 3.10 notes signed under vm50b: CommandLine.ConverterOutputIsSigned... (integration).

  // A state without a key-query address gets an empty urlChave, which the schema refuses.
  Configure(TVersaoManual::vm60, "hom-sem-chave.ini");
  const std::string semChave = nfce.AssinarNota(nfce.GetNota(0, *lote60_));
  EXPECT_THAT(semChave, HasSubstr("<urlChave></urlChave></infNFeSupl>"));
  EXPECT_THAT(test::SchemaError(semChave, "nfe_v4.00.xsd"), HasSubstr("urlChave"));
}

TEST_F(AssinaturaTest, SupplementFollowsTheManualVersionAndKeepsASuppliedQrCode) {
  Configure(TVersaoManual::vm50b);
  const std::vector<std::string> nfes = Split(nfce.AssinarNota(*lote310_), "NFe");
  ASSERT_EQ(nfes.size(), 2u);
  const std::string fornecido = Between(*lote310_, "<qrCode>", "</qrCode>");
  ASSERT_NE(fornecido, "<absent>");
  EXPECT_EQ(GetValueTag("qrCode", nfes[0]), Unescape(fornecido));
  EXPECT_EQ(XmlDocument::Parse(nfes[0]).CountTag("qrCode"), 1);
  // The second note had none: a version 1.00 link is made for it.
  EXPECT_THAT(GetValueTag("qrCode", nfes[1]), StartsWith(std::string(kUrlQrCode) + "?chNFe="));
  for (const std::string& nfe : nfes) EXPECT_THAT(nfe, Not(HasSubstr("urlChave")));
  // In the other order the supplied supplement still belongs to its own note only.
  const std::size_t quebra = lote310_->find("\r\n") + 2;  // one note per line
  ASSERT_NE(lote310_->find("<qrCode>"), std::string::npos);
  ASSERT_LT(lote310_->find("<qrCode>"), quebra);
  const std::vector<std::string> invertidas =
      Split(nfce.AssinarNota(lote310_->substr(quebra) + lote310_->substr(0, quebra)), "NFe");
  ASSERT_EQ(invertidas.size(), 2u);
  EXPECT_THAT(GetValueTag("qrCode", invertidas[0]),
              StartsWith(std::string(kUrlQrCode) + "?chNFe="));
  EXPECT_EQ(GetValueTag("qrCode", invertidas[1]), Unescape(fornecido));

  // vm50 has no supplement at all (its templates are files of the template folder).
  WriteFile(work / "Templates/vm50/SP/assinar_nota.xml",
            std::string("<NFe xmlns=\"") + kNfeNs + "\">%s%s</NFe>");
  nfce.SetDiretorioTemplates(work / "Templates/");
  nfce.SetVersaoManual(TVersaoManual::vm50);
  const std::string vm50 = nfce.AssinarNota(nfce.GetNota(1, *lote310_));
  EXPECT_THAT(vm50, Not(HasSubstr("infNFeSupl")));
  EXPECT_TRUE(vm50.ends_with("</Signature></NFe>"));
}

TEST_F(AssinaturaTest, OfflineQrCodeCarriesTheDigestOfTheSignatureAsSigned) {
  Configure();
  // In contingency the link carries the signature's digest (in hex), read here from the
  // signed note as returned.
  std::string nota = nfce.GetNota(0, *lote60_);
  nota.replace(nota.find("<tpEmis>1"), 9, "<tpEmis>9");
  nota.insert(nota.find("</ide>"),
              "<dhCont>2026-12-07T10:00:00-03:00</dhCont><xJust>Sem conexao com a SEFAZ</xJust>");
  const std::string assinada = nfce.AssinarNota(nota);
  EXPECT_EQ(Xmlsec1(assinada, "infNFe"), "");
  const std::string link = GetValueTag("qrCode", assinada);
  EXPECT_EQ(link, nfce.GetLinkQRCode(assinada));
  std::string hex;
  for (unsigned char c : GetValueTag("DigestValue", assinada)) {
    static constexpr char kHex[] = "0123456789abcdef";
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  ASSERT_EQ(hex.size(), 56u);  // 28 Base64 characters
  EXPECT_THAT(LowerCase(link), HasSubstr("|" + hex + "|")) << link;
}

// Text put into the first note before signing, and what the signed note holds of it.
TEST_F(AssinaturaTest, TheTextOfANoteIsPreparedAsSigned) {
  Configure();
  struct Caso {
    std::string apos, texto, acentos, esperado;
  };
  for (const Caso& c : {
           // A urlChave mentioned in the note does not hide the supplement's.
           Caso{"<xNome>", "urlChave ", nfce.GetCaracteresRemoverAcentos(),
                std::string("<urlChave>") + kUrlChave + "</urlChave>"},
           // A stray ampersand is escaped; a character reference is read as its character.
           Caso{"<xNome>", "M&M &amp; Cia &#233; & ", nfce.GetCaracteresRemoverAcentos(),
                "<xNome>M&amp;M &amp; Cia é &amp; "},
           // The ordinal sign is the letter o even without an accent list (which removes none).
           Caso{"<xProd>", "Nº 1 ", "", "<xProd>No 1 "},
       }) {
    SCOPED_TRACE(c.texto);
    nfce.SetCaracteresRemoverAcentos(c.acentos);
    std::string nota = nfce.GetNota(0, *lote60_);
    nota.insert(nota.find(c.apos) + c.apos.size(), c.texto);
    const std::string nfe = nfce.AssinarNota(nota);
    EXPECT_EQ(Xmlsec1(nfe, "infNFe"), "");
    EXPECT_THAT(nfe, HasSubstr(c.esperado));
    EXPECT_EQ(XmlDocument::Parse(nfe).CountTag("urlChave"), 1);
    EXPECT_THAT(nfe, Not(HasSubstr("º")));
    EXPECT_EQ(nfe.find("São Paulo") != std::string::npos, c.acentos.empty());
  }
}

TEST_F(AssinaturaTest, CsrtIsSetOnlyWithBothValuesAndBeforeTheSignature) {
  Configure();
  const std::string nota = nfce.GetNota(2, *lote60_);
  const std::string original = Between(nota, "<infRespTec>", "</infRespTec>");
  ASSERT_NE(original, "<absent>");
  const std::string chave = GetXMLAttributeByIndex(nota, "infNFe", "Id").substr(3);
  const std::string esperado = original + "<idCSRT>01</idCSRT><hashCSRT>" +
                               nfce.CalcularHashCSRT(chave, kCsrt) + "</hashCSRT>";
  struct Caso {
    std::string id, csrt, infRespTec, respTec;
  };
  std::string comIdAntigo = nota;
  comIdAntigo.replace(comIdAntigo.find("</infRespTec>"), 0, "<idCSRT>99</idCSRT>");
  for (const auto& [id, csrt, entrada, respTec] :
       {Caso{"", kCsrt, nota, original}, Caso{"01", "", nota, original},
        Caso{"01", kCsrt, nota, esperado}, Caso{"01", kCsrt, comIdAntigo, esperado}}) {
    SCOPED_TRACE("IdCSRT '" + id + "', CSRT '" + csrt + "'");
    nfce.SetIdCSRT(id);
    nfce.SetCSRT(csrt);
    const std::string nfe = nfce.AssinarNota(entrada);
    EXPECT_EQ(Between(nfe, "<infRespTec>", "</infRespTec>"), respTec);
    EXPECT_EQ(Xmlsec1(nfe, "infNFe"), "");
  }
}

TEST_F(AssinaturaTest, NoteWithoutIdIsPassedOnUnsigned) {
  Configure();
  std::string nota = nfce.GetNota(0, *lote60_);
  const std::size_t id = nota.find(" Id=\"");
  nota.erase(id, nota.find('"', id + 5) + 1 - id);
  EXPECT_EQ(nfce.AssinarNota(nota),
            std::string("<NFe xmlns=\"") + kNfeNs + "\">" +
                DynamicRemoveAccents(nota, nfce.GetCaracteresRemoverAcentos()) + "</NFe>");
}

TEST_F(AssinaturaTest, FailuresKeepOrReplaceTheirClassAsDesigned) {
  Configure();
  const std::string nota = nfce.GetNota(0, *lote60_);
  std::string contingencia = nota;
  contingencia.replace(contingencia.find("<tpEmis>1"), 9, "<tpEmis>9");

  // The count is checked first: 51 notes fail on it though the first one would fail its
  // contingency check.
  std::string lote51;
  for (int i = 0; i < 51; ++i) lote51 += contingencia + "\r\n";
  EXPECT_EQ(MessageOf<EqorNFCeMaxSizeException>([&] { nfce.AssinarNota(lote51); }),
            "O Lote não pode possuir mais de 50 notas.");
  EXPECT_EQ(MessageOf<EqorNFCeException>([&] { nfce.AssinarNota("<NFe></NFe>"); }),
            "Não foi possível encontrar notas fiscais no arquivo");
  EXPECT_EQ(MessageOf<EqorNFCeRegraDeNegocioException>([&] { nfce.AssinarNota(contingencia); }),
            "557 - Rejeição: A Justificativa de entrada em contingência deve ser informada");

  // Inside the signing of a note every cause becomes EqorNFCeSignatureException.
  nfce.SetIdCSRT("01");
  nfce.SetCSRT("curto");
  EXPECT_EQ(
      MessageOf<EqorNFCeSignatureException>([&] { nfce.AssinarNota(nfce.GetNota(2, *lote60_)); }),
      "aCSRT inválida para gerar a HashCSRT.");
  nfce.SetCSRT("");
  nfce.SetArquivoServidoresHom(work / "nao-existe.ini");
  EXPECT_THAT(MessageOf<EqorNFCeSignatureException>([&] { nfce.AssinarNota(nota); }),
              StartsWith("Ocorreu um erro na geração do link do QRCode com a seguinte mensagem: "));

  // Input that holds no note or event to sign fails, saying why, instead of signing nothing.
  EXPECT_EQ(
      MessageOf<EqorNFCeSignatureException>(
          [&] { nfce.AssinarNota("<NFe><infNFe Id=\"NFe1\"><ide><tpEmis>1</ide></infNFe></NFe>"); })
          .rfind("A nota não é um XML válido: XML mal formado: line 1: Opening and ending tag "
                 "mismatch: tpEmis",
                 0),
      0u);
  const std::string ns = std::string(" xmlns=\"") + kNfeNs + "\"";
  const std::string bom = "<evento" + ns + "><infEvento Id=\"ID1\"><tpEvento>1</tpEvento>";
  for (const auto& [eventos, mensagem] : std::vector<std::pair<std::string, std::string>>{
           {" \n", "Nenhum evento informado para assinar."},
           {"<envEvento><evento>", "O XML dos eventos não é válido: XML mal formado: line 1: "},
           {"<envEvento" + ns + "/>", "Nenhum evento (infEvento) encontrado no XML informado."},
           {"<envEvento" + ns + ">" + bom +
                "</infEvento></evento><evento><infEvento>"
                "<tpEvento>1</tpEvento></infEvento></evento></envEvento>",
            "O evento 2 (Id \"\") não pôde ser assinado: infEvento sem o atributo Id."}}) {
    EXPECT_EQ(
        MessageOf<EqorSignatureException>([&] { nfce.AssinarEvento(eventos); }).rfind(mensagem, 0),
        0u)
        << eventos;
  }
}

TEST_F(AssinaturaTest, EventsAreSignedInOrder) {
  Configure();
  const std::string chave = "35261211222333000181650010000010011102938470";
  std::string envio =
      std::string("<envEvento xmlns=\"") + kNfeNs + "\" versao=\"1.00\"><idLote>1</idLote>";
  for (const char* seq : {"01", "02"}) {
    envio += std::string("<evento versao=\"1.00\"><infEvento Id=\"ID110111") + chave + seq +
             "\"><cOrgao>35</cOrgao><tpAmb>2</tpAmb><CNPJ>11222333000181</CNPJ><chNFe>" + chave +
             "</chNFe><dhEvento>2026-12-07T10:20:00-03:00</dhEvento><tpEvento>110111</tpEvento>"
             "<nSeqEvento>1</nSeqEvento><verEvento>1.00</verEvento><detEvento versao=\"1.00\">"
             "<descEvento>Cancelamento</descEvento><nProt>135260000000001</nProt>"
             "<xJust>Cliente desistiu da compra nº 1</xJust></detEvento></infEvento></evento>";
  }
  envio += "</envEvento>";
  const std::string resultado = nfce.AssinarEvento(envio);
  const std::vector<std::string> eventos = Split(resultado, "evento");
  ASSERT_EQ(eventos.size(), 2u);
  EXPECT_EQ(resultado.find_first_of("\r\n"), std::string::npos);
  for (std::size_t i = 0; i < eventos.size(); ++i) {
    SCOPED_TRACE("event " + std::to_string(i + 1));
    EXPECT_THAT(eventos[i], StartsWith(std::string("<evento xmlns=\"") + kNfeNs));
    EXPECT_THAT(eventos[i], HasSubstr(chave + "0" + std::to_string(i + 1) + "\""));
    EXPECT_THAT(eventos[i], HasSubstr("compra no 1"));
    EXPECT_EQ(Xmlsec1(eventos[i], "infEvento"), "");
  }
}

TEST_F(AssinaturaTest, ContingencyCheckMessages) {
  Configure();
  const auto nota = [](const std::string& tpEmis, const std::string& extra) {
    return "<NFe><infNFe><ide><tpEmis>" + tpEmis + "</tpEmis>" + extra + "</ide></infNFe></NFe>";
  };
  const std::string dhCont = "<dhCont>2026-12-07T10:00:00-03:00</dhCont>";
  struct Caso {
    std::string tpEmis, extra, mensagem;  // empty message: the note passes
  };
  for (const Caso& caso : {
           Caso{"8", "", "Tipo de Emissão 8 é inválido. Utilize (1,2,3,4,5,6,7 e 9)"},
           Caso{"", "", "Tipo de Emissão  é inválido. Utilize (1,2,3,4,5,6,7 e 9)"},
           Caso{"1", dhCont,
                "556 - Rejeição: Justificativa de entrada em contingência não deve ser informada "
                "para tipo de emissão normal"},
           Caso{"9", "",
                "557 - Rejeição: A Justificativa de entrada em contingência deve ser informada"},
           Caso{"4", dhCont + "<xJust>Sem conexão 12</xJust>",
                "A justificativa para entrada em contingência deve ter no mínimo 15 dígitos."},
           Caso{"9", dhCont + "<xJust>Sem conexão 123</xJust>", ""},
           Caso{"1", "", ""},
       }) {
    SCOPED_TRACE("tpEmis '" + caso.tpEmis + "' " + caso.extra);
    if (caso.mensagem.empty()) {
      EXPECT_NO_THROW(nfce.ValidarRegraDeNegocioNFCe(nota(caso.tpEmis, caso.extra)));
    } else {
      EXPECT_EQ(MessageOf<EqorNFCeRegraDeNegocioException>(
                    [&] { nfce.ValidarRegraDeNegocioNFCe(nota(caso.tpEmis, caso.extra)); }),
                caso.mensagem);
    }
  }
}

TEST_F(AssinaturaTest, CleaningAfterSigning) {
  std::string xml =
      "<?xml version=\"1.0\"?><NFe><SignatureValue>ab   cd    ef</SignatureValue>\r\n<KeyInfo>"
      "<X509Certificate>x  y</X509Certificate></KeyInfo></NFe>\r\n";
  nfce.LimparXMLAssinado(xml);
  EXPECT_EQ(xml,
            "<NFe><SignatureValue>ab cdef</SignatureValue><KeyInfo><X509Certificate>xy"
            "</X509Certificate></KeyInfo></NFe>");
}

}  // namespace
}  // namespace qor
