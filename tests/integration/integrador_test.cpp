// The MFe road: the operations against the fake Integrador (a child process answering through
// its folders with the simulator's replies), the exchange's messages and rounds counted through
// the file seam, and the faults of the reply files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <regex>
#include <thread>

#include "base/Exceptions.h"
#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr char kSemRetorno[] =
    "Ocorreu um problema ao comunicar com Integrador: Não obteve retorno do Integrador, verifique "
    "se o mesmo está executando na máquina ou se as propriedades DiretorioEntrada e "
    "DiretorioSaida foram configurados corretamente.";

std::string AnoAtual() {
  const std::time_t agora = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&agora, &local);
  return std::to_string((local.tm_year + 1900) % 100);
}

// Counts the listings of replies and can refuse every delete.
struct Arquivos : TFileSystemWrapper {
  Arquivos() : TFileSystemWrapper(TFileSystem::Default()) {}
  std::vector<std::string> ListFiles(const std::string& dir, const std::string& mask) override {
    if (mask == "*.xml") ++listagens;
    return TFileSystemWrapper::ListFiles(dir, mask);
  }
  bool DeleteFile(const std::string& path) override {
    return !recusarApagar && TFileSystemWrapper::DeleteFile(path);
  }
  int listagens = 0;
  bool recusarApagar = false;
};

class IntegradorRoad : public test::SimulatorRoad {
 protected:
  void SetUp() override {
    test::SimulatorRoad::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    entrada = rig->dir / "entrada/";
    saida = rig->dir / "saida/";
    ForceDirectories(entrada);
    ForceDirectories(saida);
    TqorIntegrador& i = nfce.GetIntegrador();
    i.SetAtivar(true);
    i.SetDiretorioEntrada(entrada);
    i.SetDiretorioSaida(saida);
    i.SetNumeroSessao(111111);
    i.SetTimeOut(0);
    nfce.SetFileSystem(&arquivos);
    antes = rig->simulator->RequestCount();
  }
  void TearDown() override {
    fake.reset();
    if (rig) {
      EXPECT_EQ(rig->simulator->RequestCount(), antes) << "nothing went over the network";
    }
  }
  void Fake(const std::string& modo) {
    fake.reset();
    pasta = rig->dir / "falso-" + std::to_string(++fakes) + "/";
    fake = std::make_unique<TChildProcess>(
        std::vector<std::string>{std::string(QORNFCE_BIN_DIR) + "/qornfce-integrador-falso",
                                 "--entrada", entrada, "--saida", saida, "--modo", modo, "--pasta",
                                 pasta, "--esquemas", test::SchemasFolder()},
        rig->dir / "falso.log");
  }
  // The journal folder of the `n`-th request the fake received, and one field of it.
  std::string Pedido(int n) const {
    char nome[16];
    std::snprintf(nome, sizeof nome, "%04d", n % 10000);
    return pasta + "diario/" + nome + "/";
  }
  std::string Diario(int n, const std::string& campo) const { return ReadFile(Pedido(n) + campo); }
  // The Integrador logs of `kind`.
  std::vector<std::string> LogsIntegrador(const std::string& kind) const {
    const std::regex nome(R"(\d{4}(-\d{2}){5}-\d{1,3}-111111-)" + kind + "-nfce\\.xml");
    std::vector<std::string> found;
    for (const std::string& f : Logs("*-nfce.xml")) {
      if (std::regex_match(f, nome)) found.push_back(f);
    }
    return found;
  }
  // xmlsec1 on `elemento` and xmllint with `xsd` of a written file: empty when both accept it.
  std::string Verificar(const std::string& arquivo, const std::string& elemento,
                        const std::string& xsd) {
    std::string out;
    const int assinatura =
        test::RunCommand("xmlsec1 --verify --id-attr:Id " + elemento + " --trusted-pem '" +
                             test::SharedPki().caCert + "' '" + arquivo + "'",
                         &out);
    return assinatura == 0 ? test::SchemaError(ReadFile(arquivo), xsd) : out;
  }

  std::string entrada, saida;
  Arquivos arquivos;
  std::unique_ptr<TChildProcess> fake;
  std::string pasta;
  int fakes = 0, antes = 0;
};

