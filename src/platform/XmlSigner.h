// Enveloped XML-DSig signatures by element Id, on libxml2's canonical form and OpenSSL: the
// signer behind TqorGovX::SignXmlById. Internal to src/platform/.
//
// The signature profile of the NF-e standard is fixed, so nothing of XML-DSig beyond it is
// implemented: C14N 1.0 without comments, one Reference to "#id" with the enveloped-signature
// and C14N transforms, SHA-1 digest, RSA-SHA1 (PKCS#1 v1.5) signature, and the end-entity
// certificate in KeyInfo/X509Data/X509Certificate. The digest is the SHA-1 of the canonical form
// of the signed element's subtree (the Signature goes beside it, so the enveloped-signature
// transform removes nothing from it); SignedInfo is written directly in its canonical form, in
// the context the Signature element will have in the document, and those bytes are signed.
//
// The signing key (private key + the certificate's Base64 DER) is built from a loaded
// TPkcs12Identity and kept while the caller hands in the same identity object, so a certificate
// cached by TPkcs12Cache is turned into a signing key once, and again only after it was reloaded.
//
// Not thread-safe per object (the rule of the TqorGovX that owns it).
#pragma once

#include <memory>
#include <string>

#include "platform/Certificate.h"
#include "platform/Xml.h"

namespace qor {

class TXmlSigner {
 public:
  TXmlSigner();
  TXmlSigner(const TXmlSigner&) = delete;
  TXmlSigner& operator=(const TXmlSigner&) = delete;
  ~TXmlSigner();

  // Signs the element of `xml` whose Id attribute is `id` and returns the document, one line as
  // the input was, without an XML declaration, with the Signature appended as the last child of
  // that element's parent. Only the Id attributes of elements whose local name is
  // `signedElement` are taken as ids (any element's, when `signedElement` is empty).
  // Throws EqorGovException: text that is not well-formed XML or carries a DOCTYPE, an id that
  // is absent or held by two elements, a signed element that is the document's root (the
  // signature would have no parent to go in), a key that is not RSA, and any failure of libxml2
  // or OpenSSL.
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

}  // namespace qor
