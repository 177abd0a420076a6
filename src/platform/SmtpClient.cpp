#include "platform/SmtpClient.h"

#include <sys/socket.h>
#include "platform/CurlApi.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>

#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/GovX.h"
#include "platform/HttpClient.h"
#include "platform/Text.h"

namespace qor {

namespace {

constexpr int kDefaultSmtpTimeoutMs = 30000;

struct CurlDeleter {
  void operator()(CURL* h) const { CurlApi().curl_easy_cleanup(h); }
  void operator()(curl_mime* m) const { CurlApi().curl_mime_free(m); }
  void operator()(curl_slist* l) const { CurlApi().curl_slist_free_all(l); }
};

class Slist {
 public:
  void Append(const std::string& line) {
    curl_slist* grown = CurlApi().curl_slist_append(list_.get(), line.c_str());
    if (grown == nullptr) throw EqorGovException("Memória insuficiente para montar o email.");
    list_.release();
    list_.reset(grown);
  }
  curl_slist* get() const { return list_.get(); }

 private:
  std::unique_ptr<curl_slist, CurlDeleter> list_;
};

// A header value never carries a line break of its own: a CR or LF in a setting would let it
// add headers (or recipients) of its choosing.
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) out += (c == '\r' || c == '\n') ? ' ' : c;
  return out;
}

// The mailbox part of "Name <box@host>" or of a bare address.
std::string Mailbox(const std::string& address) {
  const std::size_t open = address.rfind('<');
  const std::size_t close = address.rfind('>');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    return Trim(address.substr(open + 1, close - open - 1));
  }
  return Trim(address);
}

std::string JoinHeader(const std::vector<std::string>& addresses) {
  std::string out;
  for (const auto& a : addresses) out += (out.empty() ? "" : ", ") + OneLine(a);
  return out;
}

// RFC 5322 date in local time, with English names whatever the locale.
std::string MailDate(std::time_t now) {
  static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed",
                                                       "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm local{};
  localtime_r(&now, &local);
  const long offset = local.tm_gmtoff / 60;
  const long magnitude = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[static_cast<std::size_t>(local.tm_wday)], local.tm_mday,
                kMonths[static_cast<std::size_t>(local.tm_mon)], local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', magnitude / 60,
                magnitude % 60);
  return text;
}

std::string MessageId(const std::string& from, std::time_t now) {
  std::random_device random;
  char unique[48];
  std::snprintf(unique, sizeof unique, "%lld.%08x%08x", static_cast<long long>(now), random(),
                random());
  const std::string box = Mailbox(from);
  const std::size_t at = box.rfind('@');
  const std::string domain = at == std::string::npos ? "localhost" : box.substr(at + 1);
  return "<" + std::string(unique) + "@" + domain + ">";
}

std::string AttachmentType(const std::string& path) {
  if (EndsText(".xml", path)) return "application/xml";
  if (EndsText(".pdf", path)) return "application/pdf";
  return "application/octet-stream";
}

// `bytes` as Base64 in lines of 76 characters, as a MIME body carries it.
std::string Base64Lines(std::string_view bytes) {
  const std::string flat = EncodeBase64(bytes);
  std::string lines;
  lines.reserve(flat.size() + flat.size() / 38 + 2);
  for (std::size_t at = 0; at < flat.size(); at += 76) {
    lines.append(flat, at, 76);
    lines += "\r\n";
  }
  return lines;
}

// The trust when verifying: the system store and, when configured, the CABundle file too.
// CURLOPT_CAINFO would replace the store with the file, so both go in as one in-memory bundle.
std::string TrustBundle(const std::string& caBundle) {
  if (!FileExists(caBundle)) {
    throw EqorGovException(
        Format("Arquivo de autoridades certificadoras não encontrado: %s", {caBundle}));
  }
  std::string bundle;
  const curl_version_info_data* info = CurlApi().curl_version_info(CURLVERSION_NOW);
  if (info != nullptr && info->cainfo != nullptr && FileExists(info->cainfo)) {
    bundle = LoadFromFile(info->cainfo);
    bundle += "\n";
  }
  return bundle + LoadFromFile(caBundle);
}

// The server's replies as curl reads them; the last complete one is what a failure quotes.
struct ReplyLog {
  std::string pending;  // lines of a multi-line reply still open
  std::string refusal;  // the last complete 4xx or 5xx reply, lines joined by " "
};

int OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
  if (type != CURLINFO_HEADER_IN) return 0;  // what we send (AUTH included) is never kept
  auto* log = static_cast<ReplyLog*>(user);
  std::string line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  // "250-..." continues a reply, "250 ..." ends it.
  const bool continues = line.size() > 3 && line[3] == '-';
  if (line.size() > 3 && line[3] == '-') line[3] = ' ';
  log->pending += (log->pending.empty() ? "" : " ") + line;
  if (!continues) {
    // The QUIT that follows a refusal answers 221: the refusal is what a failure quotes.
    if (!log->pending.empty() && (log->pending[0] == '4' || log->pending[0] == '5'))
      log->refusal = log->pending;
    log->pending.clear();
  }
  return 0;
}