// Each operation through the fake: its reply, its two Integrador logs, what the fake received
// (the method, the data version, and the web road's SOAP request, decoded by base64 and whose
// body the official schema accepts) and the files it leaves, verified as on the web road.
TEST_F(IntegradorRoad, EveryOperationGoesThroughTheFolders) {
  Fake("retorno");
  std::string chave, protocolo, id;
  struct Caso {
    const char* nome;
    std::function<std::string()> operacao;
    const char* cStat;
    const char* pedido;
    const char* resposta;
    const char* metodo;
    const char* xsd;
  };
  const std::vector<Caso> casos = {
      {"status", [&] { return nfce.StatusDoServico(); }, "107", "ped-sta", "sta",
       "HNfeStatusServico2Soap12", "consStatServ_v4.00.xsd"},
      {"envio",
       [&] {
         const std::string proc = AutorizarExemplo("nfce-um-item-dinheiro.tx2", 701);
         EXPECT_EQ(Verificar(proc, "infNFe", "procNFe_v4.00.xsd"), "");
         chave = ChaveDe(ReadFile(proc));
         protocolo = GetValueTag("nProt", ReadFile(proc));
         return ReadFile(proc);
       },
       "100", "env", "rec", "HNfeAutorizacaoLote12", "enviNFe_v4.00.xsd"},
      {"consulta", [&] { return nfce.ConsultarNF(chave); }, "100", "ped-sit", "sit",
       "HNfeConsulta2Soap12", "consSitNFe_v4.00.xsd"},
      {"cancelamento",
       [&] {
         const std::string r =
             nfce.CancelarNF(chave, protocolo, "Cliente desistiu da compra", "", 1, "", "");
         EXPECT_EQ(Verificar(rig->dir / "XmlDestinatario/" + chave + "-caneve.xml", "infEvento",
                             "procEventoCancNFe_v1.00.xsd"),
                   "");
         return nfce.GetRetEvento(r);
       },
       "135", "caneve-env", "caneve-ret", "HNfeRecepcaoEvento", "envEventoCancNFe_v1.00.xsd"},
      {"inutilizacao",
       [&] {
         const std::string r = nfce.InutilizarNF("", AnoAtual(), test::SharedPki().cnpj, "65", "1",
                                                 "720", "721", "Numeros pulados por falha");
         id = nfce.CalculaChaveInutilizacao(AnoAtual(), test::SharedPki().cnpj, "65", "1", "720",
                                            "721");
         EXPECT_EQ(Verificar(rig->dir / "XmlDestinatario/" + id + "-inut.xml", "infInut",
                             "procInutNFe_v4.00.xsd"),
                   "");
         return r;
       },
       "102", "ped-inu", "ret-inu", "HNfeInutilizacao2Soap12", "inutNFe_v4.00.xsd"},
  };
  int n = 0;
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nome);
    const std::string resposta = c.operacao();
    ++n;
    EXPECT_EQ(GetValueTag("cStat", resposta), c.cStat) << resposta;
    EXPECT_EQ(LogsIntegrador(c.pedido).size(), 1u);
    EXPECT_EQ(LogsIntegrador(c.resposta).size(), 1u);
    EXPECT_EQ(Diario(n, "metodo"), c.metodo);
    EXPECT_EQ(Diario(n, "Identificador"), "111111");
    EXPECT_EQ(Diario(n, "numeroSessao"), "111111");
    EXPECT_EQ(Diario(n, "versaoDados"), "4.00");
    std::string soap, body;
    ASSERT_EQ(test::RunCommand("base64 -d '" + Pedido(n) + "dados'", &soap), 0);
    ASSERT_TRUE(XPathSelectSingleNode(soap, "//*[local-name()='nfeDadosMsg']/*", body)) << soap;
    EXPECT_EQ(test::SchemaError(body, c.xsd), "");
  }
  EXPECT_THAT(Diario(2, "DataHoraNFCeGerado"), ::testing::MatchesRegex("[0-9]{14}"));
  EXPECT_THAT(Diario(2, "ValorNFCe"), ::testing::MatchesRegex("[0-9]+,[0-9]{2}"));
  EXPECT_EQ(Diario(5, "ValorNFCe"), "0.00");
  EXPECT_TRUE(ListFiles(saida, "*").empty()) << "every reply moved to the log folder";

  nfce.SetAmbiente(TAmbienteKind::akProducao);
  EXPECT_EQ(GetValueTag("cStat", nfce.StatusDoServico()), "107");
  EXPECT_EQ(Diario(6, "metodo"), "NfeStatusServico2Soap12");
}

