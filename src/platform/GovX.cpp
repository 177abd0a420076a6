#include "platform/GovX.h"

#include <algorithm>
#include <cctype>

#include "platform/Certificate.h"
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
// cut, HTML or mis-encoded body is not the state's answer, whatever its HTTP status said.
bool IsSoapEnvelope(const std::string& reply) {
  try {
    const XmlDocument document = XmlDocument::Parse(reply);
    const std::string ns = document.RootNamespace();
    return document.RootName() == "Envelope" && (ns == "http://www.w3.org/2003/05/soap-envelope" ||
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