std::string Redact(std::string text, const std::string& secret) {
  if (secret.empty()) return text;
  ReplaceAll(text, secret, "***");
  return text;
}

std::string CauseOf(CURLcode code, int timeoutMs) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return "tempo limite de " + std::to_string(timeoutMs) + " ms esgotado";
    case CURLE_COULDNT_CONNECT:
      return "não foi possível conectar (conexão recusada ou servidor inacessível)";
    case CURLE_COULDNT_RESOLVE_HOST:
      return "endereço do servidor não encontrado";
    case CURLE_USE_SSL_FAILED:
      return "o servidor não oferece STARTTLS e a autenticação exige conexão segura";
    case CURLE_PEER_FAILED_VERIFICATION:
      return "o certificado do servidor não é confiável (verificação TLS)";
    case CURLE_SSL_CONNECT_ERROR:
      return "falha no estabelecimento da conexão segura (TLS)";
    case CURLE_SSL_CACERT_BADFILE:
      return "não foi possível ler as autoridades certificadoras (CABundle)";
    case CURLE_LOGIN_DENIED:
      return "autenticação recusada";
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return "a conexão foi interrompida";
    case CURLE_READ_ERROR:
      return "falha ao ler um anexo";
    default:
      return "erro de comunicação";
  }
}

}  // namespace

std::string TSmtpEndpoint::ForMessage() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

TSmtpEndpoint ResolveSmtpEndpoint(const std::string& server, int port) {
  TSmtpEndpoint end;
  std::string rest = Trim(server);
  bool smtps = false;
  if (StartsText("smtps://", rest)) {
    smtps = true;
    rest = rest.substr(8);
  } else if (StartsText("smtp://", rest)) {
    rest = rest.substr(7);
  }
  rest = rest.substr(0, rest.find('/'));
  int given = 0;
  if (!rest.empty() && rest.front() == '[') {  // [v6]:port
    const std::size_t close = rest.find(']');
    end.host = rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    if (close != std::string::npos && close + 1 < rest.size() && rest[close + 1] == ':') {
      given = std::atoi(rest.c_str() + close + 2);
    }
  } else if (const std::size_t colon = rest.rfind(':');
             colon != std::string::npos && rest.find(':') == colon) {
    end.host = rest.substr(0, colon);
    given = std::atoi(rest.c_str() + colon + 1);
  } else {
    end.host = rest;
  }
  end.port = given > 0 ? given : port > 0 ? port : smtps ? 465 : 25;
  end.implicitTls = smtps || end.port == 465;
  return end;
}

std::vector<std::string> SplitAddresses(const std::string& list) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t stop = list.find_first_of(";,", start);
    const std::string one =
        Trim(list.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
    if (!one.empty()) out.push_back(one);
    if (stop == std::string::npos) break;
    start = stop + 1;
  }
  return out;
}

std::string EncodeHeaderWord(const std::string& text) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return text;
  // 45 bytes make 60 Base64 characters: with "=?UTF-8?B?" and "?=" a word of 72. A chunk ends on
  // a character boundary, since a decoder may decode each word on its own.
  constexpr std::size_t kChunk = 45;
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = std::min(text.size(), at + kChunk);
    while (end < text.size() && end > at &&
           (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
      --end;
    }
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + EncodeBase64(std::string_view(text).substr(at, end - at)) + "?=";
    at = end;
  }
  return out;
}

