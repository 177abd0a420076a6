// Digests, Base64 and gzip of the services utilities (OpenSSL, zlib).
//
// Thread-safe: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace qor {

// SHA-1 of the bytes of `text`: 40 upper-case hexadecimal digits (as the NFC-e QR code prints it).
std::string HashSha1(std::string_view text);
// SHA-1 of the bytes of `text`, Base64 of the 20-byte digest.
std::string HashSha1Base64(std::string_view text);
// Standard alphabet with padding, no line breaks.
std::string EncodeBase64(std::string_view bytes);
// Accepts the standard alphabet with or without padding; white space is ignored. Any other
// character throws EqorGovException.
std::string DecodeBase64(std::string_view text);
// gzip (RFC 1952) of the bytes of `text`.
std::string GZipString(std::string_view text);
// Inverse of GZipString; a corrupt stream throws EqorGovException.
std::string GUnzipString(std::string_view gz);

}  // namespace qor
