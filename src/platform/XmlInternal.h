// libxml2 pieces shared by Xml.cpp and SchemaValidator.cpp. Internal to src/platform/.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

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

// Serialises nodes, one after the other, into one UTF-8 text without an XML declaration. The
// buffer and the save context are owned here, so a failure half-way frees them both.
class XmlTextWriter {
 public:
  XmlTextWriter();  // EqorGovException when libxml2 cannot allocate them
  void Write(xmlNodePtr node);
  // The text of the nodes written; the writer is spent afterwards.
  std::string Finish();

 private:
  struct BufferFree {
    void operator()(xmlBufferPtr buffer) const { xmlBufferFree(buffer); }
  };
  struct SaveClose {
    void operator()(xmlSaveCtxtPtr save) const { xmlSaveClose(save); }
  };
  std::unique_ptr<xmlBuffer, BufferFree> buffer_;
  std::unique_ptr<xmlSaveCtxt, SaveClose> save_;  // after the buffer: closed before it is freed
};

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
