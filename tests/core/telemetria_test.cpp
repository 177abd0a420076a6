// Every public operation's telemetry: its ping and, when it raises, its failure event under the
// name it is designed to carry; an event file that cannot take events (a FIFO without reader, a
// link to /dev/full) changes nothing the host sees and leaves the failure line in the exception
// log; no event carries a password, PIN or CSC.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <functional>

#include "base/Exceptions.h"
#include "conversion/TqorNFCeDataSets.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "support/TempDir.h"

namespace qor::test {
namespace {

using Op = std::function<void(TqorNFCe&)>;
struct Caso {
  const char* evento;
  // The failure event's name, when not the ping's; "" where its failure report is another
  // change's work (ValidarArquivoXmlDestinatario's belongs to the hardening of that operation).
  const char* falha;
  Op chamar;
};

const std::string s;  // an empty argument

// One row per public operation: its ping name, the name of its failure event when another, and a
// call that fails fast on a component with no configuration.
// clang-format off
#define OP(evento, falha, chamada) {evento, falha, [](TqorNFCe& n) { std::string x; n.chamada; }}
// clang-format on
const std::vector<Caso>& Casos() {
  // clang-format off
  static const std::vector<Caso> casos = {
      OP("StatusDoServico", nullptr, StatusDoServico()),
      OP("ConsultarNF", nullptr, ConsultarNF("1")),
      OP("EnviarNF", nullptr, EnviarNF("1", "<NFe/>", false)),
      OP("EnviarNFSincrono", nullptr, EnviarNFSincrono("1", "<x/>", false)),
      OP("ConsultarRecibo", nullptr, ConsultarRecibo("123")),
      OP("ValidarLoteParaEnvio", nullptr, ValidarLoteParaEnvio("1", "", x)),
      OP("ValidarLoteItem", nullptr, ValidarLoteItem("1", "")),
      OP("GerarXMLEnvioDestinatario", nullptr, GerarXMLEnvioDestinatario("1", s, s, s)),
      OP("ValidarArquivoXmlDestinatario", "", ValidarArquivoXmlDestinatario("")),
      OP("GerarXMLEnvioDestinatario", nullptr, GerarXMLEventoDestinatario("1", s, s, s)),
      OP("GerarXMLCancelamentoDestinatario", nullptr, GerarXMLCancelamentoDestinatario("1", s, s, s)),
      OP("GerarxmlDestinatarioInutilizacao", nullptr, GerarxmlDestinatarioInutilizacao("a", "b")),
      OP("EnviarNotaDestinatario", nullptr, EnviarNotaDestinatario("1", s, s)),
      OP("EnviarNotaDestinatarioAnexos", nullptr, EnviarNotaDestinatarioAnexos(s, s, s)),
      OP("EnviarNotaCanceladaDestinatario", nullptr, EnviarNotaCanceladaDestinatario("1", s, s, s)),
      OP("ImprimirDanfce", nullptr, ImprimirDanfce(s, "<x/>", s, s)),
      OP("VisualizarDanfce", nullptr, VisualizarDanfce(s, "<x/>", s)),
      OP("PreverDanfce", nullptr, PreverDanfce("<x/>", s)),
      OP("ExportarDanfce", nullptr, ExportarDanfce(s, "<x/>", "a.pdf", 1, s)),
      OP("ExportarPreverDanfce", nullptr, ExportarPreverDanfce("<x/>", s, "a.pdf")),
      OP("EditarModeloDanfce", nullptr, EditarModeloDanfce(s, "<x/>", s)),
      OP("ImprimirEPEC", nullptr, ImprimirEPEC("<x/>", s, s, s, s)),
      OP("VisualizarEPEC", nullptr, VisualizarEPEC("<x/>", s, s, s)),
      OP("ExportarEPEC", nullptr, ExportarEPEC("<x/>", s, s, "a.pdf", 1, s)),
      OP("CancelarNF", nullptr, CancelarNF("1", s, s, s, 1, s, s)),
      OP("CancelarNFSubstituicao", nullptr, CancelarNFSubstituicao("1", s, s, s, 1, s, s, s, s, TTipoAutor::taEmpresaEmitente, s)),
      OP("InutilizarNF", nullptr, InutilizarNF(s, s, s, s, s, s, s, s)),
      OP("CalculaChaveInutilizacao", nullptr, CalculaChaveInutilizacao("x", s, s, s, s, s)),
      OP("MontarEPEC", nullptr, MontarEPEC("1", "", s)),
      OP("AssinarEPEC", nullptr, AssinarEPEC("")),
      OP("EnviarEPEC", nullptr, EnviarEPEC("")),
      OP("ConverterLoteParaXml_TX2", nullptr, ConverterLoteParaXml("x", TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g)),
      OP("ConverterXmlParaDataSet", nullptr, ConverteXmlparaDataSet("", TVersaoEsquema::pl_009g)),
      OP("AssinarNota", nullptr, AssinarNota("")),
      OP("AssinarEvento", nullptr, AssinarEvento("<infEvento/>")),
      OP("CalculaChaveNFCe", "CalculaChaveNCFe", CalculaChaveNFCe(s, s, s, s, s, s, s, s)),
      OP("GetLinkQRCode", nullptr, GetLinkQRCode("")),
      OP("CalcularHashCSRT", nullptr, CalcularHashCSRT("1", "2")),
      OP("ListarLogs", nullptr, ListarLogs(nullptr, TLogFilter::lfXml, s)),
      OP("LoadConfig", nullptr, LoadConfig("nao-existe.ini")),
      OP("SaveConfig", nullptr, SaveConfig(static_cast<TIniFile*>(nullptr))),
      OP("ListarCertificados", nullptr, ListarCertificados(nullptr)),
      OP("RemoverCertificado", nullptr, RemoverCertificado("1")),
      OP("GetVencimentoCertificado", nullptr, GetVencimentoCertificado()),
      OP("AtualizarVersao", nullptr, AtualizarVersao("")),
      OP("UpdateIniServidores", nullptr, UpdateIniServidores()),
  };
  // clang-format on
  return casos;
}
#undef OP

enum class Modo { kDesligada, kNormal, kFifo, kDevFull };

const std::string kSegredos[] = {"SenhaCert-7Q", "PinCode-8R", "CscToken-9S", "ProxySenha-1T",
                                 "CsrtValor-2U"};

class Telemetria : public ::testing::Test {
 protected:
  std::string Arquivo() const {
    const std::time_t t = std::time(nullptr);
    std::tm tm = *std::localtime(&t);
    char data[16];
    std::strftime(data, sizeof data, "%Y%m%d", &tm);
    return dir / ("log/diagnosticmode/nfce/telemetria-" + std::string(data) + ".jsonl");
  }
  // Runs `op` on a new component; "ok" or the class and message it raised.
  std::string Rodar(const Op& op, Modo modo) {
    TqorNFCe nfce;
    nfce.SetDiagnosticMode(modo != Modo::kDesligada);
    nfce.SetDiretorioLog(dir / "log/");
    nfce.SetDiretorioLogErro(dir / "erro/");
    nfce.SetDiretorioXmlDestinatario(dir / "dest/");
    nfce.SetDiretorioTemporario(dir / "tmp/");
    nfce.SetArquivoServidoresHom(dir / "nao-ha.ini");
    nfce.SetArquivoServidoresProd(dir / "nao-ha-prod.ini");
    nfce.SetSenhaCertificado(kSegredos[0]);
    nfce.SetPinCode(kSegredos[1]);
    nfce.GetDanfceSettings().SetTokenNFCe(kSegredos[2]);
    nfce.SetSenha(kSegredos[3]);
    nfce.SetCSRT(kSegredos[4]);
    nfce.GetImplantacao() = TqorImplantacao{};
    try {
      op(nfce);
      return "ok";
    } catch (const EqorException& e) {
      return e.ClassName() + ": " + e.what();
    } catch (const std::exception& e) {
      return std::string("outra: ") + e.what();
    }
  }
  TempDir dir;
};

TEST_F(Telemetria, EveryOperationPingsAndReportsItsFailure) {
  for (const Caso& c : Casos()) {
    SCOPED_TRACE(c.evento);
    DeleteFile(Arquivo());
    const std::string sem = Rodar(c.chamar, Modo::kDesligada);
    EXPECT_FALSE(FileExists(Arquivo()));
    EXPECT_EQ(Rodar(c.chamar, Modo::kNormal), sem);
    const std::string eventos = FileExists(Arquivo()) ? ReadFile(Arquivo()) : "";
    const std::string nome = std::string("\"evento\":\"") + c.evento + "\"";
    const std::string falha = std::string("\"evento\":\"") + (c.falha ? c.falha : c.evento) + "\"";
    EXPECT_EQ(eventos.find(nome), eventos.find("\"evento\"")) << eventos;  // the ping comes first
    if (sem != "ok" && !(c.falha && *c.falha == '\0')) {
      const auto at = eventos.rfind(falha);
      ASSERT_NE(at, std::string::npos) << sem << "\n" << eventos;
      EXPECT_NE(eventos.find("\"classe\"", at), std::string::npos) << eventos;
    }
    for (const std::string& segredo : kSegredos) {
      EXPECT_EQ(eventos.find(segredo), std::string::npos) << segredo << " in " << eventos;
    }
  }
}

TEST_F(Telemetria, AnEventFileThatCannotTakeEventsChangesNothingButTheExceptionLog) {
  ForceDirectories(dir / "log/diagnosticmode/nfce/");
  for (Modo modo : {Modo::kFifo, Modo::kDevFull}) {
    ::unlink(Arquivo().c_str());
    ASSERT_EQ(modo == Modo::kFifo ? ::mkfifo(Arquivo().c_str(), 0600)
                                  : ::symlink("/dev/full", Arquivo().c_str()),
              0);
    for (const Caso& c : Casos()) {
      SCOPED_TRACE(c.evento);
      DeleteFile(dir / "erro/nfce_exception.log");
      const std::string sem = Rodar(c.chamar, Modo::kDesligada);
      DeleteFile(dir / "erro/nfce_exception.log");
      EXPECT_EQ(Rodar(c.chamar, modo), sem);
      EXPECT_NE(ReadFile(dir / "erro/nfce_exception.log")
                    .find("Ocorreu um problema ao enviar dados para telemetria: "),
                std::string::npos);
    }
  }
  ::unlink(Arquivo().c_str());
}

}  // namespace
}  // namespace qor::test
