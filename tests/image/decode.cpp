#include "image/decode.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace korvan::testing {
namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}

bool decodeBmp(const std::vector<uint8_t>& b, RgbImage& out) {
    if (b.size() < 54 || le32(b, 14) != 40 || (b[28] | b[29] << 8) != 24 || le32(b, 30) != 0) {
        return false;
    }
    const auto w = static_cast<int32_t>(le32(b, 18));
    const auto h = static_cast<int32_t>(le32(b, 22));
    const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
    const size_t offset = le32(b, 10);
    if (w <= 0 || h <= 0 || offset + stride * h > b.size()) {
        return false;
    }
    out = RgbImage(w, h);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* src = b.data() + offset + stride * (h - 1 - y);
        uint8_t* dst = out.pixels.data() + static_cast<size_t>(y) * w * 3;
        for (int32_t x = 0; x < w; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
    return true;
}

struct JpegError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

bool decodeJpeg(std::vector<uint8_t>& b, RgbImage& out) {
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = [](j_common_ptr i) {
        std::longjmp(reinterpret_cast<JpegError*>(i->err)->jump, 1);
    };
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, b.data(), b.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.width = static_cast<int32_t>(info.output_width);
    out.height = static_cast<int32_t>(info.output_height);
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row =
            out.pixels.data() + static_cast<size_t>(info.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool decodeGif(const std::string& path, RgbImage& out) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif == nullptr) {
        return false;
    }
    bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1;
    if (ok) {
        const SavedImage& frame = gif->SavedImages[0];
        const ColorMapObject* map =
            frame.ImageDesc.ColorMap != nullptr ? frame.ImageDesc.ColorMap : gif->SColorMap;
        ok = map != nullptr && frame.ImageDesc.Width == gif->SWidth &&
             frame.ImageDesc.Height == gif->SHeight;
        if (ok) {
            out = RgbImage(gif->SWidth, gif->SHeight);
            for (size_t i = 0; ok && i < out.pixels.size() / 3; ++i) {
                const int index = frame.RasterBits[i];
                ok = index < map->ColorCount;
                if (ok) {
                    out.pixels[3 * i] = map->Colors[index].Red;
                    out.pixels[3 * i + 1] = map->Colors[index].Green;
                    out.pixels[3 * i + 2] = map->Colors[index].Blue;
                }
            }
        }
    }
    DGifCloseFile(gif, &error);
    return ok;
}

bool decodePng(const std::vector<uint8_t>& b, RgbImage& out) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, b.data(), b.size())) {
        return false;
    }
    // Only 8-bit RGB without alpha is what the encoder writes.
    const bool rgb8 = image.format == PNG_FORMAT_RGB;
    image.format = PNG_FORMAT_RGB;
    out = RgbImage(static_cast<int32_t>(image.width), static_cast<int32_t>(image.height));
    const bool ok = png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr);
    png_image_free(&image);
    return ok && rgb8;
}

}  // namespace

bool decodeImageFile(const std::string& path, DecodedImage& out) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && !in.good()) {
        return false;
    }
    if (b.size() > 2 && b[0] == 'B' && b[1] == 'M') {
        out.format = "BMP";
        return decodeBmp(b, out.image);
    }
    if (b.size() > 3 && b[0] == 0xff && b[1] == 0xd8 && b[2] == 0xff) {
        out.format = "JPEG";
        return decodeJpeg(b, out.image);
    }
    if (b.size() > 6 && std::string(b.begin(), b.begin() + 3) == "GIF") {
        out.format = "GIF";
        return decodeGif(path, out.image);
    }
    if (b.size() > 8 && b[0] == 0x89 && std::string(b.begin() + 1, b.begin() + 4) == "PNG") {
        out.format = "PNG";
        return decodePng(b, out.image);
    }
    return false;
}

}  // namespace korvan::testing
