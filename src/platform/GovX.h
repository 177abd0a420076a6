// The services object a component holds: SOAP posting over HTTPS with the company's client
// certificate, the certificate checks, and enveloped XML-DSig signing (SignXmlById). (Reports
// and e-mail join it as those capabilities land.)
//
// Transport: libcurl. One connection is kept per object and reused by consecutive posts to the
// same host while the connection settings stay the same. Every transport failure (address not
// reachable, connection refused or reset, time-out, TLS failure, HTTP status other than 200)
// throws EqorGovException whose message names the address and the cause.
//
// Certificates: a certificate of kind ckFile is a PKCS#12 file (CertificatePath, with
// CertificatePassword). It is loaded once and reused until a certificate setting or the file
// changes.
//
// Not thread-safe per object; one object per component.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Xml.h"

namespace qor {

struct TCertificateSettings {
  int Kind = 2;          // TCertificadoKind ordinal; 2 (ckFile) is the kind Linux has
  std::string Name;      // NomeCertificado (the subject or alias the host chose)
  std::string Hash;      // HashCertificado
  std::string Path;      // PKCS#12 file
  std::string Password;  // its password; never logged nor put in a message
};

struct THttpSettings {
  std::string ContentType = "application/soap+xml;charset=UTF-8;";
  std::string Proxy;  // "host:port"; empty means none
  std::string ProxyUser;
  std::string ProxyPassword;
  int TimeOut = 0;  // milliseconds for the whole exchange; 0 = libcurl's default
  bool IgnoreInvalidCertificates = true;  // false: the server's chain and name are verified
  std::string CABundle;                   // PEM file of trusted CAs; empty = the system store
  bool ConexaoSegura = false;
};

struct TSignerSettings {
  std::string SignedElement;  // "infNFe", "infEvento", "infInut"
  int Mode = 0;
  // The component's list of the elements a signed document may hold ("elementospermitidos.bin"
  // in the template folder); empty when none is configured.
  std::string AllowedElementsFile;
};

// SMTP settings the component copies in before a message is sent.
struct TEmailSettings {
  std::string Server;
  int Port = 0;
  std::string UserName;
  std::string Password;  // never logged nor put in a message
  bool Authenticate = false;
  int TimeOut = 0;  // milliseconds
  std::string From, To, Cc, Bcc;
  std::string Subject;
  std::string Body;
  bool Html = false;  // Body is HTML rather than plain text
  // Accept any server certificate (no chain or name check).
  bool IgnoreInvalidCertificates = false;
  // PEM file of CAs trusted in addition to the system store when verifying.
  std::string CABundle;
};

// Report engine settings: the template, where the report goes and the data it is filled with.
struct TPrintSettings {
  std::string TemplateFile;
  std::string PrinterName;
  std::string SaveAs;     // export file
  std::string Variables;  // report variables, "name=value" lines
  int Copies = 1;
  std::string ReportData;  // the serialised data sets
  int ExportFormat = 1;    // 1 PDF, 2 HTML, 3 TXT, 4 PNG
  std::string LogoFile;
};

class TqorGovX {
 public:
  TqorGovX();
  TqorGovX(const TqorGovX&) = delete;
  TqorGovX& operator=(const TqorGovX&) = delete;
  ~TqorGovX();

  THttpSettings& Get_HttpSettings();
  TSignerSettings& Get_SignerSettings();
  TCertificateSettings& Get_CertificateSettings();
  TEmailSettings& Get_EmailSettings();
  TPrintSettings& Get_PrintSettings();
  void Set_DiagnosticMode(bool on);
  void Set_CertificateHash(const std::string& hash);
  // Library options by key; the only key is "HttpLibs" (kept for configuration files written
  // elsewhere, it has no effect: libcurl is the one transport).
  void Configure(const std::string& key, const std::string& value);

  // Posts `envelope` to `url` (HTTP POST, Content-Type = ContentType + "action=\"soapAction\"")
  // with the client certificate, and returns the response body as received. `resultTag` and
  // `targetNamespace` name what the caller will unwrap; they are not needed to post.
  // The certificate of Path is presented to the server (loaded once, see CheckCertificate); an
  // expired or unreadable one throws its certificate message before anything is sent. With no
  // Path no client certificate is presented and the server decides.
  std::string PostSOAP(const std::string& url, const std::string& envelope,
                       const std::string& soapAction, const std::string& resultTag,
                       const std::string& targetNamespace);

  // Mails `attachments` (file paths) to `address` (several split on ";" or ","; empty: the
  // settings' To) with Get_EmailSettings(): From, Cc, Bcc (envelope only), Subject, Body.
  // A missing attachment throws "Arquivo %s não encontrado para anexar ao email." before
  // connecting; a failed exchange throws EqorGovException naming the server and the reply or the
  // cause (README, "E-mail"). Nothing is retried.
  void SendEmail(const std::string& address, const std::vector<std::string>& attachments);

