#include "platform/SchemaValidator.h"

#include <libxml/globals.h>
#include <libxml/uri.h>
#include <libxml/xmlschemas.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/GovException.h"
#include "platform/LibraryInit.h"
#include "platform/XmlInternal.h"

namespace qor {

namespace fs = std::filesystem;

namespace {

constexpr const char* kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";

struct CompiledSchema {
  explicit CompiledSchema(xmlSchemaPtr s) : schema(s) {}
  ~CompiledSchema() { xmlSchemaFree(schema); }
  CompiledSchema(const CompiledSchema&) = delete;
  CompiledSchema& operator=(const CompiledSchema&) = delete;
  xmlSchemaPtr schema;
};

// What a compiled schema was made from: every file read while compiling it (the schema and its
// includes and imports), so that editing an included layout file also brings a recompilation.
struct FileStamp {
  std::string path;
  long long modifiedNs = 0;
  long long size = 0;
  unsigned long long device = 0, inode = 0;  // which file the path led to
  bool operator==(const FileStamp&) const = default;
};

// Immutable once made, so that a thread may check its files' stamps without the cache's lock.
struct CacheEntry {
  std::shared_ptr<CompiledSchema> compiled;
  std::vector<FileStamp> files;
};

struct Cache {
  std::mutex mutex;
  // By canonical path of the schema file.
  std::map<std::string, std::shared_ptr<const CacheEntry>> entries;
  // The entry of each path a caller gave, with the stamp of the file it led to, so that a schema
  // already compiled is found without resolving the path again.
  struct Known {
    std::shared_ptr<const CacheEntry> entry;
    FileStamp stamp;
  };
  std::map<std::string, Known> byCallerPath;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

// One look at the file (its modification time and size).
bool Stamp(const std::string& path, FileStamp& out) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  out.path = path;
  out.modifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  out.size = static_cast<long long>(st.st_size);
  out.device = st.st_dev;
  out.inode = st.st_ino;
  return true;
}

bool Unchanged(const CacheEntry& entry) {
  for (const FileStamp& file : entry.files) {
    FileStamp now;
    if (!Stamp(file.path, now) || !(now == file)) return false;
  }
  return true;
}

bool Inside(const fs::path& candidate, const fs::path& folder) {
  auto mismatch = std::mismatch(folder.begin(), folder.end(), candidate.begin(), candidate.end());
  return mismatch.first == folder.end() && mismatch.second != candidate.end();
}

std::string PercentDecoded(const std::string& text) {
  char* decoded = xmlURIUnescapeString(text.c_str(), 0, nullptr);
  if (decoded == nullptr) return text;
  std::string out(decoded);
  xmlFree(decoded);
  return out;
}

// Maps a location libxml2 wants to read while compiling a schema of `folder` to a local file of
// that folder, or to "" (refused) for anything else: network addresses, other schemes, and paths
// that leave the folder (by "..", an absolute path or a symbolic link).
std::string LocalSchemaFile(const std::string& url, const fs::path& folder,
                            std::vector<std::string>& refused) {
  std::string location = url;
  bool uri = false;
  if (location.rfind("file://", 0) == 0) {
    location = location.substr(7);
    if (location.rfind("localhost/", 0) == 0) location = location.substr(9);
    uri = true;
  } else if (location.rfind("file:", 0) == 0) {
    location = location.substr(5);
    uri = true;
  } else {
    std::size_t colon = location.find(':');
    std::size_t slash = location.find('/');
    if (colon != std::string::npos && (slash == std::string::npos || colon < slash)) {
      refused.push_back(url);
      return std::string();
    }
  }
  fs::path path(location);
  std::error_code ec;
  if (uri || !fs::exists(path, ec)) {
    // Locations built by libxml2 from a base URI may carry %-escapes (a space as %20).
    fs::path decoded(PercentDecoded(location));
    if (fs::exists(decoded, ec)) path = decoded;
  }
  if (path.is_relative()) path = folder / path;
  fs::path resolved = fs::weakly_canonical(path, ec);
  if (ec || !Inside(resolved, folder)) {
    refused.push_back(url);
    return std::string();
  }
  return resolved.string();
}

// libxml2 reports the XML-level errors of an included schema file through the thread's own
// structured handler, not the schema parser's: route both into one collector while compiling.
class ScopedThreadErrors {
 public:
  explicit ScopedThreadErrors(XmlErrorCollector* collector)
      : handler_(xmlStructuredError), context_(xmlStructuredErrorContext) {
    xmlSetStructuredErrorFunc(collector, XmlErrorCollector::Handler);
  }
  ~ScopedThreadErrors() { xmlSetStructuredErrorFunc(context_, handler_); }
  ScopedThreadErrors(const ScopedThreadErrors&) = delete;
  ScopedThreadErrors& operator=(const ScopedThreadErrors&) = delete;

