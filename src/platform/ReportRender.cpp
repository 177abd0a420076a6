#include "platform/ReportRender.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/GrayPng.h"
#include "platform/QrImage.h"
#include "platform/Report.h"
#include "platform/SharedLibraries.h"
#include "platform/Text.h"
#include "platform/Xml.h"

namespace qor::report {

namespace {

// cairo, pango and GObject, as the renderer calls them: through a table filled on the first
// PDF or PNG (SharedLibraries.h says why).
#define QOR_GFX_FUNCTIONS(X)                  \
  X(cairo_create)                             \
  X(cairo_destroy)                            \
  X(cairo_fill)                               \
  X(cairo_font_options_create)                \
  X(cairo_font_options_destroy)               \
  X(cairo_font_options_set_antialias)         \
  X(cairo_font_options_set_hint_metrics)      \
  X(cairo_font_options_set_hint_style)        \
  X(cairo_get_source)                         \
  X(cairo_image_surface_create)               \
  X(cairo_image_surface_create_from_png)      \
  X(cairo_image_surface_get_data)             \
  X(cairo_image_surface_get_height)           \
  X(cairo_image_surface_get_stride)           \
  X(cairo_image_surface_get_width)            \
  X(cairo_line_to)                            \
  X(cairo_move_to)                            \
  X(cairo_paint)                              \
  X(cairo_pattern_set_filter)                 \
  X(cairo_pdf_surface_create_for_stream)      \
  X(cairo_pdf_surface_set_metadata)           \
  X(cairo_pdf_surface_set_size)               \
  X(cairo_rectangle)                          \
  X(cairo_restore)                            \
  X(cairo_save)                               \
  X(cairo_scale)                              \
  X(cairo_set_dash)                           \
  X(cairo_set_line_width)                     \
  X(cairo_set_source_rgb)                     \
  X(cairo_set_source_surface)                 \
  X(cairo_show_page)                          \
  X(cairo_status)                             \
  X(cairo_status_to_string)                   \
  X(cairo_stroke)                             \
  X(cairo_surface_destroy)                    \
  X(cairo_surface_finish)                     \
  X(cairo_surface_flush)                      \
  X(cairo_surface_mark_dirty)                 \
  X(cairo_surface_status)                     \
  X(cairo_translate)                          \
  X(g_object_unref)                           \
  X(pango_cairo_context_set_font_options)     \
  X(pango_cairo_context_set_resolution)       \
  X(pango_cairo_font_map_new)                 \
  X(pango_cairo_show_layout)                  \
  X(pango_context_set_round_glyph_positions)  \
  X(pango_font_description_free)              \
  X(pango_font_description_new)               \
  X(pango_font_description_set_family_static) \
  X(pango_font_description_set_size)          \
  X(pango_font_description_set_weight)        \
  X(pango_font_map_create_context)            \
  X(pango_layout_get_size)                    \
  X(pango_layout_new)                         \
  X(pango_layout_set_alignment)               \
  X(pango_layout_set_font_description)        \
  X(pango_layout_set_text)                    \
  X(pango_layout_set_width)                   \
  X(pango_layout_set_wrap)

struct TGfxApi {
#define QOR_GFX_POINTER(name) decltype(&::name) name = nullptr;
  QOR_GFX_FUNCTIONS(QOR_GFX_POINTER)
#undef QOR_GFX_POINTER
};

const TGfxApi& Gfx() {
  static const TGfxApi api = [] {
    const SharedLibraries libraries(
        {"libcairo.so.2", "libpango-1.0.so.0", "libpangocairo-1.0.so.0", "libgobject-2.0.so.0"});
    TGfxApi table;
#define QOR_GFX_RESOLVE(name) libraries.Resolve(table.name, #name);
    QOR_GFX_FUNCTIONS(QOR_GFX_RESOLVE)
#undef QOR_GFX_RESOLVE
    return table;
  }();
  return api;
}

constexpr double kPointsPerMm = 72.0 / 25.4;
constexpr double kPointsPerDot = 72.0 / kDotsPerInch;
constexpr double kMarginTopMm = 3;
constexpr double kRowGapMm = 2;

// ---- shared pango state ---------------------------------------------------------------------

// One font map and one context for the process: fontconfig reads its configuration and pango
// loads the fonts once, not per report. Hinting is off so that measures do not depend on the
// surface (the PDF and the 203-dpi image get the same lines).
struct TFonts {
  std::mutex mutex;
  PangoFontMap* map = nullptr;
  PangoContext* context = nullptr;
};

TFonts& Fonts() {
  static TFonts fonts;
  static std::once_flag once;
  std::call_once(once, [] {
    fonts.map = Gfx().pango_cairo_font_map_new();
    fonts.context = Gfx().pango_font_map_create_context(fonts.map);
    Gfx().pango_cairo_context_set_resolution(fonts.context, 72);  // a size in points is user units
    // Glyphs placed at whole user units would be whole points here: far too coarse.
    Gfx().pango_context_set_round_glyph_positions(fonts.context, FALSE);
    cairo_font_options_t* options = Gfx().cairo_font_options_create();
    Gfx().cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    Gfx().cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    Gfx().cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    Gfx().pango_cairo_context_set_font_options(fonts.context, options);
    Gfx().cairo_font_options_destroy(options);
  });
  return fonts;
}

struct TUnref {
  void operator()(PangoLayout* p) const { Gfx().g_object_unref(p); }
  void operator()(cairo_surface_t* p) const { Gfx().cairo_surface_destroy(p); }
  void operator()(cairo_t* p) const { Gfx().cairo_destroy(p); }
};
using TLayoutPtr = std::unique_ptr<PangoLayout, TUnref>;
using TSurfacePtr = std::unique_ptr<cairo_surface_t, TUnref>;
using TCairoPtr = std::unique_ptr<cairo_t, TUnref>;

cairo_status_t AppendBytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

[[noreturn]] void NotPng(const std::string& file) {
  throw EqorGovException("Logotipo não é uma imagem PNG válida: " + file);
}

TSurfacePtr LoadLogo(const std::string& file) {
  if (file.empty()) return nullptr;
  if (!FileExists(file)) throw EqorGovException("Logotipo não encontrado: " + file);
  TSurfacePtr logo(Gfx().cairo_image_surface_create_from_png(file.c_str()));
  if (Gfx().cairo_surface_status(logo.get()) != CAIRO_STATUS_SUCCESS) NotPng(file);
  return logo;
}

TSurfacePtr QrSurface(const TQrCode& code) {
  const int side = code.size + 2 * kQuietModules;
  TSurfacePtr image(Gfx().cairo_image_surface_create(CAIRO_FORMAT_RGB24, side, side));
  Gfx().cairo_surface_flush(image.get());
  unsigned char* data = Gfx().cairo_image_surface_get_data(image.get());
  const int stride = Gfx().cairo_image_surface_get_stride(image.get());
  for (int y = 0; y < side; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
    for (int x = 0; x < side; ++x) {
      const int mx = x - kQuietModules, my = y - kQuietModules;
      const bool dark = mx >= 0 && my >= 0 && mx < code.size && my < code.size && code.Dark(mx, my);
      row[x] = dark ? 0x000000 : 0xFFFFFF;
    }
  }
  Gfx().cairo_surface_mark_dirty(image.get());
  return image;
}

// ---- cairo pages ----------------------------------------------------------------------------

struct TPlaced {
  const TBlock* block = nullptr;
  TLayoutPtr left, right;
  double rightX = 0, rightY = 0;  // offset of `right` from the block's top left corner
  double height = 0;              // points
  TQrCode qr;
  TSurfacePtr qrImage;  // a pixel per module, quiet zone included
  int moduleDots = 0;
};

struct TMeasuredPage {
  std::vector<TPlaced> blocks;
  double height = 0;  // points, margins included
};

class TCairoWriter {
 public:
  explicit TCairoWriter(const TDocument& doc)
      : doc_(doc),
        fonts_(Fonts()),
        lock_(fonts_.mutex),
        logo_(LoadLogo(doc.logoFile)),
        width_(doc.printableMillimetres * kPointsPerMm),
        margin_((doc.rollMillimetres - doc.printableMillimetres) / 2 * kPointsPerMm) {
    for (const TPage& page : doc.pages) pages_.push_back(Measure(page));
  }

