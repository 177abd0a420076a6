#include "platform/Xml.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <climits>
#include <cstring>
#include <functional>

#include "platform/GovException.h"
#include "platform/LibraryInit.h"
#include "platform/Text.h"
#include "platform/XmlInternal.h"

namespace qor {

namespace {

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }
const char* C(const xmlChar* s) { return reinterpret_cast<const char*>(s); }

std::string TakeString(xmlChar* s) {
  if (s == nullptr) return std::string();
  std::string out(C(s));
  xmlFree(s);
  return out;
}

// The collector rides in the parser context's _private. The context is taken from the error
// rather than from the handler's user data, which a plugged-in consumer (a schema validator
// reading the events) replaces with its own.
void ParserErrorHandler(void* /*userData*/, xmlErrorPtr error) {
  auto* ctxt = error != nullptr ? static_cast<xmlParserCtxtPtr>(error->ctxt) : nullptr;
  if (ctxt == nullptr || ctxt->_private == nullptr) return;
  XmlErrorCollector::Handler(ctxt->_private, error);
}

std::string NodeText(xmlNodePtr node) {
  if (node->type == XML_NAMESPACE_DECL) {
    auto* ns = reinterpret_cast<xmlNsPtr>(node);
    return ns->href != nullptr ? C(ns->href) : "";
  }
  return TakeString(xmlNodeGetContent(node));
}

std::string SaveElement(xmlNodePtr element) {
  XmlTextWriter writer;
  writer.Write(element);
  return writer.Finish();
}

// Outer XML of an element. Declarations the element relies on may sit on its ancestors (a SOAP
// body's payload often inherits its default namespace), so a non-root element is first copied
// into a document of its own: the copy declares, on its top element, every namespace that it or
// its descendants use and that was declared above it.
std::string NodeXml(xmlNodePtr node) {
  if (node->type == XML_DOCUMENT_NODE) {
    node = xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(node));
    if (node == nullptr) return std::string();
  }
  if (node->type != XML_ELEMENT_NODE) return NodeText(node);
  if (node->parent == nullptr || node->parent->type == XML_DOCUMENT_NODE) return SaveElement(node);

  const XmlDocPtr holder(xmlNewDoc(BAD_CAST "1.0"));
  if (holder == nullptr) throw EqorGovException("Memória insuficiente ao serializar XML");
  xmlNodePtr copy = xmlDocCopyNode(node, holder.get(), 1);
  if (copy == nullptr) throw EqorGovException("Memória insuficiente ao serializar XML");
  xmlDocSetRootElement(holder.get(), copy);
  return SaveElement(copy);
}

// Visits the elements under (and including) `root` in document order until `visit` returns
// false. Entity references are not entered: their children belong to the entity declaration.
template <typename Visit>
void ForEachElement(xmlNodePtr root, Visit visit) {
  xmlNodePtr node = root;
  while (node != nullptr) {
    if (node->type == XML_ELEMENT_NODE) {
      if (!visit(node)) return;
      if (node->children != nullptr) {
        node = node->children;
        continue;
      }
    }
    while (node != nullptr && node != root && node->next == nullptr) node = node->parent;
    if (node == nullptr || node == root) return;
    node = node->next;
  }
}

xmlNodePtr FindElement(xmlDocPtr doc, const std::string& tag, int index) {
  if (index < 0) return nullptr;
  xmlNodePtr found = nullptr;
  int seen = 0;
  ForEachElement(xmlDocGetRootElement(doc), [&](xmlNodePtr n) {
    if (std::strcmp(C(n->name), tag.c_str()) == 0 && seen++ == index) {
      found = n;
      return false;
    }
    return true;
  });
  return found;
}

struct XPathResult {
  xmlXPathContextPtr context = nullptr;
  xmlXPathObjectPtr object = nullptr;
  ~XPathResult() {
    if (object != nullptr) xmlXPathFreeObject(object);
    if (context != nullptr) xmlXPathFreeContext(context);
  }
};

