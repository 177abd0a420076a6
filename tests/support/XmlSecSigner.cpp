#include "support/XmlSecSigner.h"

#include <libxml/tree.h>
#include <libxml/valid.h>
#include <xmlsec/base64.h>
#include <xmlsec/crypto.h>
#include <xmlsec/errors.h>
#include <xmlsec/keys.h>
#include <xmlsec/templates.h>
#include <xmlsec/transforms.h>
#include <xmlsec/xmldsig.h>
#include <xmlsec/xmlsec.h>
#include <xmlsec/xmltree.h>

#include <climits>
#include <mutex>

#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/LibraryInit.h"
#include "platform/XmlInternal.h"

namespace qor::test {

namespace {

// ---- xmlsec's process-wide set-up (the library itself no longer initialises xmlsec) ----------

std::once_flag g_xmlSecOnce;
thread_local std::string t_xmlSecError;
constexpr int kBase64OneLine = 1 << 20;

// xmlsec reports a failure once per layer it crosses, innermost first; the innermost one names
// the cause (a digest mismatch, a key that cannot sign), so the first message after a
// TakeXmlSecError is kept and the outer ones only fill an empty slot.
void KeepXmlSecError(const char* /*file*/, int /*line*/, const char* func, const char* errorObject,
                     const char* errorSubject, int reason, const char* msg) {
  if (!t_xmlSecError.empty()) return;
  std::string text;
  if (msg != nullptr) text = msg;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  if (text.empty()) text = "erro " + std::to_string(reason);
  if (errorSubject != nullptr && *errorSubject != '\0')
    text += std::string(" (") + errorSubject + ")";
  if (errorObject != nullptr && *errorObject != '\0')
    text += std::string(" [") + errorObject + "]";
  else if (func != nullptr)
    text += std::string(" [") + func + "]";
  t_xmlSecError = text;
}

// Initialises xmlsec and its OpenSSL back end once per process (after libxml2), with the output
// form the state services expect from a signature: Base64 values on one line and no line feeds
// between the elements xmlsec writes.
void EnsureXmlSec() {
  EnsureLibxml2();
  std::call_once(g_xmlSecOnce, [] {
    // Set before xmlSecInit so that even its own failures stay off stderr.
    xmlSecErrorsSetCallback(KeepXmlSecError);
    if (xmlSecInit() < 0)
      throw EqorGovException("Não foi possível inicializar a biblioteca xmlsec.");
    if (xmlSecCheckVersion() != 1) {
      throw EqorGovException("Versão da biblioteca xmlsec incompatível com a usada na compilação.");
    }
    if (xmlSecCryptoAppInit(nullptr) < 0 || xmlSecCryptoInit() < 0) {
      throw EqorGovException("Não foi possível inicializar o xmlsec com OpenSSL.");
    }
    // The set-up above puts xmlsec's default (printing) handler back; ours goes in again.
    xmlSecErrorsSetCallback(KeepXmlSecError);
    // "No line breaks" would be a line size of 0, but this xmlsec's certificate writer refuses
    // 0 (it asserts a positive size); a line longer than any value we write (a certificate is
    // about 2 KB of Base64) gives the same one-line output everywhere.
    xmlSecBase64SetDefaultLineSize(kBase64OneLine);
    xmlSecSetDefaultLineFeed(BAD_CAST "");
    t_xmlSecError.clear();
  });
}

// The newest xmlsec error reported on this thread since the last call ("" when none), then
// forgets it.
std::string TakeXmlSecError() {
  std::string text = std::move(t_xmlSecError);
  t_xmlSecError.clear();
  return text;
}

// ---- the signer -------------------------------------------------------------------------------

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

struct XmlSecKeyFree {
  void operator()(xmlSecKeyPtr key) const { xmlSecKeyDestroy(key); }
};
using XmlSecKeyOwner = std::unique_ptr<xmlSecKey, XmlSecKeyFree>;

// The signing context borrows the key: it is detached before the context is destroyed, which
// would otherwise destroy it with the context.
class DSigContext {
 public:
  explicit DSigContext(xmlSecKeyPtr key) : ctx_(xmlSecDSigCtxCreate(nullptr)) {
    if (ctx_ == nullptr) throw EqorGovException("Memória insuficiente para assinar o XML.");
    ctx_->signKey = key;
  }
  ~DSigContext() {
    ctx_->signKey = nullptr;
    xmlSecDSigCtxDestroy(ctx_);
  }
  DSigContext(const DSigContext&) = delete;
  DSigContext& operator=(const DSigContext&) = delete;
  xmlSecDSigCtxPtr get() const { return ctx_; }