  double RollWidth() const { return doc_.rollMillimetres * kPointsPerMm; }
  const std::vector<TMeasuredPage>& Pages() const { return pages_; }

  // Draws page `index` with its top left corner at the origin of `cr` (in points).
  void Draw(cairo_t* cr, std::size_t index) const {
    const TMeasuredPage& page = pages_[index];
    Gfx().cairo_set_source_rgb(cr, 1, 1, 1);
    Gfx().cairo_rectangle(cr, 0, 0, RollWidth(), page.height);
    Gfx().cairo_fill(cr);
    Gfx().cairo_set_source_rgb(cr, 0, 0, 0);
    double y = kMarginTopMm * kPointsPerMm;
    for (const TPlaced& p : page.blocks) {
      switch (p.block->kind) {
        case TBlock::Kind::Text:
        case TBlock::Kind::Row:
          Gfx().cairo_move_to(cr, margin_, y);
          Gfx().pango_cairo_show_layout(cr, p.left.get());
          if (p.right) {
            Gfx().cairo_move_to(cr, margin_ + p.rightX, y + p.rightY);
            Gfx().pango_cairo_show_layout(cr, p.right.get());
          }
          break;
        case TBlock::Kind::Line: {
          const double mid = y + p.height / 2;
          Gfx().cairo_save(cr);
          const double dash[] = {2.0, 1.5};
          Gfx().cairo_set_dash(cr, dash, 2, 0);
          Gfx().cairo_set_line_width(cr, 0.5);
          Gfx().cairo_move_to(cr, margin_, mid);
          Gfx().cairo_line_to(cr, margin_ + width_, mid);
          Gfx().cairo_stroke(cr);
          Gfx().cairo_restore(cr);
          break;
        }
        case TBlock::Kind::Space:
          break;
        case TBlock::Kind::Qr:
          DrawQr(cr, p, y);
          break;
        case TBlock::Kind::Logo:
          DrawLogo(cr, p, y);
          break;
      }
      y += p.height;
    }
  }