void Evaluate(xmlDocPtr doc, const std::string& xpath, const XmlNamespaces& namespaces,
              XPathResult& result) {
  result.context = xmlXPathNewContext(doc);
  if (result.context == nullptr) throw EqorGovException("Memória insuficiente para XPath");
  // Relative queries (".//tec:infProt") start at the document, as they do on a DOM document.
  result.context->node = reinterpret_cast<xmlNodePtr>(doc);
  XmlErrorCollector errors;
  result.context->error = XmlErrorCollector::Handler;
  result.context->userData = &errors;
  for (const auto& [prefix, uri] : namespaces) {
    if (prefix.empty() || xmlXPathRegisterNs(result.context, X(prefix), X(uri)) != 0) {
      throw EqorGovException("Prefixo de namespace inválido para XPath: \"" + prefix + "\"");
    }
  }
  result.object = xmlXPathEvalExpression(X(xpath), result.context);
  if (result.object == nullptr) {
    std::string cause = errors.messages.empty() ? "expressão inválida" : errors.messages.front();
    throw EqorGovException("XPath inválido \"" + xpath + "\": " + cause);
  }
}

// Values of the XPath result: nodes in document order, or the one value of an expression that
// gives a string, number or boolean.
void Collect(const XPathResult& result, bool asXml, bool firstOnly,
             std::vector<std::string>& values) {
  xmlXPathObjectPtr obj = result.object;
  if (obj->type == XPATH_NODESET) {
    xmlNodeSetPtr set = obj->nodesetval;
    if (set == nullptr) return;
    for (int i = 0; i < set->nodeNr; ++i) {
      xmlNodePtr node = set->nodeTab[i];
      values.push_back(asXml ? NodeXml(node) : NodeText(node));
      if (firstOnly) return;
    }
    return;
  }
  values.push_back(TakeString(xmlXPathCastToString(obj)));
}

std::string AttributeOf(xmlDocPtr doc, const std::string& element, const std::string& attribute,
                        int index) {
  xmlNodePtr node = FindElement(doc, element, index);
  if (node == nullptr) return std::string();
  for (xmlAttrPtr attr = node->properties; attr != nullptr; attr = attr->next) {
    if (std::strcmp(C(attr->name), attribute.c_str()) == 0) {
      return TakeString(xmlNodeListGetString(doc, attr->children, 1));
    }
  }
  return std::string();
}

std::string RootNamespaceOf(xmlDocPtr doc) {
  xmlNodePtr root = xmlDocGetRootElement(doc);
  return (root->ns != nullptr && root->ns->href != nullptr) ? C(root->ns->href) : "";
}

XmlDocPtr ParseOrNull(const std::string& xml) {
  std::string error;
  return XmlDocPtr(ParseXmlHardened(xml, error));
}

}  // namespace

// ---- shared with SchemaValidator.cpp and XmlSigner.cpp ----------------------------------------

XmlTextWriter::XmlTextWriter() : buffer_(xmlBufferCreate()) {
  if (buffer_ != nullptr) save_.reset(xmlSaveToBuffer(buffer_.get(), "UTF-8", XML_SAVE_NO_DECL));
  if (save_ == nullptr) throw EqorGovException("Memória insuficiente ao serializar XML");
}

void XmlTextWriter::Write(xmlNodePtr node) { xmlSaveTree(save_.get(), node); }

std::string XmlTextWriter::Finish() {
  save_.reset();  // closing flushes what the context still holds into the buffer
  return std::string(C(xmlBufferContent(buffer_.get())),
                     static_cast<std::size_t>(xmlBufferLength(buffer_.get())));
}

std::string XmlErrorText(const xmlError* error) {
  std::string message = error->message != nullptr ? error->message : "erro desconhecido";
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return "line " + std::to_string(error->line) + ": " + message;
}

void XmlErrorCollector::Handler(void* userData, xmlErrorPtr error) {
  if (userData == nullptr || error == nullptr || error->level < XML_ERR_ERROR) return;
  static_cast<XmlErrorCollector*>(userData)->messages.push_back(XmlErrorText(error));
}

