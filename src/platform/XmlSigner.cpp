#include "platform/XmlSigner.h"

#include <libxml/c14n.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>
#include <map>
#include <vector>

#include "platform/Crypto.h"
#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/LibraryInit.h"
#include "platform/XmlInternal.h"

namespace qor {

namespace {

constexpr char kDsigNs[] = "http://www.w3.org/2000/09/xmldsig#";
constexpr char kC14n[] = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
constexpr char kRsaSha1[] = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
constexpr char kEnveloped[] = "http://www.w3.org/2000/09/xmldsig#enveloped-signature";
constexpr char kSha1[] = "http://www.w3.org/2000/09/xmldsig#sha1";

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
const xmlChar* X(const std::string& s) { return X(s.c_str()); }
const char* C(const xmlChar* s) { return reinterpret_cast<const char*>(s); }

// The oldest error OpenSSL queued on this thread ("" when none); the queue is emptied.
std::string TakeOpenSslError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return {};
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

std::string WithCause(const std::string& message, const std::string& cause) {
  return cause.empty() ? message + "." : message + ": " + cause;
}

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using PkeyOwner = std::unique_ptr<EVP_PKEY, PkeyFree>;
using BioOwner = std::unique_ptr<BIO, BioFree>;

BioOwner MemoryBio(const std::string& text) {
  return BioOwner(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

// The identity holds the end-entity certificate followed by its chain; KeyInfo carries only the
// signer's own certificate (the first), as the state services expect.
std::string CertificateBase64(const TPkcs12Identity& identity) {
  BioOwner bio = MemoryBio(identity.certificatePem);
  std::unique_ptr<X509, X509Free> cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)
                                           : nullptr);
  unsigned char* der = nullptr;
  const int size = cert ? i2d_X509(cert.get(), &der) : -1;
  if (size <= 0) {
    throw EqorGovException(
        WithCause("Não foi possível preparar o certificado de " + identity.path + " para assinar",
                  TakeOpenSslError()));
  }
  std::string out = EncodeBase64(std::string_view(reinterpret_cast<const char*>(der), size));
  OPENSSL_free(der);
  return out;
}

PkeyOwner PrivateKey(const TPkcs12Identity& identity) {
  if (identity.privateKey && EVP_PKEY_up_ref(identity.privateKey.get()) == 1) {
    return PkeyOwner(identity.privateKey.get());
  }
  BioOwner bio = MemoryBio(identity.privateKeyPem);
  PkeyOwner key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!key) {
    throw EqorGovException(
        WithCause("Não foi possível preparar a chave privada de " + identity.path + " para assinar",
                  TakeOpenSslError()));
  }
  return key;
}

std::string AttributeValue(xmlDocPtr doc, xmlAttrPtr attr) {
  xmlChar* value = xmlNodeListGetString(doc, attr->children, 1);
  std::string out = value != nullptr ? C(value) : "";
  xmlFree(value);
  return out;
}

// Whether the value of `attr` is `wanted`, read without a copy when it is one text node (as
// the parser leaves it unless it holds an entity reference).
bool AttributeIs(xmlDocPtr doc, xmlAttrPtr attr, const std::string& wanted) {
  const xmlNodePtr text = attr->children;
  if (text == nullptr) return wanted.empty();
  if (text->next == nullptr && text->type == XML_TEXT_NODE) {
    return text->content != nullptr && wanted == C(text->content);
  }
  return AttributeValue(doc, attr) == wanted;
}

// The element, named `localName` (any name when empty), whose Id attribute (no namespace) is
// `wanted`, which the reference "#wanted" designates; null when none. The Id must be unique:
// the signature would otherwise cover one element while a reader may take the other.
xmlNodePtr ElementWithId(xmlDocPtr doc, const std::string& localName, const std::string& wanted) {
  xmlNodePtr found = nullptr;
  xmlNodePtr const root = xmlDocGetRootElement(doc);
  for (xmlNodePtr cur = root; cur != nullptr;) {
    if (cur->type == XML_ELEMENT_NODE) {
      if (localName.empty() || localName == C(cur->name)) {
        xmlAttrPtr attr = xmlHasNsProp(cur, BAD_CAST "Id", nullptr);
        if (attr != nullptr && AttributeIs(doc, attr, wanted)) {
          if (found != nullptr) {
            throw EqorGovException(Format("Id %s repetido no documento a assinar.", {wanted}));
          }
          found = cur;
        }
      }
      if (cur->children != nullptr) {
        cur = cur->children;
        continue;
      }
    }
    while (cur != root && cur->next == nullptr) cur = cur->parent;
    cur = cur == root ? nullptr : cur->next;
  }
  return found;
}

// The document as one text without an XML declaration: each top-level node in turn, so that no
// line break is added between them or at the end.
std::string Serialize(xmlDocPtr doc) {
  XmlTextWriter writer;
  for (xmlNodePtr cur = doc->children; cur != nullptr; cur = cur->next) writer.Write(cur);
  return writer.Finish();
}

// ---- the reference's digest ------------------------------------------------------------------

// C14N visibility: the node lies in the subtree of `root` (a namespace node counts by the
// element it is declared on or inherited by, which libxml2 passes as `parent`). Comments never
// reach the output: the canonical form is asked without them.
int InSubtree(void* root, xmlNodePtr node, xmlNodePtr parent) {
  for (xmlNodePtr n = node->type == XML_NAMESPACE_DECL ? parent : node; n != nullptr;
       n = n->parent) {
    if (n == root) return 1;
  }
  return 0;
}

int DigestWrite(void* context, const char* buffer, int length) {
  return EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context), buffer,
                          static_cast<std::size_t>(length)) == 1
             ? length
             : -1;
}

