// XML queries of the services utilities, on libxml2.
//
// Parsing is hardened: no external entities, no DTD loading, no network, no huge-document mode.
// Text that is not well-formed XML makes the free functions below answer "nothing found" (false
// or empty); XmlDocument::Parse throws EqorGovException naming the parser's first error.
//
// Queries are XPath 1.0. Prefixes used in a query must be bound in `namespaces`
// ({{"soap", "http://www.w3.org/2003/05/soap-envelope"}}); queries on local names
// ("//*[local-name()='retInutNFe']") need no binding.
//
// "Node XML" is the serialisation of the element itself (outer XML), with the namespace
// declarations it needs, without an XML declaration; "text" is its string value.
//
// A document must also be namespace-well-formed (an undeclared prefix is an error). A malformed
// XPath or an empty prefix in `namespaces` throws EqorGovException from the free functions too:
// it is a programming error, not bad input. Relative queries (".//x") start at the document.
// An expression that gives a string, number or boolean ("count(//x)") matches once, with that
// value as text. Attribute, text and namespace nodes give their value even when `asXml`.
//
// An XmlDocument is parsed once and can be queried many times: use it when an operation reads
// several values from one text. Not thread-safe per object; distinct objects are independent.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct _xmlDoc;  // libxml2's document, for the platform's own use

namespace qor {

using XmlNamespaces = std::vector<std::pair<std::string, std::string>>;  // prefix, URI

// One element of a document as plain data: its local name, its attributes in document order,
// its own text (its text and CDATA children joined, entities and character references already
// read: "A &amp; B" is "A & B"; the text of child elements is not included) and its child
// elements (comments and processing instructions are left out). Namespace() is the element's
// namespace URI (empty for none); the elements of one namespace share one copy of it.
struct XmlElement {
  std::string name;
  std::shared_ptr<const std::string> ns;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<XmlElement> children;
  std::string text;

  const std::string& Namespace() const;
};

class XmlDocument {
 public:
  // Throws EqorGovException when `xml` is not well-formed.
  static XmlDocument Parse(const std::string& xml);

  XmlDocument(XmlDocument&&) noexcept;
  XmlDocument& operator=(XmlDocument&&) noexcept;
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;
  ~XmlDocument();

  // First node matched by `xpath`: its outer XML when `asXml`, else its text. False when none.
  // A malformed XPath throws EqorGovException.
  bool SelectSingleNode(const std::string& xpath, std::string& value,
                        const XmlNamespaces& namespaces = {}, bool asXml = true) const;
  // Every node matched, in document order (outer XML when `asXml`, else text). `values` is
  // cleared first.
  bool SelectNodes(const std::string& xpath, std::vector<std::string>& values,
                   const XmlNamespaces& namespaces = {}, bool asXml = true) const;
  // Text of the `index`-th (0-based, document order) element whose local name is `tag`;
  // empty when there is none.
  std::string ValueTag(const std::string& tag, int index = 0) const;
  // Number of elements whose local name is `tag`.
  int CountTag(const std::string& tag) const;
  // Value of attribute `attribute` of the `index`-th element with local name `element`.
  std::string Attribute(const std::string& element, const std::string& attribute,
                        int index = 0) const;
  // Value of the first attribute named `attribute` (without namespace) in document order, on
  // an element whose local name is `element`, or on any element when `element` is empty: what
  // "(//*[local-name()='element'])/@attribute" or "//@attribute" selects first. False when
  // there is none.
  bool FindAttribute(const std::string& element, const std::string& attribute,
                     std::string& value) const;
  // The same, on elements of the namespace `elementNamespace` only: what
  // ".//p:element/@attribute" selects first, p bound to that namespace.
  bool FindAttribute(const std::string& elementNamespace, const std::string& element,
                     const std::string& attribute, std::string& value) const;
  // For each of `paths`, in its order, the text of the first element, in document order, whose
  // local name is the last of the path's names and that lies inside elements named by the
  // others, in that order: each the parent of the next when `children` ("//a/b"), an ancestor at
  // any depth otherwise ("//a//b"); empty when there is none. One walk of the tree for all of
  // them, without the cost of an XPath evaluation.
  struct Path {
    std::initializer_list<std::string_view> names;
    bool children;
  };
  std::vector<std::string> ValuesInside(std::initializer_list<Path> paths) const;
  // Namespace URI of the root element (empty when it has none).
  std::string RootNamespace() const;
  std::string RootName() const;  // local name of the root element
  // Whether the text had a document type declaration (<!DOCTYPE ...>), which some documents
  // (a SOAP message) may not carry: entities it declares are kept as unexpanded references.
  bool HasDocumentType() const;
  // The root element and everything under it, for readers that walk a small document whole
  // (a dictionary, a settings file) rather than query it.
  XmlElement ElementTree() const;

 private:
  struct Impl;
  explicit XmlDocument(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
  friend ::_xmlDoc* DocumentOf(XmlDocument& document);
};

// The element tree of `xml` (as XmlDocument::Parse(xml).ElementTree() gives it), read in one
// pass of the parser without building the document first: for readers that walk a note whole.
// Throws EqorGovException when `xml` is not well-formed.
XmlElement ParseElementTree(const std::string& xml);

// One-shot forms (parse, query, free). Not-well-formed input gives false / empty.
bool XPathSelectSingleNode(const std::string& xml, const std::string& xpath, std::string& value,
                           const XmlNamespaces& namespaces = {}, bool asXml = true);
bool XPathSelectNodes(const std::string& xml, const std::string& xpath,
                      std::vector<std::string>& values, const XmlNamespaces& namespaces = {},
                      bool asXml = true);
std::string GetValueTag(const std::string& tag, const std::string& xml, int index = 0);
std::string GetXMLAttributeByIndex(const std::string& xml, const std::string& element,
                                   const std::string& attribute, int index = 0);
std::string GetXMLNamespace(const std::string& xml);
bool IsValidXml(const std::string& xml);

// Text forms (no parsing).
std::string RemoveBOM(const std::string& text);  // drops a leading UTF-8 byte-order mark
std::string Escape(const std::string& text);     // & < > " ' to their entities
std::string Unescape(const std::string& text);   // the five entities and numeric references back

}  // namespace qor
