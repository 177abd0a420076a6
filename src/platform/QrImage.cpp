#include "platform/QrImage.h"

#include <cairo.h>
#include <qrencode.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/Format.h"
#include "platform/GovException.h"

namespace qor::report {

TQrCode EncodeQr(const std::string& text) {
  std::unique_ptr<QRcode, decltype(&QRcode_free)> qr(
      QRcode_encodeData(static_cast<int>(text.size()),
                        reinterpret_cast<const unsigned char*>(text.data()), 0, QR_ECLEVEL_M),
      &QRcode_free);
  if (!qr) {
    throw EqorGovException(Format("Falha ao gerar o QR Code (%s) de %d bytes.",
                                  {std::strerror(errno), static_cast<int>(text.size())}));
  }
  TQrCode code;
  code.size = qr->width;
  code.dark.resize(static_cast<std::size_t>(qr->width) * static_cast<std::size_t>(qr->width));
  for (std::size_t i = 0; i < code.dark.size(); ++i) code.dark[i] = qr->data[i] & 1;
  return code;
}

namespace {

cairo_status_t AppendBytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::string QrPng(const TQrCode& code, int modulePixels) {
  const int side = (code.size + 2 * kQuietModules) * modulePixels;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, side, side);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  for (int y = 0; y < code.size; ++y) {
    for (int x = 0; x < code.size; ++x) {
      if (!code.Dark(x, y)) continue;
      cairo_rectangle(cr, (x + kQuietModules) * modulePixels, (y + kQuietModules) * modulePixels,
                      modulePixels, modulePixels);
    }
  }
  cairo_fill(cr);
  cairo_destroy(cr);
  std::string png;
  const cairo_status_t status = cairo_surface_write_to_png_stream(surface, AppendBytes, &png);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    throw EqorGovException(std::string("Falha ao gerar a imagem do QR Code: ") +
                           cairo_status_to_string(status));
  }
  return png;
}

}  // namespace qor::report
