// The writers of the report engine: a filled document (Report.h) as the bytes of a PDF, a PNG, an
// HTML or a text file.
//
// PDF and PNG are drawn with cairo and pango (DejaVu Sans / DejaVu Sans Mono; cairo embeds the
// fonts in the PDF): each page as wide as the roll and as tall as its content, text wrapped at
// the printable width. PNG is drawn at 203 dpi, the pages one under the other in one
// image, written as an 8-bit grayscale PNG (zlib, fastest level) with its resolution (pHYs). QR
// codes take a whole number of 203-dpi dots per module and at least their least width.
// HTML is one self-contained UTF-8 file (images as data: URIs); TXT lays the blocks out in
// character cells, as many columns as two thirds of the printable millimetres (48 on an 80 mm
// roll, 32 on a 58 mm one).
//
// A logo that cannot be read as a PNG throws EqorGovException naming the file.
//
// Thread-safe: the font map and the pango context are made once per process and shared, so the
// cairo writers take a process-wide lock while they lay out and draw.
#pragma once

#include <string>

namespace qor::report {

struct TDocument;

constexpr double kDotsPerInch = 203;

std::string RenderPdf(const TDocument& doc);
std::string RenderPng(const TDocument& doc);
std::string RenderHtml(const TDocument& doc);
std::string RenderTxt(const TDocument& doc);

// Character columns of a text page `printableMillimetres` wide.
int TextColumns(double printableMillimetres);

}  // namespace qor::report
