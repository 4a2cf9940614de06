// Reads image files back for the tests, through the same libraries that wrote them (BMP by
// hand), recognising the format by the file's content rather than its name.
#pragma once

#include <string>

#include "image/image.h"

namespace korvan::testing {

struct DecodedImage {
    std::string format;  // "BMP", "JPEG", "GIF", "PNG"
    RgbImage image;
};

// False when the file is missing, of another format or damaged.
bool decodeImageFile(const std::string& path, DecodedImage& out);

}  // namespace korvan::testing
