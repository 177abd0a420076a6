// The report engine through TqorGovX, checked with tools it did not write: pdftotext / pdffonts
// (poppler), zbarimg (the QR codes of the PNG, of the PDF rasterised by pdftoppm, of the HTML
// as chromium draws it), and a real cupsd for printing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "platform/DataSet.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/GovX.h"
#include "platform/Text.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "support/Tools.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::WriteFile;

const std::string kLayouts = std::string(QORNFCE_BIN_DIR) + "/Templates/vm60/Danfce/";

const char* const kDadosFields =
    "CodBarra CodBarraDadosNFe NatOper Serie DtEmissao DtEmissaoFormatoOriginal DtSaida nNF nTpNF "
    "tpEmis EmitNome EmitCNPJ EmitIE EmitIEST EmitLogradouro EmitEnd EmitNumero EmitBairro EmitMun "
    "EmitUF EmitCep EmitIM EmitFone EmitPais EmitFantasia LogotipoEmitente DestNome DestCNPJ "
    "DestIE "
    "DestLogradouro DestEnd DestNumero DestBairro DestMun DestUF DestCep DestFoneFax DestPaisCod "
    "DestPais DestEmail BaseCalcIcms ValorIcms BaseCalcIcmsSubs ValorIcmsSubs ValorTotProd "
    "ValorFrete ValorSeguro Desconto OutrasDesp ValorIPI ValorTotNota BaseCalcISSQN ValorTotServ "
    "ValorTotISSQN ValorTotCOFINS ValorTotPIS ValorTotTrib ValorTotOutro ValorAcrescimo "
    "ValorTotOutroServico ObsContribuinte nProt nProtEpec dhRecbto FraseHomologacao "
    "FraseContingencia DestComplemento EmitComplemento xMsg tpAmb QuantidadeItensNota URLQRCode "
    "URLChave IdentificacaoVia TextoLivre TarjaCancelada ExibirDetalhamentoNFCe";
const char* const kItemFields =
    "nNF Item ItemCodigo ItemDescricao ItemUnidade ItemQuantidade ItemVUnit ItemVTotal ItemObs"
    " ItemVDesc ItemVOutro";
const char* const kPagFields = "nNF formaPagamento valorPago valorTroco descricaoFormaPagamento";

std::unique_ptr<TqorDataSet> MakeSet(const std::string& name, const std::string& fields) {
  auto set = std::make_unique<TqorDataSet>(name);
  std::istringstream words(fields);
  for (std::string f; words >> f;) set->AddField(f);
  set->Open();
  return set;
}

// Appends a record given as "field=value" pairs joined by ";".
void Add(TqorDataSet& set, const std::string& record) {
  set.Append();
  std::istringstream pairs(record);
  for (std::string pair; std::getline(pairs, pair, ';');)
    set.SetValue(pair.substr(0, pair.find('=')), pair.substr(pair.find('=') + 1));
  set.Post();
}

std::string Key(int n) {
  return "3523051234567800019065001000000" + std::to_string(n) + "1000012345";
}
std::string QrUrl(int n) {
  return "https://homologacao.nfce.fazenda.sp.gov.br/qrcode?p=" + Key(n) + "|2|2|1|" +
         "0A1B2C3D4E5F60718293A4B5C6D7E8F901234567";
}

