// Refresh of the server-address files against a loopback archive server, the local updater
// double, and the certificate store checked against openssl.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/IniFile.h"
#include "support/Expect.h"
#include "support/HttpTestServer.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor::test {
namespace {

using Clock = std::chrono::system_clock;
using Fault = HttpTestServer::Fault;

const std::string kEndProd = "http://portal.teste/prod";
const std::string kEndHom = "http://portal.teste/hom";

// `text` compressed by gzip(1).
std::string Gzip(const TempDir& dir, const std::string& text) {
  WriteFile(dir / "arquivo.ini", text);
  EXPECT_EQ(RunCommand("gzip -nf " + (dir / "arquivo.ini")), 0);
  return ReadFile(dir / "arquivo.ini.gz");
}

int Contar(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Events of the component's log folder ("" when none was written).
std::string Eventos(const TempDir& dir) {
  std::string all;
  const std::string folder = dir / "log/diagnosticmode/nfce/";
  if (!DirectoryExists(folder)) return all;
  for (const auto& name : ListFiles(folder, "*.jsonl")) all += ReadFile(folder + name);
  return all;
}

class Refresh : public ::testing::Test {
 protected:
  void SetUp() override {
    prod = dir / "nfceServidoresProd.ini";
    hom = dir / "nfceServidoresHom.ini";
    nfce.SetArquivoServidoresProd(prod);
    nfce.SetArquivoServidoresHom(hom);
    nfce.SetDiretorioLog(dir / "log/");
    nfce.SetDiretorioLogErro(dir / "erro/");
    TqorImplantacao& locais = nfce.GetImplantacao();
    locais.UrlServidoresProd = server.Url("/prod.gz");
    locais.UrlServidoresHom = server.Url("/hom.gz");
    locais.EnderecoProd = kEndProd;
    locais.EnderecoHom = kEndHom;
    locais.TempoLimiteDownload = 700;
    server.Set("/prod.gz", {200, Gzip(dir, novoProd)});
    server.Set("/hom.gz", {200, Gzip(dir, novoHom)});
  }
  // Writes the two files dated `horasProd` / `horasHom` hours ago (negative: no file).
  void Arquivos(int horasProd, int horasHom) {
    for (auto [file, hours, text] :
         {std::tuple{prod, horasProd, velhoProd}, std::tuple{hom, horasHom, velhoHom}}) {
      if (hours < 0) continue;
      WriteFile(file, text);
      SetFileAge(file, Clock::now() - std::chrono::minutes(hours * 60 + 1));
    }
  }
  // Nothing but the two files (and the archive scratch) beside them.
  void SemSobras() {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      const std::string name = entry.path().filename();
      EXPECT_TRUE(name.rfind("bkp_", 0) != 0 && name.find("qor-tmp") == std::string::npos) << name;
    }
  }

  TempDir dir;
  HttpTestServer server;
  TqorNFCe nfce;
  std::string prod, hom;
  const std::string velhoProd = "[SP]\nendereco=" + kEndProd + "\nvelho=1\n";
  const std::string velhoHom = "[SP]\nendereco=" + kEndHom + "\nvelho=1\n";
  const std::string novoProd = "; novo\n[SP]\r\nendereco=" + kEndProd + "\r\nnovo=1\r\n";
  const std::string novoHom = "; novo\n[SP]\nendereco=" + kEndHom + "\nnovo=1\n";
};

TEST_F(Refresh, AgeDecidesWhetherBothAreFetched) {
  struct Caso {
    const char* nome;
    int horasProd, horasHom;
    bool ligado;
    int pedidos;
  };
  const Caso casos[] = {
      {"3 h: nothing", 3, 3, true, 0},           {"4 h: both", 4, 4, true, 1},
      {"missing counts as old", -1, 1, true, 1}, {"switch off, missing", -1, -1, false, 0},
      {"one fresh, one old", 1, 5, true, 1},
  };
  int anteriores = 0;
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nome);
    DeleteFile(prod);
    DeleteFile(hom);
    Arquivos(c.horasProd, c.horasHom);
    nfce.SetAtualizarArquivoServidores(c.ligado);
    nfce.UpdateIniServidores();
    EXPECT_EQ(server.Requests("/prod.gz") - anteriores, c.pedidos);
    EXPECT_EQ(server.Requests("/hom.gz") - anteriores, c.pedidos);
    anteriores = server.Requests("/prod.gz");
    if (c.pedidos > 0) {
      EXPECT_EQ(ReadFile(prod), novoProd);
      EXPECT_EQ(ReadFile(hom), novoHom);
      EXPECT_LT(Clock::now() - FileAge(prod), std::chrono::minutes(1));
      EXPECT_LT(Clock::now() - FileAge(hom), std::chrono::minutes(1));
    }
    SemSobras();
  }
  EXPECT_EQ(Contar(Eventos(dir), "\"classe\""), 0);
}