 private:
  xmlStructuredErrorFunc handler_;
  void* context_;
};

std::string Join(const std::vector<std::string>& lines, const char* separator) {
  std::string out;
  for (const std::string& line : lines) {
    if (!out.empty()) out += separator;
    out += line;
  }
  return out;
}

CacheEntry Compile(const fs::path& schemaFile) {
  const fs::path folder = schemaFile.parent_path();
  std::vector<std::string> refused;
  std::vector<std::string> read;
  XmlErrorCollector errors;
  xmlSchemaPtr schema = nullptr;
  {
    ScopedExternalLoader loader([&](const std::string& url) {
      std::string local = LocalSchemaFile(url, folder, refused);
      if (!local.empty()) read.push_back(local);
      return local;
    });
    ScopedThreadErrors threadErrors(&errors);
    xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(schemaFile.c_str());
    if (parser == nullptr) throw EqorGovException("Memória insuficiente ao compilar esquema");
    xmlSchemaSetParserStructuredErrors(parser, XmlErrorCollector::Handler, &errors);
    schema = xmlSchemaParse(parser);
    xmlSchemaFreeParserCtxt(parser);
  }
  if (schema == nullptr || !refused.empty()) {
    if (schema != nullptr) xmlSchemaFree(schema);
    std::vector<std::string> problems;
    for (const std::string& url : refused) {
      problems.push_back("local de esquema recusado (fora da pasta " + folder.string() +
                         "): " + url);
    }
    problems.insert(problems.end(), errors.messages.begin(), errors.messages.end());
    throw EqorGovException("Esquema " + schemaFile.string() +
                           " não pôde ser compilado: " + Join(problems, "; "));
  }
  CacheEntry entry;
  entry.compiled = std::make_shared<CompiledSchema>(schema);
  read.push_back(schemaFile.string());
  for (const std::string& file : read) {
    bool known = false;
    for (const FileStamp& s : entry.files) known = known || s.path == file;
    FileStamp stamp;
    if (!known && Stamp(file, stamp)) entry.files.push_back(stamp);
  }
  return entry;
}

std::shared_ptr<CompiledSchema> GetSchema(const std::string& xsdPath) {
  EnsureLibxml2();
  Cache& cache = TheCache();
  // A schema compiled before, none of its files changed since. The lock is held for the look-up
  // alone: the stamps (one stat of each file) are read without it, so threads validating at
  // once do not queue behind each other's system calls. A file removed or edited fails the
  // check, and the path is then resolved again below.
  Cache::Known known;
  {
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (const auto it = cache.byCallerPath.find(xsdPath); it != cache.byCallerPath.end()) {
      known = it->second;
    }
  }
  if (known.entry) {
    FileStamp now;
    if (Stamp(xsdPath, now) && now == known.stamp && Unchanged(*known.entry)) {
      return known.entry->compiled;
    }
  }
  std::error_code ec;
  fs::path file = fs::weakly_canonical(fs::absolute(xsdPath, ec), ec);
  if (ec || !fs::is_regular_file(file, ec)) {
    throw EqorGovException("Arquivo de esquema não encontrado: " + xsdPath);
  }
  FileStamp stamp;
  const bool stamped = Stamp(xsdPath, stamp);
  // Compiling under the lock keeps two threads from compiling the same package at once: a
  // schema is compiled once per process (and again only when one of its files changes).
  std::lock_guard<std::mutex> lock(cache.mutex);
  std::shared_ptr<const CacheEntry>& entry = cache.entries[file.string()];
  if (!entry || !Unchanged(*entry)) entry = std::make_shared<const CacheEntry>(Compile(file));
  if (stamped) cache.byCallerPath[xsdPath] = Cache::Known{entry, stamp};
  return entry->compiled;
}

// The validator of one document: its own context on the read-only compiled schema, its errors
// collected ("line N: message").
class Validation {
 public:
  explicit Validation(const CompiledSchema& compiled)
      : context_(xmlSchemaNewValidCtxt(compiled.schema)) {
    if (context_ == nullptr) throw EqorGovException("Memória insuficiente ao validar esquema");
    xmlSchemaSetValidStructuredErrors(context_, XmlErrorCollector::Handler, &collector_);
  }
  ~Validation() { xmlSchemaFreeValidCtxt(context_); }
  Validation(const Validation&) = delete;
  Validation& operator=(const Validation&) = delete;

  xmlSchemaValidCtxtPtr Context() const { return context_; }
  // Whether the document was valid (`rc` being libxml2's result), the errors moved to `errors`.
  bool Result(int rc, std::vector<std::string>& errors) {
    errors = std::move(collector_.messages);
    if (rc != 0 && errors.empty()) {
      errors.push_back("line 0: validation failed (libxml2 code " + std::to_string(rc) + ")");
    }
    return rc == 0;
  }

