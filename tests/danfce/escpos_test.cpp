// The thermal receipt: the bytes are walked by a decoder written here, the QR rasters read back
// by zbarimg and the text by iconv, so the printer stream is checked by tools the driver did not
// write.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "config/TDanfceSettings.h"
#include "danfce/TqorNFCeEscPos.h"
#include "platform/GovException.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "support/Tools.h"

namespace qor {
namespace {

using test::MessageOf;
using test::TempDir;

// What a printer would do with the stream: the commands' arguments and the text lines.
struct Decoded {
  std::vector<int> codePages, spacings, cuts;
  std::vector<std::string> qrStored;
  struct Raster {
    int widthDots, height;
    std::string bits;
  };
  std::vector<Raster> rasters;
  std::vector<std::string> lines;  // code-page bytes between commands, split at LF
  std::string text;                // the lines joined by LF
};

Decoded Decode(const std::string& b) {
  Decoded d;
  std::string line;
  auto u = [&b](std::size_t i) { return i < b.size() ? static_cast<unsigned char>(b[i]) : 0; };
  for (std::size_t i = 0; i < b.size();) {
    const unsigned char c = u(i);
    if (c == 0x1B && u(i + 1) == '@') {
      i += 2;
    } else if (c == 0x1B &&
               std::string("t3Ead").find(static_cast<char>(u(i + 1))) != std::string::npos) {
      if (u(i + 1) == 't') d.codePages.push_back(u(i + 2));
      if (u(i + 1) == '3') d.spacings.push_back(u(i + 2));
      i += 3;
    } else if (c == 0x1D && u(i + 1) == '!') {
      i += 3;
    } else if (c == 0x1D && u(i + 1) == 'V') {
      d.cuts.push_back(u(i + 2));
      i += 3;
    } else if (c == 0x1D && u(i + 1) == '(' && u(i + 2) == 'k') {
      const std::size_t n = u(i + 3) + 256u * u(i + 4);
      if (u(i + 5) == 49 && u(i + 6) == 80) d.qrStored.push_back(b.substr(i + 8, n - 3));
      i += 5 + n;
    } else if (c == 0x1D && u(i + 1) == 'v' && u(i + 2) == '0') {
      const int xb = u(i + 4) + 256 * u(i + 5), h = u(i + 6) + 256 * u(i + 7);
      d.rasters.push_back({xb * 8, h, b.substr(i + 8, static_cast<std::size_t>(xb) * h)});
      i += 8 + static_cast<std::size_t>(xb) * h;
    } else if (c == '\n') {
      d.lines.push_back(line);
      d.text += line + "\n";
      line.clear();
      ++i;
    } else if (c < 0x20) {
      ADD_FAILURE() << "unknown command byte " << int(c) << " at " << i;
      return d;
    } else {
      line.push_back(static_cast<char>(c));
      ++i;
    }
  }
  return d;
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> out(1);
  for (char c : text) {
    if (c == sep)
      out.emplace_back();
    else
      out.back().push_back(c);
  }
  return out;
}

std::string Tool(const std::string& command, const std::string& input, const TempDir& dir) {
  test::WriteFile(dir / "in", input);
  std::string out;
  EXPECT_EQ(test::RunCommand(command + " " + (dir / "in"), &out), 0) << command << ": " << out;
  return out;
}

// Two notes of the same company: the second with a consumer, a discount and a cancelled stamp.
struct Notas {
  TqorDataSet dados{"Dados"}, itens{"DadosItens"}, pagamentos{"DadosPagamentos"};
  // A record as "field=value" pairs joined by ";"; the first record declares the fields.
  static void Add(TqorDataSet& ds, const std::string& record) {
    std::vector<std::pair<std::string, std::string>> v;
    for (const std::string& pair : Split(record, ';'))
      v.emplace_back(pair.substr(0, pair.find('=')), pair.substr(pair.find('=') + 1));
    if (!ds.Active()) {
      for (const auto& [field, value] : v) ds.AddField(field);
      ds.Open();
    }
    ds.Append();
    for (const auto& [field, value] : v) ds.SetValue(field, value);
    ds.Post();
  }
  Notas() {
    for (const std::string n : {"000000101", "000000102"}) {
      const bool b = n == "000000102";
      Add(dados,
          "nNF=" + n + ";Serie=1;EmitFantasia=PÃO DOURADO;EmitNome=Padaria e Confeitaria " +
              "Pão Dourado Comércio de Alimentos Ltda;EmitCNPJ=11.222.333/0001-81;EmitIE=" +
              "111.222.333.444;EmitLogradouro=Avenida Brigadeiro Faria Lima;EmitNumero=" +
              "1500;EmitMun=São Paulo;EmitUF=SP;DtEmissao=07/12/2026 10:00:00;CodBarra=" +
              "3526121122233300018165001000000" + n + "1234;nProt=135260000000001;" +
              "nProtEpec=835260000000009;dhRecbto=07/12/2026 10:00:05;ValorTotProd=61,80;" +
              "ValorAcrescimo=0,00;URLChave=https://www.homologacao.nfce.fazenda.sp.gov.br" +
              "/NFCeConsultaPublica;FraseHomologacao=EMITIDA EM AMBIENTE DE HOMOLOGAÇÃO - " +
              "SEM VALOR FISCAL;ObsContribuinte=Obrigado pela preferência\r\nVolte sempre;" +
              "xMsg=Mensagem do Fisco;TextoLivre=Ótimo dia, Őlga!;tpEmis=" + (b ? "4" : "1") +
              ";Desconto=" + (b ? "1,80" : "0,00") + ";ValorTotNota=" + (b ? "60,00" : "61,80") +
              ";DestCNPJ=" + (b ? "123.456.789-09" : "") +
              ";DestNome=" + (b ? "José da Conceição" : "") +
              ";FraseContingencia=" + (b ? "EMITIDA EM CONTINGÊNCIA [falha de comunicação]" : "") +
              ";TarjaCancelada=" + (b ? "NOTA CANCELADA" : "") + ";URLQRCode=" +
              (b ? ""
                 : "https://www.homologacao.nfce.fazenda.sp.gov.br/qrcode?p=" + n +
                       "|2|2|1|ABCDEF0123456789"));
      Add(itens, "nNF=" + n + ";Item=1;ItemCodigo=7891000100103;ItemDescricao=PÃO FRANCÊS KG " +
                     "nota " + n + ";ItemQuantidade=1,0000;ItemUnidade=KG;ItemVUnit=10,9000;" +
                     "ItemVTotal=10,90;ItemVDesc=" + (b ? "1,80" : "0,00"));
      Add(itens, "nNF=" + n + ";Item=2;ItemCodigo=2;ItemDescricao=BOLO DE CENOURA COM " +
                     "COBERTURA DE CHOCOLATE MEIO AMARGO;ItemQuantidade=1,0000;ItemUnidade=UN;" +
                     "ItemVUnit=50,9000;ItemVTotal=50,90");
      Add(pagamentos, "nNF=" + n + ";descricaoFormaPagamento=Dinheiro;valorPago=100,00;" +
                          "valorTroco=" + (b ? "40,00" : "38,20"));
    }
  }
};

struct Printed {
  std::string bytes;
  Decoded d;
};

// One receipt of the two notes through `pos`, written to a file port.
Printed Print(TqorNFCeEscPos& pos, const TempDir& dir, const std::string& qrCode = "fallback-qr",
              int copias = 1) {
  Notas n;
  pos.POS_ConfigGravarValor("PosPrinter", "Porta", dir / "printer.bin");
  pos.POS_Ativar();
  pos.ImprimirDados(n.dados, n.itens, n.pagamentos, qrCode, copias);
  pos.POS_Desativar();
  const std::string bytes = test::ReadFile(dir / "printer.bin");
  return {bytes, Decode(bytes)};
}

TEST(EscPos, FreshSettingsConfigureThePrinterAsTheDefaultsSay) {
  TempDir dir;
  TqorNFCeEscPos pos;
  for (const auto& [key, value] : {std::pair{"Modelo", "2"},
                                   {"ColunasFonteNormal", "32"},
                                   {"EspacoEntreLinhas", "0"},
                                   {"LinhasEntreCupons", "9"},
                                   {"CortaPapel", "0"},
                                   {"PaginaDeCodigo", "16"}})
    pos.POS_ConfigGravarValor("PosPrinter", key, value);
  pos.POS_Configurar(TEscPosSettings());
  const TEscPosConfig& c = pos.Printer().Config();
  EXPECT_EQ(c.modelo, 1);
  EXPECT_EQ(c.colunasFonteNormal, 48);
  EXPECT_EQ(c.linhasEntreCupons, 3);
  EXPECT_FALSE(c.resumido || c.imprimeDescAcrescItem || c.imprimeNomeFantasia);
  const Printed r = Print(pos, dir);
  EXPECT_EQ(r.d.codePages, std::vector<int>{2});
  EXPECT_EQ(r.d.spacings, std::vector<int>{10});
  EXPECT_EQ(r.d.cuts.size(), 2u);  // CortaPapel: one cut per note
  EXPECT_NE(r.bytes.find("\x1b"
                         "d\x03\x1dV"),
            std::string::npos)
      << "3 lines fed before the cut";
  EXPECT_EQ(r.d.qrStored.size(), 2u);  // Modelo 1: the printer draws the QR
}

TEST(EscPos, TextInTheCodePageAndAccentsOutsideItDropped) {
  const struct {
    int page;
    const char* charset;
  } cases[] = {{2, "CP850"}, {3, "CP860"}, {16, "WINDOWS-1252"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.charset);
    TempDir dir;
    TqorNFCeEscPos pos;
    pos.POS_ConfigGravarValor("PosPrinter", "PaginaDeCodigo", std::to_string(c.page));
    pos.POS_ConfigGravarValor("PosPrinter", "EspacoEntreLinhas", "24");
    pos.POS_ConfigGravarValor("PosPrinter", "CortaPapel", "0");
    const Printed r = Print(pos, dir);
    EXPECT_EQ(r.d.codePages, std::vector<int>{c.page});
    EXPECT_EQ(r.d.spacings, std::vector<int>{24});
    EXPECT_TRUE(r.d.cuts.empty());
    const std::string text =
        Tool(std::string("iconv -f ") + c.charset + " -t UTF-8", r.d.text, dir);
    for (const char* expected : {"CONSUMIDOR NÃO IDENTIFICADO", "PÃO FRANCÊS", "HOMOLOGAÇÃO",
                                 "São Paulo", "José da Conceição", "Ótimo dia, Olga!"})
      EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
    EXPECT_EQ(text.find("?"), std::string::npos) << "no character came out as garbage";
  }
}

TEST(EscPos, QrCodeByThePrinterOrAsARasterReadBack) {
  const std::string first =
      "https://www.homologacao.nfce.fazenda.sp.gov.br/qrcode?p=000000101|2|2|1|ABCDEF0123456789";
  const struct {
    const char* modelo;
    const char* colunas;
    int dots;
  } cases[] = {{"1", "48", 0}, {"2", "48", 576}, {"2", "32", 384}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("Modelo ") + c.modelo + ", " + c.colunas + " columns");
    TempDir dir;
    TqorNFCeEscPos pos;
    pos.POS_ConfigGravarValor("PosPrinter", "Modelo", c.modelo);
    pos.POS_ConfigGravarValor("PosPrinter", "ColunasFonteNormal", c.colunas);
    const Printed r = Print(pos, dir, "https://fallback.example/qrcode?p=x|2|2");
    // The second note has no URLQRCode of its own: the argument is drawn.
    const std::vector<std::string> expected{first, "https://fallback.example/qrcode?p=x|2|2"};
    if (c.dots == 0) {
      EXPECT_EQ(r.d.qrStored, expected);
      EXPECT_TRUE(r.d.rasters.empty());
      continue;
    }
    ASSERT_EQ(r.d.rasters.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      const auto& raster = r.d.rasters[i];
      EXPECT_EQ(raster.widthDots, c.dots);
      const std::string pbm = "P4\n" + std::to_string(raster.widthDots) + " " +
                              std::to_string(raster.height) + "\n" + raster.bits;
      test::WriteFile(dir / "qr.pbm", pbm);
      std::string out;
      ASSERT_EQ(test::RunCommand("zbarimg --raw -q " + (dir / "qr.pbm") + " 2>/dev/null", &out), 0)
          << out;
      // zbarimg may print a D-Bus complaint first: the payload is the last line.
      out.pop_back();
      EXPECT_EQ(out.substr(out.rfind('\n') + 1), expected[i]) << out;
    }
  }
}

TEST(EscPos, LayoutInTheManualsOrderWithinTheColumns) {
  for (const char* colunas : {"48", "32"}) {
    SCOPED_TRACE(std::string(colunas) + " columns");
    TempDir dir;
    TqorNFCeEscPos pos;
    pos.POS_ConfigGravarValor("PosPrinter", "ColunasFonteNormal", colunas);
    pos.POS_ConfigGravarValor("Danfe", "ImprimeDescAcrescItem", "1");
    const Printed r = Print(pos, dir, "", 2);
    for (const std::string& line : r.d.lines) EXPECT_LE(line.size(), std::stoul(colunas)) << line;
    EXPECT_EQ(r.d.cuts.size(), 4u) << "two copies of two notes";
    // Each note from its emitter's name on, lines joined by blanks so wrapping does not matter.
    std::string flat = Tool("iconv -f CP850 -t UTF-8", r.d.text, dir);
    std::replace(flat.begin(), flat.end(), '\n', ' ');
    std::vector<std::string> notes;
    for (std::size_t at = flat.find("Padaria"); at != std::string::npos;) {
      const std::size_t next = flat.find("Padaria", at + 1);
      notes.push_back(flat.substr(at, next == std::string::npos ? next : next - at));
      at = next;
    }
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[0], notes[2]);
    EXPECT_EQ(notes[1], notes[3]);
    std::size_t at = 0;
    for (const std::string& step : Split(
             "Padaria|CNPJ: 11.222.333/0001-81|Brigadeiro|PÃO FRANCÊS KG nota "
             "000000102|Desconto|-1,80|BOLO DE CENOURA|QTD. TOTAL DE ITENS|VALOR TOTAL R$|Desconto "
             "R$|VALOR A PAGAR R$|FORMA DE PAGAMENTO|Dinheiro|TROCO R$|40,00|Consulte pela Chave "
             "de Acesso em|https://www.homo|3526 1211 2223 3300 0181 6500 1000 0000 0000 0102 "
             "1234|CONSUMIDOR CPF: 123.456.789-09|José da Conceição|NFC-e nº 000000102 Série "
             "1|Protocolo EPEC: 835260000000009|HOMOLOGAÇÃO|CONTINGÊNCIA|Volte sempre|Mensagem do "
             "Fisco|Ótimo dia|NOTA CANCELADA",
             '|')) {
      const std::size_t found = notes[1].find(step, at);
      EXPECT_NE(found, std::string::npos) << step << " after position " << at << " in\n"
                                          << notes[1];
      if (found != std::string::npos) at = found;
    }
    for (const char* present :
         {"CONSUMIDOR NÃO IDENTIFICADO", "Protocolo de autorização: 135260000000001",
          "Data de autorização: 07/12/2026 10:00:05", "nota 000000101", "TROCO R$"})
      EXPECT_NE(notes[0].find(present), std::string::npos) << present << " in\n" << notes[0];
    for (const char* absent : {"nota 000000102", "Desconto", "CONTINGÊNCIA", "CANCELADA", "EPEC"})
      EXPECT_EQ(notes[0].find(absent), std::string::npos) << absent << " in\n" << notes[0];
  }
}

