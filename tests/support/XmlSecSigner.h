// Enveloped XML-DSig signatures by element Id, on xmlsec with OpenSSL: the signer the library
// used before it signed with libxml2's canonical form and OpenSSL alone. Test-only: the tests sign
// the same documents with both, same key and certificate, and compare the bytes.
//
// The xmlsec key object (private key + end-entity certificate) is built from a loaded
// TPkcs12Identity and kept while the caller hands in the same identity object, so a certificate
// cached by TPkcs12Cache is turned into a signing key once, and again only after it was reloaded.
//
// Not thread-safe per object (the rule of the TqorGovX that owns it).
#pragma once

#include <memory>
#include <string>

#include "platform/Certificate.h"
#include "platform/Xml.h"

namespace qor::test {

class TXmlSecSigner {
 public:
  TXmlSecSigner();
  TXmlSecSigner(const TXmlSecSigner&) = delete;
  TXmlSecSigner& operator=(const TXmlSecSigner&) = delete;
  ~TXmlSecSigner();

  // Signs the element of `xml` whose Id attribute is `id` and returns the document, one line as
  // the input was, without an XML declaration, with the Signature appended as the last child of
  // that element's parent. Only the Id attributes of elements whose local name is
  // `signedElement` are taken as ids (any element's, when `signedElement` is empty).
  // Throws EqorGovException: text that is not well-formed XML or carries a DOCTYPE, an id that
  // is absent or held by two elements, a signed element that is the document's root (the
  // signature would have no parent to go in), and any xmlsec failure.
  // `digestValue`, when given, receives the reference's Base64 DigestValue.
  std::string Sign(const std::string& xml, const std::string& id, const std::string& signedElement,
                   const std::shared_ptr<const TPkcs12Identity>& identity,
                   std::string* digestValue = nullptr);
  // The same for a text already parsed: `document` is signed in place and returned serialised.
  std::string Sign(XmlDocument document, const std::string& id, const std::string& signedElement,
                   const std::shared_ptr<const TPkcs12Identity>& identity,
                   std::string* digestValue = nullptr);

 private:
  std::string SignDocument(_xmlDoc* doc, const std::string& id, const std::string& signedElement,
                           const std::shared_ptr<const TPkcs12Identity>& identity,
                           std::string* digestValue);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qor::test