 private:
  xmlSchemaValidCtxtPtr context_;
  XmlErrorCollector collector_;
};

bool ValidateDocument(xmlDocPtr doc, const CompiledSchema& compiled,
                      std::vector<std::string>& errors) {
  Validation validation(compiled);
  return validation.Result(xmlSchemaValidateDoc(validation.Context(), doc), errors);
}

// The line the parser is on, for the validator's messages when it reads the parser's events.
int ParserLine(void* parser, const char** file, unsigned long* line) {
  *file = nullptr;
  const xmlParserInputPtr input = static_cast<xmlParserCtxtPtr>(parser)->input;
  *line = input != nullptr ? static_cast<unsigned long>(input->line) : 0;
  return 0;
}

// Validates the text as the parser reads it: no tree is built. A text that is not well-formed
// gives the parser's first error alone, as when the document is parsed first.
bool ValidateText(const std::string& xml, const CompiledSchema& compiled,
                  std::vector<std::string>& errors) {
  Validation validation(compiled);
  xmlSchemaSAXPlugPtr plug = nullptr;
  const auto plugIn = [&](xmlParserCtxtPtr parser) {
    plug = xmlSchemaSAXPlug(validation.Context(), &parser->sax, &parser->userData);
    if (plug == nullptr) throw EqorGovException("Memória insuficiente ao validar esquema");
    xmlSchemaValidateSetLocator(validation.Context(), ParserLine, parser);
  };
  const auto unplug = [&] {
    xmlSchemaSAXUnplug(plug);
    plug = nullptr;
  };
  std::string parseError;
  if (!ReadXmlHardened(xml, plugIn, unplug, parseError)) {
    errors = {parseError};
    return false;
  }
  return validation.Result(xmlSchemaIsValid(validation.Context()) == 1 ? 0 : 1, errors);
}

// The schema file the root element names for itself: the location paired with the root's own
// namespace in xsi:schemaLocation (the only token when there is just one, the first pair's
// location otherwise), or xsi:noNamespaceSchemaLocation. Empty when it names none.
std::string SchemaLocationOf(xmlDocPtr doc) {
  xmlNodePtr root = xmlDocGetRootElement(doc);
  std::string pairs;
  std::string single;
  for (xmlAttrPtr attr = root->properties; attr != nullptr; attr = attr->next) {
    if (attr->ns == nullptr || attr->ns->href == nullptr ||
        std::strcmp(reinterpret_cast<const char*>(attr->ns->href), kXsiNamespace) != 0) {
      continue;
    }
    xmlChar* raw = xmlNodeListGetString(doc, attr->children, 1);
    std::string value = raw != nullptr ? reinterpret_cast<const char*>(raw) : "";
    xmlFree(raw);
    if (std::strcmp(reinterpret_cast<const char*>(attr->name), "schemaLocation") == 0) {
      pairs = value;
    } else if (std::strcmp(reinterpret_cast<const char*>(attr->name),
                           "noNamespaceSchemaLocation") == 0) {
      single = value;
    }
  }
  std::vector<std::string> tokens;
  std::istringstream in(pairs);
  for (std::string t; in >> t;) tokens.push_back(t);
  if (tokens.size() == 1) return tokens[0];
  if (tokens.size() >= 2) {
    std::string rootNs = root->ns != nullptr && root->ns->href != nullptr
                             ? reinterpret_cast<const char*>(root->ns->href)
                             : "";
    for (std::size_t i = 0; i + 1 < tokens.size(); i += 2) {
      if (tokens[i] == rootNs) return tokens[i + 1];
    }
    return tokens[1];
  }
  std::istringstream one(single);
  std::string name;
  one >> name;
  return name;
}

}  // namespace

bool SchemaValidator::Validate(const std::string& xml, const std::string& xsdPath,
                               std::vector<std::string>& errors) {
  errors.clear();
  // The schema is checked first: a missing package is the installation's fault, reported as such
  // whatever the document holds.
  std::shared_ptr<CompiledSchema> compiled = GetSchema(xsdPath);
  return ValidateText(xml, *compiled, errors);
}

bool SchemaValidator::ValidateByDirectory(const std::string& xml,
                                          const std::vector<std::string>& directories,
                                          std::vector<std::string>& errors) {
  errors.clear();
  std::string parseError;
  const XmlDocPtr doc(ParseXmlHardened(xml, parseError));
  if (!doc) {
    errors.push_back(parseError);
    return false;
  }
  std::string name = SchemaLocationOf(doc.get());
  if (name.empty()) {
    throw EqorGovException(
        "O XML não indica o seu esquema (xsi:schemaLocation ou xsi:noNamespaceSchemaLocation)");
  }
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos ||
      name.find("..") != std::string::npos) {
    throw EqorGovException("Local de esquema recusado: \"" + name +
                           "\"; só é aceito o nome de um arquivo da pasta de esquemas");
  }
  std::string searched;
  for (const std::string& directory : directories) {
    std::string folder = directory.empty() ? std::string(".") : directory;
    std::replace(folder.begin(), folder.end(), '\\', '/');  // a configured Windows-style path
    const std::string path = (fs::path(folder) / name).string();
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
      searched += (searched.empty() ? "" : ", ") + folder;
      continue;
    }
    std::shared_ptr<CompiledSchema> compiled = GetSchema(path);
    return ValidateDocument(doc.get(), *compiled, errors);
  }
  throw EqorGovException("Esquema \"" + name + "\" não encontrado em: " + searched);
}

void SchemaValidator::ClearCache() {
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  cache.entries.clear();
  cache.byCallerPath.clear();
}

}  // namespace qor
