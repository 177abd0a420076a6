#include "XmlSignature.h"

#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "platform/Crypto.h"

namespace qor::sim {

namespace {

constexpr const char* kDsig = "http://www.w3.org/2000/09/xmldsig#";

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

Doc ParseStrict(const std::string& xml) {
  // libxml2 must be initialised once before threads parse at the same time.
  static std::once_flag initialised;
  std::call_once(initialised, xmlInitParser);
  // No network, no entity expansion, no noise on stderr: the text comes from a client.
  xmlDoc* doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (doc == nullptr) throw std::invalid_argument("XML mal formado");
  return Doc(doc);
}

xmlNode* FindElement(xmlNode* node, const char* localName) {
  for (; node != nullptr; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    if (std::strcmp(reinterpret_cast<const char*>(node->name), localName) == 0) return node;
    if (xmlNode* found = FindElement(node->children, localName)) return found;
  }
  return nullptr;
}

bool IsSignature(const xmlNode* node) {
  return node->type == XML_ELEMENT_NODE && node->ns != nullptr &&
         std::strcmp(reinterpret_cast<const char*>(node->name), "Signature") == 0 &&
         std::strcmp(reinterpret_cast<const char*>(node->ns->href), kDsig) == 0;
}

// The node set of one Reference: the apex element and everything under it, minus the
// signatures inside it. Namespace nodes arrive with their element as `parent`.
int InSubset(void* data, xmlNodePtr node, xmlNodePtr parent) {
  const xmlNode* apex = static_cast<const xmlNode*>(data);
  const xmlNode* start = (node == nullptr || node->type == XML_NAMESPACE_DECL) ? parent : node;
  for (const xmlNode* p = start; p != nullptr; p = p->parent) {
    if (p == apex) return 1;
    if (IsSignature(p)) return 0;
  }
  return 0;
}

std::string Canonical(xmlDoc* doc, xmlNode* apex) {
  xmlOutputBuffer* out = xmlAllocOutputBuffer(nullptr);
  if (out == nullptr) throw std::runtime_error("sem memória para a forma canônica");
  int written = xmlC14NExecute(doc, InSubset, apex, XML_C14N_1_0, nullptr, 0, out);
  std::string text;
  if (written >= 0) {
    text.assign(reinterpret_cast<const char*>(xmlOutputBufferGetContent(out)),
                xmlOutputBufferGetSize(out));
  }
  xmlOutputBufferClose(out);
  if (written < 0) throw std::invalid_argument("não foi possível canonizar o elemento");
  return text;
}

std::string ReadPemFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw std::runtime_error("não foi possível ler " + path);
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  std::fclose(file);
  return text;
}

std::string RsaSha1(const std::string& keyPem, const std::string& data) {
  const std::string pem = ReadPemFile(keyPem);
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), int(pem.size())),
                                                BIO_free);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
  if (!key) throw std::runtime_error("chave privada ilegível: " + keyPem);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  size_t size = 0;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha1(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &size, nullptr, 0) != 1)
    throw std::runtime_error("não foi possível assinar com " + keyPem);
  std::string signature(size, '\0');
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                     reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1)
    throw std::runtime_error("não foi possível assinar com " + keyPem);
  signature.resize(size);
  return signature;
}

std::string CertificateBase64(const std::string& certPem) {
  const std::string pem = ReadPemFile(certPem);
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), int(pem.size())),
                                                BIO_free);
  std::unique_ptr<X509, decltype(&X509_free)> cert(
      PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
  if (!cert) throw std::runtime_error("certificado ilegível: " + certPem);
  unsigned char* der = nullptr;
  int length = i2d_X509(cert.get(), &der);
  if (length <= 0) throw std::runtime_error("certificado ilegível: " + certPem);
  std::string bytes(reinterpret_cast<const char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  return EncodeBase64(bytes);
}

// The first child element of `parent` in the XML-DSig namespace named `name`.
xmlNode* DsigChild(xmlNode* parent, const char* name) {
  if (parent == nullptr) return nullptr;
  for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE && child->ns != nullptr &&
        std::strcmp(reinterpret_cast<const char*>(child->ns->href), kDsig) == 0 &&
        std::strcmp(reinterpret_cast<const char*>(child->name), name) == 0) {
      return child;
    }
  }
  return nullptr;
}