namespace {

// The hardened parse behind ParseXmlHardened and ReadXmlHardened. With `buildTree` false the
// context's SAX handler keeps only its error handler, so that what `plug` installs is all that
// sees the document. Returns whether the text is well-formed; `doc` gets the tree when built.
bool HardenedParse(const std::string& xml, bool buildTree,
                   const std::function<void(xmlParserCtxtPtr)>& plug,
                   const std::function<void()>& unplug, XmlDocPtr& doc, std::string& firstError) {
  EnsureLibxml2();
  if (xml.empty()) {
    firstError = "line 0: Document is empty";
    return false;
  }
  if (xml.size() > static_cast<std::size_t>(INT_MAX)) {
    firstError = "line 0: Document too large";
    return false;
  }
  // Nothing outside the text is ever read, whatever the document's DOCTYPE asks for.
  ScopedExternalLoader refuseAll([](const std::string&) { return std::string(); });
  XmlErrorCollector errors;  // outlives the context, which points at it
  const std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> owner(
      xmlCreateMemoryParserCtxt(xml.data(), static_cast<int>(xml.size())), &xmlFreeParserCtxt);
  xmlParserCtxtPtr ctxt = owner.get();
  if (ctxt == nullptr) {
    firstError = "line 0: Out of memory";
    return false;
  }
  ctxt->_private = &errors;
  if (!buildTree) {
    *ctxt->sax = xmlSAXHandler{};
    ctxt->sax->initialized = XML_SAX2_MAGIC;
  }
  ctxt->sax->serror = ParserErrorHandler;
  xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_BIG_LINES);
  // The options above start from libxml2's process-wide defaults, which other code in the
  // process (a signature library's set-up, typically) may have switched to substituting
  // entities or loading DTDs. Pin the settings that keep the parse closed.
  ctxt->replaceEntities = 0;
  ctxt->loadsubset = 0;
  ctxt->validate = 0;
  ctxt->keepBlanks = 1;
  if (plug) plug(ctxt);
  xmlParseDocument(ctxt);
  if (unplug) unplug();
  doc.reset(ctxt->myDoc);
  ctxt->myDoc = nullptr;
  // A text node that grows past the parser's size limit (10 MB without XML_PARSE_HUGE) stops
  // the parse as if memory had run out, yet leaves the document marked well-formed: what was
  // read up to there would pass for the whole text.
  bool ok = ctxt->wellFormed != 0 && ctxt->nsWellFormed != 0 && ctxt->errNo != XML_ERR_NO_MEMORY &&
            (!buildTree || (doc != nullptr && xmlDocGetRootElement(doc.get()) != nullptr));
  if (!ok) {
    if (!errors.messages.empty()) {
      firstError = errors.messages.front();
    } else if (ctxt->lastError.message != nullptr) {
      firstError = XmlErrorText(&ctxt->lastError);
    } else {
      firstError = "line 0: Document is not well-formed";
    }
    doc.reset();
  }
  return ok;
}

}  // namespace

xmlDocPtr ParseXmlHardened(const std::string& xml, std::string& firstError) {
  XmlDocPtr doc;
  HardenedParse(xml, true, nullptr, nullptr, doc, firstError);
  return doc.release();
}

bool ReadXmlHardened(const std::string& xml, const std::function<void(xmlParserCtxtPtr)>& plug,
                     const std::function<void()>& unplug, std::string& firstError) {
  XmlDocPtr none;
  return HardenedParse(xml, false, plug, unplug, none, firstError);
}

// ---- XmlDocument ------------------------------------------------------------------------------

struct XmlDocument::Impl {
  explicit Impl(xmlDocPtr d) : doc(d) {}
  XmlDocPtr doc;
};