// Two notes: 000000123 with `items` items (one with "<b>&" and a long description), a
// discount and two payments with change; 000000124 with one item and an identified consumer.
std::string TwoNotes(int items = 3, bool secondNote = true) {
  auto dados = MakeSet("Dados", kDadosFields);
  auto itens = MakeSet("DadosItens", kItemFields);
  auto pags = MakeSet("DadosPagamentos", kPagFields);
  for (int n : {123, 124}) {
    if (n == 124 && !secondNote) break;
    const std::string nnf = "000000" + std::to_string(n);
    const bool first = n == 123;
    Add(*dados,
        "nNF=" + nnf + ";CodBarra=" + Key(n) +
            ";Serie=1;DtEmissao=10/05/2023 14:30:00;tpEmis=1;tpAmb=2;EmitNome=Padaria São "
            "João Ltda;EmitCNPJ=12.345.678/0001-95;EmitIE=123.456.789.110;EmitLogradouro="
            "Rua das Acácias;EmitNumero=100;EmitBairro=Centro;EmitMun=São Paulo;EmitUF=SP;"
            "DestCNPJ=" +
            (first ? "" : "123.456.789-09") + ";DestNome=" + (first ? "" : "José da Silva") +
            ";ValorTotProd=" + (first ? "61,50" : "10,90") +
            ";Desconto=" + (first ? "1,50" : "0,00") +
            ";ValorAcrescimo=0,00;ValorTotNota=" + (first ? "60,00" : "10,90") +
            ";ValorTotTrib=12,34;QuantidadeItensNota=" + (first ? std::to_string(items) : "1") +
            ";nProt=135230000012345;dhRecbto=10/05/2023 14:30:05;FraseHomologacao=SEM VALOR "
            "FISCAL;URLQRCode=" +
            QrUrl(n) +
            ";URLChave=www.fazenda.sp.gov.br/nfce/consulta;ObsContribuinte=Troca em até 7 "
            "dias\r\nObrigado pela preferência;ExibirDetalhamentoNFCe=True");
    for (int i = 1; i <= (first ? items : 1); ++i) {
      const std::string description =
          !first   ? "Leite integral"
          : i == 1 ? "<b>& Café torrado"
          : i == 2 ? "Bolo de cenoura com cobertura de chocolate meio amargo e granulado"
                   : "Pão francês " + std::to_string(i);
      Add(*itens, "nNF=" + nnf + ";Item=" + std::to_string(i) + ";ItemCodigo=78912345" +
                      std::to_string(i) + ";ItemDescricao=" + description +
                      ";ItemUnidade=UN;ItemQuantidade=1,0000;ItemVUnit=10,9000;ItemVTotal=10,90");
    }
    Add(*pags, "nNF=" + nnf + ";descricaoFormaPagamento=Dinheiro;valorPago=" +
                   (first ? "50,00;valorTroco=5,00" : "10,90;valorTroco="));
    if (first)
      Add(*pags, "nNF=" + nnf +
                     ";descricaoFormaPagamento=Cartão de Crédito;valorPago=15,00;valorTroco=5,00");
  }
  return SerializeTDataSourceList({dados.get(), itens.get(), pags.get()});
}

