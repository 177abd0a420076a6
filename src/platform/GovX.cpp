#include "platform/GovX.h"

#include <algorithm>
#include <cctype>

#include "platform/CertStore.h"
#include "platform/Certificate.h"
#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/HttpClient.h"
#include "platform/Report.h"
#include "platform/SmtpClient.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "platform/XmlSigner.h"

namespace qor {

namespace {

// Whether a reply is a whole, well-formed SOAP 1.1 or 1.2 envelope in a valid encoding: an empty,
// cut, HTML or mis-encoded body is not the state's answer, whatever its HTTP status said. SOAP
// forbids a document type declaration: the entities one declares would stay unexpanded, and the
// body taken out of the envelope would no longer be well-formed without them.
bool IsSoapEnvelope(const std::string& reply) {
  try {
    const XmlDocument document = XmlDocument::Parse(reply);
    const std::string ns = document.RootNamespace();
    return document.RootName() == "Envelope" && !document.HasDocumentType() &&
           (ns == "http://www.w3.org/2003/05/soap-envelope" ||
            ns == "http://schemas.xmlsoap.org/soap/envelope/");
  } catch (const EqorGovException&) {
    return false;
  }
}

constexpr int kCertificateKindFile = 2;  // ckFile

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

constexpr int kDownloadTotalMs = 30000;

// The host of an "http://host[:port]/..." address, or empty when it is not plain HTTP.
std::string HttpHost(const std::string& url) {
  if (!StartsWithNoCase(url, "http://")) return {};
  const std::string rest = url.substr(7);
  if (!rest.empty() && rest[0] == '[') {
    const std::size_t close = rest.find(']');
    return close == std::string::npos ? std::string() : rest.substr(0, close + 1);
  }
  return rest.substr(0, rest.find_first_of(":/?#"));
}

}  // namespace

struct TqorGovX::Impl {
  THttpSettings http;
  TSignerSettings signer;
  TCertificateSettings certificate;
  TEmailSettings email;
  TPrintSettings print;
  std::string httpLibs;
  bool diagnosticMode = false;
  TPkcs12Cache certificates;
  THttpClient client;
  TXmlSigner xmlSigner;

  // The configured certificate, opened (or taken from the cache) and checked for content; its
  // dates are the caller's business.
  std::shared_ptr<const TPkcs12Identity> Certificate() {
    if (certificate.Kind != kCertificateKindFile) {
      throw EqorGovException(
          "Tipo de certificado não suportado (" + std::to_string(certificate.Kind) +
          "): neste sistema o certificado é sempre um arquivo PKCS#12 (TipoCertificado = ckFile).");
    }
    if (certificate.Path.empty()) {
      throw EqorGovException(
          "Certificado não informado: indique o arquivo PKCS#12 em CaminhoCertificado.");
    }
    return certificates.Get(certificate.Path, certificate.Password);
  }

  // The certificate, refused when out of its validity: the state services refuse what it signs
  // or presents, and its own message is the clearer one.
  // What a plain request (no client certificate) goes out with.
  THttpConnectionSettings PlainConnection() const {
    THttpConnectionSettings connection;
    connection.proxy = http.Proxy;
    connection.proxyUser = http.ProxyUser;
    connection.proxyPassword = http.ProxyPassword;
    connection.verifyPeer = !http.IgnoreInvalidCertificates;
    connection.caBundle = http.CABundle;
    return connection;
  }