// SHA-1 of the canonical form (C14N 1.0, no comments) of the subtree of `element`, streamed
// into the digest as libxml2 writes it.
std::string SubtreeDigest(xmlDocPtr doc, xmlNodePtr element, const std::string& id) {
  const std::string failure = Format("Falha ao assinar o elemento de Id %s", {id});
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> md(EVP_MD_CTX_new());
  if (!md || EVP_DigestInit_ex(md.get(), EVP_sha1(), nullptr) != 1) {
    throw EqorGovException(WithCause(failure, TakeOpenSslError()));
  }
  xmlOutputBufferPtr out = xmlOutputBufferCreateIO(DigestWrite, nullptr, md.get(), nullptr);
  if (out == nullptr) throw EqorGovException("Memória insuficiente para assinar o XML.");
  xmlResetLastError();
  const int written = xmlC14NExecute(doc, InSubtree, element, XML_C14N_1_0, nullptr, 0, out);
  // Closing flushes what the buffer still holds into the digest.
  const int closed = xmlOutputBufferClose(out);
  if (written < 0 || closed < 0) {
    const xmlError* error = xmlGetLastError();
    std::string cause = error != nullptr && error->message != nullptr ? error->message : "";
    while (!cause.empty() && (cause.back() == '\n' || cause.back() == '\r')) cause.pop_back();
    throw EqorGovException(WithCause(failure, cause));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(md.get(), digest, &size) != 1) {
    throw EqorGovException(WithCause(failure, TakeOpenSslError()));
  }
  return EncodeBase64(std::string_view(reinterpret_cast<const char*>(digest), size));
}

// ---- SignedInfo in canonical form ------------------------------------------------------------

// An attribute value as C14N writes it.
void AppendCanonicalAttribute(std::string& out, std::string_view value) {
  for (const char c : value) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\t':
        out += "&#x9;";
        break;
      case '\n':
        out += "&#xA;";
        break;
      case '\r':
        out += "&#xD;";
        break;
      default:
        out += c;
    }
  }
}

// A namespace URI as libxml2's C14N quotes it: between double quotes unless it holds one, then
// between single quotes unless it holds one of those too, then with &quot;.
void AppendQuotedUri(std::string& out, const std::string& uri) {
  if (uri.find('"') == std::string::npos) {
    out += '"' + uri + '"';
  } else if (uri.find('\'') == std::string::npos) {
    out += '\'' + uri + '\'';
  } else {
    out += '"';
    for (const char c : uri) out += c == '"' ? std::string("&quot;") : std::string(1, c);
    out += '"';
  }
}

// The start tag of SignedInfo as C14N 1.0 writes it when SignedInfo is the apex of the node set
// inside a Signature that declares the signature's namespace as default and is appended to
// `parent`: that default namespace first, then every prefixed namespace in scope at `parent`
// (sorted by prefix), then the xml:* attributes SignedInfo inherits from its ancestors (the
// nearest of each name, sorted by name).
std::string SignedInfoStartTag(xmlDocPtr doc, xmlNodePtr parent) {
  std::map<std::string, std::string> namespaces;  // prefix -> URI
  std::map<std::string, std::string> xmlAttributes;
  for (xmlNodePtr n = parent; n != nullptr && n->type == XML_ELEMENT_NODE; n = n->parent) {
    for (xmlNsPtr ns = n->nsDef; ns != nullptr; ns = ns->next) {
      if (ns->prefix == nullptr || xmlStrEqual(ns->href, XML_XML_NAMESPACE)) continue;
      namespaces.emplace(C(ns->prefix), ns->href != nullptr ? C(ns->href) : "");
    }
    for (xmlAttrPtr attr = n->properties; attr != nullptr; attr = attr->next) {
      if (attr->ns != nullptr && xmlStrEqual(attr->ns->href, XML_XML_NAMESPACE)) {
        xmlAttributes.emplace(C(attr->name), AttributeValue(doc, attr));
      }
    }
  }
  std::string tag = "<SignedInfo xmlns=\"";
  tag += kDsigNs;
  tag += '"';
  for (const auto& [prefix, uri] : namespaces) {
    tag += " xmlns:" + prefix + "=";
    AppendQuotedUri(tag, uri);
  }
  for (const auto& [name, value] : xmlAttributes) {
    tag += " xml:" + name + "=\"";
    AppendCanonicalAttribute(tag, value);
    tag += '"';
  }
  tag += '>';
  return tag;
}

