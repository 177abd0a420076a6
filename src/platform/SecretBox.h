// Protection of the secrets kept in the configuration file (PIN, CSC token and its id).
//
// Encrypt gives AES-256-GCM under the installation key, as Base64 text of
// version byte | 12-byte nonce | ciphertext | 16-byte tag; a fresh nonce per call, so the same
// secret encrypts differently each time. Decrypt(Encrypt(x)) == x for any text.
//
// The installation key is 32 random bytes in a key file: the path in $QORNFCE_KEY_FILE, else
// GetSpecialDirectories(2) + "chave-instalacao.key". Encrypt creates it on first need, with mode
// 0600 and O_EXCL (two processes racing agree on the one that won). Decrypt never creates it:
// a missing key file, a key of the wrong size, a damaged text or a text protected under another
// key throws EqorGovException with a clear message, never garbage. Messages never carry the
// secret.
//
// Thread-safe.
#pragma once

#include <string>

namespace qor {

std::string Encrypt(const std::string& plain);
std::string Decrypt(const std::string& protectedText);
// The key file path in force (environment variable or default).
std::string SecretKeyFilePath();

}  // namespace qor