void SendSmtpMessage(const TEmailSettings& s, const std::vector<std::string>& to,
                     const std::vector<std::string>& attachments) {
  // Everything that can be found wrong here is, before a connection is opened.
  for (const auto& file : attachments) {
    if (!FileExists(file)) {
      throw EqorGovException(Format("Arquivo %s não encontrado para anexar ao email.", {file}));
    }
  }
  const TSmtpEndpoint end = ResolveSmtpEndpoint(s.Server, s.Port);
  const std::string where = "Falha no envio do email pelo servidor " + end.ForMessage() + ": ";
  if (end.host.empty()) throw EqorGovException(where + "servidor SMTP não informado");
  if (Mailbox(s.From).empty()) throw EqorGovException(where + "remetente não informado");
  if (to.empty()) throw EqorGovException(where + "nenhum destinatário informado");
  const std::vector<std::string> cc = SplitAddresses(s.Cc);
  const std::vector<std::string> bcc = SplitAddresses(s.Bcc);
  const bool verify = !s.IgnoreInvalidCertificates;
  const std::string trust = verify && !s.CABundle.empty() ? TrustBundle(s.CABundle) : "";

  EnsureCurl();
  std::unique_ptr<CURL, CurlDeleter> owner(CurlApi().curl_easy_init());
  CURL* h = owner.get();
  if (h == nullptr) {
    throw EqorGovException("Não foi possível iniciar a biblioteca de comunicação (libcurl).");
  }
  char errorBuffer[CURL_ERROR_SIZE] = {};
  ReplyLog replies;
  CurlApi().curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  CurlApi().curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  CurlApi().curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  CurlApi().curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, OnDebug);
  CurlApi().curl_easy_setopt(h, CURLOPT_DEBUGDATA, &replies);
  CurlApi().curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);  // feeds OnDebug only; nothing is printed

  const std::string host =
      end.host.find(':') != std::string::npos ? "[" + end.host + "]" : end.host;
  const std::string url =
      (end.implicitTls ? "smtps://" : "smtp://") + host + ":" + std::to_string(end.port);
  CurlApi().curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  // Implicit TLS is TLS anyway; on a plain port STARTTLS is taken when offered, and demanded when
  // a password is to be sent, so it never crosses in clear.
  CurlApi().curl_easy_setopt(
      h, CURLOPT_USE_SSL,
      static_cast<long>(end.implicitTls || s.Authenticate ? CURLUSESSL_ALL : CURLUSESSL_TRY));
  CurlApi().curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  CurlApi().curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
  CurlApi().curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
  curl_blob trustBlob{const_cast<char*>(trust.data()), trust.size(), CURL_BLOB_NOCOPY};
  if (!trust.empty()) CurlApi().curl_easy_setopt(h, CURLOPT_CAINFO_BLOB, &trustBlob);
  if (s.Authenticate) {
    CurlApi().curl_easy_setopt(h, CURLOPT_USERNAME, s.UserName.c_str());
    CurlApi().curl_easy_setopt(h, CURLOPT_PASSWORD, s.Password.c_str());
  }
  const int timeout = s.TimeOut > 0 ? s.TimeOut : kDefaultSmtpTimeoutMs;
  CurlApi().curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout));
  CurlApi().curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout));

  const std::string mailFrom = "<" + Mailbox(s.From) + ">";
  CurlApi().curl_easy_setopt(h, CURLOPT_MAIL_FROM, mailFrom.c_str());
  Slist recipients;
  for (const auto* list : {&to, &cc, &bcc}) {
    for (const auto& a : *list) recipients.Append("<" + OneLine(Mailbox(a)) + ">");
  }
  CurlApi().curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());

  const std::time_t now = std::time(nullptr);
  Slist headers;  // Bcc is never a header: its addresses go in the envelope alone
  headers.Append("Date: " + MailDate(now));
  headers.Append("From: " + OneLine(s.From));
  headers.Append("To: " + JoinHeader(to));
  if (!cc.empty()) headers.Append("Cc: " + JoinHeader(cc));
  headers.Append("Subject: " + EncodeHeaderWord(OneLine(s.Subject)));
  headers.Append("Message-ID: " + MessageId(s.From, now));
  CurlApi().curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

  std::unique_ptr<curl_mime, CurlDeleter> mime(CurlApi().curl_mime_init(h));
  curl_mimepart* body = CurlApi().curl_mime_addpart(mime.get());
  CurlApi().curl_mime_data(body, s.Body.data(), s.Body.size());
  CurlApi().curl_mime_type(body, s.Html ? "text/html; charset=UTF-8" : "text/plain; charset=UTF-8");
  CurlApi().curl_mime_encoder(body, "quoted-printable");
  // Attachments are encoded here, whole: curl's own encoder reads its source 256 bytes at a time
  // and the message would leave in as many small writes.
  for (const auto& file : attachments) {
    const std::string encoded = Base64Lines(LoadFromFile(file));
    curl_mimepart* part = CurlApi().curl_mime_addpart(mime.get());
    CurlApi().curl_mime_data(part, encoded.data(), encoded.size());  // copied by curl
    CurlApi().curl_mime_filename(part, ExtractFileName(file).c_str());
    CurlApi().curl_mime_type(part, AttachmentType(file).c_str());
    curl_slist* transfer =
        CurlApi().curl_slist_append(nullptr, "Content-Transfer-Encoding: base64");
    if (transfer == nullptr) throw EqorGovException("Memória insuficiente para montar o email.");
    CurlApi().curl_mime_headers(part, transfer, 1);
  }
  CurlApi().curl_easy_setopt(h, CURLOPT_MIMEPOST, mime.get());
  CurlApi().curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);

  const CURLcode code = CurlApi().curl_easy_perform(h);
  if (code == CURLE_OK) return;
  // A failed exchange is over: closing the socket here keeps the handle's clean-up from sending
  // QUIT and waiting on a server that stopped answering.
  curl_socket_t socket = CURL_SOCKET_BAD;
  if (CurlApi().curl_easy_getinfo(h, CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK &&
      socket != CURL_SOCKET_BAD) {
    shutdown(socket, SHUT_RDWR);
  }
  std::string detail = CurlApi().curl_easy_strerror(code);
  if (errorBuffer[0] != '\0') detail += ": " + std::string(errorBuffer);
  std::string cause;
  if (!replies.refusal.empty() && code != CURLE_OPERATION_TIMEDOUT) {
    cause = "o servidor respondeu " + QuoteForMessage(replies.refusal);
  } else {
    cause = CauseOf(code, timeout);
  }
  throw EqorGovException(Redact(where + cause + " (" + detail + ")", s.Password));
}

}  // namespace qor
