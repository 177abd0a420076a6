// libxml2 pieces shared by Xml.cpp and SchemaValidator.cpp. Internal to src/platform/.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Xml.h"

namespace qor {

// Owns a parsed document.
struct XmlDocFree {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocFree>;

// "line N: message" of one libxml2 error, without the trailing line break libxml2 puts there.
std::string XmlErrorText(const xmlError* error);

// Collects libxml2's structured errors of one operation (install with the context's own
// structured-error setter, passing the collector as user data).
struct XmlErrorCollector {
  std::vector<std::string> messages;
  static void Handler(void* userData, xmlErrorPtr error);
};

// Parses `xml` with the hardened options (no network, no entity substitution, no DTD loading,
// no huge-document mode), whatever libxml2's process-wide defaults have been set to by others.
// Returns the document, or nullptr with the first problem in `firstError` ("line N: ...").
xmlDocPtr ParseXmlHardened(const std::string& xml, std::string& firstError);

// The libxml2 document an XmlDocument holds (still owned by it).
xmlDocPtr DocumentOf(XmlDocument& document);

// Reads `xml` with the same settings without building a tree: the parser's events reach only
// what `plug` installs on the context's SAX handler and user data (a schema validator, typically),
// and `unplug` runs once the text is read, before the context is freed. Returns whether the text
// is well-formed, with the first problem in `firstError` when it is not.
bool ReadXmlHardened(const std::string& xml, const std::function<void(xmlParserCtxtPtr)>& plug,
                     const std::function<void()>& unplug, std::string& firstError);

}  // namespace qor
