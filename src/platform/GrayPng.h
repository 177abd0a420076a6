// 8-bit grayscale PNG files written with zlib: the report's page images and QR codes are black
// on white, and this small writer is several times faster than a general RGB one.
//
// Thread-safe: a pure function.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace qor {

// A width x height grayscale image whose resolution is `dotsPerInch` (a pHYs chunk). `row(y,
// gray, width)` writes the `width` gray levels (0 black, 255 white) of row y into `gray`. With
// `twoLevels` the image has two levels, one bit a pixel (below 128 black), as a thermal printer
// prints it, and an eighth of the data to compress. Rows go through the PNG "Up" filter and
// zlib's fastest level. A zlib failure throws EqorGovException.
std::string EncodeGrayPng(int width, int height, double dotsPerInch, bool twoLevels,
                          const std::function<void(int y, unsigned char* gray, std::size_t width)>& row);

}  // namespace qor