TEST(EscPos, SummaryAndTradeNameOptions) {
  TempDir dir;
  TqorNFCeEscPos pos;
  pos.POS_ConfigGravarValor("Danfe", "Resumido", "1");
  pos.POS_ConfigGravarValor("Danfe", "ImprimeNomeFantasia", "1");
  const Printed r = Print(pos, dir);
  const std::string text = Tool("iconv -f CP850 -t UTF-8", r.d.text, dir);
  EXPECT_NE(text.find("PÃO DOURADO"), std::string::npos) << text;
  EXPECT_NE(text.find("QTD. TOTAL DE ITENS" + std::string(28, ' ') + "2\n"), std::string::npos)
      << text;
  for (const char* absent : {"Padaria", "BOLO", "PÃO FRANCÊS"})
    EXPECT_EQ(text.find(absent), std::string::npos) << absent;
}

// Binds `fd` to a free loopback port (listening when asked) and returns the port.
int BindLoopback(int fd, bool listen) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), len), 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  if (listen) {
    EXPECT_EQ(::listen(fd, 1), 0);
  }
  return ntohs(a.sin_port);
}

// A listener on a free loopback port that keeps what one client sends.
struct Listener {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int port = BindLoopback(fd, true);
  std::string received;
  std::thread thread{[this] {
    const int c = ::accept(fd, nullptr, nullptr);
    char buf[4096];
    for (ssize_t n; (n = ::read(c, buf, sizeof buf)) > 0;)
      received.append(buf, static_cast<std::size_t>(n));
    ::close(c);
  }};
  ~Listener() {
    if (thread.joinable()) thread.join();
    ::close(fd);
  }
};

