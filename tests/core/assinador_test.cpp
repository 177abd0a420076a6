// The library's signer (libxml2's canonical form and OpenSSL) against the xmlsec signer it
// replaced, same key and certificate: every sample and corpus note, an event, an EPEC event and a
// voiding request, and documents that put the canonical form's corners to work (namespaces and
// xml:* attributes inherited from above the signature, escaping, comments), signed by both and
// compared byte for byte (RSA PKCS#1 v1.5 is deterministic); xmlsec1 verifies every signature of
// the library's. The failures of both say the same.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/TqorNFCe.h"
#include "platform/Certificate.h"
#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/Xml.h"
#include "platform/XmlSigner.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"
#include "support/Tools.h"
#include "support/XmlSecSigner.h"

namespace qor {
namespace {

using V = TVersaoEsquema;

constexpr char kNfeNs[] = "http://www.portalfiscal.inf.br/nfe";
constexpr char kIdNota[] = "NFe35261211222333000181650010000000011000000017";

struct Caso {
  std::string nome;
  std::string xml;
  std::string id;
  std::string elemento;  // infNFe, infEvento, infInut
};

// The documents the component hands the signer: each note of the samples and of the corpus as
// AssinarNota wraps it, an EPEC event and a cancellation event as AssinarEvento wraps them, a
// voiding request as InutilizarNF makes it.
std::vector<Caso> DocumentosDoComponente() {
  test::TempDir dir;
  TqorNFCe nfce;
  nfce.SetDiretorioLogErro(dir.path() + "LogErro/");
  nfce.SetDiretorioLog(dir.path() + "Log/");
  nfce.SetCNPJ(test::SharedPki().cnpj);
  nfce.SetUF("SP");
  const std::string fonte = std::string(QORNFCE_SOURCE_DIR) + "/";
  const struct {
    std::string pasta;
    V versao;
  } pastas[] = {{"data/exemplos/", V::pl_009g}, {"tests/conversion/corpus/", V::pl_009g}};
  std::vector<Caso> casos;
  std::string primeiraNota;
  for (const auto& [pasta, versao] : pastas) {
    for (const auto& arquivo : std::filesystem::directory_iterator(fonte + pasta)) {
      const std::string nome = arquivo.path().filename().string();
      if (arquivo.path().extension() != ".tx2") continue;
      V pacote = versao;
      if (nome.find("-310") != std::string::npos) pacote = V::pl_008h;
      if (nome == "leiaute-antigo.tx2") pacote = V::pl_008a;
      const std::string lote =
          nfce.ConverterLoteParaXml(arquivo.path().string(), TLayoutConvKind::lkTXTDataSet, pacote);
      const int notas = nfce.GetNumNotas(lote);
      EXPECT_GT(notas, 0) << nome;
      for (int i = 0; i < notas; ++i) {
        const std::string nota = nfce.GetNota(i, lote);
        if (primeiraNota.empty()) primeiraNota = nota;
        casos.push_back({pasta + nome + " #" + std::to_string(i + 1),
                         Format(nfce.LoadTemplate("assinar_nota.xml"), {nota, ""}),
                         GetXMLAttributeByIndex(nota, "infNFe", "Id"), "infNFe"});
      }
    }
  }
  const std::string epec = nfce.MontarEPEC("1", primeiraNota, "2026-12-07T10:00:00-03:00");
  const std::size_t inicio = epec.find("<infEvento ");
  const std::string infEpec = epec.substr(inicio, epec.find("</infEvento>") + 12 - inicio);
  casos.push_back({"evento EPEC", Format(nfce.LoadTemplate("assinarevento.xml"), {infEpec, ""}),
                   GetXMLAttributeByIndex(infEpec, "infEvento", "Id"), "infEvento"});

  const std::string idEvento = "ID110111" + std::string(kIdNota).substr(3) + "01";
  const std::string cancelamento =
      Format(nfce.LoadTemplate("evento_cancelar.xml"),
             {idEvento, "35", "2", test::SharedPki().cnpj, std::string(kIdNota).substr(3),
              "2026-12-07T10:00:00-03:00", "110111", "1", "135260000000001",
              "Cliente desistiu da compra &amp; pediu o estorno"});
  casos.push_back({"evento de cancelamento",
                   Format(nfce.LoadTemplate("assinarevento.xml"), {cancelamento, ""}), idEvento,
                   "infEvento"});

  const std::string idInut = "ID35261122233300018165001000000100000000105";
  const std::string infInut = Format(nfce.LoadTemplate("infinut_inutilizarnf.xml"),
                                     {idInut, "2", "35", "26", test::SharedPki().cnpj, "65", "1",
                                      "100", "105", "Numeros pulados por falha no sistema"});
  casos.push_back({"inutilização",
                   Format(nfce.LoadTemplate("assinar_inutilizacao.xml"), {infInut, ""}), idInut,
                   "infInut"});
  return casos;
}

// What the samples never hold: namespaces and xml:* attributes above the signature, which C14N
// writes on SignedInfo; values and an Id that need escaping; comments and character references
// inside the signed element; a signature whose parent has no default namespace.
std::vector<Caso> DocumentosDeContexto() {
  const std::string nfe = std::string("<NFe xmlns=\"") + kNfeNs + "\"";
  const std::string inf = std::string("<infNFe versao=\"4.00\" Id=\"") + kIdNota + "\"";
  const std::string corpo =
      "<ide><cUF>35</cUF><!-- comentario --><xObs>a &amp; b &lt; c&#13;d &quot;e&quot; "
      "</xObs><vazio/></ide></infNFe>";
  return {
      {"prefixos e xml:* acima da assinatura",
       "<lote xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:z=\"urn:z\" "
       "xml:lang=\"pt-BR\" xml:space=\"default\">" +
           nfe + " xmlns:a=\"urn:a?b=1&amp;c=2\" xml:space=\"preserve\">" + inf +
           " xmlns:z=\"urn:z2\" z:b=\"2\" xml:lang=\"en\">" + corpo + "</NFe></lote>",
       kIdNota, "infNFe"},
      {"comentário antes da nota e espaços",
       "<!-- antes -->\n" + nfe + ">\n  " + inf + ">" + corpo + "\n</NFe>", kIdNota, "infNFe"},
      {"pai sem namespace padrão",
       "<raiz><infNFe xmlns=\"" + std::string(kNfeNs) + "\" versao=\"4.00\" Id=\"" + kIdNota +
           "\"><ide><cUF>35</cUF></ide></infNFe></raiz>",
       kIdNota, "infNFe"},
      {"Id com & e <",
       nfe + "><infNFe versao=\"4.00\" Id=\"NFe1&amp;2&lt;3\"><ide/></infNFe></NFe>", "NFe1&2<3",
       "infNFe"},
  };
}

class AssinadorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    identidade = LoadPkcs12(test::SharedPki().companyPfx, test::SharedPki().password);
  }
  std::shared_ptr<const TPkcs12Identity> identidade;
  TXmlSigner assinador;
  test::TXmlSecSigner referencia;
};