  // Loads the configured certificate and checks it: the file exists, the password opens it, it
  // holds a key and a certificate, and today is inside its validity. Throws EqorGovException
  // with a message that says which ("Certificado não encontrado: ...", "Senha do certificado
  // inválida...", "Certificado vencido em ...").
  void CheckCertificate();
  // The configured certificate's notAfter.
  std::chrono::system_clock::time_point CertificateExpiration();

  // Signs `xml` with an enveloped XML-DSig signature of the element whose Id attribute is `id`
  // and returns the signed document. Only the Id attributes of the elements whose local name is
  // Get_SignerSettings().SignedElement ("infNFe", "infEvento", ...) count as ids. The Signature
  // (namespace http://www.w3.org/2000/09/xmldsig#, no prefix) is appended as the last child of
  // the signed element's parent: inclusive C14N, RSA-SHA1, one Reference "#id" with the
  // enveloped-signature and inclusive C14N transforms, SHA-1 digest, and the company's
  // certificate (the end-entity one only) in KeyInfo/X509Data/X509Certificate. The result is
  // the input's text with the signature added: no XML declaration, no line break that the input
  // did not have, Base64 values on one line.
  // The key is that of the configured certificate, loaded and checked as CheckCertificate does
  // (same messages); the signing key is built once and reused until a certificate setting or the
  // file changes. Throws EqorGovException: "Elemento de Id <id> não encontrado." when no such
  // element is there, text that is not well-formed XML, and any failure of the signature itself.
  // `digestValue`, when given, receives the Base64 DigestValue of the reference.
  std::string SignXmlById(const std::string& xml, const std::string& id,
                          std::string* digestValue = nullptr);
  // The same for a text already parsed (XmlDocument::Parse), which need not be read again:
  // `document` is signed in place.
  std::string SignXmlById(XmlDocument document, const std::string& id,
                          std::string* digestValue = nullptr);

  // ---- reports ------------------------------------------------------------------------------
  // The report of Get_PrintSettings(): the layout TemplateFile (a ".rtm" file, see
  // ReportLayout.cpp) filled with ReportData (SerializeTDataSourceList's text), Variables
  // (LarguraBobina "80" or "58" chooses the roll) and LogoFile (a PNG; empty: none), one page per
  // note. Failures throw EqorGovException naming the file or the printer: a layout that does not
  // parse or names an unknown set or field (with its line), a logo that is not a PNG, a file that
  // cannot be written. Files are written whole or not at all.

  // Prints the report as a PDF on the CUPS queue PrinterName (the default destination when
  // empty), Copies copies: `lp -d PrinterName -n Copies -- FILE` run without a shell, on a
  // temporary PDF removed afterwards. lp's error output is in the message when it fails.
  void PrintReport();
  // Renders the report as a PNG image (203 dpi, the notes one under the other) into a new file
  // "danfce-preview-XXXXXXXX.png" of `folder` and returns its path.
  std::string PreviewReport(const std::string& folder);
  // Writes the report into SaveAs: ExportFormat 1 PDF, 2 HTML, 3 TXT, 4 PNG. A failure leaves no
  // file (an older file of that name untouched).
  void ExportReport();
  // Loads and checks the layout TemplateFile (against ReportData's sets and fields when given).
  void EditReport();

  // ---- deployment ---------------------------------------------------------------------------
  // Downloads the gzip archive at `source` (plain HTTP GET through the configured proxy and trust)
  // and writes its content, extracted, to `target` (written whole or not at all). The archive must
  // be whole: gzip's own length and CRC are checked. Any status but 200, a body cut short, a
  // corrupt archive or a server silent past `timeoutMs` (0: 30 s for the whole download) throws
  // EqorGovException and leaves `target` as it was.
  void UpdateResource(const std::string& source, const std::string& target, int timeoutMs = 0);

  // Asks the local updater at `url` (plain HTTP on the loopback interface only; any other host
  // throws before anything is sent) with one `method` request ("GET" is the one there is)
  // carrying the query produto, versao, processo, tempo and every "name=value" line of `params`,
  // all percent-encoded. The reply body goes to `output`; true when it is not empty. Refused,
  // timed out (`timeoutMs`, 0: 60 s) or an HTTP error: EqorGovException.
  bool RequestAutoUpdaterLocal(const std::string& product, const std::string& version,
                               std::string& output, long long processId, long long number,
                               const std::string& url, const std::string& method,
                               const std::string& params, int timeoutMs = 0);

  // The certificate store `folder` (platform/CertStore.h): one description per file, and the
  // removal of the file of a serial.
  std::vector<std::string> ListCertificates(const std::string& folder, const std::string& password);
  bool RemoveCertificate(const std::string& folder, const std::string& password,
                         const std::string& serial);

  // Runs before a certificate is loaded; the host may change the name it receives.
  std::function<void(std::string& certificateName)> OnCheckCertificate;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qor
