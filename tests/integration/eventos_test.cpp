// Cancellation, substitution, voiding and EPEC against the simulator: what each registers, the
// files it writes (checked by xmlsec1 and the official schemas), and what a rejection or a
// transport failure leaves behind.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "NoteStore.h"
#include "Simulator.h"
#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::RunCommand;
using test::WriteFile;

const std::string kBin = QORNFCE_BIN_DIR;

std::string AnoAtual() {
  const std::time_t agora = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&agora, &local);
  return std::to_string((local.tm_year + 1900) % 100);
}

class EventosRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    rig = std::make_unique<test::SimulatorRig>();
    rig->Configure(nfce);
  }
  // The one-item sample numbered `nNF`, converted, signed and authorised; returns the reply.
  std::string Autorizada(int nNF, std::string* chave = nullptr, const std::string& tpEmis = "1") {
    std::string tx2 = LoadFromFile(kBin + "/exemplos/nfce-um-item-dinheiro.tx2");
    tx2.replace(tx2.find("nNF_B08=1001"), 12, "nNF_B08=" + std::to_string(nNF));
    if (tpEmis != "1") {
      tx2.replace(tx2.find("tpEmis_B22=1"), 12,
                  "tpEmis_B22=" + tpEmis +
                      "\ndhCont_B28=2026-12-07T10:10:00-03:00\nxJust_B29=Falha de comunicacao");
    }
    WriteFile(rig->dir / "nota.tx2", tx2);
    const std::string nota = nfce.ConverterLoteParaXml(
        rig->dir / "nota.tx2", TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g);
    if (chave) *chave = GetXMLAttributeByIndex(nota, "infNFe", "Id").substr(3);
    if (tpEmis != "1") return nota;
    return nfce.EnviarNFSincrono("1", nfce.AssinarNota(nota), false);
  }
  // A field of the reply's protocol (infProt), or of the event's reply (retEvento).
  static std::string Prot(const std::string& resposta, const char* campo) {
    std::string valor;
    XPathSelectSingleNode(resposta,
                          std::string("//*[local-name()='infProt' or local-name()='retEvento']//*["
                                      "local-name()='") +
                              campo + "']",
                          valor, {}, false);
    return valor;
  }
  std::string Dest(const std::string& nome) { return rig->dir / "XmlDestinatario/" + nome; }
  // xmlsec1 on the signed element `elemento`, and the official schema `xsd`, of a file.
  std::string Verificar(const std::string& arquivo, const std::string& elemento,
                        const std::string& xsd) {
    std::string out;
    const int assinatura =
        RunCommand("xmlsec1 --verify --id-attr:Id " + elemento + " --trusted-pem '" +
                       test::SharedPki().caCert + "' '" + arquivo + "'",
                   &out);
    const int esquema = RunCommand(
        "xmllint --noout --schema '" + test::SchemasFolder() + "/" + xsd + "' '" + arquivo + "'",
        &out);
    return assinatura == 0 && esquema == 0 ? std::string() : out;
  }

  std::unique_ptr<test::SimulatorRig> rig;
  TqorNFCe nfce;
};

// A cancellation registers (135), writes a verified procEventoNFe, and the note is then
// cancelled (101) for the query; the justification reaches the state as given, escapes and all.
// The same event again is a duplicate (573): a normal reply, no new file. A cancellation past
// the deadline (155) is registered too, with sequence 2.
TEST_F(EventosRoad, CancellationRegistersWritesItsFileAndTheNoteIsCancelled) {
  std::string chave;
  const std::string protocolo = Prot(Autorizada(601, &chave), "nProt");
  const std::string justificativa = "A & B <x> teste de cancelamento";
  const std::string resposta = nfce.CancelarNF(chave, protocolo, justificativa, "", 1, "", "");
  EXPECT_EQ(Prot(nfce.GetRetEvento(resposta), "cStat"), "135") << resposta;
  ASSERT_TRUE(FileExists(Dest(chave + "-caneve.xml")));
  EXPECT_EQ(Verificar(Dest(chave + "-caneve.xml"), "infEvento", "procEventoCancNFe_v1.00.xsd"), "");
  EXPECT_EQ(GetValueTag("cStat", nfce.ConsultarNF(chave)), "101");
  const auto registrada = rig->simulator->Notas().Buscar(chave);
  ASSERT_TRUE(registrada && registrada->Cancelada());
  std::string xJust;
  XPathSelectSingleNode(registrada->evento, "//*[local-name()='xJust']", xJust, {}, false);
  EXPECT_EQ(xJust, justificativa);

  const auto antes = FileAge(Dest(chave + "-caneve.xml"));
  const std::string duplicado = nfce.CancelarNF(chave, protocolo, justificativa, "", 1, "", "");
  EXPECT_EQ(Prot(nfce.GetRetEvento(duplicado), "cStat"), "573") << duplicado;
  EXPECT_EQ(FileAge(Dest(chave + "-caneve.xml")), antes);

  std::string outra;
  const std::string protocolo2 = Prot(Autorizada(602, &outra), "nProt");
  rig->simulator->SetPrazoCancelamento(0);
  const std::string tardio = nfce.CancelarNF(outra, protocolo2, justificativa, "", 2, "", "");
  EXPECT_EQ(Prot(nfce.GetRetEvento(tardio), "cStat"), "155") << tardio;
  EXPECT_EQ(Verificar(Dest(outra + "-caneve.xml"), "infEvento", "procEventoCancNFe_v1.00.xsd"), "");
  // The builder refuses a reply that registered nothing.
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] {
              nfce.GerarXMLCancelamentoDestinatario(chave, chave + "-caneve-env.xml", duplicado,
                                                    "");
            }),
            "Não se trata de cancelamento de NF-e homologado.");
}

