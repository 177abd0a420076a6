#include "platform/EscPos.h"

#include <fcntl.h>
#include <iconv.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>

#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/QrImage.h"
#include "platform/Text.h"

namespace qor {
namespace {

constexpr char ESC = 0x1B;
constexpr char GS = 0x1D;

std::string Cmd(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out.push_back(static_cast<char>(b));
  return out;
}

// ---- settings -------------------------------------------------------------------------------

int ParseInt(const std::string& key, const std::string& value, int min, int max) {
  const std::string t = Trim(value);
  int n = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size() || n < min || n > max)
    throw EqorGovException(Format("Valor inválido para %s da impressora: \"%s\" (de %d a %d).",
                                  {key, QuoteForMessage(value), min, max}));
  return n;
}

bool ParseBool(const std::string& key, const std::string& value) {
  const std::string t = Trim(value);
  if (t == "1" || SameText(t, "true")) return true;
  if (t == "0" || SameText(t, "false") || t.empty()) return false;
  throw EqorGovException(Format("Valor inválido para %s da impressora: \"%s\" (1 ou 0).",
                                {key, QuoteForMessage(value)}));
}

// ---- code pages -----------------------------------------------------------------------------

const char* CharsetOf(int pagina) {
  switch (pagina) {
    case 2:
      return "CP850";
    case 3:
      return "CP860";
    case 16:
      return "CP1252";
    default:
      return nullptr;
  }
}

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// One code point (its UTF-8 bytes) in the page; false when the page lacks it.
bool ConvertOne(iconv_t cd, const std::string& utf8, std::string& out) {
  char in[8];
  char buf[8];
  std::memcpy(in, utf8.data(), utf8.size());
  char* src = in;
  std::size_t srcLeft = utf8.size();
  char* dst = buf;
  std::size_t dstLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) || srcLeft != 0)
    return false;
  out.append(buf, sizeof buf - dstLeft);
  return true;
}

// Length of the UTF-8 sequence starting with `lead`, 0 for a byte that cannot start one.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// ---- ports ----------------------------------------------------------------------------------

[[noreturn]] void PortFailure(const std::string& porta, const std::string& why) {
  throw EqorGovException(Format("Não foi possível imprimir na porta \"%s\" da impressora: %s",
                                {QuoteForMessage(porta), why}));
}

void WriteAllFd(int fd, const std::string& porta, const std::string& bytes) {
  if (const int err = WriteAll(fd, bytes.data(), bytes.size())) {
    ::close(fd);
    PortFailure(porta, std::strerror(err));
  }
  if (::close(fd) != 0) PortFailure(porta, std::strerror(errno));
}

void WriteDevice(const std::string& porta, const std::string& bytes) {
  const int fd = ::open(porta.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) PortFailure(porta, std::strerror(errno));
  WriteAllFd(fd, porta, bytes);
}

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

// Waits until `fd` is writable; false on time-out.
bool WaitWritable(int fd, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, POLLOUT, 0};
    const int r = ::poll(&p, 1, RemainingMs(deadline));
    if (r < 0 && errno == EINTR) continue;
    return r > 0;
  }
}

void WriteTcp(const std::string& porta, const std::string& address, int timeOutMs,
              const std::string& bytes) {
  std::string host = address;
  std::string service = "9100";
  if (!host.empty() && host.front() == '[') {  // [IPv6]:port
    const std::size_t close = host.find(']');
    if (close == std::string::npos) PortFailure(porta, "endereço inválido");
    if (close + 1 < host.size()) {
      if (host[close + 1] != ':') PortFailure(porta, "endereço inválido");
      service = host.substr(close + 2);
    }
    host = host.substr(1, close - 1);
  } else if (std::count(host.begin(), host.end(), ':') == 1) {
    service = host.substr(host.find(':') + 1);
    host.resize(host.find(':'));
  }
  if (host.empty() || !IsNumber(service)) PortFailure(porta, "endereço inválido");

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int gai = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (gai != 0) PortFailure(porta, ::gai_strerror(gai));
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);

  const Clock::time_point connectBy = Clock::now() + std::chrono::milliseconds(timeOutMs);
  std::string why = "conexão recusada";
  int fd = -1;
  for (addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
    const int s =
        ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (s < 0) continue;
    int err = 0;
    if (::connect(s, ai->ai_addr, ai->ai_addrlen) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        if (!WaitWritable(s, connectBy)) {
          err = ETIMEDOUT;
        } else {
          socklen_t len = sizeof err;
          if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        }
      }
    }
    if (err == 0) {
      fd = s;
    } else {
      why = err == ETIMEDOUT ? Format("tempo de conexão esgotado (%d ms)", {timeOutMs})
                             : std::string(std::strerror(err));
      ::close(s);
    }
  }
  if (fd < 0) PortFailure(porta, why);

  const Clock::time_point writeBy = Clock::now() + std::chrono::milliseconds(timeOutMs);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    const int err = errno;
    if (n < 0 && err == EINTR) continue;
    if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK) && WaitWritable(fd, writeBy)) continue;
    ::close(fd);
    PortFailure(porta, n < 0 && err != EAGAIN && err != EWOULDBLOCK
                           ? std::string(std::strerror(err))
                           : Format("tempo de envio esgotado (%d ms)", {timeOutMs}));
  }
  ::close(fd);
}