TEST(EscPos, PortsTcpFileAndFailuresNamingThePort) {
  TempDir dir;
  TqorNFCeEscPos file;
  file.POS_ConfigGravarValor("PosPrinter", "Modelo", "2");
  const Printed onFile = Print(file, dir);
  ASSERT_GT(onFile.bytes.size(), 1000u);

  Listener listener;
  TqorNFCeEscPos tcp;
  tcp.POS_ConfigGravarValor("PosPrinter", "Modelo", "2");
  tcp.POS_ConfigGravarValor("PosPrinter", "Porta",
                            "tcp:127.0.0.1:" + std::to_string(listener.port));
  tcp.POS_ConfigGravarValor("PosPrinter", "TimeOut", "2000");
  Notas n;
  tcp.POS_Ativar();
  tcp.ImprimirDados(n.dados, n.itens, n.pagamentos, "fallback-qr", 1);
  tcp.POS_Desativar();
  listener.thread.join();
  EXPECT_EQ(listener.received, onFile.bytes);

  TqorNFCeEscPos empty;
  EXPECT_NE(MessageOf<EqorGovException>([&] { empty.POS_Ativar(); }).find("Porta"),
            std::string::npos);
  const int unused = ::socket(AF_INET, SOCK_STREAM, 0);  // bound, never listening
  const std::string closedPort = "tcp:127.0.0.1:" + std::to_string(BindLoopback(unused, false));
  for (const std::string& port :
       {dir / "no-such-folder/printer.bin", closedPort, std::string("/dev/null/printer")}) {
    TqorNFCeEscPos bad;
    bad.POS_ConfigGravarValor("PosPrinter", "Porta", port);
    bad.POS_Ativar();
    Notas notas;
    EXPECT_NE(MessageOf<EqorGovException>([&] {
                bad.ImprimirDados(notas.dados, notas.itens, notas.pagamentos, "", 1);
              }).find(port),
              std::string::npos)
        << port;
  }
  ::close(unused);
  for (const auto& [key, value] : {std::pair{"Modelo", "3"},
                                   {"PaginaDeCodigo", "5"},
                                   {"ColunasFonteNormal", "x"},
                                   {"Porte", "1"}})
    EXPECT_NE(MessageOf<EqorGovException>([&] {
                empty.POS_ConfigGravarValor("PosPrinter", key, value);
              }).find(key),
              std::string::npos);
}

}  // namespace
}  // namespace qor