TEST_F(EventosRoad, SubstitutionPointsAtTheNoteThatReplacesIt) {
  std::string chave, substituta;
  const std::string protocolo = Prot(Autorizada(611, &chave), "nProt");
  Autorizada(612, &substituta);
  const std::string resposta =
      nfce.CancelarNFSubstituicao(chave, protocolo, "Nota emitida em substituicao", "", 1, "", "35",
                                  "qornfce", substituta, TTipoAutor::taEmpresaEmitente, "");
  EXPECT_EQ(Prot(nfce.GetRetEvento(resposta), "cStat"), "135") << resposta;
  EXPECT_EQ(Verificar(Dest(chave + "-caneve.xml"), "infEvento", "procEventoCancSubst_v1.00.xsd"),
            "");
  EXPECT_EQ(ListFiles(rig->dir / "Log/", chave + "-caneve-sub-*.xml").size(), 2u);
}

// A voiding is homologated (102) and leaves a verified ProcInutNFe named by its Id; the numbers
// voided are refused for authorisation afterwards.
TEST_F(EventosRoad, VoidingIsHomologatedAndItsNumbersAreClosed) {
  const std::string ano = AnoAtual();
  const std::string cnpj = test::SharedPki().cnpj;
  const std::string resposta =
      nfce.InutilizarNF("", ano, cnpj, "65", "1", "620", "625", "Numeros pulados por falha");
  EXPECT_EQ(GetValueTag("cStat", resposta), "102") << resposta;
  const std::string id = nfce.CalculaChaveInutilizacao(ano, cnpj, "65", "1", "620", "625");
  ASSERT_TRUE(FileExists(Dest(id + "-inut.xml")));
  EXPECT_EQ(Verificar(Dest(id + "-inut.xml"), "infInut", "procInutNFe_v4.00.xsd"), "");
  EXPECT_EQ(Prot(Autorizada(622), "cStat"), "206");
  // Before vm50b (vm50a: layout 3.10 from its own template and schema files) a homologated
  // voiding writes no file.
  nfce.SetVersaoManual(TVersaoManual::vm50a);
  const std::string antiga =
      nfce.InutilizarNF("", ano, cnpj, "65", "1", "650", "651", "Numeros pulados por falha");
  EXPECT_EQ(GetValueTag("cStat", antiga), "102") << antiga;
  EXPECT_EQ(ListFiles(rig->dir / "XmlDestinatario/", "*-inut.xml").size(), 1u);
}

// One event per note, one file per event registered: a key already in EPEC is refused (573) and
// gets none. The reply comes back with its envelope.
TEST_F(EventosRoad, EpecWritesOneFilePerRegisteredEvent) {
  std::string chaves[3];
  std::string notas;
  for (int i = 0; i < 3; ++i) notas += Autorizada(630 + i, &chaves[i], "4");
  const std::string data = "2026-12-07T10:20:00-03:00";
  const std::string primeira = nfce.EnviarEPEC(nfce.AssinarEPEC(nfce.MontarEPEC("1", notas, data)));
  EXPECT_NE(primeira.find("Envelope"), std::string::npos);
  for (const std::string& chave : chaves) {
    ASSERT_TRUE(FileExists(Dest(chave + "-epec.xml"))) << primeira;
    EXPECT_EQ(Verificar(Dest(chave + "-epec.xml"), "infEvento", "procEventoNFe_v1.00.xsd"), "");
    DeleteFile(Dest(chave + "-epec.xml"));
  }
  std::string quarta;
  notas = Autorizada(633, &quarta, "4") + Autorizada(630, nullptr, "4");
  nfce.EnviarEPEC(nfce.AssinarEPEC(nfce.MontarEPEC("2", notas, data)));
  EXPECT_TRUE(FileExists(Dest(quarta + "-epec.xml")));
  EXPECT_FALSE(FileExists(Dest(chaves[0] + "-epec.xml")));
}

// A failure on the way leaves the request log and no file: an HTTP error keeps its body as the
// reply log; a time-out leaves no reply log.
TEST_F(EventosRoad, TransportFailuresLeaveTheRequestAndNoFile) {
  std::string chave;
  const std::string protocolo = Prot(Autorizada(640, &chave), "nProt");
  rig->simulator->SetFault(sim::SimulatorFault::Http500);
  EXPECT_THROW(nfce.CancelarNF(chave, protocolo, "Cliente desistiu da compra", "", 1, "", ""),
               EqorGovReplyException);
  EXPECT_EQ(ListFiles(rig->dir / "Log/", chave + "*-caneve-env.xml").size(), 1u);
  EXPECT_EQ(ListFiles(rig->dir / "Log/", chave + "*-caneve-ret.xml").size(), 1u);
  nfce.SetTimeOut(300);
  rig->simulator->SetFault(sim::SimulatorFault::Delay, 3000);
  EXPECT_THROW(nfce.InutilizarNF("", AnoAtual(), test::SharedPki().cnpj, "65", "1", "641", "641",
                                 "Numeros pulados por falha"),
               EqorGovException);
  EXPECT_EQ(ListFiles(rig->dir / "Log/", "*-ped-inu.xml").size(), 1u);
  EXPECT_TRUE(ListFiles(rig->dir / "Log/", "*[0-9]-inu.xml").empty());
  EXPECT_TRUE(ListFiles(rig->dir / "XmlDestinatario/", "*-caneve.xml").empty());
  EXPECT_TRUE(ListFiles(rig->dir / "XmlDestinatario/", "*-inut.xml").empty());
}

}  // namespace
}  // namespace qor