void WritePort(const TEscPosConfig& config, const std::string& bytes) {
  const std::string& porta = config.porta;
  if (StartsText("tcp:", porta)) return WriteTcp(porta, porta.substr(4), config.timeOut, bytes);
  struct stat st {};
  const std::string path = NativePath(porta);
  if (StartsText("/dev/", path) || (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)))
    return WriteDevice(path, bytes);
  try {
    SaveToFile(path, bytes);
  } catch (const EqorGovException& e) {
    PortFailure(porta, e.what());
  }
}

}  // namespace

// ---- settings -------------------------------------------------------------------------------

void TqorEscPosPrinter::ConfigGravarValor(const std::string& section, const std::string& key,
                                          const std::string& value) {
  auto is = [&key](const char* name) { return SameText(key, name); };
  if (SameText(section, "PosPrinter")) {
    if (is("Modelo")) {
      config_.modelo = ParseInt(key, value, 1, 2);
    } else if (is("Porta")) {
      config_.porta = Trim(value);
    } else if (is("ColunasFonteNormal")) {
      config_.colunasFonteNormal = ParseInt(key, value, 16, 255);
    } else if (is("EspacoEntreLinhas")) {
      config_.espacoEntreLinhas = ParseInt(key, value, 0, 255);
    } else if (is("LinhasEntreCupons")) {
      config_.linhasEntreCupons = ParseInt(key, value, 0, 255);
    } else if (is("CortaPapel")) {
      config_.cortaPapel = ParseBool(key, value);
    } else if (is("PaginaDeCodigo")) {
      const int pagina = ParseInt(key, value, 0, 255);
      if (!CharsetOf(pagina))
        throw EqorGovException(Format(
            "PaginaDeCodigo %d não suportada pela impressora (2 PC850, 3 PC860, 16 WPC1252).",
            {pagina}));
      config_.paginaDeCodigo = pagina;
    } else if (is("TimeOut")) {
      config_.timeOut = ParseInt(key, value, 1, 600000);
    } else if (!(is("TraduzirTags") || is("IgnorarTags") || is("DecodificarTags") ||
                 is("CodificarPagina") || is("ControlePorta"))) {
      throw EqorGovException(
          Format("Chave desconhecida na seção PosPrinter: \"%s\".", {QuoteForMessage(key)}));
    }
    return;
  }
  if (SameText(section, "Danfe")) {
    if (is("Resumido")) {
      config_.resumido = ParseBool(key, value);
    } else if (is("ImprimeDescAcrescItem")) {
      config_.imprimeDescAcrescItem = ParseBool(key, value);
    } else if (is("ImprimeNomeFantasia")) {
      config_.imprimeNomeFantasia = ParseBool(key, value);
    } else if (!(is("TipoRelatorio") || is("QrCodeLateral") || is("ImprimeLogoLateral") ||
                 is("LogoTipo") || is("AlinhamentoTexto"))) {
      throw EqorGovException(
          Format("Chave desconhecida na seção Danfe: \"%s\".", {QuoteForMessage(key)}));
    }
    return;
  }
  throw EqorGovException(Format("Seção desconhecida na configuração da impressora: \"%s\".",
                                {QuoteForMessage(section)}));
}

// ---- session --------------------------------------------------------------------------------

void TqorEscPosPrinter::Ativar() {
  if (config_.porta.empty())
    throw EqorGovException("Porta da impressora não informada (Porta \"\").");
  buffer_.clear();
  ativo_ = true;
  Raw(Cmd({ESC, '@'}));
  Raw(Cmd({ESC, 't', config_.paginaDeCodigo}));
  Raw(Cmd({ESC, '3', config_.espacoEntreLinhas}));
  inicio_ = buffer_.size();
}

void TqorEscPosPrinter::Imprimir() {
  RequireAtivo();
  std::string bytes;
  bytes.swap(buffer_);
  inicio_ = 0;
  WritePort(config_, bytes);
}

void TqorEscPosPrinter::Desativar() {
  if (!ativo_) return;
  ativo_ = false;
  std::string bytes;
  bytes.swap(buffer_);
  // Nothing built since the initialisation (or the last Imprimir): nothing to print.
  if (bytes.size() > inicio_) WritePort(config_, bytes);
}

void TqorEscPosPrinter::RequireAtivo() const {
  if (!ativo_) throw EqorGovException("A impressora não foi ativada (Ativar).");
}

// ---- building -------------------------------------------------------------------------------

void TqorEscPosPrinter::Negrito(bool on) {
  RequireAtivo();
  Raw(Cmd({ESC, 'E', on ? 1 : 0}));
}

void TqorEscPosPrinter::Alinhamento(TEscPosAlinhamento al) {
  RequireAtivo();
  Raw(Cmd({ESC, 'a', static_cast<int>(al)}));
}

void TqorEscPosPrinter::DuploTamanho(bool on) {
  RequireAtivo();
  Raw(Cmd({GS, '!', on ? 0x11 : 0x00}));
}

