#include "platform/GrayPng.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/Format.h"
#include "platform/GovException.h"

namespace qor {

namespace {

void PutU32(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v >> 24);
  out += static_cast<char>(v >> 16);
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v);
}

// Closes the chunk whose length field starts at `start`: its length, then the CRC of its type
// and data.
void EndChunk(std::string& out, std::size_t start) {
  const std::size_t length = out.size() - start - 8;
  for (int i = 0; i < 4; ++i) {
    out[start + static_cast<std::size_t>(i)] = static_cast<char>(length >> (24 - 8 * i));
  }
  const auto* typeAndData = reinterpret_cast<const Bytef*>(out.data() + start + 4);
  PutU32(out, static_cast<std::uint32_t>(crc32_z(crc32(0, Z_NULL, 0), typeAndData, length + 4)));
}

std::size_t BeginChunk(std::string& out, const char* type) {
  const std::size_t start = out.size();
  out.append(4, '\0');
  out.append(type, 4);
  return start;
}

[[noreturn]] void DeflateFailed(int status) {
  throw EqorGovException(Format("Falha ao gerar o relatório PNG: compressão zlib (%d)", {status}));
}

}  // namespace

std::string EncodeGrayPng(int width, int height, double dotsPerInch, bool twoLevels,
                          const std::function<void(int y, unsigned char* gray, std::size_t width)>& row) {
  const auto w = static_cast<std::size_t>(width);
  // Bytes of a row: a byte per pixel, or a bit per pixel (the leftmost in the highest bit).
  const std::size_t rowBytes = twoLevels ? (w + 7) / 8 : w;
  const auto dotsPerMetre = static_cast<std::uint32_t>(std::lround(dotsPerInch / 0.0254));
  std::string out("\x89PNG\r\n\x1a\n", 8);
  std::size_t chunk = BeginChunk(out, "IHDR");
  PutU32(out, static_cast<std::uint32_t>(width));
  PutU32(out, static_cast<std::uint32_t>(height));
  // 8 bits, grayscale, deflate, filtered per row, not interlaced.
  out += twoLevels ? '\x01' : '\x08';
  out.append("\x00\x00\x00\x00", 4);
  EndChunk(out, chunk);
  chunk = BeginChunk(out, "pHYs");
  PutU32(out, dotsPerMetre);
  PutU32(out, dotsPerMetre);
  out += '\x01';  // the unit is the metre
  EndChunk(out, chunk);

  z_stream z{};
  if (const int status = deflateInit(&z, Z_BEST_SPEED); status != Z_OK) DeflateFailed(status);
  struct TEnd {
    z_stream* z;
    ~TEnd() { deflateEnd(z); }
  } end{&z};
  const uLong raw = static_cast<uLong>((rowBytes + 1) * static_cast<std::size_t>(height));
  chunk = BeginChunk(out, "IDAT");
  const std::size_t data = out.size();
  out.resize(data + deflateBound(&z, raw));
  // Deflates what is in z.next_in; with Z_FINISH, up to the end of the stream. The buffer grows
  // if the bound ever falls short.
  const auto pump = [&](int flush) {
    for (;;) {
      const std::size_t done = data + z.total_out;
      if (done == out.size()) out.resize(out.size() + out.size() / 2 + 64);
      z.next_out = reinterpret_cast<Bytef*>(out.data() + done);
      z.avail_out = static_cast<uInt>(out.size() - done);
      const int status = deflate(&z, flush);
      if (status == Z_STREAM_END) return;
      if (status != Z_OK && status != Z_BUF_ERROR) DeflateFailed(status);
      if (flush == Z_NO_FLUSH && z.avail_in == 0) return;
    }
  };

  std::vector<unsigned char> gray(w), packed(rowBytes), previous(rowBytes, 0),
      filtered(rowBytes + 1);
  filtered[0] = 2;  // "Up"
  for (int y = 0; y < height; ++y) {
    row(y, gray.data(), w);
    if (twoLevels) {
      std::fill(packed.begin(), packed.end(), 0);
      for (std::size_t x = 0; x < w; ++x) {
        if (gray[x] >= 128) packed[x / 8] = static_cast<unsigned char>(packed[x / 8] | 0x80 >> (x % 8));
      }
    } else {
      packed.assign(gray.begin(), gray.end());
    }
    for (std::size_t x = 0; x < rowBytes; ++x) {
      filtered[x + 1] = static_cast<unsigned char>(packed[x] - previous[x]);
    }
    packed.swap(previous);
    z.next_in = filtered.data();
    z.avail_in = static_cast<uInt>(filtered.size());
    pump(Z_NO_FLUSH);
  }
  z.avail_in = 0;
  pump(Z_FINISH);
  out.resize(data + z.total_out);
  EndChunk(out, chunk);
  EndChunk(out, BeginChunk(out, "IEND"));
  return out;
}

}  // namespace qor
