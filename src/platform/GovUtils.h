// The services utilities object a component holds: the request/response log with its save
// switch and events, and schema validation with the messages of the last validation.
// The stateless helpers (XML queries, text, digests, files) are free functions in Xml.h,
// Text.h, Crypto.h and Files.h.
//
// Not thread-safe per object.
#pragma once

#include <string>
#include <vector>

#include "platform/RequestLog.h"
#include "platform/TStrings.h"

namespace qor {

class TqorGovUtils {
 public:
  TqorGovUtils() = default;
  TqorGovUtils(const TqorGovUtils&) = delete;
  TqorGovUtils& operator=(const TqorGovUtils&) = delete;

  TRequestLog& Logs() { return log_; }
  void Set_SaveLogToFile(bool save) { log_.Set_SaveLogToFile(save); }
  std::string GetLogFileName(const std::string& kind, const std::string& id) const {
    return log_.GetLogFileName(kind, id);
  }
  std::string Log(const std::string& content, const std::string& kind, const std::string& id,
                  const std::string& fileName, const std::string& directory) {
    return log_.Log(content, kind, id, fileName, directory);
  }

  // Validation against one schema file / by the document's schemaLocation inside `directory`
  // (SchemaValidator). The messages of the last call are in Get_ValidatorErrors().
  // Returns true when the document is valid. An invalid document raises EqorGovException
  // ("XML não é válido segundo o esquema <file>:" and the problems, one per line), because the
  // component stops a request on the exception, not on the result; so does a missing schema or a
  // refused schemaLocation, whose message is then the one line of Get_ValidatorErrors().
  bool ValidateSchema(const std::string& xml, const std::string& xsdPath);
  bool ValidateSchemaByDirectory(const std::string& xml,
                                 const std::vector<std::string>& directories);
  bool ValidateSchemaByDirectory(const std::string& xml, const std::string& directory) {
    return ValidateSchemaByDirectory(xml, std::vector<std::string>{directory});
  }
  const TStrings& Get_ValidatorErrors() const { return errors_; }

 private:
  TRequestLog log_;
  TStrings errors_;
};

}  // namespace qor
