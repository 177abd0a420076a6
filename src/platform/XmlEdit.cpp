#include "platform/XmlEdit.h"

#include <libxml/tree.h>

#include "platform/GovException.h"
#include "platform/XmlInternal.h"

namespace qor {

namespace {

bool Named(xmlNodePtr node, std::string_view name) {
  return node->type == XML_ELEMENT_NODE && name == reinterpret_cast<const char*>(node->name);
}

// The first element named `name` in the subtree of `node`, in document order; null if none.
xmlNodePtr FirstNamed(xmlNodePtr node, std::string_view name) {
  for (xmlNodePtr cur = node; cur != nullptr; cur = cur->next) {
    if (cur->type != XML_ELEMENT_NODE) continue;
    if (Named(cur, name)) return cur;
    if (xmlNodePtr found = FirstNamed(cur->children, name); found != nullptr) return found;
  }
  return nullptr;
}

xmlNodePtr ChildNamed(xmlNodePtr parent, std::string_view name) {
  if (name.empty()) return nullptr;
  for (xmlNodePtr cur = parent->children; cur != nullptr; cur = cur->next) {
    if (Named(cur, name)) return cur;
  }
  return nullptr;
}

[[noreturn]] void OutOfMemory() { throw EqorGovException("Memória insuficiente ao editar o XML."); }

}  // namespace

bool SetChildElementText(XmlDocument& document, std::string_view parent, std::string_view child,
                         const std::string& text, std::string_view after) {
  xmlDocPtr doc = DocumentOf(document);
  xmlNodePtr owner = FirstNamed(doc->children, parent);
  if (owner == nullptr) return false;
  xmlNodePtr content = xmlNewDocTextLen(doc, reinterpret_cast<const xmlChar*>(text.data()),
                                        static_cast<int>(text.size()));
  if (content == nullptr) OutOfMemory();
  if (xmlNodePtr existing = ChildNamed(owner, child); existing != nullptr) {
    while (existing->children != nullptr) {
      xmlNodePtr old = existing->children;
      xmlUnlinkNode(old);
      xmlFreeNode(old);
    }
    xmlAddChild(existing, content);
    return true;
  }
  const std::string name(child);
  xmlNodePtr element =
      xmlNewDocNode(doc, owner->ns, reinterpret_cast<const xmlChar*>(name.c_str()), nullptr);
  if (element == nullptr) {
    xmlFreeNode(content);
    OutOfMemory();
  }
  xmlAddChild(element, content);
  if (xmlNodePtr previous = ChildNamed(owner, after); previous != nullptr) {
    xmlAddNextSibling(previous, element);
  } else {
    xmlAddChild(owner, element);
  }
  return true;
}

}  // namespace qor
