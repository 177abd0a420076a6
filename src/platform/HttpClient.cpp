#include "platform/HttpClient.h"

#include "platform/CurlApi.h"

#include <mutex>
#include <optional>

#include "platform/GovException.h"
#include "platform/Text.h"
#include "platform/Xml.h"

namespace qor {

void EnsureCurl() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (CurlApi().curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      throw EqorGovException("Não foi possível iniciar a biblioteca de comunicação (libcurl).");
    }
  });
}

namespace {

// A reply larger than this is refused rather than held in memory: no state service answers with
// anything near it, so it can only be a wrong address or a misbehaving peer.
constexpr std::size_t kMaxResponseBytes = 64u * 1024u * 1024u;

struct Sink {
  std::string body;
  bool tooLarge = false;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const std::size_t bytes = size * count;
  if (sink->body.size() + bytes > kMaxResponseBytes) {
    sink->tooLarge = true;
    return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
  }
  sink->body.append(data, bytes);
  return bytes;
}

std::string Redact(std::string text, const std::vector<std::string>& secrets) {
  for (const auto& secret : secrets) {
    if (secret.empty()) continue;
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + 3)) {
      text.replace(at, secret.size(), "***");
    }
  }
  return text;
}

// The reason a SOAP fault gives (1.2 Reason/Text, 1.1 faultstring); empty for any other body.
std::string FaultReason(const std::string& body) {
  try {
    const XmlDocument document = XmlDocument::Parse(body);
    if (document.RootName() != "Envelope") return {};
    std::string reason;
    document.SelectSingleNode(
        "//*[local-name()='Fault']/*[local-name()='Reason']/*[local-name()='Text'] | "
        "//*[local-name()='Fault']/*[local-name()='faultstring']",
        reason, {}, false);
    return reason;
  } catch (const EqorGovException&) {
    return {};
  }
}

std::string CauseInPortuguese(CURLcode code, int timeoutMs) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return timeoutMs > 0 ? "tempo limite de " + std::to_string(timeoutMs) + " ms esgotado"
                           : "tempo limite esgotado";
    case CURLE_COULDNT_CONNECT:
      return "não foi possível conectar (conexão recusada ou servidor inacessível)";
    case CURLE_COULDNT_RESOLVE_HOST:
      return "endereço do servidor não encontrado";
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "endereço do proxy não encontrado";
    case CURLE_GOT_NOTHING:
      return "o servidor encerrou a conexão sem responder";
    case CURLE_PARTIAL_FILE:
      return "resposta incompleta: a conexão foi encerrada antes do fim da resposta";
    case CURLE_RECV_ERROR:
      return "falha ao receber a resposta (conexão interrompida)";
    case CURLE_SEND_ERROR:
      return "falha ao enviar a requisição (conexão interrompida)";
    case CURLE_PEER_FAILED_VERIFICATION:
      return "o certificado do servidor não é confiável (verificação TLS)";
    case CURLE_SSL_CONNECT_ERROR:
      return "falha no estabelecimento da conexão segura (TLS)";
    case CURLE_SSL_CERTPROBLEM:
      return "o certificado do cliente foi recusado pela biblioteca TLS";
    case CURLE_SSL_CACERT_BADFILE:
      return "não foi possível ler o arquivo de autoridades certificadoras (CABundle)";
    case CURLE_URL_MALFORMAT:
      return "endereço inválido";
    case CURLE_UNSUPPORTED_PROTOCOL:
      return "protocolo não suportado (use http ou https)";
    case CURLE_WRITE_ERROR:
      return "resposta grande demais";
    default:
      return "erro de comunicação";
  }
}

// Whether the failure came before the request could be written to a connection: none was made,
// or its TLS handshake failed. (A time-out is so only while connecting; see Perform.)
bool NeverSent(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return true;
    default:
      return false;
  }
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { CurlApi().curl_slist_free_all(list); }
};

}  // namespace

struct THttpClient::Impl {
  CURL* handle = nullptr;
  std::optional<THttpConnectionSettings> settings;  // those `handle` was made with
  char errorBuffer[CURL_ERROR_SIZE] = {};

  ~Impl() { Drop(); }

  void Drop() {
    if (handle != nullptr) CurlApi().curl_easy_cleanup(handle);
    handle = nullptr;
    settings.reset();
  }

