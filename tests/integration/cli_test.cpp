// The command line as a user runs it: every operation listed, dispatched and explaining itself,
// exit codes, stdout holding only the state's reply, the converter's notes signed and checked by
// xmlsec1 and the official schema, nfceConfig.ini written through the component, and the demo
// leaving its artifacts behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/IniFile.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "support/Cli.h"
#include "support/SimulatorFixture.h"
#include "support/SmtpServer.h"
#include "utils/QRCode.h"

namespace qor {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kNfeNs = "http://www.portalfiscal.inf.br/nfe";

using test::Cli;
using test::CliRun;

std::string Logs(const TempDir& dir) {
  return " --log '" + dir / "Log" + "' --log-erro '" + dir / "LogErro" + "'";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The names the general usage lists under "operações:", in order.
std::vector<std::string> Listadas(const std::string& usage) {
  std::vector<std::string> nomes;
  for (const std::string& linha : Lines(usage.substr(usage.find("operações:\n")))) {
    if (linha.rfind("  ", 0) == 0)
      nomes.push_back(linha.substr(2, linha.find(' ', 2) - 2));
    else if (!nomes.empty())
      break;
  }
  return nomes;
}

TEST(CommandLine, EveryOperationIsListedDispatchedAndExplainsItself) {
  TempDir dir;
  const CliRun usage = Cli("--help", dir);
  ASSERT_EQ(usage.status, 0) << usage.err;
  const CliRun vazio = Cli("", dir);
  EXPECT_EQ(vazio.status, 2);
  EXPECT_EQ(vazio.err, usage.out);
  const CliRun desconhecida = Cli("nao-existe", dir);
  EXPECT_EQ(desconhecida.status, 2);
  EXPECT_EQ(desconhecida.err, "qornfce: operação desconhecida: nao-existe\n\n" + usage.out);

  // The operations scripts call by name (renaming or dropping one breaks them), each with an
  // option its own help must list.
  const std::map<std::string, std::string> operacoes{{"status", "--certificado"},
                                                     {"enviar", "--compactar"},
                                                     {"enviar-sincrono", "--compactar"},
                                                     {"consultar-recibo", "--certificado"},
                                                     {"consultar", "--certificado"},
                                                     {"validar", "--esquemas"},
                                                     {"configurar", "--mostrar"},
                                                     {"converter", "--esquema pl_009g"},
                                                     {"assinar", "--certificado"},
                                                     {"assinar-evento", "--certificado"},
                                                     {"chave", "--config"},
                                                     {"qrcode", "--servidores-hom"},
                                                     {"logs", "--log"},
                                                     {"simulador", "--porta"},
                                                     {"demo", "--pasta"}};
  const std::vector<std::string> listadas = Listadas(usage.out);
  for (const auto& [nome, opcao] : operacoes) {
    EXPECT_EQ(std::count(listadas.begin(), listadas.end(), nome), 1) << nome << "\n" << usage.out;
  }
  for (const std::string& nome : listadas) {
    SCOPED_TRACE(nome);
    const CliRun help = Cli(nome + " --help", dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_THAT(help.out.substr(0, help.out.find('\n')), HasSubstr("qornfce " + nome + " "));
    if (operacoes.count(nome) > 0) {
      EXPECT_THAT(help.out, HasSubstr(operacoes.at(nome)));
    }
    // The operation's own parser answers, not the dispatcher's "unknown operation".
    const CliRun opcao = Cli(nome + " --opcao-inexistente", dir);
    EXPECT_EQ(opcao.status, 2);
    EXPECT_THAT(opcao.err,
                StartsWith("qornfce " + nome + ": opção desconhecida: --opcao-inexistente\n"));
  }
  // Asking for help wins over the rest of the line.
  EXPECT_EQ(Cli("status --opcao-inexistente --help", dir).out, Cli("status --help", dir).out);
}

TEST(CommandLine, RefusedLinesExitWithTwoAndFailedOperationsWithOne) {
  const std::string kIlegivel = "Arquivo não encontrado ou não é um arquivo comum: ";
  TempDir dir;
  const std::string falta = dir / "nao-existe.xml";
  struct Caso {
    std::string args;
    int status;
    std::string err;  // how stderr begins
  };
  for (const Caso& caso : std::vector<Caso>{
           {"status --nao-existe 1", 2, "qornfce status: opção desconhecida: --nao-existe\n"},
           {"status --timeout abc", 2, "qornfce status: valor inválido para --timeout: abc\n"},
           {"status extra", 2, "qornfce status: argumento inesperado: extra\n"},
           {"status --uf XX", 1, "a sigla da UF XX, é inválida.\n"},
           {"consultar", 2, "qornfce consultar: informe a chave de acesso\n"},
           {"validar '" + falta + "'", 2, "qornfce validar: informe o arquivo XML e o comando\n"},
           {"enviar-sincrono 1", 2, "qornfce enviar-sincrono: informe o número do lote e o"},
           {"consultar-recibo", 2, "qornfce consultar-recibo: informe o número do recibo\n"},
           {"assinar", 2, "qornfce assinar: informe um arquivo XML (ou - )\n"},
           // A file that cannot be read is a failure (1) for every subcommand, a folder too.
           {"assinar '" + falta + "'", 1, kIlegivel + falta},
           {"assinar-evento '" + falta + "'", 1, kIlegivel + falta},
           {"validar '" + falta + "' ENVIO", 1, kIlegivel + falta},
           {"enviar 1 '" + falta + "'", 1, kIlegivel + falta},
           {"enviar-sincrono 1 '" + falta + "'", 1, kIlegivel + falta},
           {"qrcode '" + dir.path() + "'", 1, kIlegivel + dir.path()},
           {"converter '" + falta + "'", 1, kIlegivel + falta},
           {"assinar-evento a.xml b.xml", 2, "qornfce assinar-evento: informe um arquivo XML"},
           {"converter", 2, "qornfce converter: informe o arquivo TX2\n"},
           {"converter x.tx2 --esquema pl_010", 2,
            "qornfce converter: esquema desconhecido: pl_010"},
           {"chave 2015-03-20 41 11222333000181 65 1 123 4567", 2,
            "qornfce chave: esperados 8 argumentos (DATA CUF CNPJ MOD SERIE NNF CNF TPEMIS), "
            "recebidos 7\n"},
           {"chave 2015-03-20 41 11222333000181 65 1 123 4567 12", 1,
            "O valor do tipo de emissão(tpEmis) \"12\" é inesperado.\n"},
           {"logs Qualquer", 2, "qornfce logs: filtro de log desconhecido: Qualquer (use Xml, "},
           {"logs Xml 4115 extra", 2, "qornfce logs: argumento inesperado: extra\n"},
           {"qrcode", 2, "qornfce qrcode: informe um arquivo XML"},
       }) {
    const CliRun run = Cli(caso.args + Logs(dir), dir);
    EXPECT_EQ(run.status, caso.status) << caso.args;
    EXPECT_THAT(run.err, StartsWith(caso.err)) << caso.args;
    EXPECT_EQ(run.out, "") << caso.args;
  }
  // A failed operation leaves its exception in the error log the line named.
  EXPECT_TRUE(FileExists(dir / "LogErro/nfce_exception.log"));
}

// The options of a signing run, everything in `dir`.
std::string Assinatura(const TempDir& dir) {
  const auto& pki = test::SharedPki();
  WriteFile(dir / "hom.ini",
            "[SP]\nURLQRCODE=https://nfce.sefaz.teste/qrcode\n[URLCONSULTACHAVE]\n"
            "SP=https://nfce.sefaz.teste/consulta-chave\n");
  return " --uf SP --cnpj " + pki.cnpj + " --certificado '" + pki.companyPfx +
         "' --senha-certificado " + pki.password + " --servidores-hom '" + dir / "hom.ini" + "'" +
         Logs(dir);
}

// converter prints one note per line; assinar signs them, from a file or from standard input,
// one NFe per line that xmlsec1 verifies and the official schema of the layout accepts.
TEST(CommandLine, ConverterOutputIsSignedFromAFileOrStandardInput) {
  QOR_NEEDS_SCHEMAS();
  const std::string exemplos = std::string(QORNFCE_SOURCE_DIR) + "/data/exemplos/";
  struct Caso {
    std::string tx2, opcoes, xsd;
    bool piped;
  };
  for (const Caso& caso : {
           Caso{ReadFile(exemplos + "nfce-um-item-dinheiro.tx2") +
                    ReadFile(exemplos + "nfce-varios-itens.tx2"),
                "", "nfe_v4.00.xsd", false},
           Caso{ReadFile(std::string(QORNFCE_SOURCE_DIR) +
                         "/tests/conversion/corpus/leiaute-310.tx2"),
                " --esquema pl_008h", "nfe_v3.10.xsd", true},
       }) {
    SCOPED_TRACE(caso.xsd);
    TempDir dir;
    WriteFile(dir / "lote.tx2", caso.tx2);
    // Piped rows read standard input on both sides of the road.
    const std::string origem = (caso.piped ? "- < '" : "'") + dir / "lote.tx2" + "'";
    const CliRun convertido = Cli("converter " + origem + caso.opcoes + Logs(dir), dir);
    ASSERT_EQ(convertido.status, 0) << convertido.err;
    EXPECT_EQ(convertido.err, "");
    const std::vector<std::string> notas = Lines(convertido.out);
    ASSERT_EQ(notas.size(), 2u) << convertido.out;
    for (const std::string& nota : notas) EXPECT_THAT(nota, StartsWith("<infNFe Id=\"NFe"));
    WriteFile(dir / "notas.txt", convertido.out);

    const std::string versao = caso.opcoes.empty() ? "" : " --versao-manual vm50b";
    const std::string entrada = (caso.piped ? "- < '" : "'") + dir / "notas.txt" + "'";
    const CliRun run = Cli("assinar " + entrada + Assinatura(dir) + versao, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> linhas = Lines(run.out);
    ASSERT_EQ(linhas.size(), 2u) << run.out;
    for (const std::string& linha : linhas) {
      EXPECT_THAT(linha, StartsWith("<NFe xmlns=\"" + kNfeNs + "\"><infNFe Id=\"NFe"));
      EXPECT_THAT(linha, HasSubstr("</infNFe><infNFeSupl><qrCode>"));
      EXPECT_EQ(test::SignatureError(linha, "infNFe", test::SharedPki().caCert), "");
      EXPECT_EQ(test::SchemaError(linha, caso.xsd), "");
    }
  }
}

TEST(CommandLine, AssinarEventoSignsEventsAndAssinarFailsOnAFileWithoutNotes) {
  TempDir dir;
  const std::string chave = "35261211222333000181650010000010011102938470";
  WriteFile(dir / "eventos.xml",
            "<envEvento xmlns=\"" + kNfeNs +
                "\" versao=\"1.00\"><idLote>1</idLote><evento versao=\"1.00\"><infEvento "
                "Id=\"ID110111" +
                chave + "01\"><cOrgao>35</cOrgao><tpAmb>2</tpAmb><chNFe>" + chave +
                "</chNFe><tpEvento>110111</tpEvento></infEvento></evento></envEvento>");
  const CliRun run = Cli("assinar-evento '" + dir / "eventos.xml" + "'" + Assinatura(dir), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> linhas = Lines(run.out);
  ASSERT_EQ(linhas.size(), 1u) << run.out;
  EXPECT_TRUE(linhas[0].ends_with("</Signature></evento>"));
  EXPECT_EQ(test::SignatureError(linhas[0], "infEvento", test::SharedPki().caCert), "");

  WriteFile(dir / "vazio.xml", "<enviNFe/>");
  const CliRun semNotas = Cli("assinar '" + dir / "vazio.xml" + "'" + Assinatura(dir), dir);
  EXPECT_EQ(semNotas.status, 1);
  EXPECT_EQ(semNotas.err, "Não foi possível encontrar notas fiscais no arquivo\n");
  EXPECT_EQ(semNotas.out, "");
}

// The options that point a subcommand at a running simulator.
std::string Against(const test::SimulatorRig& rig) {
  const auto& pki = test::SharedPki();
  return " --uf sp --cnpj " + pki.cnpj + " --certificado '" + pki.companyPfx +
         "' --senha-certificado " + pki.password + " --servidores-hom '" + rig.hom + "' --log '" +
         rig.dir / "Log" + "' --log-erro '" + rig.dir / "LogErro" + "' --xml-destinatario '" +
         rig.dir / "Dest" + "' --verificar-servidor --cadeia-ca '" + pki.caCert + "'";
}

TEST(CommandLine, StatusQueryAndValidarWriteOnlyTheRepliesXmlToStdout) {
  QOR_NEEDS_SCHEMAS();
  test::SimulatorRig rig;
  CliRun run = Cli("status" + Against(rig), rig.dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(IsValidXml(run.out)) << run.out;
  EXPECT_EQ(GetValueTag("cStat", run.out), "107");
  EXPECT_EQ(ListFiles(rig.dir / "Log/", "*-ped-sta.xml").size(), 1u);
  run = Cli("consultar 35240111222333000181650010000000011123456780" + Against(rig), rig.dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(GetValueTag("cStat", run.out), "217") << run.out;

  // validar reports the offending element.
  const std::string request =
      "<consStatServ xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><tpAmb>%s</tpAmb>"
      "<cUF>35</cUF><xServ>STATUS</xServ></consStatServ>";
  WriteFile(rig.dir / "ok.xml", Format(request, {"2"}));
  WriteFile(rig.dir / "ruim.xml", Format(request, {"3"}));
  const std::string erros = " --log-erro '" + rig.dir / "LogErro" + "'";
  run = Cli("validar '" + rig.dir / "ok.xml" + "' STATUS" + erros, rig.dir);
  EXPECT_EQ(run.status, 0) << run.err;
  run = Cli("validar '" + rig.dir / "ruim.xml" + "' STATUS" + erros, rig.dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("tpAmb"));
}

TEST(CommandLine, DemoRunsTheRoadAndStatusRunsFromItsFileAlone) {
  QOR_NEEDS_SCHEMAS();
  TempDir dir;
  const std::string demo = dir / "demo/";
  const CliRun run = Cli("demo --pasta '" + dir / "demo" + "'", dir);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("cStat 107 - Serviço em Operação"));
  EXPECT_EQ(ListFiles(demo + "Log/", "*-ped-sta.xml").size(), 1u);
  EXPECT_EQ(ListFiles(demo + "Log/", "*-sta.xml").size(), 2u);
  EXPECT_TRUE(FileExists(demo + "nfceServidoresHom.ini"));
  EXPECT_TRUE(FileExists(demo + "pki/empresa.pfx"));
  // The sample TX2 note converted: one note, shown and saved, with its key computed.
  const std::string nota = ReadFile(demo + "nfce-convertida.xml");
  EXPECT_THAT(nota, StartsWith("<infNFe Id=\"NFe35"));
  EXPECT_THAT(run.out, HasSubstr(nota.substr(0, nota.find("\r\n"))));
  // ... then signed: xmlsec1 verifies the file as written and the official schema accepts it
  // with its infNFeSupl.
  const std::string assinada = ReadFile(demo + "nfce-assinada.xml");
  const std::string chave = GetXMLAttributeByIndex(assinada, "infNFe", "Id").substr(3);
  EXPECT_THAT(run.out, HasSubstr("chave " + chave + "\n    assinatura verificada"));
  EXPECT_EQ(test::SignatureError(assinada, "infNFe", demo + "pki/ca.pem"), "");
  EXPECT_EQ(test::SchemaError(assinada, "nfe_v4.00.xsd"), "");
  EXPECT_FALSE(GetValueTag("urlChave", assinada).empty());
  EXPECT_THAT(run.out, HasSubstr("162 regras aprovadas"));
  // ... then authorised, synchronously and through a receipt: two nfeProc that the official
  // schema accepts and xmlsec1 verifies.
  std::vector<std::string> processadas, offline;
  for (const std::string& proc : ListFiles(demo + "XmlDestinatario/", "*-nfce.xml")) {
    (proc[34] == '9' ? offline : processadas).push_back(proc);  // tpEmis is the key's 35th digit
  }
  EXPECT_EQ(processadas.size(), 2u);
  // The offline road's two notes, issued while the simulator refused connections and
  // transmitted once it was back.
  EXPECT_EQ(offline.size(), 2u);
  EXPECT_THAT(run.out, HasSubstr("Transmitir: enviadas 2, autorizadas 2, pendentes 0"));
  for (const std::string& proc : offline) {
    EXPECT_THAT(run.out, HasSubstr(proc.substr(0, 44) + "  autorizada  protocolo 1"));
  }
  processadas.insert(processadas.end(), offline.begin(), offline.end());
  for (const std::string& proc : processadas) {
    const std::string xml = ReadFile(demo + "XmlDestinatario/" + proc);
    EXPECT_EQ(test::SignatureError(xml, "infNFe", demo + "pki/ca.pem"), "");
    EXPECT_EQ(test::SchemaError(xml, "procNFe_v4.00.xsd"), "");
  }
  EXPECT_THAT(run.out, HasSubstr("chave " + chave + "\n    cStat 100 - Autorizado o uso da NF-e"));
  // ... the second one read back from its nfeProc into TX2: converted again and put in place of
  // the signed infNFe, the nfeProc still verifies.
  EXPECT_THAT(run.out, HasSubstr("convertido de novo: infNFe idêntico ao nfeProc autorizado"));
  const CliRun relida = Cli("converter '" + demo + "nfce-lida.tx2'", dir);
  ASSERT_EQ(relida.status, 0) << relida.err;
  const std::string segunda = processadas[0].starts_with(chave) ? processadas[1] : processadas[0];
  std::string proc2 = ReadFile(demo + "XmlDestinatario/" + segunda);
  const std::size_t inicio = proc2.find("<infNFe ");
  proc2.replace(inicio, proc2.find("</infNFe>") + 9 - inicio,
                relida.out.substr(0, relida.out.find("</infNFe>") + 9));
  EXPECT_THAT(relida.out, HasSubstr(segunda.substr(0, 44)));
  EXPECT_EQ(test::SignatureError(proc2, "infNFe", demo + "pki/ca.pem"), "");
  // ... then cancelled (101 to the query), a range voided and a contingency note in EPEC: each
  // file verified by xmlsec1 and its official schema.
  EXPECT_THAT(run.out, HasSubstr("ConsultarNF: cStat 101 - Cancelamento de NF-e homologado"));
  const struct {
    const char *mascara, *elemento, *esquema;
  } eventos[] = {{"*-caneve.xml", "infEvento", "procEventoCancNFe_v1.00.xsd"},
                 {"*-inut.xml", "infInut", "procInutNFe_v4.00.xsd"},
                 {"*-epec.xml", "infEvento", "procEventoNFe_v1.00.xsd"}};
  for (const auto& evento : eventos) {
    const auto arquivos = ListFiles(demo + "XmlDestinatario/", evento.mascara);
    ASSERT_EQ(arquivos.size(), 1u) << evento.mascara;
    const std::string xml = ReadFile(demo + "XmlDestinatario/" + arquivos.front());
    EXPECT_EQ(test::SignatureError(xml, evento.elemento, demo + "pki/ca.pem"), "");
    EXPECT_EQ(test::SchemaError(xml, evento.esquema), "");
  }

  {
    // The demo's simulator is gone; another one on the demo's folder and certificates takes
    // its place, as `qornfce simulador --pasta <demo>` would, and rewrites the server files.
    sim::SimulatorOptions options;
    options.workFolder = demo;
    options.schemasFolder = test::SchemasFolder();
    options.caCert = demo + "pki/ca.pem";
    options.serverCert = demo + "pki/servidor.pem";
    options.serverKey = demo + "pki/servidor-key.pem";
    sim::Simulator simulator(options);
    simulator.Start();
    simulator.WriteServerFiles(demo + "nfceServidoresProd.ini", demo + "nfceServidoresHom.ini");
    const CliRun status = Cli("--config '" + demo + "nfceConfig.ini' status", dir);
    ASSERT_EQ(status.status, 0) << status.err;
    EXPECT_EQ(GetValueTag("cStat", status.out), "107") << status.out;
    // It knows the notes the demo authorised, and the one it cancelled.
    std::set<std::string> situacoes;
    for (const std::string& proc : processadas) {
      situacoes.insert(GetValueTag(
          "cStat",
          Cli("--config '" + demo + "nfceConfig.ini' consultar " + proc.substr(0, 44), dir).out));
    }
    EXPECT_EQ(situacoes, (std::set<std::string>{"100", "101"}));
    // The file verifies the server against the demo's authority.
    const auto ini = TIniFile::FromText(ReadFile(demo + "nfceConfig.ini"));
    EXPECT_EQ(ini->ReadString("NFCE", "IgnoreInvalidCertificates", ""), "0");
    EXPECT_EQ(ini->ReadString("NFCE", "ArquivoCadeiaCertificados", ""), demo + "pki/ca.pem");
    simulator.Stop();
  }
  // ... and the DANFCE of the second note in five forms: the QR code of its PDF, PNG and HTML
  // reads as the note's, its PDF holds the key in groups and the amount to pay, the receipt
  // prints in PC850; the cancelled note carries the stamp.
  [&] {
    QOR_NEEDS_DANFCE_TOOLS();
    const auto cancelada = ListFiles(demo + "Danfce/", "*-cancelada.pdf");
    const auto pdfs =
        ListFiles(demo + "Danfce/", "????????????????????????????????????????????.pdf");
    ASSERT_EQ(pdfs.size(), 1u);
    ASSERT_EQ(cancelada.size(), 1u);
    const std::string chave2 = pdfs.front().substr(0, 44);
    const std::string base = demo + "Danfce/" + chave2;
    const std::string qr =
        Trim(GetValueTag("qrCode", ReadFile(demo + "XmlDestinatario/" + chave2 + "-nfce.xml")));
    EXPECT_EQ(test::QrCodesOfPdf(base + ".pdf", dir / "pagina"), std::set<std::string>{qr});
    EXPECT_EQ(test::QrCodes(base + ".png"), std::set<std::string>{qr});
    EXPECT_EQ(test::QrCodesOfHtml(base + ".html", dir / "tela.png"), std::set<std::string>{qr});
    std::string texto;
    RunCommand("pdftotext -layout '" + base + ".pdf' -", &texto);
    EXPECT_THAT(texto, HasSubstr(chave2.substr(0, 4) + " " + chave2.substr(4, 4)));
    EXPECT_THAT(texto, ::testing::ContainsRegex("VALOR A PAGAR R\\$ +[0-9]+,[0-9][0-9]"));
    EXPECT_THAT(ReadFile(base + ".txt"), HasSubstr("CONSUMIDOR NÃO IDENTIFICADO"));
    RunCommand("iconv -f CP850 -t UTF-8 '" + base + "-escpos.bin'", &texto);
    EXPECT_THAT(texto, HasSubstr("CONSUMIDOR NÃO IDENTIFICADO"));
    RunCommand("pdftotext '" + demo + "Danfce/" + cancelada.front() + "' -", &texto);
    EXPECT_THAT(texto, HasSubstr("NOTA CANCELADA"));
  }();

  // ... and mailed the second note's XML and DANFCE to its local server; `enviar-email` sends
  // the same from the configuration file to another server.
  [&] {
    QOR_NEEDS_AIOSMTPD();
    const auto pdfs =
        ListFiles(demo + "Danfce/", "????????????????????????????????????????????.pdf");
    ASSERT_EQ(pdfs.size(), 1u);
    const std::string chave2 = pdfs.front().substr(0, 44);
    const std::string proc = demo + "XmlDestinatario/" + chave2 + "-nfce.xml";
    const auto recebidas = ListFiles(demo + "caixa/new/", "*");
    ASSERT_EQ(recebidas.size(), 1u);
    test::SmtpServer outro(dir / "", {}, test::SharedPki());
    ASSERT_EQ(Cli("--config '" + demo + "' configurar MAIL.ServidorSmtp=127.0.0.1 MAIL.Porta=" +
                      std::to_string(outro.port) + " MAIL.EmailRemetente=loja@exemplo.com.br",
                  dir)
                  .status,
              0);
    const CliRun enviado =
        Cli("--config '" + demo + "' enviar-email '" + proc + "' cliente@exemplo.com.br", dir);
    ASSERT_EQ(enviado.status, 0) << enviado.err;
    ASSERT_EQ(outro.Messages().size(), 1u);
    for (const std::string& mensagem : {demo + "caixa/new/" + recebidas[0], outro.Messages()[0]}) {
      const std::string lido = test::SmtpServer::Read(mensagem);
      EXPECT_THAT(lido, HasSubstr("X-RcptTo: cliente@exemplo.com.br\n"));
      EXPECT_THAT(
          lido, HasSubstr("Anexo: " + chave2 + "-nfce.xml application/xml " + test::Sha256Of(proc) +
                          "\nAnexo: " + chave2 + ".pdf application/pdf "));
    }
  }();

  // A second run on the same folder issues new numbers: the state refuses no duplicate.
  EXPECT_EQ(Cli("demo --pasta '" + dir / "demo" + "'", dir).status, 0);
}

std::string Shell(const std::string& command) {
  std::string out;
  EXPECT_EQ(RunCommand(command, &out), 0) << command << "\n" << out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

TEST(CommandLine, ChaveAndLogs) {
  TempDir dir;
  const CliRun chave =
      Cli("chave 2015-03-20T10:15:00-03:00 41 11222333000181 65 1 123 4567 1" + Logs(dir), dir);
  EXPECT_EQ(chave.status, 0) << chave.err;
  EXPECT_EQ(chave.out, "41150311222333000181650010000001231000045678\n");

  for (const char* nome : {"4115-env-lot.xml", "3515-env-lot.xml", "41150-nfce.xml", "1-sta.xml"}) {
    WriteFile(dir / "Log/" + nome, "<x/>");
  }
  EXPECT_EQ(Cli("logs EnvLot" + Logs(dir), dir).out,
            dir / "Log/3515-env-lot.xml\n" + dir / "Log/4115-env-lot.xml\n");
  EXPECT_EQ(Cli("logs envlot 4115" + Logs(dir), dir).out, dir / "Log/4115-env-lot.xml\n");
  EXPECT_EQ(Cli("logs Custom '*-nfce.xml'" + Logs(dir), dir).out, dir / "Log/41150-nfce.xml\n");
  EXPECT_THAT(Cli("logs" + Logs(dir), dir).out, HasSubstr("1-sta.xml"));
}

// The QR link of a note signed by xmlsec1, whose hash sha1sum reproduces from the standard's
// recipe.
TEST(CommandLine, QrCodeOfANoteSignedByXmlsec1) {
  TempDir dir;
  const auto& pki = test::SharedPki();
  const std::string chave =
      Cli("chave 2019-05-10T14:30:00-03:00 35 " + pki.cnpj + " 65 1 42 1234 1" + Logs(dir), dir)
          .out.substr(0, 44);
  ASSERT_EQ(chave.size(), 44u);
  WriteFile(dir / "nota.xml", Format(R"(<NFe xmlns="http://www.portalfiscal.inf.br/nfe">
<infNFe versao="4.00" Id="NFe%s"><ide><cUF>35</cUF><dhEmi>2019-05-10T14:30:00-03:00</dhEmi>
<tpEmis>1</tpEmis><tpAmb>2</tpAmb></ide><emit><CNPJ>%s</CNPJ></emit><total><ICMSTot>
<vICMS>0.00</vICMS><vNF>10.00</vNF></ICMSTot></total></infNFe>
<Signature xmlns="http://www.w3.org/2000/09/xmldsig#"><SignedInfo>
<CanonicalizationMethod Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/>
<SignatureMethod Algorithm="http://www.w3.org/2000/09/xmldsig#rsa-sha1"/><Reference URI="#NFe%s">
<Transforms><Transform Algorithm="http://www.w3.org/2000/09/xmldsig#enveloped-signature"/>
<Transform Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/></Transforms>
<DigestMethod Algorithm="http://www.w3.org/2000/09/xmldsig#sha1"/><DigestValue/></Reference>
</SignedInfo><SignatureValue/><KeyInfo><X509Data/></KeyInfo></Signature></NFe>)",
                                     {chave, pki.cnpj, chave}));
  Shell("xmlsec1 --sign --privkey-pem '" + pki.companyKeyPem + "," + pki.companyCertPem +
        "' --id-attr:Id " + kNfeNs + ":infNFe --output '" + dir / "assinada.xml" + "' '" +
        dir / "nota.xml" + "' 2>&1");
  const std::string digest = Shell("xmllint --xpath \"string(//*[local-name()='DigestValue'])\" '" +
                                   dir / "assinada.xml" + "'");
  ASSERT_EQ(digest.size(), 28u);

  WriteFile(dir / "hom.ini", "[SP]\nURLQRCODE=https://hom.exemplo.gov.br/nfce/qrcode?\n");
  WriteFile(dir / "prod.ini", "[SP]\nURLQRCODE=https://www.exemplo.gov.br/nfce/qrcode\n");
  const std::string servers = " --uf SP --servidores-hom '" + dir / "hom.ini" +
                              "' --servidores-prod '" + dir / "prod.ini" + "'" + Logs(dir);
  const CliRun qr = Cli("qrcode '" + dir / "assinada.xml" + "'" + servers, dir);
  ASSERT_EQ(qr.status, 0) << qr.err;

  // Homologation without a configured CSC: the default test CSC, identifier 1, online form.
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string csc =
      pki.cnpj.substr(0, 8) + std::to_string(local.tm_year + 1900) + kSufixoCscHomologacao;
  const std::string parametros = chave + "|2|2|1";
  WriteFile(dir / "hash.txt", parametros + csc);
  std::string hash = Shell("sha1sum '" + dir / "hash.txt" + "'").substr(0, 40);
  for (char& c : hash) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(qr.out, "https://hom.exemplo.gov.br/nfce/qrcode?p=" + parametros + "|" + hash + "\n");

  const CliRun vazio = Cli("qrcode '" + dir / "hom.ini" + "'" + servers, dir);
  EXPECT_EQ(vazio.status, 1);
  EXPECT_THAT(vazio.err,
              StartsWith("Ocorreu um erro na geração do link do QRCode com a seguinte mensagem: "));
}

// Last in the program: the key file it names stays in the environment of the tests after it.
TEST(CommandLine, ConfigurarStoresSecretsProtectedAndMostrarMasksThem) {
  TempDir dir;
  ::setenv("QORNFCE_KEY_FILE", (dir / "chave.key").c_str(), 1);  // inherited by the command
  const std::string ini = dir / "nfceConfig.ini";
  const std::string config = "--config '" + ini + "'";
  const CliRun set =
      Cli("configurar DANFCE.TokenNFCe=CSC-0123-ABCD DANFCE.IdTokenNFCe=000001 NFCE.UF=sp "
          "'MAIL.Mensagem=Prezado cliente,' NFCE.PinCode=4321 " +
              config,
          dir);
  ASSERT_EQ(set.status, 0) << set.err;
  const std::string text = ReadFile(ini);
  for (const char* secret : {"CSC-0123-ABCD", "000001", "4321"}) {
    EXPECT_THAT(text, Not(HasSubstr(secret)));
  }
  TqorNFCe nfce;  // the file gives back exactly what was set
  nfce.LoadConfig(ini);
  EXPECT_EQ(nfce.GetDanfceSettings().GetTokenNFCe(), "CSC-0123-ABCD");
  EXPECT_EQ(nfce.GetDanfceSettings().GetIdTokenNFCe(), "000001");
  EXPECT_EQ(nfce.GetPinCode(), "4321");
  EXPECT_EQ(nfce.GetUF(), "SP");  // through the property: stored in upper case
  EXPECT_EQ(nfce.GetEmailSettings().GetMensagem(), "Prezado cliente,");

  // Before the subcommand, as after it.
  const CliRun show = Cli(config + " configurar --mostrar", dir);
  ASSERT_EQ(show.status, 0) << show.err;
  for (const char* line :
       {"[NFCE]\n", "\nUF=SP\n", "\nTokenNFCe=********\n", "\nIdTokenNFCe=********\n",
        "\nPinCode=********\n", "\nSenha=\n", "\n[ESCPOS]\n"}) {
    EXPECT_THAT(show.out, HasSubstr(line));
  }
  for (const char* secret : {"CSC-0123-ABCD", "000001", "4321"}) {
    EXPECT_THAT(show.out, Not(HasSubstr(secret)));
  }
  // The file was created for its owner only, so nothing warns; opened to others, it warns.
  EXPECT_EQ(show.err, "");
  ASSERT_EQ(::chmod(ini.c_str(), 0644), 0);
  EXPECT_THAT(Cli(config + " configurar --mostrar", dir).err,
              HasSubstr("qornfce: aviso: " + ini +
                        " guarda senhas ou chaves e pode ser lido por outros usuários (modo "
                        "0644); use chmod 600"));
  ASSERT_EQ(::chmod(ini.c_str(), 0600), 0);
  ASSERT_EQ(::chmod((dir / "chave.key").c_str(), 0640), 0);
  EXPECT_THAT(Cli(config + " configurar --mostrar", dir).err, HasSubstr(dir / "chave.key"));
  ASSERT_EQ(::chmod((dir / "chave.key").c_str(), 0600), 0);

  // Refused arguments write nothing: unknown or write-only keys and mistyped values are bad
  // usage (2); a value its property refuses is a failure (1).
  struct Caso {
    std::string args;
    int status;
    std::string err;
  };
  for (const Caso& caso : std::vector<Caso>{
           {"NFCE.UF=RS NFCE.Nada=1", 2, "chave desconhecida: NFCE.Nada"},
           {"NFCE.Repositorio=X", 2, "NFCE.TipoCertificado"},
           {"DANFCE.QtdeCopias=duas", 2, "valor inválido para DANFCE.QtdeCopias: duas"},
           {"NFCE.UF", 2, "SECAO.CHAVE=VALOR"},
           {"NFCE.CNPJ=1 NFCE.UF=XX", 1,
            "Erro ao carregar configurações: a sigla da UF XX, é inválida.\n"},
       }) {
    const CliRun run = Cli("configurar " + caso.args + " " + config, dir);
    EXPECT_EQ(run.status, caso.status) << caso.args;
    EXPECT_THAT(run.err, HasSubstr(caso.err));
    EXPECT_EQ(ReadFile(ini), text) << caso.args;
  }

  // A named file that does not exist is an error; status does not fall back to another one.
  const CliRun missing = Cli("--config '" + dir / "falta.ini" + "' status", dir);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "Arquivo " + dir / "falta.ini" + " não foi encontrado\n");
  // A configuration whose protected values belong to another installation stops with the cause.
  ::setenv("QORNFCE_KEY_FILE", (dir / "outra.key").c_str(), 1);
  const CliRun otherKey = Cli(config + " configurar --mostrar", dir);
  EXPECT_EQ(otherKey.status, 1);
  EXPECT_THAT(otherKey.err,
              StartsWith("Erro ao carregar configurações: Chave PinCode da seção NFCE: "));
}

// A command opens only what it uses. Each row runs with the dynamic loader's own log of the
// libraries it loads (LD_DEBUG=files, which also sees those opened later with dlopen): the
// certificate is a path that does not exist where the command neither signs nor sends, and the
// HTTP library and the renderer's libraries are loaded only by a command that talks to a server
// or draws. libxml2, linked into every run, shows that the log was written.
TEST(CommandLine, CommandsOpenOnlyTheLibrariesAndFilesTheyUse) {
  QOR_NEEDS_SCHEMAS();
  test::SimulatorRig rig;
  const std::string exemplos = std::string(QORNFCE_SOURCE_DIR) + "/data/exemplos/";
  WriteFile(rig.dir / "nota.tx2", ReadFile(exemplos + "nfce-um-item-dinheiro.tx2"));
  WriteFile(rig.dir / "status.xml",
            "<consStatServ xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\">"
            "<tpAmb>2</tpAmb><cUF>35</cUF><xServ>STATUS</xServ></consStatServ>");
  const std::string semCertificado = " --uf SP --certificado '" + rig.dir / "nao-existe.pfx" +
                                     "' --senha-certificado 1234 --servidores-hom '" +
                                     rig.dir / "nao-existe.ini" + "'" + Logs(rig.dir);
  const CliRun convertido =
      Cli("converter '" + rig.dir / "nota.tx2" + "'" + Logs(rig.dir), rig.dir);
  ASSERT_EQ(convertido.status, 0) << convertido.err;
  WriteFile(rig.dir / "nota.xml", convertido.out);
  struct Caso {
    std::string args;
    bool curl, cairo;
  };
  const std::string cli = std::string(QORNFCE_BIN_DIR) + "/qornfce";
  int n = 0;
  for (const Caso& caso : {
           Caso{"status --help", false, false},
           Caso{"converter '" + rig.dir / "nota.tx2" + "'" + semCertificado, false, false},
           Caso{"validar '" + rig.dir / "status.xml" + "' STATUS" + semCertificado, false, false},
           Caso{"assinar '" + rig.dir / "nota.xml" + "'" + Against(rig), false, false},
           Caso{"status" + Against(rig), true, false},
       }) {
    SCOPED_TRACE(caso.args);
    const std::string log = rig.dir / ("ld-" + std::to_string(++n));
    const int status =
        RunCommand("(LD_DEBUG=files LD_DEBUG_OUTPUT='" + log + "' " + cli + " " + caso.args +
                   " >'" + rig.dir / "out.txt" + "' 2>'" + rig.dir / "err.txt" + "')");
    EXPECT_EQ(status, 0) << ReadFile(rig.dir / "err.txt");
    std::string carregadas;
    for (const std::string& file : ListFiles(rig.dir / "", "ld-" + std::to_string(n) + ".*")) {
      carregadas += ReadFile(rig.dir / file);
    }
    EXPECT_THAT(carregadas, HasSubstr("libxml2.so.2"));
    EXPECT_EQ(carregadas.find("libcurl.so.4") != std::string::npos, caso.curl);
    EXPECT_EQ(carregadas.find("libcairo.so.2") != std::string::npos, caso.cairo);
    EXPECT_EQ(carregadas.find("libpango-1.0.so.0") != std::string::npos, caso.cairo);
  }
}

}  // namespace
}  // namespace qor