// The messages of the exchange, its rounds counted by listings, and the request that stays.
TEST_F(IntegradorRoad, FailuresKeepTheRequestAndCountTheirRounds) {
  EXPECT_EQ(nfce.FormataDataHoraIntegrador("<ide><dhEmi>2024-05-10T14:03:09-03:00</dhEmi></ide>"),
            "20240510140309");
  EXPECT_EQ(
      MessageOf<EqorNFCeCheckParamsException>([&] { nfce.ComunicarIntegrador(" ", "111111"); }),
      "Xml de comunicação não pode ser vazio.");

  Fake("mudo");
  EXPECT_EQ(MessageOf<EqorNFCeIntegradorException>([&] { nfce.StatusDoServico(); }), kSemRetorno);
  EXPECT_EQ(arquivos.listagens, 4) << "TimeOut 0 still makes four rounds";
  EXPECT_EQ(LogsIntegrador("ped-sta").size(), 1u);
  EXPECT_TRUE(ListFiles(entrada, "*.xml").empty()) << "the fake took the request";
  EXPECT_EQ(Diario(1, "metodo"), "HNfeStatusServico2Soap12");

  fake.reset();  // nobody reads the request now: it stays
  EXPECT_EQ(MessageOf<EqorNFCeConsultaException>([&] { nfce.ConsultarNF(std::string(44, '3')); }),
            std::string("Erro ao enviar pedido de consulta: ") + kSemRetorno);
  EXPECT_EQ(ListFiles(entrada, "*.xml").size(), 1u);
  EXPECT_EQ(LogsIntegrador("ped-sit").size(), 1u);

  test::WriteFile(saida + "antiga.xml", "<x/>");
  arquivos.recusarApagar = true;
  EXPECT_THAT(MessageOf<EqorNFCeIntegradorException>([&] { nfce.StatusDoServico(); }),
              StartsWith("Ocorreu um problema ao comunicar com Integrador: Ocorreu um problema ao "
                         "limpar diretório output: "));
  arquivos.recusarApagar = false;

  // No busy-wait: with TimeOut 3 a silent Integrador is listed at most seven times.
  Fake("mudo");
  nfce.GetIntegrador().SetTimeOut(3);
  arquivos.listagens = 0;
  EXPECT_EQ(MessageOf<EqorNFCeIntegradorException>([&] { nfce.StatusDoServico(); }), kSemRetorno);
  EXPECT_GE(arquivos.listagens, 6);
  EXPECT_LE(arquivos.listagens, 7);

  // A reply 2.5 s late, past what TimeOut 0 waits, is taken within TimeOut 5 (room for a busy
  // machine to start the fake), and not after an exchange that has ended.
  Fake("atraso:2500");
  nfce.GetIntegrador().SetTimeOut(5);
  EXPECT_EQ(GetValueTag("cStat", nfce.StatusDoServico()), "107");
  nfce.GetIntegrador().SetTimeOut(0);
  EXPECT_EQ(MessageOf<EqorNFCeIntegradorException>([&] { nfce.StatusDoServico(); }), kSemRetorno);
  for (int i = 0; i < 30 && ListFiles(saida, "*.xml").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(ListFiles(saida, "*.xml").size(), 1u) << "the late reply, left where it came";

  nfce.GetIntegrador().SetAtivar(false);
  nfce.GetIntegrador().SetDiretorioSaida("");
  nfce.GetIntegrador().SetAtivar(true);
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { nfce.StatusDoServico(); }),
            "As propriedades \"DiretorioEntrada\" ou \"DiretorioSaida\" não podem ser vazias se a "
            "propriedade \"Ativar\" estiver configurada como verdadeiro. DiretorioEntrada: " +
                entrada + " DiretorioSaida: ");
}

// The reply files a real Integrador may leave, one mode of the fake each, read by the status.
TEST_F(IntegradorRoad, RepliesAreReadWholeAndOnlyOurs) {
  struct Caso {
    const char* modo;
    std::function<void(const std::function<std::string()>&)> verifica;
  };
  const auto cStat107 = [](const std::function<std::string()>& status) {
    EXPECT_EQ(GetValueTag("cStat", status()), "107");
  };
  const std::vector<Caso> casos = {
      {"identificador", cStat107},
      {"metade", cStat107},
      {"outro-primeiro",
       [&](const std::function<std::string()>& status) {
         cStat107(status);
         EXPECT_EQ(ListFiles(saida, "*.xml"), std::vector<std::string>{"0000-outro.xml"});
         EXPECT_TRUE(ListFiles(rig->dir / "Log/", "0000-outro.xml").empty());
       }},
      {"item7-vazio", [](const auto& status) { EXPECT_EQ(status(), ""); }},
      {"sem-sucesso",
       [](const auto& status) {
         const std::string r = status();
         EXPECT_THAT(r, StartsWith("00111111|"));
         EXPECT_THAT(r, HasSubstr("Erro ao enviar para a SEFAZ-CE"));
       }},
      {"erro-interno",
       [](const auto& status) {
         EXPECT_EQ(MessageOf<EqorNFCeIntegradorException>(status),
                   "Integrador não respondeu corretamente, resposta: HTTP/1.1 500 Internal "
                   "Server Error");
       }},
      {"nao-xml",
       [](const auto& status) {
         EXPECT_EQ(MessageOf<EqorNFCeIntegradorException>(status), kSemRetorno);
       }},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.modo);
    Fake(c.modo);
    c.verifica([&] { return nfce.StatusDoServico(); });
  }
}

}  // namespace
}  // namespace qor
