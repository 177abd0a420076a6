// Edits of a parsed document, for the few places that change a document they are about to sign:
// the tree is changed and signed as it stands, instead of the text being changed and read again.
//
// Thread-safety: the rule of the XmlDocument edited (one thread at a time).
#pragma once

#include <string>
#include <string_view>

#include "platform/Xml.h"

namespace qor {

// In the first element, in document order, whose local name is `parent`: sets the text of its
// first child element named `child` to `text` (any content it had is replaced) or, when it has
// none, inserts a `child` element holding `text` right after its first child element named
// `after`, or as its last child when `after` is empty or absent. An inserted element takes the
// namespace of `parent`. `text` is plain text (the serialiser escapes it).
// Returns false, and changes nothing, when the document has no `parent` element.
bool SetChildElementText(XmlDocument& document, std::string_view parent, std::string_view child,
                         const std::string& text, std::string_view after = {});

}  // namespace qor
