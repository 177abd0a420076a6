// Secrets never leave the component: the road of two notes and every subcommand of the command
// line run with distinctive secrets (certificate password, PIN, CSC and its id, CSRT, proxy and
// SMTP passwords), and no file left behind, no exception log, no telemetry file and no output
// holds one of them in clear.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "TestPki.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "support/Cli.h"
#include "support/SimulatorFixture.h"
#include "support/SmtpServer.h"

namespace qor {
namespace {

namespace fs = std::filesystem;
using test::Cli;
using test::CliRun;
using test::ReadFile;
using test::WriteFile;

const std::string kCnpj = "11222333000181";
const std::string kSenhaCertificado = "Senha-Do-Certificado-A1-9d4e7b2c51f3";
const std::string kPin = "PIN-do-token-6e1f0a";
const std::string kCsc = "CSC-7A1F-3B9E-55D2-C0E4-8F6B";
const std::string kIdCsc = "735218";
const std::string kCsrt = "CSRT-distinto-0b7e4c9a2f61d385e7c1";  // 36 characters
const std::string kSenhaProxy = "Senha-Do-Proxy-2c8a5e";

struct Segredo {
  const char* nome;
  std::string valor;
};

// Text of every regular file under `pasta` (but `fora`), by path.
std::map<std::string, std::string> Arquivos(const std::string& pasta, const std::string& fora) {
  std::map<std::string, std::string> arquivos;
  for (const auto& e : fs::recursive_directory_iterator(pasta)) {
    const std::string caminho = e.path().string();
    if (e.is_regular_file() && caminho.rfind(fora, 0) != 0) arquivos[caminho] = ReadFile(caminho);
  }
  return arquivos;
}

// What the executable's folder holds of logs: an exception logged without a folder lands there.
std::map<std::string, std::string> LogsDoExecutavel() {
  const std::string bin = std::string(QORNFCE_BIN_DIR) + "/";
  std::map<std::string, std::string> logs;
  for (const auto& e : fs::directory_iterator(bin)) {
    const std::string ext = e.path().extension().string();
    if (e.is_regular_file() && (ext == ".log" || ext == ".jsonl")) {
      logs[e.path().string()] = ReadFile(e.path().string());
    }
  }
  for (const char* pasta : {"Log", "LogErro"}) {
    if (fs::is_directory(bin + pasta)) logs.merge(Arquivos(bin + pasta, bin + pasta + "/nada/"));
  }
  return logs;
}

// The CSC id is public where the standard prints it: in the QR-code link of every note.
std::string SemLinkQrCode(std::string texto) {
  ReplaceAll(texto, "|" + kIdCsc + "|", "|");
  ReplaceAll(texto, "cIdToken=" + kIdCsc, "cIdToken=");
  return texto;
}

class Segredos : public testing::Test {
 protected:
  void SetUp() override {
    QOR_NEEDS_SCHEMAS();
    QOR_NEEDS_AIOSMTPD();
    ::setenv("QORNFCE_KEY_FILE", (dir / "chave.key").c_str(), 1);
  }
  void TearDown() override { ::unsetenv("QORNFCE_KEY_FILE"); }

  // Runs `args` with the configuration file; keeps what it printed.
  CliRun Rodar(const std::string& args) {
    const CliRun run = Cli("--config '" + dir / "nfceConfig.ini" + "' " + args, dir);
    saidas["qornfce " + args + " (stdout)"] = run.out;
    saidas["qornfce " + args + " (stderr)"] = run.err;
    return run;
  }
  std::string Q(const std::string& nome) const { return "'" + dir / nome + "'"; }
  // A sample of data/exemplos as note number `nNF`, converted and signed into `nome`.
  // `troca` replaces a text of it.
  std::string NotaAssinada(const std::string& exemplo, int nNF, const std::string& nome,
                           const std::pair<std::string, std::string>& troca = {}) {
    std::string tx2 = ReadFile(std::string(QORNFCE_BIN_DIR) + "/exemplos/" + exemplo);
    const std::size_t at = tx2.find("nNF_B08=");
    tx2.replace(at, tx2.find('\n', at) - at, "nNF_B08=" + std::to_string(nNF));
    if (!troca.first.empty()) ReplaceAll(tx2, troca.first, troca.second);
    WriteFile(dir / (nome + ".tx2"), tx2);
    const CliRun convertida = Rodar("converter " + Q(nome + ".tx2"));
    EXPECT_EQ(convertida.status, 0) << convertida.err;
    WriteFile(dir / (nome + ".xml"), convertida.out);
    const CliRun assinada = Rodar("assinar " + Q(nome + ".xml"));
    EXPECT_EQ(assinada.status, 0) << assinada.err;
    WriteFile(dir / (nome + "-assinada.xml"), assinada.out);
    return GetXMLAttributeByIndex(assinada.out, "infNFe", "Id").substr(3);
  }