  std::shared_ptr<const TPkcs12Identity> ValidCertificate() {
    auto identity = Certificate();
    CheckValidity(*identity, std::chrono::system_clock::now());
    return identity;
  }
};

TqorGovX::TqorGovX() : impl_(std::make_unique<Impl>()) {}

TqorGovX::~TqorGovX() = default;

THttpSettings& TqorGovX::Get_HttpSettings() { return impl_->http; }

TSignerSettings& TqorGovX::Get_SignerSettings() { return impl_->signer; }

TCertificateSettings& TqorGovX::Get_CertificateSettings() { return impl_->certificate; }

TEmailSettings& TqorGovX::Get_EmailSettings() { return impl_->email; }

TPrintSettings& TqorGovX::Get_PrintSettings() { return impl_->print; }

// Kept for the host's configuration; libcurl's verbose trace is never switched on, since it would
// go to the host's terminal and can quote request headers.
void TqorGovX::Set_DiagnosticMode(bool on) { impl_->diagnosticMode = on; }

void TqorGovX::Set_CertificateHash(const std::string& hash) { impl_->certificate.Hash = hash; }

void TqorGovX::Configure(const std::string& key, const std::string& value) {
  if (EqualsNoCase(key, "HttpLibs")) {
    impl_->httpLibs = value;
    return;
  }
  throw EqorGovException("Opção de configuração desconhecida: " + key);
}

void TqorGovX::SendEmail(const std::string& address, const std::vector<std::string>& attachments) {
  const TEmailSettings& settings = impl_->email;
  SendSmtpMessage(settings, SplitAddresses(address.empty() ? settings.To : address), attachments);
}

std::string TqorGovX::PostSOAP(const std::string& url, const std::string& envelope,
                               const std::string& soapAction, const std::string& /*resultTag*/,
                               const std::string& /*targetNamespace*/) {
  Impl& d = *impl_;
  THttpConnectionSettings connection;
  connection.proxy = d.http.Proxy;
  connection.proxyUser = d.http.ProxyUser;
  connection.proxyPassword = d.http.ProxyPassword;
  connection.verifyPeer = !d.http.IgnoreInvalidCertificates;
  connection.caBundle = d.http.CABundle;
  if (!d.certificate.Path.empty()) {
    connection.clientIdentity = d.ValidCertificate();
  }

  THttpPost post;
  post.url = url;
  post.body = envelope;
  post.timeoutMs = d.http.TimeOut;
  post.secrets = {d.certificate.Password, d.http.ProxyPassword};
  std::string contentType = d.http.ContentType;
  if (StartsWithNoCase(contentType, "text/xml")) {
    // SOAP 1.1 carries the action in its own header.
    post.headers.push_back("Content-Type: " + contentType);
    post.headers.push_back("SOAPAction: \"" + soapAction + "\"");
  } else {
    if (!soapAction.empty()) {
      if (!contentType.empty() && contentType.back() != ';') contentType += ';';
      contentType += "action=\"" + soapAction + "\"";
    }
    post.headers.push_back("Content-Type: " + contentType);
  }
  std::string reply = d.client.Post(connection, post);
  if (!IsSoapEnvelope(reply)) {
    throw EqorGovReplyException("A resposta de " + THttpClient::UrlForMessage(url) +
                                    " não é um envelope SOAP: \"" + QuoteForMessage(reply) + "\"",
                                200, std::move(reply));
  }
  return reply;
}

void TqorGovX::CheckCertificate() {
  Impl& d = *impl_;
  if (OnCheckCertificate) {
    std::string name = d.certificate.Name;
    OnCheckCertificate(name);
    d.certificate.Name = name;
  }
  d.ValidCertificate();
}

std::string TqorGovX::SignXmlById(const std::string& xml, const std::string& id,
                                  std::string* digestValue) {
  Impl& d = *impl_;
  return d.xmlSigner.Sign(xml, id, d.signer.SignedElement, d.ValidCertificate(), digestValue);
}

std::string TqorGovX::SignXmlById(XmlDocument document, const std::string& id,
                                  std::string* digestValue) {
  Impl& d = *impl_;
  return d.xmlSigner.Sign(std::move(document), id, d.signer.SignedElement, d.ValidCertificate(),
                          digestValue);
}

void TqorGovX::UpdateResource(const std::string& source, const std::string& target, int timeoutMs) {
  Impl& d = *impl_;
  THttpPost request;
  request.url = source;
  request.timeoutMs = timeoutMs > 0 ? timeoutMs : kDownloadTotalMs;
  request.secrets = {d.http.ProxyPassword};
  THttpClient client;  // its own connection: a download never disturbs the kept SOAP one
  const std::string archive = client.Get(d.PlainConnection(), request);
  std::string content;
  try {
    content = GUnzipString(archive);
  } catch (const EqorGovException& failure) {
    throw EqorGovException("O arquivo baixado de " + THttpClient::UrlForMessage(source) +
                           " não é um gzip íntegro: " + failure.what());
  }
  SaveToFile(target, content);
}

bool TqorGovX::RequestAutoUpdaterLocal(const std::string& product, const std::string& version,
                                       std::string& output, long long processId, long long number,
                                       const std::string& url, const std::string& method,
                                       const std::string& params, int timeoutMs) {
  const std::string host = HttpHost(url);
  if (host != "127.0.0.1" && !EqualsNoCase(host, "localhost") && host != "[::1]") {
    throw EqorGovException("O atualizador local deve estar em http://127.0.0.1 (endereço " +
                           THttpClient::UrlForMessage(url) + " recusado).");
  }
  if (!EqualsNoCase(method, "GET")) {
    throw EqorGovException("Método não suportado pelo atualizador local: " + method);
  }
  std::string query = "produto=" + THttpClient::Escape(product) +
                      "&versao=" + THttpClient::Escape(version) +
                      "&processo=" + std::to_string(processId) + "&tempo=" + std::to_string(number);
  std::size_t start = 0;
  while (start <= params.size()) {
    std::size_t end = params.find('\n', start);
    if (end == std::string::npos) end = params.size();
    std::string line = params.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t eq = line.find('=');
    if (!line.empty() && eq != std::string::npos) {
      query += "&" + THttpClient::Escape(line.substr(0, eq)) + "=" +
               THttpClient::Escape(line.substr(eq + 1));
    }
    start = end + 1;
  }
  THttpPost request;
  request.url = url + (url.find('?') == std::string::npos ? "?" : "&") + query;
  request.timeoutMs = timeoutMs;
  THttpClient client;
  THttpConnectionSettings direct;  // loopback: never through the proxy
  output = client.Get(direct, request);
  return !output.empty();
}

std::vector<std::string> TqorGovX::ListCertificates(const std::string& folder,
                                                    const std::string& password) {
  return ListCertificateStore(folder, password);
}

bool TqorGovX::RemoveCertificate(const std::string& folder, const std::string& password,
                                 const std::string& serial) {
  return RemoveFromCertificateStore(folder, password, serial);
}

std::chrono::system_clock::time_point TqorGovX::CertificateExpiration() {
  return impl_->Certificate()->notAfter;
}

}  // namespace qor

namespace qor {

void TqorGovX::PrintReport() { report::Print(impl_->print); }

std::string TqorGovX::PreviewReport(const std::string& folder) {
  return report::Preview(impl_->print, folder);
}

void TqorGovX::ExportReport() { report::Export(impl_->print); }

void TqorGovX::EditReport() { report::Edit(impl_->print); }

}  // namespace qor
