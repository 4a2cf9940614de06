// The format writers behind encodeImage; each appends a complete file to `out`, which the
// caller passes in empty. The picture is valid (checked by the caller).
#pragma once

#include <cstdint>
#include <vector>

#include "image/image.h"

namespace korvan::detail {

bool encodeBmp(const RgbImage& image, std::vector<uint8_t>& out);
bool encodeJpeg(const RgbImage& image, std::vector<uint8_t>& out);
bool encodeGif(const RgbImage& image, std::vector<uint8_t>& out);
bool encodePng(const RgbImage& image, std::vector<uint8_t>& out);

}  // namespace korvan::detail