XmlDocument::XmlDocument(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

xmlDocPtr DocumentOf(XmlDocument& document) { return document.impl_->doc.get(); }
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;
XmlDocument::~XmlDocument() = default;

XmlDocument XmlDocument::Parse(const std::string& xml) {
  std::string error;
  xmlDocPtr doc = ParseXmlHardened(xml, error);
  if (doc == nullptr) throw EqorGovException("XML mal formado: " + error);
  return XmlDocument(std::make_unique<Impl>(doc));
}

bool XmlDocument::SelectSingleNode(const std::string& xpath, std::string& value,
                                   const XmlNamespaces& namespaces, bool asXml) const {
  XPathResult result;
  Evaluate(impl_->doc.get(), xpath, namespaces, result);
  std::vector<std::string> values;
  Collect(result, asXml, true, values);
  if (values.empty()) return false;
  value = std::move(values.front());
  return true;
}

bool XmlDocument::SelectNodes(const std::string& xpath, std::vector<std::string>& values,
                              const XmlNamespaces& namespaces, bool asXml) const {
  values.clear();
  XPathResult result;
  Evaluate(impl_->doc.get(), xpath, namespaces, result);
  Collect(result, asXml, false, values);
  return !values.empty();
}

std::string XmlDocument::ValueTag(const std::string& tag, int index) const {
  xmlNodePtr node = FindElement(impl_->doc.get(), tag, index);
  return node == nullptr ? std::string() : NodeText(node);
}

int XmlDocument::CountTag(const std::string& tag) const {
  int count = 0;
  ForEachElement(xmlDocGetRootElement(impl_->doc.get()), [&](xmlNodePtr n) {
    if (std::strcmp(C(n->name), tag.c_str()) == 0) ++count;
    return true;
  });
  return count;
}

std::string XmlDocument::Attribute(const std::string& element, const std::string& attribute,
                                   int index) const {
  return AttributeOf(impl_->doc.get(), element, attribute, index);
}

namespace {

// The first attribute `attribute` (no namespace) on an element named `element` (any element when
// empty) for which `inNamespace` holds, in document order.
template <typename InNamespace>
xmlAttrPtr FirstAttribute(xmlDocPtr doc, const std::string& element, const std::string& attribute,
                          InNamespace inNamespace) {
  xmlAttrPtr found = nullptr;
  ForEachElement(xmlDocGetRootElement(doc), [&](xmlNodePtr n) {
    if (!element.empty() && std::strcmp(C(n->name), element.c_str()) != 0) return true;
    if (!inNamespace(n)) return true;
    for (xmlAttrPtr attr = n->properties; attr != nullptr; attr = attr->next) {
      if (attr->ns == nullptr && std::strcmp(C(attr->name), attribute.c_str()) == 0) {
        found = attr;
        return false;
      }
    }
    return true;
  });
  return found;
}

// Whether the names of `path` before its last sit above `node` in order: each the parent of the
// next when `children`, an ancestor at any depth otherwise. Matching each name to its nearest
// ancestor is enough: a later match could only leave fewer ancestors for the rest.
bool InsidePath(xmlNodePtr node, const XmlDocument::Path& path) {
  const std::string_view* const first = path.names.begin();
  xmlNodePtr up = node->parent;
  for (const std::string_view* name = path.names.end() - 1; name != first;) {
    --name;
    while (up != nullptr && up->type == XML_ELEMENT_NODE && C(up->name) != *name) {
      if (path.children) return false;
      up = up->parent;
    }
    if (up == nullptr || up->type != XML_ELEMENT_NODE) return false;
    up = up->parent;
  }
  return true;
}

}  // namespace

bool XmlDocument::FindAttribute(const std::string& element, const std::string& attribute,
                                std::string& value) const {
  const xmlAttrPtr found =
      FirstAttribute(impl_->doc.get(), element, attribute, [](xmlNodePtr) { return true; });
  if (found == nullptr) return false;
  value = TakeString(xmlNodeListGetString(impl_->doc.get(), found->children, 1));
  return true;
}

bool XmlDocument::FindAttribute(const std::string& elementNamespace, const std::string& element,
                                const std::string& attribute, std::string& value) const {
  const xmlAttrPtr found = FirstAttribute(impl_->doc.get(), element, attribute, [&](xmlNodePtr n) {
    const char* uri = n->ns != nullptr && n->ns->href != nullptr ? C(n->ns->href) : "";
    return elementNamespace == uri;
  });
  if (found == nullptr) return false;
  value = TakeString(xmlNodeListGetString(impl_->doc.get(), found->children, 1));
  return true;
}

std::vector<std::string> XmlDocument::ValuesInside(std::initializer_list<Path> paths) const {
  std::vector<std::string> values(paths.size());
  // The paths still looked for, each by its last name: a node is first told apart by the first
  // letter of its name, which settles almost every node of a note without a string comparison.
  struct Target {
    std::string_view name;
    const Path* path;
    std::size_t index;
  };
  std::vector<Target> left;
  std::size_t index = 0;
  for (const Path& path : paths) {
    if (path.names.size() != 0 && !(path.names.end() - 1)->empty()) {
      left.push_back({*(path.names.end() - 1), &path, index});
    }
    ++index;
  }
  if (left.empty()) return values;
  ForEachElement(xmlDocGetRootElement(impl_->doc.get()), [&](xmlNodePtr n) {
    const char* name = C(n->name);
    for (std::size_t i = 0; i < left.size();) {
      const Target& t = left[i];
      if (name[0] == t.name[0] && std::strncmp(name, t.name.data(), t.name.size()) == 0 &&
          name[t.name.size()] == '\0' && InsidePath(n, *t.path)) {
        values[t.index] = NodeText(n);
        left[i] = left.back();
        left.pop_back();
      } else {
        ++i;
      }
    }
    return !left.empty();
  });
  return values;
}

std::string XmlDocument::RootNamespace() const { return RootNamespaceOf(impl_->doc.get()); }

bool XmlDocument::HasDocumentType() const { return xmlGetIntSubset(impl_->doc.get()) != nullptr; }

std::string XmlDocument::RootName() const {
  return C(xmlDocGetRootElement(impl_->doc.get())->name);
}

namespace {
XmlElement ToElement(xmlNodePtr node) {
  XmlElement element;
  element.name = C(node->name);
  if (node->ns != nullptr && node->ns->href != nullptr) {
    element.ns = std::make_shared<const std::string>(C(node->ns->href));
  }
  for (xmlAttrPtr a = node->properties; a; a = a->next) {
    xmlChar* value = xmlNodeListGetString(node->doc, a->children, 1);
    element.attributes.emplace_back(C(a->name), value ? C(value) : std::string());
    xmlFree(value);
  }
  for (xmlNodePtr child = node->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) {
      element.children.push_back(ToElement(child));
    } else if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
               child->content != nullptr) {
      element.text += C(child->content);
    }
  }
  return element;
}
}  // namespace

