// ConsultarNF against the simulator: the note's situation, and the failures on the way.
#include <gtest/gtest.h>

#include "NoteStore.h"
#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"

namespace qor {
namespace {

using test::MessageOf;
using test::SimulatorRig;

// A key with a correct check digit that the simulator has never seen.
const std::string kDesconhecida = "35240111222333000181650010000000011123456780";

class ConsultaRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    rig = std::make_unique<SimulatorRig>();
    rig->Configure(nfce);
  }
  std::vector<std::string> Logs(const std::string& mask) {
    return ListFiles(rig->dir / "Log/", mask);
  }

  std::unique_ptr<SimulatorRig> rig;
  TqorNFCe nfce;
};

// Every manual version reaches its own service in its own layout (vm50 and vm50a through the
// template files of the data folder).
TEST_F(ConsultaRoad, AnUnknownKeyIsANormalReplyLoggedUnderTheKey) {
  const std::pair<TVersaoManual, std::string> versoes[] = {{TVersaoManual::vm50, "3.10"},
                                                           {TVersaoManual::vm50a, "3.10"},
                                                           {TVersaoManual::vm50b, "3.10"},
                                                           {TVersaoManual::vm60, "4.00"}};
  int vez = 0;
  for (const auto& [versao, layout] : versoes) {
    nfce.SetVersaoManual(versao);
    // Each query of the key is logged beside the earlier ones: kDesconhecida~2-ped-sit.xml, ...
    const std::string id = kDesconhecida + (++vez == 1 ? "" : "~" + std::to_string(vez));
    const std::string reply = nfce.ConsultarNF(kDesconhecida);
    EXPECT_EQ(GetValueTag("cStat", reply), "217") << ToString(versao) << ": " << reply;
    EXPECT_EQ(GetValueTag("chNFe", reply), kDesconhecida);
    EXPECT_EQ(GetXMLAttributeByIndex(reply, "retConsSitNFe", "versao"), layout);
    const std::string pedido = LoadFromFile(rig->dir / "Log/" + id + "-ped-sit.xml");
    EXPECT_EQ(GetXMLAttributeByIndex(pedido, "consSitNFe", "versao"), layout);
    EXPECT_EQ(LoadFromFile(rig->dir / "Log/" + id + "-sit.xml"), reply);
  }
  EXPECT_EQ(Logs("*-ped-sit.xml").size(), 4u);
  EXPECT_EQ(Logs("*-sit.xml").size(), 8u);  // the mask also matches the requests
}

TEST_F(ConsultaRoad, AuthorisedAndCancelledNotesComeBackWithTheirProtocols) {
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
  EXPECT_NE(proc.find("<cStat>135</cStat>"), std::string::npos);
}

TEST_F(ConsultaRoad, AnAccentedKeyFailsBeforeAnythingIsBuiltOrLogged) {
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>(
                [&] { nfce.ConsultarNF("3524011122233300018165001000000001112345678á"); }),
            "ID da Nota não pode conter acentos: 3524011122233300018165001000000001112345678á");
  EXPECT_TRUE(Logs("*.xml").empty());
  EXPECT_EQ(rig->simulator->RequestCount(), 0);
}

TEST_F(ConsultaRoad, TransportFailuresArriveAsQueryFailures) {
  TIniFile(rig->hom).WriteString("SP", "NfeConsulta4", "https://127.0.0.1:9/ws/fechado");
  std::string message =
      MessageOf<EqorNFCeConsultaException>([&] { nfce.ConsultarNF(kDesconhecida); });
  EXPECT_EQ(message.rfind("Erro ao enviar pedido de consulta: ", 0), 0u) << message;
  EXPECT_NE(message.find("https://127.0.0.1:9/ws/fechado"), std::string::npos) << message;
  EXPECT_EQ(Logs("*-ped-sit.xml").size(), 1u) << "the request log stays";
  EXPECT_TRUE(Logs("*-sit.xml").size() == 1u) << "and nothing else";

  TIniFile(rig->hom).DeleteKey("SP", "NfeConsulta4");
  message = MessageOf<EqorNFCeConsultaException>([&] { nfce.ConsultarNF(kDesconhecida); });
  EXPECT_NE(message.find("Servidor para NfeConsulta4 não definido no arquivo"), std::string::npos)
      << message;
}

TEST_F(ConsultaRoad, AKeyOfTheWrongLengthIsRefusedByTheSchemaBeforeSending) {
  EXPECT_THROW(nfce.ConsultarNF("123"), EqorSchemaValidationException);
  EXPECT_NE(nfce.GetErrosValidador().Text().find("chNFe"), std::string::npos);
  EXPECT_EQ(rig->simulator->RequestCount(), 0);
}

}  // namespace
}  // namespace qor
