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

const std::vector<Caso>& Casos() {
  static const std::vector<Caso> casos = {
      {"StatusDoServico", nullptr, [](TqorNFCe& n) { n.StatusDoServico(); }},
      {"ConsultarNF", nullptr, [](TqorNFCe& n) { n.ConsultarNF("1"); }},
      {"EnviarNF", nullptr, [](TqorNFCe& n) { n.EnviarNF("1", "<NFe/>", false); }},
      {"EnviarNFSincrono", nullptr, [](TqorNFCe& n) { n.EnviarNFSincrono("1", "<x/>", false); }},
      {"ConsultarRecibo", nullptr, [](TqorNFCe& n) { n.ConsultarRecibo("123"); }},
      {"ValidarLoteParaEnvio", nullptr,
       [](TqorNFCe& n) {
         std::string x;
         n.ValidarLoteParaEnvio("1", "", x);
       }},
      {"ValidarLoteItem", nullptr, [](TqorNFCe& n) { n.ValidarLoteItem("1", ""); }},
      {"GerarXMLEnvioDestinatario", nullptr,
       [](TqorNFCe& n) { n.GerarXMLEnvioDestinatario("1", s, s, s); }},
      {"ValidarArquivoXmlDestinatario", "",
       [](TqorNFCe& n) { n.ValidarArquivoXmlDestinatario(""); }},
      {"GerarXMLEnvioDestinatario", nullptr,
       [](TqorNFCe& n) { n.GerarXMLEventoDestinatario("1", s, s, s); }},
      {"GerarXMLCancelamentoDestinatario", nullptr,
       [](TqorNFCe& n) { n.GerarXMLCancelamentoDestinatario("1", s, s, s); }},
      {"GerarxmlDestinatarioInutilizacao", nullptr,
       [](TqorNFCe& n) { n.GerarxmlDestinatarioInutilizacao("a", "b"); }},
      {"EnviarNotaDestinatario", nullptr, [](TqorNFCe& n) { n.EnviarNotaDestinatario("1", s, s); }},
      {"EnviarNotaDestinatarioAnexos", nullptr,
       [](TqorNFCe& n) { n.EnviarNotaDestinatarioAnexos(s, s, s); }},
      {"EnviarNotaCanceladaDestinatario", nullptr,
       [](TqorNFCe& n) { n.EnviarNotaCanceladaDestinatario("1", s, s, s); }},
      {"ImprimirDanfce", nullptr, [](TqorNFCe& n) { n.ImprimirDanfce(s, "<x/>", s, s); }},
      {"VisualizarDanfce", nullptr, [](TqorNFCe& n) { n.VisualizarDanfce(s, "<x/>", s); }},
      {"PreverDanfce", nullptr, [](TqorNFCe& n) { n.PreverDanfce("<x/>", s); }},
      {"ExportarDanfce", nullptr, [](TqorNFCe& n) { n.ExportarDanfce(s, "<x/>", "a.pdf", 1, s); }},
      {"ExportarPreverDanfce", nullptr,
       [](TqorNFCe& n) { n.ExportarPreverDanfce("<x/>", s, "a.pdf"); }},
      {"EditarModeloDanfce", nullptr, [](TqorNFCe& n) { n.EditarModeloDanfce(s, "<x/>", s); }},
      {"ImprimirEPEC", nullptr, [](TqorNFCe& n) { n.ImprimirEPEC("<x/>", s, s, s, s); }},
      {"VisualizarEPEC", nullptr, [](TqorNFCe& n) { n.VisualizarEPEC("<x/>", s, s, s); }},
      {"ExportarEPEC", nullptr, [](TqorNFCe& n) { n.ExportarEPEC("<x/>", s, s, "a.pdf", 1, s); }},
      {"CancelarNF", nullptr, [](TqorNFCe& n) { n.CancelarNF("1", s, s, s, 1, s, s); }},
      {"CancelarNFSubstituicao", nullptr,
       [](TqorNFCe& n) {
         n.CancelarNFSubstituicao("1", s, s, s, 1, s, s, s, s, TTipoAutor::taEmpresaEmitente, s);
       }},
      {"InutilizarNF", nullptr, [](TqorNFCe& n) { n.InutilizarNF(s, s, s, s, s, s, s, s); }},
      {"CalculaChaveInutilizacao", nullptr,
       [](TqorNFCe& n) { n.CalculaChaveInutilizacao("x", s, s, s, s, s); }},
      {"MontarEPEC", nullptr, [](TqorNFCe& n) { n.MontarEPEC("1", "", s); }},
      {"AssinarEPEC", nullptr, [](TqorNFCe& n) { n.AssinarEPEC(""); }},
      {"EnviarEPEC", nullptr, [](TqorNFCe& n) { n.EnviarEPEC(""); }},
      {"ConverterLoteParaXml_TX2", nullptr,
       [](TqorNFCe& n) {
         n.ConverterLoteParaXml("x", TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g);
       }},
      {"ConverterXmlParaDataSet", nullptr,
       [](TqorNFCe& n) { n.ConverteXmlparaDataSet("", TVersaoEsquema::pl_009g); }},
      {"AssinarNota", nullptr, [](TqorNFCe& n) { n.AssinarNota(""); }},
      {"AssinarEvento", nullptr, [](TqorNFCe& n) { n.AssinarEvento("<infEvento/>"); }},
      {"CalculaChaveNFCe", "CalculaChaveNCFe",
       [](TqorNFCe& n) { n.CalculaChaveNFCe(s, s, s, s, s, s, s, s); }},
      {"GetLinkQRCode", nullptr, [](TqorNFCe& n) { n.GetLinkQRCode(""); }},
      {"CalcularHashCSRT", nullptr, [](TqorNFCe& n) { n.CalcularHashCSRT("1", "2"); }},
      {"ListarLogs", nullptr, [](TqorNFCe& n) { n.ListarLogs(nullptr, TLogFilter::lfXml, s); }},
      {"LoadConfig", nullptr, [](TqorNFCe& n) { n.LoadConfig("nao-existe.ini"); }},
      {"SaveConfig", nullptr, [](TqorNFCe& n) { n.SaveConfig(static_cast<TIniFile*>(nullptr)); }},
      {"ListarCertificados", nullptr, [](TqorNFCe& n) { n.ListarCertificados(nullptr); }},
      {"RemoverCertificado", "RemoverCertificado", [](TqorNFCe& n) { n.RemoverCertificado("1"); }},
      {"GetVencimentoCertificado", nullptr, [](TqorNFCe& n) { n.GetVencimentoCertificado(); }},
      {"AtualizarVersao", nullptr, [](TqorNFCe& n) { n.AtualizarVersao(""); }},
      {"UpdateIniServidores", nullptr, [](TqorNFCe& n) { n.UpdateIniServidores(); }},
  };
  return casos;
}