  // A new handle (hence new connections) whenever a connection setting changed, so that a
  // connection opened under the old proxy, trust or certificate is never reused.
  void Prepare(const THttpConnectionSettings& wanted) {
    if (handle != nullptr && settings && *settings == wanted) return;
    Drop();
    EnsureCurl();
    handle = CurlApi().curl_easy_init();
    if (handle == nullptr) {
      throw EqorGovException("Não foi possível iniciar a biblioteca de comunicação (libcurl).");
    }
    CurlApi().curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    CurlApi().curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    CurlApi().curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 1L);
    CurlApi().curl_easy_setopt(handle, CURLOPT_VERBOSE, 0L);
    CurlApi().curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteBody);
    CurlApi().curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    CurlApi().curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    CurlApi().curl_easy_setopt(handle, CURLOPT_HTTP_VERSION,
                               static_cast<long>(CURL_HTTP_VERSION_1_1));
    CurlApi().curl_easy_setopt(handle, CURLOPT_SSLVERSION,
                               static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    CurlApi().curl_easy_setopt(handle, CURLOPT_TCP_KEEPALIVE, 1L);
    // One TLS record's worth (TLS cuts writes into 16 kB records anyway) instead of libcurl's
    // 64 kB: that buffer is made and freed for every request, and with the TLS buffers it came
    // to more than the allocator keeps, so each request grew the heap and gave it back.
    CurlApi().curl_easy_setopt(handle, CURLOPT_UPLOAD_BUFFERSIZE, 16384L);
    // The configured proxy is the only one: an empty string also keeps libcurl from taking one
    // from the environment, so what the host configured is what happens.
    CurlApi().curl_easy_setopt(handle, CURLOPT_PROXY, wanted.proxy.c_str());
    if (!wanted.proxy.empty() && !wanted.proxyUser.empty()) {
      CurlApi().curl_easy_setopt(handle, CURLOPT_PROXYUSERNAME, wanted.proxyUser.c_str());
      CurlApi().curl_easy_setopt(handle, CURLOPT_PROXYPASSWORD, wanted.proxyPassword.c_str());
    }
    CurlApi().curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, wanted.verifyPeer ? 1L : 0L);
    CurlApi().curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, wanted.verifyPeer ? 2L : 0L);
    if (wanted.verifyPeer && !wanted.caBundle.empty()) {
      CurlApi().curl_easy_setopt(handle, CURLOPT_CAINFO, wanted.caBundle.c_str());
    }
    if (wanted.clientIdentity) {
      // The PKCS#12 file was opened once by the certificate cache; libcurl gets the result as
      // PEM from memory and never reads the file or sees its password.
      const auto& id = *wanted.clientIdentity;
      curl_blob cert{const_cast<char*>(id.certificatePem.data()), id.certificatePem.size(),
                     CURL_BLOB_COPY};
      curl_blob key{const_cast<char*>(id.privateKeyPem.data()), id.privateKeyPem.size(),
                    CURL_BLOB_COPY};
      CurlApi().curl_easy_setopt(handle, CURLOPT_SSLCERTTYPE, "PEM");
      CurlApi().curl_easy_setopt(handle, CURLOPT_SSLCERT_BLOB, &cert);
      CurlApi().curl_easy_setopt(handle, CURLOPT_SSLKEYTYPE, "PEM");
      CurlApi().curl_easy_setopt(handle, CURLOPT_SSLKEY_BLOB, &key);
    }
    settings = wanted;
  }
};

// libcurl is started by the first request, not here: a component that only signs or converts
// never loads it.
THttpClient::THttpClient() : impl_(std::make_unique<Impl>()) {}

THttpClient::~THttpClient() = default;

std::string THttpClient::Escape(const std::string& text) {
  EnsureCurl();
  char* escaped = CurlApi().curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size()));
  if (escaped == nullptr) throw EqorGovException("Memória insuficiente para a requisição HTTP.");
  std::string out = escaped;
  CurlApi().curl_free(escaped);
  return out;
}

std::string THttpClient::UrlForMessage(const std::string& url) {
  const std::size_t scheme = url.find("://");
  const std::size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t hostEnd = url.find_first_of("/?#", hostStart);
  const std::size_t at = url.rfind('@', hostEnd == std::string::npos ? url.size() : hostEnd);
  if (at == std::string::npos || at < hostStart) return url;
  return url.substr(0, hostStart) + url.substr(at + 1);
}