 private:
  TLayoutPtr MakeLayout(const std::string& text, const TStyle& style, double width) const {
    TLayoutPtr layout(Gfx().pango_layout_new(fonts_.context));
    PangoFontDescription* font = Gfx().pango_font_description_new();
    Gfx().pango_font_description_set_family_static(
        font, style.mono || doc_.mono ? "DejaVu Sans Mono" : "DejaVu Sans");
    Gfx().pango_font_description_set_weight(font,
                                            style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    Gfx().pango_font_description_set_size(
        font, static_cast<int>((style.size > 0 ? style.size : doc_.fontSize) * PANGO_SCALE));
    Gfx().pango_layout_set_font_description(layout.get(), font);
    Gfx().pango_font_description_free(font);
    if (width > 0) {
      Gfx().pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
      Gfx().pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    }
    Gfx().pango_layout_set_alignment(layout.get(),
                                     style.align == TAlign::Center  ? PANGO_ALIGN_CENTER
                                     : style.align == TAlign::Right ? PANGO_ALIGN_RIGHT
                                                                    : PANGO_ALIGN_LEFT);
    Gfx().pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
    return layout;
  }

  static double Width(PangoLayout* layout) {
    int w = 0, h = 0;
    Gfx().pango_layout_get_size(layout, &w, &h);
    return static_cast<double>(w) / PANGO_SCALE;
  }
  static double Height(PangoLayout* layout) {
    int w = 0, h = 0;
    Gfx().pango_layout_get_size(layout, &w, &h);
    return static_cast<double>(h) / PANGO_SCALE;
  }

  double LineHeight(const TStyle& style) const {
    return (style.size > 0 ? style.size : doc_.fontSize) * 1.2;
  }

  TMeasuredPage Measure(const TPage& page) const {
    TMeasuredPage out;
    double y = kMarginTopMm * kPointsPerMm;
    for (const TBlock& block : page.blocks) {
      TPlaced p;
      p.block = &block;
      switch (block.kind) {
        case TBlock::Kind::Text:
          p.left = MakeLayout(block.first, block.style, width_);
          p.height = Height(p.left.get());
          break;
        case TBlock::Kind::Row: {
          TStyle rightStyle = block.style;
          rightStyle.align = TAlign::Right;
          TStyle leftStyle = block.style;
          leftStyle.align = TAlign::Left;
          p.right = MakeLayout(block.second, rightStyle, 0);
          const double gap = kRowGapMm * kPointsPerMm;
          const double rw = Width(p.right.get());
          if (rw + gap <= width_ * 0.6) {
            p.left = MakeLayout(block.first, leftStyle, width_ - rw - gap);
            p.rightX = width_ - rw;
            p.height = std::max(Height(p.left.get()), Height(p.right.get()));
          } else {
            // The value is too wide to stand beside the label: it goes under it, at the right.
            p.left = MakeLayout(block.first, leftStyle, width_);
            p.right = MakeLayout(block.second, rightStyle, width_);
            p.rightY = block.first.empty() ? 0 : Height(p.left.get());
            p.height = p.rightY + Height(p.right.get());
          }
          break;
        }
        case TBlock::Kind::Line:
          p.height = LineHeight(block.style) * 0.6;
          break;
        case TBlock::Kind::Space:
          p.height = LineHeight(block.style);
          break;
        case TBlock::Kind::Qr: {
          p.qr = EncodeQr(block.first);
          const double leastDots = block.millimetres / 25.4 * kDotsPerInch;
          p.moduleDots = std::max(1, static_cast<int>(std::ceil(leastDots / p.qr.size)));
          p.qrImage = QrSurface(p.qr);
          const int side = (p.qr.size + 2 * kQuietModules) * p.moduleDots;
          // Starts on a whole dot, so every module covers whole dots.
          const double top = std::ceil(y / kPointsPerDot) * kPointsPerDot;
          p.height = (top - y) + side * kPointsPerDot;
          break;
        }
        case TBlock::Kind::Logo: {
          if (!logo_) break;
          const double w = LogoWidth(block);
          p.height = w * Gfx().cairo_image_surface_get_height(logo_.get()) /
                         Gfx().cairo_image_surface_get_width(logo_.get()) +
                     LineHeight(block.style) * 0.3;
          break;
        }
      }
      y += p.height;
      out.blocks.push_back(std::move(p));
    }
    out.height = y + kMarginTopMm * kPointsPerMm;
    return out;
  }

  // At most the block's width, and no wider than the image at 203 dpi.
  double LogoWidth(const TBlock& block) const {
    const double natural = Gfx().cairo_image_surface_get_width(logo_.get()) * kPointsPerDot;
    return std::min({natural, block.millimetres * kPointsPerMm, width_});
  }

  void DrawQr(cairo_t* cr, const TPlaced& p, double y) const {
    const int side = (p.qr.size + 2 * kQuietModules) * p.moduleDots;
    const double leftDots =
        std::round((margin_ + (width_ - side * kPointsPerDot) / 2) / kPointsPerDot);
    const double topDots = std::ceil(y / kPointsPerDot);
    Gfx().cairo_save(cr);
    // In dots, so that each module is whole dots (whole pixels of the 203-dpi image); the
    // symbol is one image of a pixel per module, enlarged without smoothing.
    Gfx().cairo_scale(cr, kPointsPerDot, kPointsPerDot);
    Gfx().cairo_translate(cr, leftDots, topDots);
    Gfx().cairo_scale(cr, p.moduleDots, p.moduleDots);
    Gfx().cairo_set_source_surface(cr, p.qrImage.get(), 0, 0);
    Gfx().cairo_pattern_set_filter(Gfx().cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    Gfx().cairo_paint(cr);
    Gfx().cairo_restore(cr);
  }

  void DrawLogo(cairo_t* cr, const TPlaced& p, double y) const {
    if (!logo_) return;
    const double w = LogoWidth(*p.block);
    const double scale = w / Gfx().cairo_image_surface_get_width(logo_.get());
    Gfx().cairo_save(cr);
    Gfx().cairo_translate(cr, margin_ + (width_ - w) / 2, y);
    Gfx().cairo_scale(cr, scale, scale);
    Gfx().cairo_set_source_surface(cr, logo_.get(), 0, 0);
    Gfx().cairo_paint(cr);
    Gfx().cairo_restore(cr);
  }

  const TDocument& doc_;
  TFonts& fonts_;
  std::lock_guard<std::mutex> lock_;
  TSurfacePtr logo_;
  double width_;   // printable, points
  double margin_;  // left, points
  std::vector<TMeasuredPage> pages_;
};

void CheckStatus(cairo_status_t status, const char* what) {
  if (status != CAIRO_STATUS_SUCCESS) {
    throw EqorGovException(
        Format("Falha ao gerar o relatório %s: %s", {what, Gfx().cairo_status_to_string(status)}));
  }
}

// ---- text pages -----------------------------------------------------------------------------

std::string Aligned(const std::string& line, std::size_t width, TAlign align) {
  const std::size_t length = Utf8Length(line);
  if (length >= width || align == TAlign::Left) return line;
  const std::size_t pad = align == TAlign::Right ? width - length : (width - length) / 2;
  return std::string(pad, ' ') + line;
}

// The text as HTML: the markup characters as entities (Xml.h's Escape), a line break as <br>.
std::string EscapeHtml(const std::string& text) {
  std::string out = Escape(text);
  ReplaceAll(out, "\n", "<br>");
  return out;
}

std::string StyleAttr(const TStyle& style) {
  std::string css;
  if (style.align == TAlign::Center) css += "text-align:center;";
  if (style.align == TAlign::Right) css += "text-align:right;";
  if (style.bold) css += "font-weight:bold;";
  if (style.mono) css += "font-family:'DejaVu Sans Mono',monospace;";
  if (style.size > 0) css += Format("font-size:%spt;", {std::to_string(style.size)});
  return css.empty() ? std::string() : " style=\"" + css + "\"";
}

// ---- PNG ------------------------------------------------------------------------------------

// The RGB24 image as a two-level PNG at 203 dpi, as the receipt printer prints it.
std::string GrayPng(cairo_surface_t* surface) {
  Gfx().cairo_surface_flush(surface);
  const int stride = Gfx().cairo_image_surface_get_stride(surface);
  const unsigned char* pixels = Gfx().cairo_image_surface_get_data(surface);
  return EncodeGrayPng(
      Gfx().cairo_image_surface_get_width(surface), Gfx().cairo_image_surface_get_height(surface),
      kDotsPerInch, true, [&](int y, unsigned char* gray, std::size_t width) {
        const auto* line = reinterpret_cast<const std::uint32_t*>(pixels + y * stride);
        for (std::size_t x = 0; x < width; ++x) {
          const std::uint32_t p = line[x];
          // ITU-R BT.601 weights in 1/256 steps.
          gray[x] = static_cast<unsigned char>(
              (((p >> 16) & 0xFF) * 77 + ((p >> 8) & 0xFF) * 150 + (p & 0xFF) * 29 + 128) >> 8);
        }
      });
}

}  // namespace

int TextColumns(double printableMillimetres) {
  return static_cast<int>(std::lround(printableMillimetres * 2 / 3));
}

std::string RenderPdf(const TDocument& doc) {
  TCairoWriter writer(doc);
  std::string out;
  TSurfacePtr surface(Gfx().cairo_pdf_surface_create_for_stream(
      AppendBytes, &out, writer.RollWidth(), writer.Pages().front().height));
  CheckStatus(Gfx().cairo_surface_status(surface.get()), "PDF");
  Gfx().cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, "DANFCE");
  TCairoPtr cr(Gfx().cairo_create(surface.get()));
  for (std::size_t i = 0; i < writer.Pages().size(); ++i) {
    Gfx().cairo_pdf_surface_set_size(surface.get(), writer.RollWidth(), writer.Pages()[i].height);
    writer.Draw(cr.get(), i);
    Gfx().cairo_show_page(cr.get());
  }
  CheckStatus(Gfx().cairo_status(cr.get()), "PDF");
  cr.reset();
  Gfx().cairo_surface_finish(surface.get());
  CheckStatus(Gfx().cairo_surface_status(surface.get()), "PDF");
  return out;
}

std::string RenderPng(const TDocument& doc) {
  TCairoWriter writer(doc);
  const double scale = kDotsPerInch / 72;
  std::vector<int> tops;
  int height = 0;
  for (const TMeasuredPage& page : writer.Pages()) {
    tops.push_back(height);
    height += static_cast<int>(std::ceil(page.height * scale));
  }
  const int width = static_cast<int>(std::lround(writer.RollWidth() * scale));
  TSurfacePtr surface(Gfx().cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
  CheckStatus(Gfx().cairo_surface_status(surface.get()), "PNG");
  TCairoPtr cr(Gfx().cairo_create(surface.get()));
  Gfx().cairo_set_source_rgb(cr.get(), 1, 1, 1);
  Gfx().cairo_paint(cr.get());
  for (std::size_t i = 0; i < writer.Pages().size(); ++i) {
    Gfx().cairo_save(cr.get());
    Gfx().cairo_translate(cr.get(), 0, tops[i]);
    Gfx().cairo_scale(cr.get(), scale, scale);
    writer.Draw(cr.get(), i);
    Gfx().cairo_restore(cr.get());
  }
  CheckStatus(Gfx().cairo_status(cr.get()), "PNG");
  cr.reset();
  return GrayPng(surface.get());
}

std::string RenderHtml(const TDocument& doc) {
  std::string logo;
  if (!doc.logoFile.empty()) {
    LoadLogo(doc.logoFile);  // refuses a file that is not a PNG
    logo = "data:image/png;base64," + EncodeBase64(LoadFromFile(doc.logoFile));
  }
  const std::string printable = std::to_string(doc.printableMillimetres);
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
      "<title>DANFCE</title><style>\n"
      "body{margin:0;background:#fff;color:#000}\n"
      ".p{box-sizing:content-box;width:" +
      printable + "mm;padding:3mm 4mm;font-family:" +
      (doc.mono ? "'DejaVu Sans Mono',monospace" : "'DejaVu Sans',sans-serif") +
      ";font-size:" + std::to_string(doc.fontSize) +
      "pt;line-height:1.2}\n"
      ".p+.p{border-top:1px dashed #000}\n"
      ".t{overflow-wrap:anywhere}\n"
      ".r{display:flex;flex-wrap:wrap;column-gap:2mm}\n"
      ".r>span:first-child{overflow-wrap:anywhere}\n"
      ".r>span:last-child{margin-left:auto;text-align:right;overflow-wrap:anywhere}\n"
      ".l{border-top:1px dashed #000;margin:1mm 0}\n"
      ".s{height:1.2em}\n"
      ".q,.g{text-align:center}\n"
      ".q img{image-rendering:pixelated}\n"
      "</style></head><body>\n";
  for (const TPage& page : doc.pages) {
    out += "<div class=\"p\">\n";
    for (const TBlock& b : page.blocks) {
      switch (b.kind) {
        case TBlock::Kind::Text:
          out += "<div class=\"t\"" + StyleAttr(b.style) + ">" + EscapeHtml(b.first) + "</div>\n";
          break;
        case TBlock::Kind::Row:
          out += "<div class=\"r\"" + StyleAttr(b.style) + "><span>" + EscapeHtml(b.first) +
                 "</span><span>" + EscapeHtml(b.second) + "</span></div>\n";
          break;
        case TBlock::Kind::Line:
          out += "<div class=\"l\"></div>\n";
          break;
        case TBlock::Kind::Space:
          out += "<div class=\"s\"></div>\n";
          break;
        case TBlock::Kind::Qr: {
          const TQrCode qr = EncodeQr(b.first);
          // CSS pixels are 1/96 in: whole pixels per module, at least the least width.
          const int module =
              std::max(3, static_cast<int>(std::ceil(b.millimetres / 25.4 * 96 / qr.size)));
          const std::string side = std::to_string((qr.size + 2 * kQuietModules) * module);
          out += "<div class=\"q\"><img alt=\"QR Code\" width=\"" + side + "\" height=\"" + side +
                 "\" src=\"data:image/png;base64," + EncodeBase64(QrPng(qr, module)) +
                 "\"></div>\n";
          break;
        }
        case TBlock::Kind::Logo:
          if (!logo.empty()) {
            out += "<div class=\"g\"><img alt=\"\" style=\"max-width:" +
                   std::to_string(b.millimetres) + "mm\" src=\"" + logo + "\"></div>\n";
          }
          break;
      }
    }
    out += "</div>\n";
  }
  out += "</body></html>\n";
  return out;
}

std::string RenderTxt(const TDocument& doc) {
  if (!doc.logoFile.empty()) LoadLogo(doc.logoFile);  // the same check as the other formats
  const std::size_t width = static_cast<std::size_t>(TextColumns(doc.printableMillimetres));
  std::string out;
  for (std::size_t i = 0; i < doc.pages.size(); ++i) {
    if (i > 0) out += '\n';
    for (const TBlock& b : doc.pages[i].blocks) {
      switch (b.kind) {
        case TBlock::Kind::Text:
          for (const std::string& line : WrapText(b.first, width)) {
            out += Aligned(line, width, b.style.align) + '\n';
          }
          break;
        case TBlock::Kind::Row: {
          std::vector<std::string> left = WrapText(b.first, width);
          const std::vector<std::string> right = WrapText(b.second, width);
          const std::size_t lastLength = Utf8Length(left.back());
          const std::size_t rightLength = Utf8Length(right.front());
          if (right.size() == 1 && rightLength == 0) {
            for (const std::string& line : left) out += line + '\n';
          } else if (right.size() == 1 &&
                     (lastLength == 0 || lastLength + 1 + rightLength <= width)) {
            left.back() += std::string(width - lastLength - rightLength, ' ') + right.front();
            for (const std::string& line : left) out += line + '\n';
          } else {
            for (const std::string& line : left) out += line + '\n';
            for (const std::string& line : right) out += Aligned(line, width, TAlign::Right) + '\n';
          }
          break;
        }
        case TBlock::Kind::Line:
          out += std::string(width, '-') + '\n';
          break;
        case TBlock::Kind::Space:
          out += '\n';
          break;
        case TBlock::Kind::Qr:
        case TBlock::Kind::Logo:
          break;  // no picture in character cells; a text layout prints the link instead
      }
    }
  }
  return out;
}

}  // namespace qor::report