TEST_F(AssinadorTest, EveryDocumentIsSignedAsXmlsecSignsItAndVerifies) {
  std::vector<Caso> casos = DocumentosDoComponente();
  ASSERT_GE(casos.size(), 15u);  // 12 files of at least one note each, then the 3 requests
  for (Caso& caso : DocumentosDeContexto()) casos.push_back(std::move(caso));
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nome);
    std::string digest, digestReferencia;
    std::string assinado, esperado;
    try {
      assinado = assinador.Sign(caso.xml, caso.id, caso.elemento, identidade, &digest);
      esperado = referencia.Sign(caso.xml, caso.id, caso.elemento, identidade, &digestReferencia);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    EXPECT_EQ(assinado, esperado);
    EXPECT_EQ(digest, digestReferencia);
    EXPECT_EQ(test::SignatureError(assinado, caso.elemento, test::SharedPki().caCert), "")
        << assinado;
    // A parsed text is signed as the text itself.
    EXPECT_EQ(assinador.Sign(XmlDocument::Parse(caso.xml), caso.id, caso.elemento, identidade),
              esperado);
  }
}

TEST_F(AssinadorTest, FailuresSayWhatXmlsecsSignerSaid) {
  const std::string nfe = std::string("<NFe xmlns=\"") + kNfeNs + "\">";
  const std::string inf = std::string("<infNFe Id=\"") + kIdNota + "\">";
  const struct {
    const char* nome;
    std::string xml;
    std::string id;
    std::string mensagem;  // the start of both messages
  } casos[] = {
      {"Id ausente", nfe + inf + "<ide/></infNFe></NFe>", "NFe1",
       "Elemento de Id NFe1 não encontrado."},
      {"Id vazio", nfe + inf + "<ide/></infNFe></NFe>", "", "Elemento de Id  não encontrado."},
      {"Id repetido", nfe + inf + "</infNFe>" + inf + "</infNFe></NFe>", kIdNota,
       std::string("Id ") + kIdNota + " repetido no documento a assinar."},
      {"elemento raiz", inf + "</infNFe>", kIdNota,
       std::string("O elemento de Id ") + kIdNota + " é a raiz do documento"},
      {"DOCTYPE", "<!DOCTYPE NFe>" + nfe + inf + "</infNFe></NFe>", kIdNota,
       "XML a assinar não pode conter DOCTYPE."},
      {"mal formado", nfe + inf + "</NFe>", kIdNota, "XML a assinar não é válido: line 1"},
      {"namespace relativo no elemento assinado",
       nfe + "<infNFe xmlns:r=\"relativo\" Id=\"" + kIdNota + "\"></infNFe></NFe>", kIdNota,
       std::string("Falha ao assinar o elemento de Id ") + kIdNota + ": "},
  };
  for (const auto& caso : casos) {
    SCOPED_TRACE(caso.nome);
    for (const bool xmlsec : {false, true}) {
      std::string mensagem;
      try {
        if (xmlsec) {
          referencia.Sign(caso.xml, caso.id, "infNFe", identidade);
        } else {
          assinador.Sign(caso.xml, caso.id, "infNFe", identidade);
        }
        ADD_FAILURE() << (xmlsec ? "xmlsec" : "library") << " signed it";
      } catch (const EqorGovException& e) {
        mensagem = e.what();
      }
      EXPECT_EQ(mensagem.substr(0, caso.mensagem.size()), caso.mensagem)
          << (xmlsec ? "xmlsec: " : "library: ") << mensagem;
    }
  }
  EXPECT_THROW(assinador.Sign(nfe + inf + "</infNFe></NFe>", kIdNota, "infNFe", nullptr),
               EqorGovException);
}

}  // namespace
}  // namespace qor
