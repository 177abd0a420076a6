// Hostile XML reaching the operations: as the state's reply to a service operation (through
// the transport and DesenveloparSoap) and as a log file to the log search. Each document is
// refused with an exception of the family or read whole; none is read in part, expands its
// entities, or makes the parser fetch anything.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/GovException.h"
#include "platform/TStrings.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "support/HttpTestServer.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"
#include "support/TlsFaultServer.h"
#include "support/Tools.h"
#include "utils/XmlLogs.h"

namespace qor {
namespace {

using test::WriteFile;

const std::string kChave = "35190511222333000181650010000000411000012343";
const std::string kMotivo = "Servi\xc3\xa7o em Opera\xc3\xa7\xc3\xa3o";  // UTF-8

// A status reply carrying `motivo` in xMotivo and, after it, a protocol of kChave: whether the
// protocol is found tells whether the document was read to its end.
std::string Resposta(const std::string& motivo, const std::string& prologo = {}) {
  return prologo +
         "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
         "<nfeResultMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4\">"
         "<retConsStatServ xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\">"
         "<tpAmb>2</tpAmb><cStat>107</cStat><xMotivo>" +
         motivo + "</xMotivo><protNFe versao=\"4.00\"><infProt><chNFe>" + kChave +
         "</chNFe><cStat>100</cStat></infProt></protNFe></retConsStatServ></nfeResultMsg>"
         "</soap:Body></soap:Envelope>";
}

std::string BilhaoDeRisadas() {
  std::string dtd = "<!DOCTYPE soap:Envelope [<!ENTITY r0 \"risada\">";
  for (int i = 1; i <= 9; ++i) {
    dtd += "<!ENTITY r" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) dtd += "&r" + std::to_string(i - 1) + ";";
    dtd += "\">";
  }
  return Resposta("&r9;", dtd + "]>");
}

enum class Fim { kRecusado, kLidoInteiro };

struct Caso {
  const char* nome;
  // The document; `url` is a local server that counts what is fetched from it.
  std::function<std::string(const std::string& url)> documento;
  Fim resposta;  // as the reply of StatusDoServico
  Fim log;       // as a receipt-query log
  // The text of xMotivo in the reply read whole, in UTF-8.
  std::string motivo = kMotivo;
};

const Caso kCasos[] = {
    {"billion_laughs", [](const std::string&) { return BilhaoDeRisadas(); }, Fim::kRecusado,
     Fim::kRecusado},
    // Neither the external subset nor the external entities are read. SOAP forbids a document
    // type declaration, so such a reply is refused; a log keeps the reference unexpanded.
    {"external_dtd_and_entity",
     [](const std::string& url) {
       return Resposta("&externa;", "<!DOCTYPE soap:Envelope SYSTEM \"" + url +
                                        "/externo.dtd\" [<!ENTITY externa SYSTEM \"" + url +
                                        "/entidade\"><!ENTITY % p SYSTEM \"" + url +
                                        "/parametro\"> %p;]>");
     },
     Fim::kRecusado, Fim::kLidoInteiro},
    // Past 10 MB in one run of characters the parser keeps the text whole; a text node that
    // grows past it piece by piece (here between references) stops the parser half-way.
    {"text_node_over_10mb_in_one_run",
     [](const std::string&) { return Resposta(std::string(11'000'000, 'a')); }, Fim::kLidoInteiro,
     Fim::kLidoInteiro, std::string(11'000'000, 'a')},
    {"text_node_over_10mb_in_pieces",
     [](const std::string&) {
       std::string texto;
       for (int i = 0; i < 1100; ++i) texto += std::string(9999, 'a') + "&amp;";
       return Resposta(texto);
     },
     Fim::kRecusado, Fim::kRecusado},
    {"nesting_past_the_depth_limit",
     [](const std::string&) {
       std::string abre, fecha;
       for (int i = 0; i < 300; ++i) abre += "<n>", fecha += "</n>";
       return Resposta(abre + fecha);
     },
     Fim::kRecusado, Fim::kRecusado},
    {"nesting_far_past_the_depth_limit",
     [](const std::string&) {
       std::string abre, fecha;
       for (int i = 0; i < 200'000; ++i) abre += "<n>", fecha += "</n>";
       return Resposta(abre + fecha);
     },
     Fim::kRecusado, Fim::kRecusado},
    // Latin-1 without a declaration is not XML; a log file in it is read as Windows-1252.
    {"latin1_undeclared",
     [](const std::string&) { return Resposta("Servi\xe7o em Opera\xe7\xe3o"); }, Fim::kRecusado,
     Fim::kLidoInteiro},
    {"latin1_declared",
     [](const std::string&) {
       return Resposta("Servi\xe7o em Opera\xe7\xe3o",
                       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>");
     },
     Fim::kLidoInteiro, Fim::kLidoInteiro},
    {"utf16_without_mark",
     [](const std::string&) {
       const std::string texto = Resposta(kMotivo);
       std::string utf16;
       for (char c : texto) utf16 += std::string{c, '\0'};
       return utf16;
     },
     Fim::kRecusado, Fim::kRecusado},
};

class Hostil : public testing::TestWithParam<Caso> {
 protected:
  test::HttpTestServer rede;  // nothing may reach it
  test::TempDir dir;
  int Buscas() {
    return rede.Requests("/externo.dtd") + rede.Requests("/entidade") + rede.Requests("/parametro");
  }
};

TEST_P(Hostil, ReplyToAnOperation) {
  QOR_NEEDS_SCHEMAS();
  const Caso& caso = GetParam();
  const std::string documento = caso.documento(rede.Url(""));

  // Unwrapping alone: a document that is refused comes back as it came.
  TqorNFCe nfce;
  const std::string desembrulhado = nfce.DesenveloparSoap(documento);
  if (caso.resposta == Fim::kRecusado) {
    EXPECT_EQ(desembrulhado, documento);
  } else {
    EXPECT_EQ(desembrulhado.rfind("<nfeResultMsg", 0), 0u) << desembrulhado.substr(0, 200);
  }

  // The whole road: the transport reads the reply, the operation unwraps and logs it.
  const sim::TestPki& pki = test::SharedPki();
  test::TlsFaultServer::Options opcoes;
  opcoes.certPem = pki.serverCert;
  opcoes.keyPem = pki.serverKey;
  opcoes.body = documento;
  test::TlsFaultServer sefaz(opcoes);
  WriteFile(dir / "servidores.ini", "[SP]\nNfeStatusServico4=" + sefaz.Url() + "\n");
  test::ConfigureComponent(nfce, dir, dir / "servidores.ini", dir / "servidores.ini");
  nfce.SetAtualizarArquivoServidores(false);
  std::string resposta;
  bool recusada = false;
  try {
    resposta = nfce.StatusDoServico();
  } catch (const EqorGovException&) {
    recusada = true;
  } catch (const EqorException&) {
    recusada = true;
  }
  sefaz.Stop();
  EXPECT_EQ(Buscas(), 0);
  if (caso.resposta == Fim::kRecusado) {
    EXPECT_TRUE(recusada) << resposta.substr(0, 200);
    return;
  }
  ASSERT_FALSE(recusada);
  EXPECT_TRUE(IsValidUtf8(resposta));
  EXPECT_EQ(GetValueTag("cStat", resposta), "107");
  EXPECT_EQ(GetValueTag("chNFe", resposta), kChave) << "the reply is read to its end";
  EXPECT_TRUE(GetValueTag("xMotivo", resposta) == caso.motivo)
      << GetValueTag("xMotivo", resposta).substr(0, 200);
}

TEST_P(Hostil, LogToTheLogSearch) {
  const Caso& caso = GetParam();
  const std::string pasta = dir / "Log/";
  WriteFile(pasta + "1-pro-rec.xml", caso.documento(rede.Url("")));
  std::string infProt;
  TStrings chaves;
  bool recusado = false;
  try {
    infProt = TqorNFCeXMLLogs::AchaInfProtLogConsRec(kChave, "1-pro-rec.xml", pasta, dir / "Err/");
    TqorNFCeXMLLogs::ListaChavesLogRecibo("1-pro-rec.xml", 100, &chaves, pasta, dir / "Err/");
  } catch (const EqorException&) {
    recusado = true;
  }
  EXPECT_EQ(Buscas(), 0);
  EXPECT_TRUE(IsValidUtf8(infProt));
  if (caso.log == Fim::kRecusado) {
    EXPECT_TRUE(recusado || (infProt.empty() && chaves.Empty())) << infProt.substr(0, 200);
  } else {
    EXPECT_FALSE(recusado);
    EXPECT_EQ(GetValueTag("chNFe", infProt), kChave);
    ASSERT_EQ(chaves.Count(), 1u);
    EXPECT_EQ(chaves[0], kChave);
  }
}

INSTANTIATE_TEST_SUITE_P(Casos, Hostil, testing::ValuesIn(kCasos),
                         [](const testing::TestParamInfo<Caso>& info) { return info.param.nome; });

}  // namespace
}  // namespace qor
