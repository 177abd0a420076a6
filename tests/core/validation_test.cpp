// Schema validation of the component's requests through the mapping of the schema folder.
#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "support/Tools.h"
#include "templates/TqorNFCeTemplates.h"

namespace qor {
namespace {

using test::MessageOf;
using test::TempDir;

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
  TempDir dir;
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
    EXPECT_NE(nfce.GetErrosValidador().Text().find("line 1"), std::string::npos) << command;
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
  EXPECT_NE(message.find("tpAmb"), std::string::npos) << message;
  const std::string report = nfce.GetErrosValidador().Text();
  EXPECT_NE(report.find("tpAmb"), std::string::npos) << report;
  EXPECT_THROW(nfce.ValidarXMLNFCe(Body("pedido_consultanf.xml", {"2", "123"}), "CONSULTANF"),
               EqorSchemaValidationException);
  EXPECT_NE(nfce.GetErrosValidador().Text().find("chNFe"), std::string::npos);
  // A later success keeps the report of the last failure.
  nfce.ValidarXMLNFCe(Body("pedido_status.xml", {"1", "35"}), "STATUS");
  EXPECT_NE(nfce.GetErrosValidador().Text().find("chNFe"), std::string::npos);
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
  EXPECT_EQ(nfce.GetXSDFileName("STATUS"), nfce.GetDiretorioEsquemas() + "a.xsd");
  test::WriteFile(mapping, "[ValidarXML]\nSTATUS=b.xsd\n");
  SetFileAge(mapping, FileAge(mapping) + std::chrono::seconds(1));
  EXPECT_EQ(nfce.GetXSDFileName("STATUS"), nfce.GetDiretorioEsquemas() + "b.xsd");

  nfce.SetDiretorioEsquemas(dir / "vazio/");
  EXPECT_EQ(MessageOf<EqorFileNotFoundException>([&] { nfce.ValidarXMLNFCe("<a/>", "STATUS"); }),
            "Arquivo " + nfce.GetDiretorioEsquemas() +
                "Mapping.txt utilizado na validação de esquema, não foi encontrado");
}

INSTANTIATE_TEST_SUITE_P(Layouts, Validation,
                         ::testing::Values(TVersaoManual::vm50b, TVersaoManual::vm60),
                         [](const auto& info) { return ToString(info.param); });

TEST(NoteCheck, IsXMLValidoLooksForIdeAndEmit) {
  EXPECT_TRUE(TqorNFCe::isXMLValido("<NFe><infNFe><IDE></IDE><EMIT></EMIT></infNFe></NFe>"));
  EXPECT_FALSE(TqorNFCe::isXMLValido("<NFe><infNFe><ide/><emit/></infNFe></NFe>"));
  EXPECT_FALSE(TqorNFCe::isXMLValido("<emit>"));
}

}  // namespace
}  // namespace qor