std::string Attribute(xmlNode* node, const char* name) {
  if (node == nullptr) return {};
  xmlChar* value = xmlGetProp(node, BAD_CAST name);
  if (value == nullptr) return {};
  std::string text = reinterpret_cast<const char*>(value);
  xmlFree(value);
  return text;
}

std::string Text(xmlNode* node) {
  if (node == nullptr) return {};
  xmlChar* value = xmlNodeGetContent(node);
  std::string text = value == nullptr ? "" : reinterpret_cast<const char*>(value);
  xmlFree(value);
  return text;
}

// Empty when `cert` was issued by the CA of the PEM file `caPem`, else the reason.
std::string IssuedBy(X509* cert, const std::string& caPem) {
  const std::string pem = ReadPemFile(caPem);
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), int(pem.size())),
                                                BIO_free);
  std::unique_ptr<X509, decltype(&X509_free)> ca(
      PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
  if (!ca) return "certificado da AC ilegível: " + caPem;
  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), X509_STORE_free);
  std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> ctx(X509_STORE_CTX_new(),
                                                                      X509_STORE_CTX_free);
  if (!store || !ctx || X509_STORE_add_cert(store.get(), ca.get()) != 1 ||
      X509_STORE_CTX_init(ctx.get(), store.get(), cert, nullptr) != 1) {
    return "não foi possível verificar a cadeia do certificado";
  }
  if (X509_verify_cert(ctx.get()) != 1) {
    return std::string("certificado do assinante não confiável: ") +
           X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
  }
  return {};
}

}  // namespace

std::string CanonicalElement(const std::string& xml, const std::string& localName) {
  Doc doc = ParseStrict(xml);
  xmlNode* apex = FindElement(xmlDocGetRootElement(doc.get()), localName.c_str());
  if (apex == nullptr) throw std::invalid_argument("elemento " + localName + " não encontrado");
  return Canonical(doc.get(), apex);
}

std::string ElementDigest(const std::string& xml, const std::string& localName) {
  return HashSha1Base64(CanonicalElement(xml, localName));
}

std::string SignEnveloped(const std::string& xml, const std::string& localName,
                          const std::string& keyPem, const std::string& certPem) {
  std::string id, rootName;
  {
    Doc doc = ParseStrict(xml);
    xmlNode* root = xmlDocGetRootElement(doc.get());
    xmlNode* element = FindElement(root, localName.c_str());
    if (element == nullptr || element->parent != root)
      throw std::invalid_argument("elemento " + localName + " não é filho da raiz");
    xmlChar* value = xmlGetProp(element, BAD_CAST "Id");
    if (value == nullptr) throw std::invalid_argument("elemento " + localName + " sem Id");
    id = reinterpret_cast<const char*>(value);
    xmlFree(value);
    rootName = reinterpret_cast<const char*>(root->name);
    if (root->ns != nullptr && root->ns->prefix != nullptr)
      rootName = reinterpret_cast<const char*>(root->ns->prefix) + (":" + rootName);
  }
  const size_t close = xml.rfind("</" + rootName);
  if (close == std::string::npos)
    throw std::invalid_argument("fim do elemento raiz não encontrado");

  // Written in canonical form already, so what is signed is what a verifier reconstructs.
  const std::string signedInfo =
      std::string(
          "<SignedInfo>"
          "<CanonicalizationMethod "
          "Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\">"
          "</CanonicalizationMethod>"
          "<SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\">"
          "</SignatureMethod><Reference URI=\"#") +
      id +
      "\"><Transforms>"
      "<Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\">"
      "</Transform>"
      "<Transform Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"></Transform>"
      "</Transforms><DigestMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#sha1\">"
      "</DigestMethod><DigestValue>" +
      ElementDigest(xml, localName) + "</DigestValue></Reference></SignedInfo>";
  const std::string open = std::string("<Signature xmlns=\"") + kDsig + "\">";
  const std::string tail = "<KeyInfo><X509Data><X509Certificate>" + CertificateBase64(certPem) +
                           "</X509Certificate></X509Data></KeyInfo></Signature>";

  // The SignedInfo is canonicalised where it will stand, with the namespaces it inherits there.
  const std::string draft = xml.substr(0, close) + open + signedInfo +
                            "<SignatureValue></SignatureValue>" + tail + xml.substr(close);
  const std::string value = EncodeBase64(RsaSha1(keyPem, CanonicalElement(draft, "SignedInfo")));
  return xml.substr(0, close) + open + signedInfo + "<SignatureValue>" + value +
         "</SignatureValue>" + tail + xml.substr(close);
}