std::string THttpClient::Post(const THttpConnectionSettings& settings, const THttpPost& post) {
  return Perform(settings, post, false);
}

std::string THttpClient::Get(const THttpConnectionSettings& settings, const THttpPost& request) {
  return Perform(settings, request, true);
}

std::string THttpClient::Perform(const THttpConnectionSettings& settings, const THttpPost& post,
                                 bool get) {
  Impl& d = *impl_;
  d.Prepare(settings);
  CURL* h = d.handle;

  std::unique_ptr<curl_slist, SlistDeleter> headers;
  auto append = [&headers](const std::string& line) {
    curl_slist* grown = CurlApi().curl_slist_append(headers.get(), line.c_str());
    if (grown == nullptr) throw EqorGovException("Memória insuficiente para a requisição HTTP.");
    headers.release();
    headers.reset(grown);
  };
  for (const auto& line : post.headers) append(line);
  // No "Expect: 100-continue": a server that ignores it would cost a second's wait on every
  // request with a body over 1 KB, and a SOAP request gains nothing from asking first.
  if (!get) append("Expect:");

  Sink sink;
  d.errorBuffer[0] = '\0';
  CurlApi().curl_easy_setopt(h, CURLOPT_URL, post.url.c_str());
  if (get) {
    CurlApi().curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else {
    CurlApi().curl_easy_setopt(h, CURLOPT_POST, 1L);
    CurlApi().curl_easy_setopt(h, CURLOPT_POSTFIELDS, post.body.data());
    CurlApi().curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                               static_cast<curl_off_t>(post.body.size()));
  }
  CurlApi().curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  CurlApi().curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  // No setting leaves a till waiting forever on a server that accepts and never answers.
  const long timeout = post.timeoutMs > 0 ? post.timeoutMs : kDefaultTimeoutMs;
  CurlApi().curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeout);
  CurlApi().curl_easy_setopt(
      h, CURLOPT_CONNECTTIMEOUT_MS,
      post.timeoutMs > 0 ? timeout : static_cast<long>(kDefaultConnectTimeoutMs));

  const CURLcode code = CurlApi().curl_easy_perform(h);
  // Nothing of this request may outlive the call inside the handle.
  CurlApi().curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
  CurlApi().curl_easy_setopt(h, CURLOPT_POSTFIELDS, nullptr);
  CurlApi().curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);

  const std::string where = "Falha na comunicação com " + UrlForMessage(post.url) + ": ";
  if (code != CURLE_OK) {
    std::string detail = CurlApi().curl_easy_strerror(code);
    if (d.errorBuffer[0] != '\0') detail += ": " + std::string(d.errorBuffer);
    if (code == CURLE_WRITE_ERROR && !sink.tooLarge) {
      throw EqorGovException(where + "falha ao guardar a resposta (" +
                             Redact(detail, post.secrets) + ")");
    }
    std::string cause = CauseInPortuguese(code, static_cast<int>(timeout));
    curl_off_t connected = 0;
    const bool connectTimeout =
        code == CURLE_OPERATION_TIMEDOUT && post.timeoutMs <= 0 &&
        CurlApi().curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connected) == CURLE_OK &&
        connected == 0;
    if (connectTimeout) {
      cause =
          "tempo limite de conexão de " + std::to_string(kDefaultConnectTimeoutMs) + " ms esgotado";
    }
    if (code == CURLE_COULDNT_CONNECT && !settings.proxy.empty()) {
      cause = "não foi possível conectar pelo proxy " + UrlForMessage(settings.proxy);
    }
    const std::string message = where + cause + " (" + Redact(detail, post.secrets) + ")";
    if (connectTimeout || NeverSent(code)) throw EqorGovSemConexaoException(message);
    throw EqorGovException(message);
  }
  long status = 0;
  CurlApi().curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) {
    const std::string reason = FaultReason(sink.body);
    const std::string excerpt =
        Redact(QuoteForMessage(reason.empty() ? sink.body : reason), post.secrets);
    throw EqorGovReplyException(where + "HTTP " + std::to_string(status) +
                                    (excerpt.empty() ? std::string() : " - " + excerpt),
                                status, std::move(sink.body));
  }
  return std::move(sink.body);
}

}  // namespace qor