 private:
  xmlSecDSigCtxPtr ctx_;
};

std::string WithCause(const std::string& message) {
  const std::string cause = TakeXmlSecError();
  return cause.empty() ? message + "." : message + ": " + cause;
}

// The identity holds the end-entity certificate followed by its chain; KeyInfo carries only the
// signer's own certificate, as the state services expect.
std::string FirstPemCertificate(const std::string& pem) {
  static const std::string kEnd = "-----END CERTIFICATE-----";
  const auto end = pem.find(kEnd);
  return end == std::string::npos ? pem : pem.substr(0, end + kEnd.size()) + "\n";
}

XmlSecKeyOwner BuildKey(const TPkcs12Identity& identity) {
  const std::string& keyPem = identity.privateKeyPem;
  const std::string certPem = FirstPemCertificate(identity.certificatePem);
  if (keyPem.size() > UINT_MAX || certPem.size() > UINT_MAX) {
    throw EqorGovException("Certificado grande demais para assinatura: " + identity.path);
  }
  TakeXmlSecError();
  XmlSecKeyOwner key(xmlSecCryptoAppKeyLoadMemory(
      reinterpret_cast<const xmlSecByte*>(keyPem.data()), static_cast<xmlSecSize>(keyPem.size()),
      xmlSecKeyDataFormatPem, nullptr, nullptr, nullptr));
  if (!key) {
    throw EqorGovException(WithCause("Não foi possível preparar a chave privada de " +
                                     identity.path + " para assinar"));
  }
  if (xmlSecCryptoAppKeyCertLoadMemory(
          key.get(), reinterpret_cast<const xmlSecByte*>(certPem.data()),
          static_cast<xmlSecSize>(certPem.size()), xmlSecKeyDataFormatPem) < 0) {
    throw EqorGovException(
        WithCause("Não foi possível preparar o certificado de " + identity.path + " para assinar"));
  }
  return key;
}

std::string AttributeValue(xmlDocPtr doc, xmlAttrPtr attr) {
  xmlChar* value = xmlNodeListGetString(doc, attr->children, 1);
  std::string out = value != nullptr ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return out;
}

// Makes the Id attribute (no namespace) of every element named `localName` an XML ID, so that
// the reference "#id" resolves to it. Only the requested id must be unique: the signature would
// otherwise cover one element while a reader may take the other.
void RegisterIds(xmlDocPtr doc, xmlNodePtr node, const std::string& localName,
                 const std::string& wanted) {
  for (xmlNodePtr cur = node; cur != nullptr; cur = cur->next) {
    if (cur->type != XML_ELEMENT_NODE) continue;
    if (localName.empty() || localName == reinterpret_cast<const char*>(cur->name)) {
      if (xmlAttrPtr attr = xmlHasNsProp(cur, BAD_CAST "Id", nullptr); attr != nullptr) {
        const std::string value = AttributeValue(doc, attr);
        if (xmlGetID(doc, X(value)) != nullptr) {
          if (value == wanted) {
            throw EqorGovException(Format("Id %s repetido no documento a assinar.", {value}));
          }
        } else if (xmlAddID(nullptr, doc, X(value), attr) == nullptr) {
          throw EqorGovException(Format("Não foi possível registrar o Id %s.", {value}));
        }
      }
    }
    RegisterIds(doc, cur->children, localName, wanted);
  }
}

// The document as one text without an XML declaration: each top-level node in turn, so that no
// line break is added between them or at the end.
std::string Serialize(xmlDocPtr doc) {
  XmlTextWriter writer;
  for (xmlNodePtr cur = doc->children; cur != nullptr; cur = cur->next) writer.Write(cur);
  return writer.Finish();
}

// The first child element of `parent` named `name` in the signature's namespace; null if none.
xmlNodePtr DsigChild(xmlNodePtr parent, const xmlChar* name) {
  for (xmlNodePtr cur = parent != nullptr ? parent->children : nullptr; cur != nullptr;
       cur = cur->next) {
    if (cur->type == XML_ELEMENT_NODE && xmlStrEqual(cur->name, name) && cur->ns != nullptr &&
        xmlStrEqual(cur->ns->href, xmlSecDSigNs)) {
      return cur;
    }
  }
  return nullptr;
}

// The DigestValue the signing wrote in Signature/SignedInfo/Reference.
std::string DigestValueOf(xmlNodePtr signature) {
  xmlNodePtr reference = DsigChild(DsigChild(signature, xmlSecNodeSignedInfo), xmlSecNodeReference);
  xmlNodePtr digest = DsigChild(reference, xmlSecNodeDigestValue);
  xmlChar* text = digest != nullptr ? xmlNodeGetContent(digest) : nullptr;
  if (text == nullptr) throw EqorGovException("Falha ao assinar: DigestValue ausente.");
  std::string out(reinterpret_cast<const char*>(text));
  xmlFree(text);
  return out;
}

// Signature, SignedInfo (inclusive C14N, RSA-SHA1), one Reference to "#id" (enveloped-signature
// then inclusive C14N, SHA-1) and KeyInfo/X509Data/X509Certificate, appended to `parent`.
xmlNodePtr AppendTemplate(xmlDocPtr doc, xmlNodePtr parent, const std::string& id) {
  xmlNodePtr signature =
      xmlSecTmplSignatureCreate(doc, xmlSecTransformInclC14NId, xmlSecTransformRsaSha1Id, nullptr);
  if (signature == nullptr) throw EqorGovException(WithCause("Falha ao montar a assinatura"));
  if (xmlAddChild(parent, signature) == nullptr) {
    xmlFreeNode(signature);
    throw EqorGovException("Falha ao montar a assinatura.");
  }
  const std::string uri = "#" + id;
  xmlNodePtr reference =
      xmlSecTmplSignatureAddReference(signature, xmlSecTransformSha1Id, nullptr, X(uri), nullptr);
  xmlNodePtr keyInfo = xmlSecTmplSignatureEnsureKeyInfo(signature, nullptr);
  xmlNodePtr x509Data = keyInfo != nullptr ? xmlSecTmplKeyInfoAddX509Data(keyInfo) : nullptr;
  if (reference == nullptr ||
      xmlSecTmplReferenceAddTransform(reference, xmlSecTransformEnvelopedId) == nullptr ||
      xmlSecTmplReferenceAddTransform(reference, xmlSecTransformInclC14NId) == nullptr ||
      x509Data == nullptr || xmlSecTmplX509DataAddCertificate(x509Data) == nullptr) {
    throw EqorGovException(WithCause("Falha ao montar a assinatura"));
  }
  return signature;
}

}  // namespace

struct TXmlSecSigner::Impl {
  // The identity the key was built from; kept so its address cannot be reused by another one.
  std::shared_ptr<const TPkcs12Identity> identity;
  XmlSecKeyOwner key;
};

TXmlSecSigner::TXmlSecSigner() : impl_(std::make_unique<Impl>()) {}

TXmlSecSigner::~TXmlSecSigner() = default;

std::string TXmlSecSigner::Sign(const std::string& xml, const std::string& id,
                                const std::string& signedElement,
                                const std::shared_ptr<const TPkcs12Identity>& identity,
                                std::string* digestValue) {
  EnsureXmlSec();
  std::string parseError;
  XmlDocPtr doc(ParseXmlHardened(xml, parseError));
  if (!doc) throw EqorGovException("XML a assinar não é válido: " + parseError);
  return SignDocument(doc.get(), id, signedElement, identity, digestValue);
}

std::string TXmlSecSigner::Sign(XmlDocument document, const std::string& id,
                                const std::string& signedElement,
                                const std::shared_ptr<const TPkcs12Identity>& identity,
                                std::string* digestValue) {
  EnsureXmlSec();
  return SignDocument(DocumentOf(document), id, signedElement, identity, digestValue);
}

std::string TXmlSecSigner::SignDocument(xmlDocPtr doc, const std::string& id,
                                        const std::string& signedElement,
                                        const std::shared_ptr<const TPkcs12Identity>& identity,
                                        std::string* digestValue) {
  if (!identity) throw EqorGovException("Certificado não carregado para assinatura.");
  if (impl_->identity != identity || !impl_->key) {
    XmlSecKeyOwner key = BuildKey(*identity);
    impl_->key = std::move(key);
    impl_->identity = identity;
  }
  if (doc->intSubset != nullptr || doc->extSubset != nullptr) {
    throw EqorGovException("XML a assinar não pode conter DOCTYPE.");
  }
  RegisterIds(doc, doc->children, signedElement, id);
  xmlAttrPtr idAttr = id.empty() ? nullptr : xmlGetID(doc, X(id));
  if (idAttr == nullptr || idAttr->parent == nullptr) {
    throw EqorGovException(Format("Elemento de Id %s não encontrado.", {id}));
  }
  xmlNodePtr parent = idAttr->parent->parent;
  if (parent == nullptr || parent->type != XML_ELEMENT_NODE) {
    throw EqorGovException(
        Format("O elemento de Id %s é a raiz do documento: a assinatura precisa de um elemento "
               "que o contenha.",
               {id}));
  }

  TakeXmlSecError();
  xmlNodePtr signature = AppendTemplate(doc, parent, id);
  DSigContext context(impl_->key.get());
  if (xmlSecDSigCtxSign(context.get(), signature) < 0) {
    throw EqorGovException(WithCause(Format("Falha ao assinar o elemento de Id %s", {id})));
  }
  if (digestValue != nullptr) *digestValue = DigestValueOf(signature);
  return Serialize(doc);
}

}  // namespace qor::test