  test::TempDir dir;
  std::map<std::string, std::string> saidas;
};

TEST_F(Segredos, NoneAppearsInAnyFileOrOutputOfTheRoad) {
  const sim::TestPki pki = sim::CreateTestPki(dir / "pki", kCnpj, kSenhaCertificado);
  sim::SimulatorOptions opcoes = test::TestSimulatorOptions(dir / "simulador");
  opcoes.caCert = pki.caCert;
  opcoes.serverCert = pki.serverCert;
  opcoes.serverKey = pki.serverKey;
  sim::Simulator simulador(opcoes);
  simulador.Start();
  simulador.WriteServerFiles(dir / "nfceServidoresProd.ini", dir / "nfceServidoresHom.ini");
  const test::SmtpServer smtp(dir / "smtp", test::SmtpServerKind(test::SmtpTls::StartTls, true),
                              pki);
  const auto binAntes = LogsDoExecutavel();

  const std::vector<Segredo> segredos{{"certificate password", kSenhaCertificado},
                                      {"PIN", kPin},
                                      {"CSC", kCsc},
                                      {"CSC id", kIdCsc},
                                      {"CSRT", kCsrt},
                                      {"proxy password", kSenhaProxy},
                                      {"SMTP password", test::kSmtpSecret}};
  const CliRun configurado = Rodar(
      "configurar NFCE.UF=SP NFCE.CNPJ=" + kCnpj + " NFCE.Ambiente=2 'NFCE.CaminhoCertificado=" +
      pki.companyPfx + "' NFCE.SenhaCertificado=" + kSenhaCertificado + " NFCE.PinCode=" + kPin +
      " NFCE.IdCSRT=01 NFCE.CSRT=" + kCsrt + " NFCE.Senha=" + kSenhaProxy +
      " NFCE.Usuario=proxy NFCE.IgnoreInvalidCertificates=0 'NFCE.ArquivoCadeiaCertificados=" +
      pki.caCert + "' 'NFCE.ArquivoServidoresHom=" + dir / "nfceServidoresHom.ini" +
      "' 'NFCE.ArquivoServidoresProd=" + dir / "nfceServidoresProd.ini" +
      "' 'NFCE.DiretorioLog=" + dir / "Log/" + "' 'NFCE.DiretorioLogErro=" + dir / "LogErro/" +
      "' 'NFCE.DiretorioXmlDestinatario=" + dir / "XmlDestinatario/" +
      "' NFCE.DiagnosticMode=1 DANFCE.TokenNFCe=" + kCsc + " DANFCE.IdTokenNFCe=" + kIdCsc +
      " MAIL.ServidorSmtp=127.0.0.1 MAIL.Porta=" + std::to_string(smtp.port) +
      " MAIL.Autenticacao=1 MAIL.Usuario=loja MAIL.Senha=" + test::kSmtpSecret +
      " MAIL.EmailRemetente=loja@exemplo.com.br");
  ASSERT_EQ(configurado.status, 0) << configurado.err;

  // The road of the demo.
  EXPECT_EQ(GetValueTag("cStat", Rodar("status").out), "107");
  Rodar("consultar 35240111222333000181650010000000011123456780");
  const std::string chave1 = NotaAssinada("nfce-varios-itens.tx2", 7001, "nota1");
  const CliRun sincrono = Rodar("enviar-sincrono 1 " + Q("nota1-assinada.xml"));
  EXPECT_NE(sincrono.out.find("<cStat>100</cStat>"), std::string::npos) << sincrono.err;
  const std::string chave2 = NotaAssinada("nfce-cartao-troco.tx2", 7002, "nota2");
  const CliRun lote = Rodar("enviar 2 " + Q("nota2-assinada.xml"));
  const CliRun recibo = Rodar("consultar-recibo " + GetValueTag("nRec", lote.out));
  EXPECT_EQ(recibo.status, 0) << recibo.err;
  const std::string proc2 = dir / "XmlDestinatario/" + chave2 + "-nfce.xml";
  EXPECT_TRUE(FileExists(proc2));
  EXPECT_EQ(Rodar("cancelar " + chave1 + " " + GetValueTag("nProt", sincrono.out) +
                  " 'Cliente desistiu da compra'")
                .status,
            0);
  Rodar("consultar " + chave1);
  const CliRun inutilizada =
      Rodar("inutilizar 26 " + kCnpj + " 65 1 900 905 'Numeros pulados por falha'");
  EXPECT_EQ(inutilizada.status, 0) << inutilizada.err;
  // A note issued in contingency, registered in EPEC.
  NotaAssinada("nfce-varios-itens.tx2", 7003, "nota3",
               {"tpEmis_B22=1",
                "tpEmis_B22=4\ndhCont_B28=2026-12-07T10:32:41-03:00\n"
                "xJust_B29=Falha de comunicacao com a SEFAZ"});
  const CliRun epec = Rodar("epec " + Q("nota3.xml"));
  EXPECT_NE(epec.out.find("<cStat>136</cStat>"), std::string::npos) << epec.out << epec.err;
  for (const char* formato : {"pdf", "html", "txt", "png", "escpos"}) {
    EXPECT_EQ(Rodar("danfce '" + proc2 + "' --formato " + std::string(formato)).status, 0)
        << formato;
  }
  const CliRun email = Rodar("enviar-email '" + proc2 + "' cliente@exemplo.com.br");
  EXPECT_EQ(email.status, 0) << email.err;
  EXPECT_EQ(smtp.Messages().size(), 1u);
  Rodar("converter-xml '" + proc2 + "'");

  // Every other subcommand that reads the configuration, whether it succeeds or not.
  Rodar("configurar --mostrar");
  Rodar("validar " + Q("nota1.xml") + " NFE");
  Rodar("qrcode " + Q("nota1-assinada.xml"));
  Rodar("chave 2026-12-07T10:00:00-03:00 35 " + kCnpj + " 65 1 42 1234 1");
  Rodar("logs");
  Rodar("converter-txt '" + std::string(QORNFCE_BIN_DIR) + "/exemplos/nfce-dicionario.txt'");
  Rodar("gerar-notas 1 35 " + kCnpj);
  WriteFile(dir / "evento.xml",
            ReadFile(std::string(QORNFCE_SOURCE_DIR) + "/tests/conversion/data/evento.xml"));
  Rodar("assinar-evento " + Q("evento.xml"));
  Rodar("cancelar-substituicao " + chave2 + " 135000000000001 'Substituida por outra nota' " +
        chave1);
  Rodar("atualizar-servidores --forcar");
  Rodar("listar-certificados");
  Rodar("vencimento-certificado");
  Rodar("remover-certificado 0DA6D7B84BECBE25C6A271D711FB5C8B");
  Rodar("atualizar-versao 9.9.9.9 --nao-mostrar-progresso");
  Rodar("status --senha-certificado errada-de-proposito");  // a failure with the secret in force

  std::map<std::string, std::string> textos = Arquivos(dir.path(), dir / "smtp/");
  for (const auto& [caminho, texto] : LogsDoExecutavel()) {
    const auto antes = binAntes.find(caminho);
    if (antes == binAntes.end()) {
      textos[caminho] = texto;
    } else if (texto != antes->second) {
      textos[caminho] = texto.substr(std::min(texto.size(), antes->second.size()));
    }
  }
  textos.insert(saidas.begin(), saidas.end());
  // The search has something to search: the logs, the exception logs and the telemetry.
  EXPECT_FALSE(ListFiles(dir / "Log/", "*.xml").empty());
  EXPECT_FALSE(ListFiles(dir / "LogErro/", "*.log").empty());
  EXPECT_FALSE(ListFiles(dir / "Log/diagnosticmode/nfce/", "telemetria-*").empty());
  int achados = 0;
  for (const auto& [onde, texto] : textos) {
    for (const Segredo& segredo : segredos) {
      const std::string busca = segredo.valor == kIdCsc ? SemLinkQrCode(texto) : texto;
      if (busca.find(segredo.valor) != std::string::npos) {
        ++achados;
        ADD_FAILURE() << segredo.nome << " found in " << onde;
      }
    }
  }
  EXPECT_EQ(achados, 0);
  simulador.Stop();
}

}  // namespace
}  // namespace qor
