// Image files from an RGB picture: the encoder list, choice by file-name extension, naming of
// numbered frames, and atomic writing. No GL, no GUI: the desktop view and the headless
// renderer both hand their picture over as an RgbImage.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/status.h"

namespace korvan {

// Shown when a picture cannot be written (unknown extension, encoder or file failure).
inline constexpr const char* kImageSaveErrorMessage = "Greska kod spremanja slike!";

// 8-bit RGB pixels, rows from the top, 3 bytes per pixel, no padding between rows.
struct RgbImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;

    RgbImage() = default;
    // A picture of the given size filled with one colour.
    RgbImage(int32_t w, int32_t h, uint8_t r = 255, uint8_t g = 255, uint8_t b = 255);

    bool valid() const {
        return width > 0 && height > 0 &&
               pixels.size() == static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
    }
    const uint8_t* pixel(int32_t x, int32_t y) const {
        return pixels.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 3;
    }
};

enum class ImageFormat { Bmp, Jpeg, Gif, Png };

// One entry of the encoder list: the format and its file-name patterns ("*.JPG;*.JPEG").
struct ImageEncoder {
    ImageFormat format;
    const char* name;
    const char* patterns;
};

// The extension of the file-name component of `fileName`, from its last '.' on (".jpg"), or
// empty when that component has no dot.
std::string_view fileExtension(std::string_view fileName);

// The first encoder with a pattern whose extension equals the file's, ignoring letter case;
// null when none does.
const ImageEncoder* findImageEncoder(std::string_view fileName);

// "%s%04d.%s": the base name, the number zero-padded to at least four digits, a dot and the
// extension, both names unchanged.
std::string imageFileName(const std::string& baseName, int32_t number,
                          const std::string& extension);

// Encodes into memory; fails on an invalid picture, a size the format cannot hold or lack of
// memory.
Status encodeImage(const RgbImage& image, ImageFormat format, std::vector<uint8_t>& out);

// Writes the picture in the format its extension names. The file appears under its name only
// once complete, so a failure leaves nothing new and an existing file untouched.
Status writeImage(const RgbImage& image, const std::string& fileName);

// The picture the view shows, written as imageFileName(baseName, number, extension).
Status SaveViewImage(const RgbImage& picture, int32_t number, const std::string& baseName,
                     const std::string& extension);

}  // namespace korvan