std::string CanonicalSignedInfo(xmlDocPtr doc, xmlNodePtr parent, const std::string& uri,
                                const std::string& digest) {
  std::string out = SignedInfoStartTag(doc, parent);
  out += "<CanonicalizationMethod Algorithm=\"";
  out += kC14n;
  out += "\"></CanonicalizationMethod><SignatureMethod Algorithm=\"";
  out += kRsaSha1;
  out += "\"></SignatureMethod><Reference URI=\"";
  AppendCanonicalAttribute(out, uri);
  out += "\"><Transforms><Transform Algorithm=\"";
  out += kEnveloped;
  out += "\"></Transform><Transform Algorithm=\"";
  out += kC14n;
  out += "\"></Transform></Transforms><DigestMethod Algorithm=\"";
  out += kSha1;
  out += "\"></DigestMethod><DigestValue>";
  out += digest;  // Base64: nothing to escape
  out += "</DigestValue></Reference></SignedInfo>";
  return out;
}

// ---- the Signature element -------------------------------------------------------------------

// Builds the element tree as it was always written: Signature declaring the signature's
// namespace as default, every descendant in it, no white space between elements.
class SignatureBuilder {
 public:
  explicit SignatureBuilder(xmlDocPtr doc) : doc_(doc) {
    root_ = xmlNewDocNode(doc, nullptr, X("Signature"), nullptr);
    ns_ = root_ != nullptr ? xmlNewNs(root_, X(kDsigNs), nullptr) : nullptr;
    if (ns_ == nullptr) Fail();
    xmlSetNs(root_, ns_);
  }
  ~SignatureBuilder() {
    if (root_ != nullptr) xmlFreeNode(root_);
  }
  SignatureBuilder(const SignatureBuilder&) = delete;
  SignatureBuilder& operator=(const SignatureBuilder&) = delete;

  xmlNodePtr root() const { return root_; }
  // A child element `name` of `parent`, with the attribute Algorithm or URI (`attribute`) and
  // text when given.
  xmlNodePtr Add(xmlNodePtr parent, const char* name, const char* attribute = nullptr,
                 const std::string& value = {}, const std::string& text = {}) {
    xmlNodePtr child = xmlNewDocNode(doc_, ns_, X(name), nullptr);
    if (child == nullptr || xmlAddChild(parent, child) == nullptr) {
      xmlFreeNode(child);
      Fail();
    }
    if (attribute != nullptr && xmlNewProp(child, X(attribute), X(value)) == nullptr) Fail();
    if (!text.empty()) {
      xmlNodePtr content = xmlNewDocTextLen(doc_, X(text), static_cast<int>(text.size()));
      if (content == nullptr || xmlAddChild(child, content) == nullptr) {
        xmlFreeNode(content);
        Fail();
      }
    }
    return child;
  }
  // Hands the finished tree to `parent` as its last child.
  void AppendTo(xmlNodePtr parent) {
    if (xmlAddChild(parent, root_) == nullptr) Fail();
    root_ = nullptr;
  }

 private:
  [[noreturn]] static void Fail() { throw EqorGovException("Falha ao montar a assinatura."); }
  xmlDocPtr doc_;
  xmlNodePtr root_ = nullptr;
  xmlNsPtr ns_ = nullptr;
};

}  // namespace

struct TXmlSigner::Impl {
  // The identity the key was built from; kept so its address cannot be reused by another one.
  std::shared_ptr<const TPkcs12Identity> identity;
  PkeyOwner key;
  std::string certificate;  // Base64 of the end-entity certificate's DER
};

TXmlSigner::TXmlSigner() : impl_(std::make_unique<Impl>()) {}

TXmlSigner::~TXmlSigner() = default;

