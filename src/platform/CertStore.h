// A certificate store: a folder of PKCS#12 files (".pfx" or ".p12"), all opened with one
// password. Only regular files directly inside the folder belong to it: a symbolic link, even
// one to a certificate, and anything in a sub-folder are neither listed nor removed.
//
// Thread-safe: no shared state; two callers removing from the same folder at once may both see
// a file that only one of them removes, and the other then reports it gone.
#pragma once

#include <string>
#include <vector>

namespace qor {

// One line per file of the store, in name order:
//   "Assunto=<subject>|Serial=<HEX>|Validade=<dd/mm/yyyy hh:nn:ss
//   UTC>|SHA1=<AA:BB:...>|Arquivo=<path>"
// The serial is the certificate's in upper-case hexadecimal as `openssl x509 -serial` prints
// it; SHA1 is the fingerprint of the certificate's DER encoding. A file that cannot be opened
// (another password, not PKCS#12, no key) gives "Arquivo=<path>|Erro=<why>" instead.
// A folder that does not exist or cannot be read throws EqorGovException.
std::vector<std::string> ListCertificateStore(const std::string& folder,
                                              const std::string& password);

// Removes the one file of the store whose certificate has serial `serial` (hexadecimal; case
// and leading zeros ignored) and returns true; false when no file holds it. A serial held by two
// or more files removes nothing and throws EqorGovException naming them; so does a removal that
// fails. Files that cannot be opened are passed over.
bool RemoveFromCertificateStore(const std::string& folder, const std::string& password,
                                const std::string& serial);

}  // namespace qor
