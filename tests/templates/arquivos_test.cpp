// The template files the build writes for vm50 and vm50a, read back from the data folder beside
// the executables: one per name for every state and AN, each the catalogue's 3.10 text.
#include <filesystem>

#include "TemplateTestSupport.h"
#include "platform/Files.h"

namespace qor::testing {
namespace {

const std::string kPasta = std::string(QORNFCE_BIN_DIR) + "/Templates/";

TEST(TemplateFiles, EveryStateAndNameHoldsTheCatalogueText) {
  const std::vector<std::string> ufs{"AC", "AL", "AM", "AN", "AP", "BA", "CE", "DF", "ES", "GO",
                                     "MA", "MG", "MS", "MT", "PA", "PB", "PE", "PI", "PR", "RJ",
                                     "RN", "RO", "RR", "RS", "SC", "SE", "SP", "TO"};
  for (const std::string vm : {"vm50/", "vm50a/"}) {
    for (const auto& uf : ufs) {
      const std::string pasta = kPasta + vm + uf + "/";
      ASSERT_EQ(ListFiles(pasta, "*").size(), AllNames().size()) << pasta;
      for (const auto& name : AllNames()) {
        ASSERT_TRUE(FileExists(pasta + name)) << pasta + name;
        EXPECT_EQ(LoadFromFile(pasta + name), Load(TVersaoManual::vm50b, uf, name)) << pasta + name;
      }
    }
  }
}

// Anchors that do not go through the catalogue: the 3.10 services' envelopes (not the 4.00 ones
// the in-memory catalogue gives vm50 and vm50a), and the AN and CE overrides in their folders.
TEST(TemplateFiles, CarryTheLayout310AndTheStateOverrides) {
  struct Caso {
    const char* arquivo;
    const char* contem;
    const char* naoContem;
  };
  const Caso casos[] = {
      {"vm50/SP/pedido_status.xml", "versao=\"3.10\"", "4.00"},
      {"vm50/SP/pedido_status.soap", "<cUF>%s</cUF><versaoDados>3.10</versaoDados>",
       "NFeStatusServico4"},
      {"vm50a/RS/pedido_consultanf.soap", "wsdl/NfeConsulta2\"", "NFeConsultaProtocolo4"},
      {"vm50a/SP/pedido_enviarnota.xml", "<indSinc>0</indSinc>", "4.00"},
      {"vm50/AN/pedido_enviarnota.xml", "versao=\"2.00\"", "indSinc"},
      {"vm50a/AN/pedido_consultanf.xml", "versao=\"2.01\"", "3.10"},
      {"vm50a/AN/pedido_enviarnfe.soap", "wsdl/NfeRecepcao2\"", "NfeAutorizacao"},
      {"vm50/CE/pedido_consultarecibo.soap", "<rec:versaoDados>3.10</rec:versaoDados><rec:cUF>",
       "soap12:"},
      {"vm50a/CE/envio.soap", "<?xml version=\"1.0\"?>", "xmlns:xsd"},
      {"vm50a/SP/envio.soap", "xmlns:xsd", "<?xml version=\"1.0\"?>"},
  };
  for (const auto& caso : casos) {
    const std::string texto = LoadFromFile(kPasta + caso.arquivo);
    EXPECT_NE(texto.find(caso.contem), std::string::npos) << caso.arquivo << ": " << texto;
    EXPECT_EQ(texto.find(caso.naoContem), std::string::npos) << caso.arquivo << ": " << texto;
  }
}

}  // namespace
}  // namespace qor::testing
