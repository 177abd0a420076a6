#include "platform/Crypto.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <limits>

#include "platform/GovException.h"

namespace qor {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Sha1Digest(std::string_view text) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(text.data(), text.size(), md, &len, EVP_sha1(), nullptr) != 1) {
    throw EqorGovException("Falha ao calcular o hash SHA-1");
  }
  return std::string(reinterpret_cast<const char*>(md), len);
}

int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// zlib counts in 32-bit units: long inputs and outputs are fed and drained in slices.
constexpr std::size_t kSlice = 1u << 30;
constexpr std::size_t kChunk = 64 * 1024;

}  // namespace

std::string HashSha1(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string digest = Sha1Digest(text);
  std::string out;
  out.reserve(digest.size() * 2);
  for (unsigned char b : digest) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0x0F]);
  }
  return out;
}

std::string HashSha1Base64(std::string_view text) { return EncodeBase64(Sha1Digest(text)); }

std::string EncodeBase64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  for (; i + 3 <= bytes.size(); i += 3) {
    unsigned v = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    unsigned v = at(i) << 16;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out += "==";
  } else if (rest == 2) {
    unsigned v = (at(i) << 16) | (at(i + 1) << 8);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back('=');
  }
  return out;
}

std::string DecodeBase64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  unsigned accumulator = 0;
  int bits = 0;
  std::size_t symbols = 0;  // alphabet characters seen
  std::size_t padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    int v = Sextet(c);
    if (v < 0 || padding > 0) {
      throw EqorGovException(v < 0 ? std::string("Caractere inválido em Base64: '") + c + "'"
                                   : std::string("Base64 com dados após o preenchimento '='"));
    }
    ++symbols;
    accumulator = (accumulator << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((accumulator >> bits) & 0xFF));
    }
  }
  // One symbol alone cannot carry a byte, and padding may only complete the last quantum.
  std::size_t tail = symbols % 4;
  if (tail == 1 || padding > 2 || (padding > 0 && (tail + padding) % 4 != 0)) {
    throw EqorGovException("Base64 com comprimento inválido");
  }
  return out;
}

std::string GZipString(std::string_view text) {
  z_stream zs{};
  // windowBits 15 + 16: a gzip wrapper (RFC 1952) rather than a zlib one.
  if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    throw EqorGovException("Falha ao iniciar a compressão gzip");
  }
  std::string out;
  out.reserve(text.size() / 3 + 64);
  std::size_t offset = 0;
  char buffer[kChunk];
  int status = Z_OK;
  do {
    if (zs.avail_in == 0 && offset < text.size()) {
      std::size_t n = std::min(kSlice, text.size() - offset);
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data() + offset));
      zs.avail_in = static_cast<uInt>(n);
      offset += n;
    }
    int flush = offset == text.size() ? Z_FINISH : Z_NO_FLUSH;
    zs.next_out = reinterpret_cast<Bytef*>(buffer);
    zs.avail_out = sizeof buffer;
    status = deflate(&zs, flush);
    if (status == Z_STREAM_ERROR) {
      deflateEnd(&zs);
      throw EqorGovException("Falha na compressão gzip");
    }
    out.append(buffer, sizeof buffer - zs.avail_out);
  } while (status != Z_STREAM_END);
  deflateEnd(&zs);
  return out;
}

std::string GUnzipString(std::string_view gz) {
  if (gz.empty()) throw EqorGovException("Dados gzip vazios");
  z_stream zs{};
  if (inflateInit2(&zs, 15 + 16) != Z_OK) {
    throw EqorGovException("Falha ao iniciar a descompressão gzip");
  }
  std::string out;
  std::size_t offset = 0;
  char buffer[kChunk];
  auto fail = [&](const std::string& why) {
    inflateEnd(&zs);
    throw EqorGovException("Dados gzip corrompidos: " + why);
  };
  for (;;) {
    if (zs.avail_in == 0 && offset < gz.size()) {
      std::size_t n = std::min(kSlice, gz.size() - offset);
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data() + offset));
      zs.avail_in = static_cast<uInt>(n);
      offset += n;
    }
    zs.next_out = reinterpret_cast<Bytef*>(buffer);
    zs.avail_out = sizeof buffer;
    int status = inflate(&zs, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - zs.avail_out);
    if (status == Z_STREAM_END) {
      // gzip allows several members one after the other (as `cat a.gz b.gz` makes); the
      // result is their contents joined, as `gzip -dc` gives it.
      if (zs.avail_in == 0 && offset == gz.size()) break;
      if (inflateReset(&zs) != Z_OK) fail("reinício de membro");
      continue;
    }
    if (status == Z_BUF_ERROR) {
      if (zs.avail_in == 0 && offset < gz.size()) continue;  // next slice of the input
      // No progress possible with all the input given: it ended before the stream did.
      fail("fim inesperado dos dados");
    }
    if (status != Z_OK) fail(zs.msg != nullptr ? zs.msg : "erro " + std::to_string(status));
  }
  inflateEnd(&zs);
  return out;
}

}  // namespace qor
