#include "image/image.h"

#include <array>
#include <cstdio>
#include <new>

#include "image/encoders.h"
#include "meshio/atomic_file.h"

namespace korvan {
namespace {

// BMP (24-bit), JPEG (quality 75), GIF (256 colours from GifQuantizeBuffer), PNG (8-bit RGB),
// in the order they are searched.
constexpr std::array<ImageEncoder, 4> kEncoders{{
    {ImageFormat::Bmp, "BMP", "*.BMP;*.DIB;*.RLE"},
    {ImageFormat::Jpeg, "JPEG", "*.JPG;*.JPEG;*.JPE;*.JFIF"},
    {ImageFormat::Gif, "GIF", "*.GIF"},
    {ImageFormat::Png, "PNG", "*.PNG"},
}};

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Writes beside the target under a temporary name, then renames over it.
Status writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    AtomicFile file(path);
    file.write(bytes.data(), bytes.size());
    if (!file.commit(false)) {
        return Status::failure(kImageSaveErrorMessage, file.error());
    }
    return {};
}

}  // namespace

RgbImage::RgbImage(int32_t w, int32_t h, uint8_t r, uint8_t g, uint8_t b) : width(w), height(h) {
    if (w <= 0 || h <= 0) {
        width = height = 0;
        return;
    }
    pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
    for (size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = r;
        pixels[i + 1] = g;
        pixels[i + 2] = b;
    }
}

std::string_view fileExtension(std::string_view fileName) {
    const size_t slash = fileName.find_last_of('/');
    const std::string_view component =
        slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const size_t dot = component.find_last_of('.');
    return dot == std::string_view::npos ? std::string_view() : component.substr(dot);
}

const ImageEncoder* findImageEncoder(std::string_view fileName) {
    const std::string_view extension = fileExtension(fileName);
    if (extension.empty()) {
        return nullptr;
    }
    for (const ImageEncoder& encoder : kEncoders) {
        std::string_view patterns = encoder.patterns;
        while (!patterns.empty()) {
            const size_t semicolon = patterns.find(';');
            const std::string_view pattern = patterns.substr(0, semicolon);
            const size_t dot = pattern.find_last_of('.');
            if (dot != std::string_view::npos &&
                equalIgnoringCase(pattern.substr(dot), extension)) {
                return &encoder;
            }
            patterns = semicolon == std::string_view::npos ? std::string_view()
                                                           : patterns.substr(semicolon + 1);
        }
    }
    return nullptr;
}

std::string imageFileName(const std::string& baseName, int32_t number,
                          const std::string& extension) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", static_cast<int>(number));
    return baseName + digits + "." + extension;
}

Status encodeImage(const RgbImage& image, ImageFormat format, std::vector<uint8_t>& out) {
    out.clear();
    if (!image.valid()) {
        return Status::failure(kImageSaveErrorMessage);
    }
    bool ok = false;
    try {
        switch (format) {
            case ImageFormat::Bmp:
                ok = detail::encodeBmp(image, out);
                break;
            case ImageFormat::Jpeg:
                ok = detail::encodeJpeg(image, out);
                break;
            case ImageFormat::Gif:
                ok = detail::encodeGif(image, out);
                break;
            case ImageFormat::Png:
                ok = detail::encodePng(image, out);
                break;
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) {
        out.clear();
        return Status::failure(kImageSaveErrorMessage);
    }
    return {};
}

Status writeImage(const RgbImage& image, const std::string& fileName) {
    const ImageEncoder* encoder = findImageEncoder(fileName);
    if (encoder == nullptr) {
        return Status::failure(kImageSaveErrorMessage,
                               fileName + ": nepoznat format slike (bmp, gif, jpg, png)");
    }
    std::vector<uint8_t> bytes;
    if (Status s = encodeImage(image, encoder->format, bytes); !s) {
        return s;
    }
    return writeFileAtomically(fileName, bytes);
}

Status SaveViewImage(const RgbImage& picture, int32_t number, const std::string& baseName,
                     const std::string& extension) {
    return writeImage(picture, imageFileName(baseName, number, extension));
}

}  // namespace korvan