TEST_F(Refresh, AFailedDownloadLeavesBothFilesAsTheyWere) {
  std::string corrupto = Gzip(dir, novoProd);
  corrupto[corrupto.size() - 6] ^= 0x55;  // the CRC no longer matches
  const std::string semEndereco = Gzip(dir, "[SP]\nendereco=http://outro/\n");
  struct Caso {
    const char* nome;
    const char* path;
    HttpTestServer::Reply reply;
  };
  const Caso casos[] = {
      {"404", "/hom.gz", {404, "nada"}},
      {"500", "/prod.gz", {500, "erro"}},
      {"body cut short", "/hom.gz", {200, Gzip(dir, novoHom), Fault::kCutBody}},
      {"corrupt archive", "/hom.gz", {200, corrupto}},
      {"not gzip", "/prod.gz", {200, novoProd}},
      {"silent server", "/prod.gz", {200, "", Fault::kSilent}},
      {"no endereco line", "/prod.gz", {200, semEndereco}},
  };
  int eventos = 0;
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nome);
    server.Set("/prod.gz", {200, Gzip(dir, novoProd)});
    server.Set("/hom.gz", {200, Gzip(dir, novoHom)});
    server.Set(c.path, c.reply);
    Arquivos(5, 5);
    const auto datas = std::pair(FileAge(prod), FileAge(hom));
    EXPECT_NO_THROW(nfce.UpdateIniServidores());
    EXPECT_EQ(ReadFile(prod), velhoProd);
    EXPECT_EQ(ReadFile(hom), velhoHom);
    EXPECT_EQ(datas, std::pair(FileAge(prod), FileAge(hom)));
    SemSobras();
    const std::string todos = Eventos(dir);
    EXPECT_EQ(Contar(todos, "\"classe\""), ++eventos);
  }
}

TEST_F(Refresh, TwoComponentsAtOnceLeaveNoHalfFile) {
  Arquivos(5, 5);
  std::atomic<bool> fim{false};
  std::atomic<int> ruins{0};
  std::thread leitor([&] {
    while (!fim) {
      const std::string texto = FileExists(prod) ? LoadFromFile(prod) : velhoProd;
      if (texto != velhoProd && texto != novoProd) ++ruins;
    }
  });
  const auto atualizar = [this] {
    TqorNFCe outro;
    outro.SetArquivoServidoresProd(prod);
    outro.SetArquivoServidoresHom(hom);
    outro.SetDiagnosticMode(false);
    outro.GetImplantacao() = nfce.GetImplantacao();
    for (int i = 0; i < 15; ++i) {
      SetFileAge(prod, Clock::now() - std::chrono::hours(5));
      outro.UpdateIniServidores();
    }
  };
  std::thread a(atualizar), b(atualizar);
  a.join();
  b.join();
  fim = true;
  leitor.join();
  EXPECT_EQ(ruins, 0);
  EXPECT_EQ(ReadFile(prod), novoProd);
  EXPECT_EQ(ReadFile(hom), novoHom);
  EXPECT_GE(server.Requests("/prod.gz"), 2);
}

TEST(LoadIniFile, MissingFileNamesIt) {
  TempDir dir;
  TqorNFCe nfce;
  EXPECT_EQ(MessageOf<EqorFileNotFoundException>([&] { nfce.LoadIniFile(dir / "x/../nada.ini"); }),
            "O arquivo de servidores informado não existe: " + (dir / "nada.ini"));
  WriteFile(dir / "s.ini", "[SP]\nA=1\n");
  EXPECT_EQ(nfce.LoadIniFile(dir / "s.ini")->ReadString("SP", "A", ""), "1");
}

// ---- local updater --------------------------------------------------------------------------