enum class Modo { kDesligada, kNormal, kFifo, kDevFull };

const std::string kSegredos[] = {"SenhaCert-7Q", "PinCode-8R", "CscToken-9S", "ProxySenha-1T",
                                 "CsrtValor-2U"};

class Telemetria : public ::testing::Test {
 protected:
  std::string Arquivo() const {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
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
    DeleteFile(Arquivo());
    ::unlink(Arquivo().c_str());
    if (modo == Modo::kFifo) {
      ASSERT_EQ(::mkfifo(Arquivo().c_str(), 0600), 0);
    } else {
      ASSERT_EQ(::symlink("/dev/full", Arquivo().c_str()), 0);
    }
    for (const Caso& c : Casos()) {
      SCOPED_TRACE(c.evento);
      DeleteFile(dir / "erro/nfce_exception.log");
      const std::string sem = Rodar(c.chamar, Modo::kDesligada);
      DeleteFile(dir / "erro/nfce_exception.log");
      EXPECT_EQ(Rodar(c.chamar, modo), sem);
      const std::string log = ReadFile(dir / "erro/nfce_exception.log");
      EXPECT_NE(log.find("Ocorreu um problema ao enviar dados para telemetria: "),
                std::string::npos)
          << log;
    }
  }
  ::unlink(Arquivo().c_str());
}

}  // namespace
}  // namespace qor::test
