// The DANFCE of notes the simulator authorised, made by the component's print operations and by
// the command line, read back with tools the library did not write: pdftotext and pdffonts for
// the PDF, zbarimg for the QR code of every image, chromium for the HTML, iconv for the receipt.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "support/Cli.h"
#include "support/Cups.h"
#include "support/SimulatorFixture.h"

namespace qor {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kBin = QORNFCE_BIN_DIR;

class DanfceRoad : public test::SimulatorRoad {
 protected:
  static std::string QrCode(const std::string& arquivo) {
    return Trim(GetValueTag("qrCode", ReadFile(arquivo)));
  }
  std::string Run(const std::string& command) {
    std::string out;
    EXPECT_EQ(RunCommand(command, &out), 0) << command << ": " << out;
    return out;
  }
  std::set<std::string> DecodedPdf(const std::string& pdf) {
    return test::QrCodesOfPdf(pdf, rig->dir / ("pagina" + std::to_string(++paginas_)));
  }
  int paginas_ = 0;
  std::string Exportar(const std::string& xml, int formato, const std::string& nome,
                       const std::string& modelo = {}) {
    nfce.ExportarDanfce("", xml, rig->dir / nome, formato, modelo);
    return rig->dir / nome;
  }
};

// One authorised note in every form: what a consumer must find on it, and its QR code read back
// as the note's own link (the HTML's through chromium: in the demo's test).
TEST_F(DanfceRoad, EveryFormatOfAnAuthorisedNote) {
  QOR_NEEDS_DANFCE_TOOLS();
  const std::string proc = AutorizarExemplo("nfce-cartao-troco.tx2", 7001,
                                            {"CAFE TORRADO E MOIDO 500G", "CAFE <b>& CIA 500G"});
  const std::string chave = GetValueTag("chNFe", ReadFile(proc));
  const std::string qr = QrCode(proc);
  ASSERT_FALSE(qr.empty());

  const std::string pdf = Exportar(proc, 1, "nota.pdf");
  const std::string texto = Run("pdftotext -layout " + pdf + " -");
  for (const std::string& esperado :
       {test::KeyInGroupsOfFour(chave).substr(0, 39), std::string("CAFE <b>& CIA 500G"),
        std::string("VALOR A PAGAR R$"), std::string("TROCO R$"),
        std::string("CONSUMIDOR NÃO IDENTIFICADO"), std::string("Cartão de Crédito")}) {
    EXPECT_THAT(texto, HasSubstr(esperado)) << texto;
  }
  EXPECT_THAT(texto, ::testing::ContainsRegex("VALOR A PAGAR R\\$ +57,15"));
  EXPECT_EQ(DecodedPdf(pdf), std::set<std::string>{qr});

  const std::string png = nfce.VisualizarDanfce("", proc, "");
  EXPECT_EQ(test::QrCodes(png), std::set<std::string>{qr});

  const std::string html = Exportar(proc, 2, "nota.html");
  EXPECT_THAT(ReadFile(html), HasSubstr("CAFE &lt;b&gt;&amp; CIA 500G"));
  EXPECT_THAT(ReadFile(html), Not(HasSubstr("src=\"http")));

  std::istringstream txt(ReadFile(Exportar(proc, 3, "nota.txt")));
  EXPECT_THAT(nfce.GetParamsDanfce().Values("ModeloDanfce"),
              ::testing::EndsWith("/retrato_texto.rtm"));
  int linhas = 0;
  for (std::string linha; std::getline(txt, linha); ++linhas)
    EXPECT_LE(Utf8Length(linha), 48u) << linha;
  EXPECT_GT(linhas, 20);

  // The receipt of a 58 mm roll from the command line: the QR code the printer is given is the
  // note's, the text is in the configured code page (PC850).
  nfce.SaveConfig(rig->dir / "nfceConfig.ini");
  const auto run = test::Cli("--config " + rig->dir / "nfceConfig.ini" + " danfce " + proc +
                                 " --formato escpos --largura 58 --saida " + rig->dir / "r.bin",
                             rig->dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string recibo = ReadFile(rig->dir / "r.bin");
  // GS ( k pL pH 49 80 48 d1...dk stores the QR data: k = pL + 256 pH - 3.
  std::size_t dados = std::string::npos;
  for (std::size_t p = 0; (p = recibo.find("\x1d(k", p)) != std::string::npos; p += 3) {
    if (recibo.compare(p + 5, 3, "\x31\x50\x30") == 0) dados = p;
  }
  ASSERT_NE(dados, std::string::npos);
  const std::size_t tamanho = static_cast<unsigned char>(recibo[dados + 3]) +
                              256 * static_cast<unsigned char>(recibo[dados + 4]) - 3;
  EXPECT_EQ(recibo.substr(dados + 8, tamanho), qr);
  EXPECT_THAT(Run("iconv -f CP850 -t UTF-8 " + rig->dir / "r.bin"),
              HasSubstr("CONSUMIDOR NÃO IDENTIFICADO"));
  // A network printer's port is an address: a refused one is named, and no file takes its name.
  const auto recusada = test::Cli("--config " + rig->dir / "nfceConfig.ini" + " danfce " + proc +
                                      " --formato escpos --saida tcp:127.0.0.1:1",
                                  rig->dir);
  EXPECT_EQ(recusada.status, 1);
  EXPECT_THAT(recusada.err, HasSubstr("tcp:127.0.0.1:1"));
  EXPECT_TRUE(ListFiles(rig->dir.path(), "tcp*").empty());
}

// Printed on a CUPS queue of a scheduler of the test's own: the queue receives the note's PDF;
// a queue that does not exist is refused with lp's own words.
TEST_F(DanfceRoad, PrintsOnACupsQueue) {
  QOR_NEEDS(test::HaveTool("cupsd") && test::HaveTool("lpadmin") && test::HaveTool("lp") &&
                test::HaveTool("pdftotext"),
            "cups-daemon, cups-client or poppler-utils");
  const std::string proc = AutorizarExemplo("nfce-um-item-dinheiro.tx2", 7301);
  test::Cupsd cups(rig->dir / "cups/");
  ASSERT_TRUE(cups.Ready()) << "cupsd did not start: " << cups.Log();
  const std::string saida = cups.AddQueue("danfce", "danfce.pdf");
  nfce.ImprimirDanfce("", proc, "", "danfce");
  for (int i = 0; i < 100 && ReadFile(saida).size() < 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(ReadFile(saida).substr(0, 4), "%PDF") << cups.Log();
  EXPECT_THAT(
      Run("pdftotext -layout " + saida + " -"),
      HasSubstr(test::KeyInGroupsOfFour(GetValueTag("chNFe", ReadFile(proc))).substr(0, 24)));
  EXPECT_TRUE(ListFiles(GetTempDir(), "danfce-*.pdf").empty()) << "a temporary PDF was left";
  try {
    nfce.ImprimirDanfce("", proc, "", "nenhumafila");
    ADD_FAILURE() << "printed on a queue that does not exist";
  } catch (const EqorException& e) {
    EXPECT_THAT(e.what(), HasSubstr("nenhumafila"));
    EXPECT_THAT(e.what(), HasSubstr("lp:"));
  }
}

// Two notes of a batch each count their own items and show their own QR code, page by page;
// a note printed with its cancellation carries the stamp.
TEST_F(DanfceRoad, EachNoteOfABatchAndACancelledNote) {
  QOR_NEEDS_DANFCE_TOOLS();
  const std::string a = AutorizarExemplo("nfce-cartao-troco.tx2", 7101);
  const std::string b = AutorizarExemplo("nfce-consumidor-identificado.tx2", 7102);
  const std::string ambas = rig->dir / "ambas.xml";
  WriteFile(ambas, ReadFile(a) + ReadFile(b));
  const std::string pdf = Exportar(ambas, 1, "ambas.pdf");
  EXPECT_EQ(DecodedPdf(pdf), (std::set<std::string>{QrCode(a), QrCode(b)}));
  const std::string texto = Run("pdftotext -layout " + pdf + " -");
  EXPECT_THAT(texto, ::testing::ContainsRegex("QTD. TOTAL DE ITENS +3"));
  EXPECT_THAT(texto, ::testing::ContainsRegex("QTD. TOTAL DE ITENS +2"));
  EXPECT_THAT(texto, Not(HasSubstr("NOTA CANCELADA")));
  // ... and printed in turn by one component, each its own.
  EXPECT_EQ(DecodedPdf(Exportar(a, 1, "a.pdf")), std::set<std::string>{QrCode(a)});
  EXPECT_EQ(DecodedPdf(Exportar(b, 1, "b.pdf")), std::set<std::string>{QrCode(b)});

  const std::string proc = ReadFile(a);
  const std::string resposta =
      nfce.CancelarNF(GetValueTag("chNFe", proc), GetValueTag("nProt", proc),
                      "Cliente desistiu da compra", "", 1, "", "");
  ASSERT_THAT(resposta, HasSubstr("<cStat>135</cStat>"));
  const std::string caneve =
      rig->dir / "XmlDestinatario/" + GetValueTag("chNFe", proc) + "-caneve.xml";
  const std::string cancelada = Exportar(a + ", " + caneve, 1, "cancelada.pdf");
  EXPECT_THAT(Run("pdftotext -layout " + cancelada + " -"), HasSubstr("NOTA CANCELADA"));
}

// Refusals name their cause; a preview prints its phrase; the save dialog decides where an
// export goes; a failed export leaves the older file as it was.
TEST_F(DanfceRoad, RefusalsPreviewsAndTheSaveDialog) {
  QOR_NEEDS_DANFCE_TOOLS();
  const std::string proc = AutorizarExemplo("nfce-um-item-dinheiro.tx2", 7201);
  const std::string xml = ReadFile(proc);
  const std::string outro = rig->dir / "outro.xml";
  WriteFile(outro, xml);
  std::string semProtocolo = xml;
  semProtocolo.erase(semProtocolo.find("<protNFe"),
                     semProtocolo.find("</protNFe>") + 10 - semProtocolo.find("<protNFe"));
  std::string negada = xml;
  ReplaceAll(negada, "<cStat>100</cStat>", "<cStat>110</cStat>");
  std::string impressao1 = xml;
  ReplaceAll(impressao1, "<tpImp>4</tpImp>", "<tpImp>1</tpImp>");
  std::string semQr = xml;
  semQr.erase(semQr.find("<infNFeSupl>"),
              semQr.find("</infNFeSupl>") + 13 - semQr.find("<infNFeSupl>"));
  const std::string carregar = "Problema ao carregar lote de notas para impressão: ";
  const struct {
    const char* caso;
    std::string entrada, modelo, mensagem;
  } casos[] = {
      {"empty", "", "", carregar + "Não foi informado um XML de autorização válido."},
      {"two notes", proc + "," + outro, "",
       carregar + "Não foi informado um XML de autorização ou cancelamento válido."},
      {"not a cancellation", xml + "<procEventoNFe><tpEvento>110140</tpEvento></procEventoNFe>", "",
       carregar + "Não foi informado um XML de cancelamento autorizado válido."},
      {"no protocol", semProtocolo, "", "O Xml não é válido para impressão em modo Normal"},
      {"denied", negada, "", "Danfce não autorizada para Impressão."},
      {"tpImp 1", impressao1, "",
       "Formato de DANFCE desconhecido [Utilizar: 4 - Normal ou 5 - Mensagem Eletrônica]"},
      {"no layout", xml, rig->dir / "nenhum.rtm",
       "Arquivo \"" + rig->dir / "nenhum.rtm" + "\" não encontrado."},
  };
  for (const auto& c : casos) {
    try {
      Exportar(c.entrada, 1, "recusada.pdf", c.modelo);
      ADD_FAILURE() << c.caso << ": no refusal";
    } catch (const EqorException& e) {
      EXPECT_EQ(e.what(), c.mensagem) << c.caso;
    }
    EXPECT_FALSE(FileExists(rig->dir / "recusada.pdf")) << c.caso;
  }
  // A note without its QR code gets one made for it, in the state configured only.
  nfce.SetUF("RJ");
  EXPECT_THROW(Exportar(semQr, 1, "recusada.pdf"), EqorNFCeConfigException);
  nfce.SetUF("SP");
  EXPECT_EQ(DecodedPdf(Exportar(semQr, 1, "feita.pdf")), std::set<std::string>{QrCode(proc)});

  // EPEC: a date-time of 24 characters is refused, one of 25 printed with the EPEC protocol.
  EXPECT_THROW(nfce.ExportarEPEC(xml, "135260000000001", "", rig->dir / "e.pdf", 1,
                                 "2026-12-07T10:00:00-03:0"),
               EqorNFCeEpecDataHoraInvalidaException);
  EXPECT_THROW(nfce.ExportarEPEC(xml, "", "", rig->dir / "e.pdf", 1, "2026-12-07T10:00:00-03:00"),
               EqorNFCeEpecProtocoVazioException);
  EXPECT_THROW(nfce.ExportarEPEC(xml, "135260000000001", "", rig->dir / "e.pdf", 1, ""),
               EqorNFCeEpecDataHoraVazioException);
  nfce.ExportarEPEC(xml, "135260000000001", "", rig->dir / "e.pdf", 1, "2026-12-07T10:00:00-03:00");
  EXPECT_TRUE(FileExists(rig->dir / "e.pdf"));

  // The save dialog: cancelled, nothing is written; a name, the preview goes there.
  std::string pedido;
  nfce.OnSalvarComo = [&](const std::string& extensao, const std::string& filtro) {
    pedido = extensao + " " + filtro;
    return std::string();
  };
  nfce.ExportarPreverDanfce(xml, "", "");
  EXPECT_EQ(pedido, "pdf Arquivo PDF (*.pdf)|*.pdf");
  nfce.OnSalvarComo = [&](const std::string&, const std::string&) {
    return rig->dir / "previa.pdf";
  };
  nfce.ExportarPreverDanfce(xml, "", "");
  EXPECT_THAT(Run("pdftotext -layout " + rig->dir / "previa.pdf -"),
              HasSubstr("PREVISÃO DE DANFCE. SEM VALOR FISCAL"));

  // The layout check hands the layout the note prints with to the host.
  std::string layout;
  nfce.OnEditarModeloDanfce = [&](const std::string& arquivo) { layout = arquivo; };
  nfce.EditarModeloDanfce("", proc, "");
  EXPECT_THAT(layout, ::testing::EndsWith("/Danfce/retrato.rtm"));
  nfce.GetDanfceSettings().SetFormatoDanfce(static_cast<TFormatoDanfce>(7));
  EXPECT_THROW(Exportar(proc, 1, "x.pdf"), EqorNFCeFormatoDanfceInvalidoException);
  nfce.GetDanfceSettings().SetFormatoDanfce(TFormatoDanfce::fdNormal);

  // A layout that does not parse: the export fails and the older file keeps its bytes.
  WriteFile(rig->dir / "quebrado.rtm", "band SemFim\n");
  const std::string antes = ReadFile(rig->dir / "previa.pdf");
  EXPECT_THROW(Exportar(proc, 1, "previa.pdf", rig->dir / "quebrado.rtm"), EqorException);
  EXPECT_EQ(ReadFile(rig->dir / "previa.pdf"), antes);
  try {
    nfce.ExportarPreverDanfce(xml, rig->dir / "quebrado.rtm", rig->dir / "previa.pdf");
    ADD_FAILURE() << "a preview on a broken layout";
  } catch (const EqorNFCeException& e) {
    EXPECT_THAT(e.what(), ::testing::StartsWith("Falha ao Exportar o PDF de previsão: "));
  }
  EXPECT_EQ(ReadFile(rig->dir / "previa.pdf"), antes);
}

}  // namespace
}  // namespace qor
