// QR codes of the report engine (libqrencode): the symbol of a text at error-correction level M,
// and that symbol as a PNG image with its 4-module quiet zone.
//
// Thread-safe: pure functions.
#pragma once

#include <string>
#include <vector>

namespace qor::report {

// The modules of a QR symbol, without its quiet zone.
struct TQrCode {
  int size = 0;                     // modules per side
  std::vector<unsigned char> dark;  // size * size, row by row; 1 = dark
  bool Dark(int x, int y) const { return dark[static_cast<std::size_t>(y * size + x)] != 0; }
};

constexpr int kQuietModules = 4;

// The symbol of `text` (8-bit mode, level M, the smallest version that holds it). A text too
// long for any version throws EqorGovException.
TQrCode EncodeQr(const std::string& text);

// The symbol drawn with `modulePixels` pixels per module, black on white, with the quiet zone,
// as the bytes of a PNG file.
std::string QrPng(const TQrCode& code, int modulePixels);

}  // namespace qor::report