const std::string& XmlElement::Namespace() const {
  static const std::string kNone;
  return ns ? *ns : kNone;
}

XmlElement XmlDocument::ElementTree() const {
  return ToElement(xmlDocGetRootElement(impl_->doc.get()));
}

namespace {
// Builds the element tree from the parser's events. Only the open elements are kept on the
// stack: an element's children grow while it is open, and an open element is the last child of
// its parent, so the pointers held stay valid.
struct TreeBuilder {
  XmlElement root;
  std::vector<XmlElement*> open;
  bool started = false;
  // Elements of the namespace of the element before share its copy of the URI.
  std::shared_ptr<const std::string> lastNamespace;
};

void TreeStart(void* ctx, const xmlChar* localname, const xmlChar*, const xmlChar* uri, int,
               const xmlChar**, int nbAttributes, int, const xmlChar** attributes) {
  auto* builder = static_cast<TreeBuilder*>(ctx);
  XmlElement* element = nullptr;
  if (builder->open.empty()) {
    element = &builder->root;
    builder->started = true;
  } else {
    std::vector<XmlElement>& siblings = builder->open.back()->children;
    // Most elements that have children have a few: room for four spares the first moves.
    if (siblings.empty()) siblings.reserve(4);
    element = &siblings.emplace_back();
  }
  element->name = C(localname);
  if (uri != nullptr) {
    if (!builder->lastNamespace || *builder->lastNamespace != C(uri)) {
      builder->lastNamespace = std::make_shared<const std::string>(C(uri));
    }
    element->ns = builder->lastNamespace;
  }
  element->attributes.reserve(static_cast<std::size_t>(nbAttributes));
  for (int i = 0; i < nbAttributes; ++i) {
    const xmlChar** a = attributes + 5 * i;
    std::string value(C(a[3]), static_cast<std::size_t>(a[4] - a[3]));
    // The parser hands "&" of a value still written as a reference.
    if (value.find('&') != std::string::npos) value = Unescape(value);
    element->attributes.emplace_back(C(a[0]), std::move(value));
  }
  builder->open.push_back(element);
}

void TreeEnd(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* builder = static_cast<TreeBuilder*>(ctx);
  if (!builder->open.empty()) builder->open.pop_back();
}

void TreeText(void* ctx, const xmlChar* text, int length) {
  auto* builder = static_cast<TreeBuilder*>(ctx);
  if (!builder->open.empty()) {
    builder->open.back()->text.append(C(text), static_cast<std::size_t>(length));
  }
}
}  // namespace

