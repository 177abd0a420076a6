// XSD validation on libxml2.
//
// A compiled schema is kept for the life of the process and reused; it is compiled again when
// the modification time or size of the file, or of any file it includes or imports, changes.
// Imports and includes are resolved from the schema's own folder only: a schema location that
// leaves that folder (by "..", an absolute path or a symbolic link), or names a network address,
// is refused.
//
// Thread-safe: the cache is guarded; validation of distinct documents may run concurrently.
#pragma once

#include <string>
#include <vector>

namespace qor {

class SchemaValidator {
 public:
  // Validates `xml` against the schema file `xsdPath`. Returns true when valid; otherwise false
  // with one message per problem in `errors` ("line N: message" as libxml2 reports it).
  // A missing or unreadable schema, one that does not compile, or one whose includes leave its
  // folder throws EqorGovException naming the file. Text that is not well-formed is invalid:
  // false, with the parser's first error as the one message.
  static bool Validate(const std::string& xml, const std::string& xsdPath,
                       std::vector<std::string>& errors);

  // Validates `xml` against the schema named by the root's xsi:schemaLocation (or
  // noNamespaceSchemaLocation), resolved by file name only inside the first of `directories`
  // that holds it. Of several schemaLocation pairs the one of the root's namespace is used
  // (else the first). A location whose file name would leave the folder ("..", separators) or
  // is absent throws EqorGovException; so does a file no folder holds, naming the folders.
  static bool ValidateByDirectory(const std::string& xml,
                                  const std::vector<std::string>& directories,
                                  std::vector<std::string>& errors);
  static bool ValidateByDirectory(const std::string& xml, const std::string& directory,
                                  std::vector<std::string>& errors) {
    return ValidateByDirectory(xml, std::vector<std::string>{directory}, errors);
  }

  // Drops every compiled schema (for tests and long-running hosts replacing their package).
  static void ClearCache();
};

}  // namespace qor