std::string TXmlSigner::Sign(const std::string& xml, const std::string& id,
                             const std::string& signedElement,
                             const std::shared_ptr<const TPkcs12Identity>& identity,
                             std::string* digestValue) {
  std::string parseError;
  XmlDocPtr doc(ParseXmlHardened(xml, parseError));
  if (!doc) throw EqorGovException("XML a assinar não é válido: " + parseError);
  return SignDocument(doc.get(), id, signedElement, identity, digestValue);
}

std::string TXmlSigner::Sign(XmlDocument document, const std::string& id,
                             const std::string& signedElement,
                             const std::shared_ptr<const TPkcs12Identity>& identity,
                             std::string* digestValue) {
  return SignDocument(DocumentOf(document), id, signedElement, identity, digestValue);
}

std::string TXmlSigner::SignDocument(xmlDocPtr doc, const std::string& id,
                                     const std::string& signedElement,
                                     const std::shared_ptr<const TPkcs12Identity>& identity,
                                     std::string* digestValue) {
  EnsureLibxml2();
  if (!identity) throw EqorGovException("Certificado não carregado para assinatura.");
  if (impl_->identity != identity || !impl_->key) {
    if (identity->privateKeyPem.size() > INT_MAX || identity->certificatePem.size() > INT_MAX) {
      throw EqorGovException("Certificado grande demais para assinatura: " + identity->path);
    }
    ERR_clear_error();
    PkeyOwner key = PrivateKey(*identity);
    std::string certificate = CertificateBase64(*identity);
    impl_->key = std::move(key);
    impl_->certificate = std::move(certificate);
    impl_->identity = identity;
  }
  if (doc->intSubset != nullptr || doc->extSubset != nullptr) {
    throw EqorGovException("XML a assinar não pode conter DOCTYPE.");
  }
  xmlNodePtr element = id.empty() ? nullptr : ElementWithId(doc, signedElement, id);
  if (element == nullptr) {
    throw EqorGovException(Format("Elemento de Id %s não encontrado.", {id}));
  }
  xmlNodePtr parent = element->parent;
  if (parent == nullptr || parent->type != XML_ELEMENT_NODE) {
    throw EqorGovException(
        Format("O elemento de Id %s é a raiz do documento: a assinatura precisa de um elemento "
               "que o contenha.",
               {id}));
  }
  const std::string failure = Format("Falha ao assinar o elemento de Id %s", {id});
  // RSA-SHA1 is the only signature method of the profile; any other key would sign with
  // another algorithm under that name.
  if (EVP_PKEY_get_base_id(impl_->key.get()) != EVP_PKEY_RSA) {
    throw EqorGovException(failure + ": a chave do certificado não é RSA.");
  }

  const std::string uri = "#" + id;
  const std::string digest = SubtreeDigest(doc, element, id);
  const std::string signedInfo = CanonicalSignedInfo(doc, parent, uri, digest);

  ERR_clear_error();
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> md(EVP_MD_CTX_new());
  std::vector<unsigned char> signature(
      static_cast<std::size_t>(EVP_PKEY_get_size(impl_->key.get())));
  std::size_t size = signature.size();
  if (!md || EVP_DigestSignInit(md.get(), nullptr, EVP_sha1(), nullptr, impl_->key.get()) != 1 ||
      EVP_DigestSign(md.get(), signature.data(), &size,
                     reinterpret_cast<const unsigned char*>(signedInfo.data()),
                     signedInfo.size()) != 1) {
    throw EqorGovException(WithCause(failure, TakeOpenSslError()));
  }

  SignatureBuilder builder(doc);
  xmlNodePtr info = builder.Add(builder.root(), "SignedInfo");
  builder.Add(info, "CanonicalizationMethod", "Algorithm", kC14n);
  builder.Add(info, "SignatureMethod", "Algorithm", kRsaSha1);
  xmlNodePtr reference = builder.Add(info, "Reference", "URI", uri);
  xmlNodePtr transforms = builder.Add(reference, "Transforms");
  builder.Add(transforms, "Transform", "Algorithm", kEnveloped);
  builder.Add(transforms, "Transform", "Algorithm", kC14n);
  builder.Add(reference, "DigestMethod", "Algorithm", kSha1);
  builder.Add(reference, "DigestValue", nullptr, {}, digest);
  builder.Add(
      builder.root(), "SignatureValue", nullptr, {},
      EncodeBase64(std::string_view(reinterpret_cast<const char*>(signature.data()), size)));
  xmlNodePtr x509 = builder.Add(builder.Add(builder.root(), "KeyInfo"), "X509Data");
  builder.Add(x509, "X509Certificate", nullptr, {}, impl_->certificate);
  builder.AppendTo(parent);

  if (digestValue != nullptr) *digestValue = digest;
  return Serialize(doc);
}

}  // namespace qor