std::string CollapseBlanks(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

class Report : public ::testing::Test {
 protected:
  void SetUp() override {
    TPrintSettings& s = gov_.Get_PrintSettings();
    s.TemplateFile = kLayouts + "retrato.rtm";
    s.ReportData = TwoNotes();
    s.Variables = "LarguraBobina=80\r\nBarcode=" + QrUrl(124);
  }
  std::string Export(int format, const std::string& name) {
    TPrintSettings& s = gov_.Get_PrintSettings();
    s.ExportFormat = format;
    s.SaveAs = dir_ / name;
    gov_.ExportReport();
    return s.SaveAs;
  }
  std::string Run(const std::string& command) {
    std::string out;
    EXPECT_EQ(RunCommand(command, &out), 0) << command << ": " << out;
    return out;
  }
  TqorGovX gov_;
  TempDir dir_;
};

TEST_F(Report, PdfHoldsTheNoteAsTextWithEveryFontEmbedded) {
  QOR_NEEDS(test::HaveTool("pdftotext") && test::HaveTool("pdffonts"),
            "pdftotext / pdffonts (poppler-utils)");
  const std::string pdf = Export(1, "danfce.pdf");
  const std::string text = Run("pdftotext -layout '" + pdf + "' -");
  // Phrases may wrap: compared with every run of white space as one blank.
  std::string words = text;
  for (char& c : words) c = c == '\n' ? ' ' : c;
  words = CollapseBlanks(words);
  for (const char* expected :
       {"3523 0512 3456 7800 0190 6500 1000 0001 2310 0001 2345", "<b>& Café torrado",
        "Padaria São João Ltda", "EMITIDA EM AMBIENTE DE HOMOLOGAÇÃO - SEM VALOR FISCAL",
        "CONSUMIDOR NÃO IDENTIFICADO", "CONSUMIDOR - CPF/CNPJ 123.456.789-09", "José da Silva",
        "Cartão de Crédito", "Troca em até 7 dias", "Obrigado pela preferência",
        "Protocolo de autorização: 135230000012345", "NFC-e nº 000000124"}) {
    EXPECT_NE(words.find(expected), std::string::npos) << expected << "\n" << text;
  }
  // Values on the line of their label; a zero extra charge is left out; no word is cut.
  for (const char* line : {R"(VALOR A PAGAR R\$ +60,00)", R"(VALOR A PAGAR R\$ +10,90)",
                           R"(Desconto R\$ +1,50)", R"(TROCO R\$ +5,00)", R"(Dinheiro +50,00)"}) {
    EXPECT_TRUE(RegexIsMatch(text, line)) << line;
  }
  EXPECT_EQ(text.find("Acréscimos"), std::string::npos);
  EXPECT_TRUE(RegexIsMatch(text, "amargo e granulado")) << text;
  // Two pages, one per note, each of the roll's width (80 mm = 226.8 pt).
  const std::string info = Run("pdfinfo '" + pdf + "'");
  EXPECT_TRUE(RegexIsMatch(info, R"(Pages:\s+2)")) << info;
  EXPECT_TRUE(RegexIsMatch(info, R"(Page size:\s+226\.7\d)")) << info;

  std::istringstream fonts(Run("pdffonts '" + pdf + "'"));
  int rows = 0;
  for (std::string line; std::getline(fonts, line);) {
    if (++rows <= 2) continue;  // heading and rule
    EXPECT_TRUE(RegexIsMatch(line, R"(\s+yes\s+(yes|no)\s+(yes|no)\s+\d+\s+\d+\s*$)"))
        << "not embedded: " << line;
  }
  EXPECT_GT(rows, 3);
}

TEST_F(Report, QrCodesDecodeToTheNotesLinks) {
  QOR_NEEDS(test::HaveTool("zbarimg") && test::HaveTool("pdftoppm"),
            "zbarimg (zbar-tools) / pdftoppm");
  const std::set<std::string> both{QrUrl(123), QrUrl(124)};
  EXPECT_EQ(test::QrCodes(Export(4, "danfce.png")), both);
  // 80 mm at 203 dpi, in two levels as the receipt printer prints it.
  EXPECT_TRUE(RegexIsMatch(Run("file " + dir_ / "danfce.png"),
                           "PNG image data, 639 x [0-9]+, 1-bit grayscale, non-interlaced"))
      << "";

  test::QrCodesOfPdf(Export(1, "danfce.pdf"), dir_ / "page");
  EXPECT_EQ(test::QrCodes(dir_ / "page-1.png"), std::set<std::string>{QrUrl(123)});
  EXPECT_EQ(test::QrCodes(dir_ / "page-2.png"), std::set<std::string>{QrUrl(124)});

  // On the narrow roll too.
  gov_.Get_PrintSettings().Variables = "LarguraBobina=58";
  EXPECT_EQ(test::QrCodes(Export(4, "narrow.png")), both);
}

TEST_F(Report, HtmlIsSelfContainedEscapedAndItsQrCodeReadsOnScreen) {
  gov_.Get_PrintSettings().ReportData = TwoNotes(3, false);
  const std::string html = ReadFile(Export(2, "danfce.html"));
  EXPECT_NE(html.find("&lt;b&gt;&amp; Café torrado"), std::string::npos);
  EXPECT_EQ(html.find("<b>&"), std::string::npos);
  EXPECT_NE(html.find("Troca em até 7 dias<br>Obrigado"), std::string::npos);
  EXPECT_FALSE(RegexIsMatch(html, R"((src|href)="(?!data:))")) << "outside reference";
  EXPECT_TRUE(RegexIsMatch(html, "src=\"data:image/png;base64,"));

  QOR_NEEDS(test::HaveTool("chromium") && test::HaveTool("zbarimg"), "chromium / zbarimg");
  EXPECT_EQ(test::QrCodesOfHtml(dir_ / "danfce.html", dir_ / "shot.png"),
            std::set<std::string>{QrUrl(123)});
}

TEST_F(Report, TextKeepsToTheRollsColumns) {
  gov_.Get_PrintSettings().TemplateFile = kLayouts + "retrato_texto.rtm";
  for (const auto& [width, columns] : {std::pair{"80", 48u}, std::pair{"58", 32u}}) {
    gov_.Get_PrintSettings().Variables = std::string("LarguraBobina=") + width;
    const std::string text = ReadFile(Export(3, std::string("danfce") + width + ".txt"));
    std::istringstream lines(text);
    std::size_t longest = 0;
    for (std::string line; std::getline(lines, line);) {
      longest = std::max(longest, Utf8Length(line));
    }
    EXPECT_EQ(longest, columns) << text;
    EXPECT_TRUE(IsValidUtf8(text));
    // Wrapped, never cut: every word of the long description is there.
    for (const char* word : {"Bolo", "cenoura", "chocolate", "amargo", "granulado", "<b>&",
                             "HOMOLOGAÇÃO", "3523 0512 3456", "VALOR A PAGAR R$"}) {
      EXPECT_NE(text.find(word), std::string::npos) << word << "\n" << text;
    }
  }
}

// The language's statements, one case per line of a small layout exported as text.
TEST_F(Report, LayoutStatements) {
  struct Case {
    const char* layout;
    std::string expected;  // the text of the first note
  } cases[] = {
      {"text \"{nNF} {$LarguraBobina} {{x}}\"", "000000123 58 {x}\n"},
      {"text right \"{EmitUF}\"", std::string(30, ' ') + "SP\n"},
      {"band DadosItens\ntext \"{Item}:{ItemVTotal}\"\nend", "1:10,90\n2:10,90\n"},
      {"text \"{DadosPagamentos.valorPago}\"", "50,00\n"},
      {"if Desconto nonzero\ntext \"d\"\nend\nif ValorAcrescimo nonzero\ntext \"a\"\nend", "d\n"},
      {"if DestNome empty\ntext \"anon\"\nelse\ntext \"{DestNome}\"\nend", "anon\n"},
      {"if tpAmb = \"2\"\ntext \"h\"\nend\nif tpEmis != \"1\"\ntext \"c\"\nend", "h\n"},
      {"if $Missing filled\ntext \"x\"\nend\ntext \"{ObsContribuinte}\"",
       "Troca em até 7 dias\nObrigado pela preferência\n"},
      {"row \"QTD\" \"{QuantidadeItensNota}\"", "QTD" + std::string(28, ' ') + "2\n"},
      {"line", "--------------------------------\n"},
      {"row \"{EmitUF}\" \"\"", "SP\n"},
  };
  gov_.Get_PrintSettings().ReportData = TwoNotes(2, false);
  gov_.Get_PrintSettings().Variables = "LarguraBobina=58";
  for (const Case& c : cases) {
    WriteFile(dir_ / "case.rtm", c.layout);
    gov_.Get_PrintSettings().TemplateFile = dir_ / "case.rtm";
    EXPECT_EQ(ReadFile(Export(3, "case.txt")), c.expected) << c.layout;
  }
}

TEST_F(Report, AFailedExportLeavesNoFileAndTheOlderOneUntouched) {
  WriteFile(dir_ / "notpng.png", "GIF89a not a png");
  WriteFile(dir_ / "syntax.rtm", "size 8\ntext \"ok\"\ntext \"{Unclosed\"\n");
  WriteFile(dir_ / "field.rtm", "text \"ok\"\nband DadosItens\ntext \"{NoSuchField}\"\nend\n");
  WriteFile(dir_ / "set.rtm", "\n\nband Nothing\nend\n");
  struct Case {
    std::string layout, logo, target, message;
    bool targetAtFault = false;  // the data is good: only this target fails
  } cases[] = {
      {dir_ / "syntax.rtm", "", dir_ / "out.pdf", "syntax.rtm, linha 3"},
      {dir_ / "field.rtm", "", dir_ / "out.html", "field.rtm, linha 3: campo desconhecido"},
      {dir_ / "set.rtm", "", dir_ / "out.txt", "set.rtm, linha 3: conjunto de dados desconhecido"},
      {kLayouts + "retrato.rtm", dir_ / "notpng.png", dir_ / "out.png", "notpng.png"},
      {kLayouts + "retrato.rtm", "", dir_ / "missing/out.pdf", "missing/out.pdf", true},
      {kLayouts + "retrato.rtm", "", dir_ / "notpng.png/out.pdf", "notpng.png/out.pdf", true},
  };
  int format = 0;
  for (const Case& c : cases) {
    WriteFile(dir_ / "old.file", "older");
    TPrintSettings& s = gov_.Get_PrintSettings();
    s.TemplateFile = c.layout;
    s.LogoFile = c.logo;
    s.ExportFormat = format++ % 4 + 1;
    std::vector<std::string> targets{c.target};
    if (!c.targetAtFault) targets.push_back(dir_ / "old.file");
    for (const std::string& target : targets) {
      s.SaveAs = target;
      const std::string message = MessageOf<EqorGovException>([&] { gov_.ExportReport(); });
      EXPECT_NE(message.find(c.message), std::string::npos) << message;
    }
    EXPECT_FALSE(std::filesystem::exists(c.target)) << c.target;
    EXPECT_EQ(ReadFile(dir_ / "old.file"), "older") << c.layout;
    // EditReport checks the same layouts.
    if (!c.targetAtFault && c.logo.empty()) {
      EXPECT_THROW(gov_.EditReport(), EqorGovException) << c.layout;
    }
  }
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
    left.push_back(e.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"field.rtm", "notpng.png", "old.file", "set.rtm",
                                            "syntax.rtm"}));
}

TEST_F(Report, PreviewAndEdit) {
  for (const char* layout : {"retrato.rtm", "retrato_texto.rtm", "mensagem_eletronica.rtm"}) {
    gov_.Get_PrintSettings().TemplateFile = kLayouts + layout;
    EXPECT_NO_THROW(gov_.EditReport()) << layout;
  }
  const std::string first = gov_.PreviewReport(dir_.path());
  const std::string second = gov_.PreviewReport(dir_.path());
  EXPECT_NE(first, second);
  for (const std::string& path : {first, second}) {
    EXPECT_TRUE(RegexIsMatch(path, "/danfce-preview-[0-9a-z]+\\.png$")) << path;
    EXPECT_EQ(ReadFile(path).substr(0, 8), "\x89PNG\r\n\x1a\n");
  }
}

}  // namespace
}  // namespace qor
