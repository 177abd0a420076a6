#include "platform/QrImage.h"

#include <qrencode.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/GrayPng.h"

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

std::string QrPng(const TQrCode& code, int modulePixels) {
  const int side = (code.size + 2 * kQuietModules) * modulePixels;
  // The image's resolution is that of a screen (96 dpi): the HTML page sizes it itself.
  return EncodeGrayPng(side, side, 96, true, [&](int y, unsigned char* gray, std::size_t width) {
    const int my = y / modulePixels - kQuietModules;
    for (std::size_t x = 0; x < width; ++x) {
      const int mx = static_cast<int>(x) / modulePixels - kQuietModules;
      const bool dark = my >= 0 && my < code.size && mx >= 0 && mx < code.size && code.Dark(mx, my);
      gray[x] = dark ? 0 : 255;
    }
  });
}

}  // namespace qor::report