class Atualizador : public ::testing::Test {
 protected:
  void SetUp() override {
    nfce.SetDiretorioLog(dir / "log/");
    nfce.SetDiretorioEsquemas(dir / "Pasta Ação/Esquemas/");
    nfce.SetDiretorioTemplates(dir / "Pasta Ação/Templates/");
    nfce.SetArquivoServidoresHom(dir / "Inis Ç/hom.ini");
    nfce.GetImplantacao().PortaAtualizador = server.Port();
    nfce.GetImplantacao().TempoLimiteAtualizador = 2000;
    server.Set("/", {200, "ok"});
  }
  TempDir dir;
  HttpTestServer server;
  TqorNFCe nfce;
};

TEST_F(Atualizador, SendsEveryParameterAndEachFlagBothWays) {
  using O = TAutoUpdaterNFCeOption;
  const std::set<O> todas{O::auNFCeReiniciarAplicacao, O::auNFCeNaoAtualizarRTMs,
                          O::auNFCeNaoMostrarProgresso};
  for (const auto& [opcoes, flag] : {std::pair{todas, "1"}, std::pair{std::set<O>{}, "0"}}) {
    EXPECT_TRUE(nfce.AtualizarVersao("4.0.12.3", opcoes));
    const auto p = server.LastParams();
    const auto valor = [&p](const std::string& k) {
      return p.count(k) == 1 ? p.find(k)->second : "<" + std::to_string(p.count(k)) + ">";
    };
    EXPECT_EQ(valor("produto"), "NFCE");
    EXPECT_EQ(valor("versao"), "4.0.12.3");
    EXPECT_EQ(valor("processo"), std::to_string(getpid()));
    EXPECT_EQ(valor("tempo"), "1000000000");
    EXPECT_EQ(valor("pastaEsquemas"), dir / "Pasta Ação/Esquemas/vm60/");
    EXPECT_EQ(valor("pastaTemplates"), dir / "Pasta Ação/Templates/vm60/");
    EXPECT_EQ(valor("pastaInis"), dir / "Inis Ç/");
    for (const char* k : {"reiniciarAplicacao", "naoAtualizarRTMs", "naoMostrarProgresso"}) {
      EXPECT_EQ(valor(k), flag) << k;
    }
  }
  server.Set("/", {200, ""});
  EXPECT_FALSE(nfce.AtualizarVersao("4.1"));
}

TEST_F(Atualizador, RefusedVersionsAndNobodyListening) {
  EXPECT_EQ(MessageOf<EqorNFCeAutoUpdaterException>([&] { nfce.AtualizarVersao("", {}); }),
            "Favor preencher o parâmetro aVersao");
  for (const char* v : {"4", "4.x", "4..1", " 4.1"}) {
    EXPECT_EQ(MessageOf<EqorNFCeAutoUpdaterException>([&] { nfce.AtualizarVersao(v, {}); }),
              "Parâmetro aVersao com valor inválido.");
  }
  server.Set("/", {500, "falhou"});
  EXPECT_THROW(nfce.AtualizarVersao("4.1", {}), EqorGovException);
  nfce.GetImplantacao().PortaAtualizador = FreeLoopbackPort();
  EXPECT_THROW(nfce.AtualizarVersao("4.1", {}), EqorGovException);
  EXPECT_EQ(Contar(Eventos(dir), "\"classe\""), 7);
  EXPECT_EQ(Contar(Eventos(dir), "\"evento\":\"AtualizarVersao\""), 14);
}

TEST_F(Atualizador, ADescendantReplacesTheRequest) {
  struct Meu : TqorNFCe {
    bool RequestAutoUpdaterLocal(const std::string& produto, const std::string& versao,
                                 std::string& saida, long long, long long numero,
                                 const std::string& endereco, const std::string& metodo,
                                 const std::string& parametros) override {
      recebido = produto + " " + versao + " " + std::to_string(numero) + " " + endereco + " " +
                 metodo + " " + std::to_string(parametros.find("naoAtualizarRTMs=1") != 0);
      saida = "feito";
      return true;
    }
    std::string recebido;
  } meu;
  meu.GetImplantacao().PortaAtualizador = 4321;
  EXPECT_TRUE(meu.AtualizarVersao("5.0"));
  EXPECT_EQ(meu.recebido, "NFCE 5.0 1000000000 http://127.0.0.1:4321/ GET 1");
  EXPECT_EQ(server.Requests("/"), 0);
}

// ---- certificate store ----------------------------------------------------------------------

// "serial|sha1|notAfter" as openssl prints them for a PKCS#12 file.
std::string OpenSsl(const std::string& pfx, const std::string& senha) {
  std::string out;
  RunCommand("openssl pkcs12 -in '" + pfx + "' -passin pass:" + senha +
                 " -nokeys -clcerts -legacy 2>/dev/null | openssl x509 -noout -serial "
                 "-fingerprint -sha1 -enddate",
             &out);
  return out;
}