std::string SignerCnpj(const std::string& xml, const std::string& localName) {
  try {
    Doc doc = ParseStrict(xml);
    xmlNode* element = FindElement(xmlDocGetRootElement(doc.get()), localName.c_str());
    if (element == nullptr) return {};
    const std::string der = DecodeBase64(Text(DsigChild(
        DsigChild(DsigChild(DsigChild(element->parent, "Signature"), "KeyInfo"), "X509Data"),
        "X509Certificate")));
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        d2i_X509(nullptr, &cursor, static_cast<long>(der.size())), X509_free);
    if (!cert) return {};
    char name[256] = {};
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(cert.get()), NID_commonName, name,
                                  sizeof name) <= 0)
      return {};
    const std::string commonName = name;
    const size_t colon = commonName.rfind(':');
    const std::string cnpj = colon == std::string::npos ? "" : commonName.substr(colon + 1);
    if (cnpj.size() != 14 || cnpj.find_first_not_of("0123456789") != std::string::npos) return {};
    return cnpj;
  } catch (const std::exception&) {
    return {};
  }
}

std::string VerifyEnveloped(const std::string& xml, const std::string& localName,
                            const std::string& caPem) {
  const std::string c14n = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
  const std::string dsig = kDsig;
  try {
    Doc doc = ParseStrict(xml);
    xmlNode* element = FindElement(xmlDocGetRootElement(doc.get()), localName.c_str());
    if (element == nullptr) return "elemento " + localName + " não encontrado";
    const std::string id = Attribute(element, "Id");
    if (id.empty()) return "elemento " + localName + " sem Id";
    xmlNode* signature = DsigChild(element->parent, "Signature");
    if (signature == nullptr) return "assinatura não encontrada ao lado de " + localName;
    xmlNode* signedInfo = DsigChild(signature, "SignedInfo");
    xmlNode* reference = DsigChild(signedInfo, "Reference");
    xmlNode* transforms = DsigChild(reference, "Transforms");
    if (reference == nullptr || transforms == nullptr) return "SignedInfo incompleto";
    if (Attribute(DsigChild(signedInfo, "CanonicalizationMethod"), "Algorithm") != c14n ||
        Attribute(DsigChild(signedInfo, "SignatureMethod"), "Algorithm") != dsig + "rsa-sha1" ||
        Attribute(DsigChild(reference, "DigestMethod"), "Algorithm") != dsig + "sha1") {
      return "algoritmos da assinatura fora do padrão";
    }
    std::string transformList;
    for (xmlNode* t = transforms->children; t != nullptr; t = t->next) {
      if (t->type == XML_ELEMENT_NODE) transformList += Attribute(t, "Algorithm") + " ";
    }
    if (transformList != dsig + "enveloped-signature " + c14n + " ") {
      return "transformações da assinatura fora do padrão";
    }
    if (Attribute(reference, "URI") != "#" + id) return "a referência não aponta para " + id;
    if (Text(DsigChild(reference, "DigestValue")) != HashSha1Base64(Canonical(doc.get(), element)))
      return "DigestValue não confere com o conteúdo de " + localName;

    const std::string der = DecodeBase64(
        Text(DsigChild(DsigChild(DsigChild(signature, "KeyInfo"), "X509Data"), "X509Certificate")));
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        d2i_X509(nullptr, &cursor, static_cast<long>(der.size())), X509_free);
    if (!cert) return "certificado de KeyInfo ilegível";
    EVP_PKEY* key = X509_get0_pubkey(cert.get());
    const std::string value = DecodeBase64(Text(DsigChild(signature, "SignatureValue")));
    const std::string canonical = Canonical(doc.get(), signedInfo);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (key == nullptr || !ctx ||
        EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha1(), nullptr, key) != 1 ||
        EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(value.data()),
                         value.size(), reinterpret_cast<const unsigned char*>(canonical.data()),
                         canonical.size()) != 1) {
      return "SignatureValue não confere";
    }
    return caPem.empty() ? std::string() : IssuedBy(cert.get(), caPem);
  } catch (const std::exception& failure) {
    return failure.what();
  }
}

}  // namespace qor::sim