void TqorEscPosPrinter::Texto(const std::string& utf8) {
  RequireAtivo();
  Raw(Codificar(utf8, config_.paginaDeCodigo));
}

void TqorEscPosPrinter::Linha(const std::string& utf8) {
  Texto(utf8);
  Raw("\n");
}

void TqorEscPosPrinter::Separador() {
  RequireAtivo();
  Raw(std::string(static_cast<std::size_t>(config_.colunasFonteNormal), '-') + "\n");
}

void TqorEscPosPrinter::Avancar(int linhas) {
  RequireAtivo();
  for (; linhas > 0; linhas -= 255) Raw(Cmd({ESC, 'd', std::min(linhas, 255)}));
}

void TqorEscPosPrinter::Cortar() {
  RequireAtivo();
  Raw(Cmd({GS, 'V', 1}));
}

void TqorEscPosPrinter::FimDeCupom() {
  Avancar(config_.linhasEntreCupons);
  if (config_.cortaPapel) Cortar();
}

void TqorEscPosPrinter::QrCode(const std::string& data) {
  RequireAtivo();
  if (data.empty()) return;
  const bool largo = config_.colunasFonteNormal > 40;
  if (config_.modelo == 2) {
    Raw(RasterQrCode(data, largo ? 576 : 384));
    return;
  }
  const std::size_t stored = data.size() + 3;
  if (stored > 7092)
    throw EqorGovException(Format("Texto longo demais para o QR Code (%d bytes).", {data.size()}));
  Raw(Cmd({GS, '(', 'k', 4, 0, 49, 65, 50, 0}));          // model 2
  Raw(Cmd({GS, '(', 'k', 3, 0, 49, 67, largo ? 6 : 4}));  // module size in dots
  Raw(Cmd({GS, '(', 'k', 3, 0, 49, 69, 49}));             // error correction M
  Raw(Cmd(
      {GS, '(', 'k', static_cast<int>(stored & 0xFF), static_cast<int>(stored >> 8), 49, 80, 48}));
  Raw(data);
  Raw(Cmd({GS, '(', 'k', 3, 0, 49, 81, 48}));  // print the stored symbol
  Raw("\n");
}

std::string TqorEscPosPrinter::RasterQrCode(const std::string& data, int dots) {
  const report::TQrCode qr = report::EncodeQr(data);
  const int modules = qr.size + 2 * report::kQuietModules;
  const int scale = std::min(dots / modules, 6);
  if (scale < 1)
    throw EqorGovException(
        Format("QR Code de %d módulos não cabe em %d pontos.", {qr.size, dots}));
  const int side = modules * scale;
  const int left = (dots - side) / 2 + report::kQuietModules * scale;
  const int top = report::kQuietModules * scale;
  const int rowBytes = dots / 8;
  std::string out = Cmd({GS, 'v', '0', 0, rowBytes & 0xFF, rowBytes >> 8, side & 0xFF, side >> 8});
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(side), '\0');
  for (int y = 0; y < qr.size * scale; ++y) {
    char* line = out.data() + start + static_cast<std::size_t>(top + y) * rowBytes;
    for (int x = 0; x < qr.size * scale; ++x) {
      if (!qr.Dark(x / scale, y / scale)) continue;
      const int px = left + x;
      line[px / 8] = static_cast<char>(line[px / 8] | (0x80 >> (px % 8)));
    }
  }
  return out;
}

std::string TqorEscPosPrinter::Codificar(const std::string& utf8, int pagina) {
  const char* charset = CharsetOf(pagina);
  if (!charset)
    throw EqorGovException(Format("Página de código %d não suportada pela impressora.", {pagina}));
  const iconv_t raw = iconv_open(charset, "UTF-8");
  if (raw == reinterpret_cast<iconv_t>(-1))
    throw EqorGovException(
        Format("Conversão para %s indisponível: %s", {charset, std::strerror(errno)}));
  std::unique_ptr<void, IconvCloser> cd(raw);

  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    std::size_t len = SequenceLength(lead);
    if (len == 0 || i + len > utf8.size() || !IsValidUtf8(std::string_view(utf8).substr(i, len))) {
      out.push_back('?');
      ++i;
      continue;
    }
    const std::string cp = utf8.substr(i, len);
    i += len;
    if (len == 1) {
      if (lead == '\n')
        out.push_back('\n');
      else if (lead == '\t')
        out.push_back(' ');
      else if (lead >= 0x20 && lead != 0x7F)
        out.push_back(static_cast<char>(lead));
      continue;
    }
    if (ConvertOne(raw, cp, out)) continue;
    const std::string bare = RemoveAccents(cp);
    if (bare == cp || !ConvertOne(raw, bare, out)) {
      // Combining accents (RemoveAccents drops them) and C1 controls vanish; anything else the
      // page lacks is a "?".
      const bool c1 = cp.size() == 2 && static_cast<unsigned char>(cp[0]) == 0xC2 &&
                      static_cast<unsigned char>(cp[1]) < 0xA0;
      if (bare.empty() || c1) continue;
      out.push_back('?');
    }
  }
  return out;
}

}  // namespace qor