TEST(Repositorio, ListsAndRemovesAsOpensslSees) {
  const sim::TestPki& pki = SharedPki();
  TempDir dir;
  const std::string loja = dir / "loja/";
  ForceDirectories(loja);
  CopyFile(pki.companyPfx, loja + "a-empresa.pfx");
  CopyFile(pki.expiredPfx, loja + "b-vencida.pfx");
  CopyFile(pki.otherCaCompanyPfx, loja + "c-outra-ac.P12");
  WriteFile(loja + "d-danificado.pfx", "isto não é PKCS#12");
  ASSERT_EQ(RunCommand("openssl pkcs12 -export -in " + pki.companyCertPem + " -inkey " +
                       pki.companyKeyPem + " -passout pass:outra -out " + loja + "e-senha.pfx"),
            0);
  CopyFile(pki.expiredPfx, dir / "fora.pfx");
  ASSERT_EQ(::symlink((dir / "fora.pfx").c_str(), (loja + "f-link.pfx").c_str()), 0);

  TqorNFCe nfce;
  nfce.SetDiretorioLog(dir / "log/");
  nfce.SetCaminhoCertificado(loja + "a-empresa.pfx");
  nfce.SetSenhaCertificado(pki.password);
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { nfce.ListarCertificados(nullptr); }),
            "A lista do certificado não foi instanciada. ");
  TStrings lista;
  nfce.ListarCertificados(&lista);
  ASSERT_EQ(lista.Count(), 5u) << lista.Text();
  std::map<std::string, std::string> serialDe;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string& linha = lista[i];
    const std::string arquivo = linha.substr(linha.find("|Arquivo=") + 9);
    const std::string ossl = OpenSsl(arquivo, pki.password);
    const auto campo = [&linha](const std::string& k) {
      const auto at = linha.find(k + "=") + k.size() + 1;
      return linha.substr(at, linha.find('|', at) - at);
    };
    serialDe[arquivo] = campo("Serial");
    EXPECT_NE(ossl.find("serial=" + campo("Serial") + "\n"), std::string::npos) << ossl;
    EXPECT_NE(ossl.find("Fingerprint=" + campo("SHA1") + "\n"), std::string::npos) << ossl;
    // notAfter=Dec  7 02:44:32 2036 GMT against "07/12/2036 02:44:32"
    const std::string v = campo("Validade");
    EXPECT_NE(ossl.find(v.substr(11) + " " + v.substr(6, 4) + " GMT"), std::string::npos)
        << ossl << v;
    EXPECT_NE(linha.find("Assunto=CN=EMPRESA TESTE:"), std::string::npos) << linha;
  }
  EXPECT_NE(lista[3].find("d-danificado.pfx|Erro="), std::string::npos) << lista[3];
  EXPECT_NE(lista[4].find("e-senha.pfx|Erro=Senha do certificado inválida"), std::string::npos);
  EXPECT_EQ(lista.Text().find("f-link"), std::string::npos);

  // Lower case and leading zeros are the same serial; the link's target is out of reach.
  std::string vencida = serialDe[loja + "b-vencida.pfx"];
  for (char& c : vencida) c = static_cast<char>(std::tolower(c));
  EXPECT_FALSE(nfce.RemoverCertificado("ABCDEF0123"));
  EXPECT_TRUE(nfce.RemoverCertificado("000" + vencida));
  EXPECT_FALSE(FileExists(loja + "b-vencida.pfx"));
  EXPECT_TRUE(FileExists(dir / "fora.pfx"));
  EXPECT_FALSE(nfce.RemoverCertificado(vencida));

  CopyFile(pki.companyPfx, loja + "g-copia.pfx");
  EXPECT_THROW(nfce.RemoverCertificado(serialDe[loja + "a-empresa.pfx"]), EqorCertStoreException);
  EXPECT_TRUE(FileExists(loja + "a-empresa.pfx") && FileExists(loja + "g-copia.pfx"));
  EXPECT_EQ(Contar(Eventos(dir), "\"classe\":\"qorCertStoreException\""), 1);

  const auto expira = nfce.GetVencimentoCertificado();
  EXPECT_GT(expira, Clock::now() + std::chrono::hours(24 * 300));
}

}  // namespace
}  // namespace qor::test