XmlElement ParseElementTree(const std::string& xml) {
  TreeBuilder builder;
  std::string error;
  const bool ok = ReadXmlHardened(
      xml,
      [&builder](xmlParserCtxtPtr ctxt) {
        ctxt->sax->startElementNs = TreeStart;
        ctxt->sax->endElementNs = TreeEnd;
        ctxt->sax->characters = TreeText;
        ctxt->sax->cdataBlock = TreeText;
        ctxt->userData = &builder;
      },
      nullptr, error);
  if (!ok || !builder.started) {
    throw EqorGovException("XML mal formado: " +
                           (error.empty() ? std::string("line 0: Document is empty") : error));
  }
  return std::move(builder.root);
}

// ---- one-shot forms ---------------------------------------------------------------------------

bool XPathSelectSingleNode(const std::string& xml, const std::string& xpath, std::string& value,
                           const XmlNamespaces& namespaces, bool asXml) {
  XmlDocPtr doc = ParseOrNull(xml);
  if (!doc) return false;
  XPathResult result;
  Evaluate(doc.get(), xpath, namespaces, result);
  std::vector<std::string> values;
  Collect(result, asXml, true, values);
  if (values.empty()) return false;
  value = std::move(values.front());
  return true;
}

bool XPathSelectNodes(const std::string& xml, const std::string& xpath,
                      std::vector<std::string>& values, const XmlNamespaces& namespaces,
                      bool asXml) {
  values.clear();
  XmlDocPtr doc = ParseOrNull(xml);
  if (!doc) return false;
  XPathResult result;
  Evaluate(doc.get(), xpath, namespaces, result);
  Collect(result, asXml, false, values);
  return !values.empty();
}

std::string GetValueTag(const std::string& tag, const std::string& xml, int index) {
  XmlDocPtr doc = ParseOrNull(xml);
  if (!doc) return std::string();
  xmlNodePtr node = FindElement(doc.get(), tag, index);
  return node == nullptr ? std::string() : NodeText(node);
}

std::string GetXMLAttributeByIndex(const std::string& xml, const std::string& element,
                                   const std::string& attribute, int index) {
  XmlDocPtr doc = ParseOrNull(xml);
  return doc ? AttributeOf(doc.get(), element, attribute, index) : std::string();
}

std::string GetXMLNamespace(const std::string& xml) {
  XmlDocPtr doc = ParseOrNull(xml);
  return doc ? RootNamespaceOf(doc.get()) : std::string();
}

bool IsValidXml(const std::string& xml) {
  std::string error;
  return XmlDocPtr(ParseXmlHardened(xml, error)) != nullptr;
}

// ---- text forms -------------------------------------------------------------------------------

std::string RemoveBOM(const std::string& text) {
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) return text.substr(3);
  return text;
}

std::string Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  static constexpr std::pair<const char*, char> kNamed[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '&') {
      out.push_back(text[i++]);
      continue;
    }
    std::size_t semi = text.find(';', i + 1);
    // The longest reference handled is "&#x10FFFF;" (or a run of leading zeros, kept short).
    if (semi == std::string::npos || semi - i > 16) {
      out.push_back(text[i++]);
      continue;
    }
    std::string name = text.substr(i + 1, semi - i - 1);
    bool done = false;
    if (name.size() > 1 && name[0] == '#') {
      bool hex = name[1] == 'x' || name[1] == 'X';
      std::string digits = name.substr(hex ? 2 : 1);
      const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
      if (!digits.empty() && digits.find_first_not_of(allowed) == std::string::npos) {
        unsigned long cp = std::stoul(digits, nullptr, hex ? 16 : 10);
        if (cp > 0 && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
          AppendUtf8(out, static_cast<char32_t>(cp));
          done = true;
        }
      }
    } else {
      for (const auto& [entity, ch] : kNamed) {
        if (name == entity) {
          out.push_back(ch);
          done = true;
          break;
        }
      }
    }
    if (done) {
      i = semi + 1;
    } else {
      out.push_back(text[i++]);  // not a reference we know: kept as written
    }
  }
  return out;
}

}  // namespace qor
