// BMP by hand; JPEG, GIF and PNG through their reference libraries. The C libraries report
// errors by longjmp, so the functions that call them hold no objects with destructors between
// setjmp and the library calls.
#include "image/encoders.h"

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <memory>
#include <new>

namespace korvan::detail {
namespace {

void putLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void putLe32(uint8_t* p, uint32_t v) {
    putLe16(p, v);
    putLe16(p + 2, v >> 16);
}

// Appends library output to a byte vector; remembers a failed allocation instead of letting
// an exception cross the C library.
struct ByteSink {
    std::vector<uint8_t>* out;
    bool failed = false;

    void append(const uint8_t* data, size_t size) {
        try {
            out->insert(out->end(), data, data + size);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    }
};

struct JpegError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void jpegErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

void jpegSilent(j_common_ptr) {}

// Fills `buffer`/`size` with a malloc'd JPEG file; false on any library error.
bool compressJpeg(const RgbImage& image, unsigned char** buffer, unsigned long* size) {
    jpeg_compress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = jpegErrorExit;
    error.base.output_message = jpegSilent;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = static_cast<JDIMENSION>(image.width);
    info.image_height = static_cast<JDIMENSION>(image.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 75, TRUE);
    jpeg_start_compress(&info, TRUE);
    const size_t stride = static_cast<size_t>(image.width) * 3;
    while (info.next_scanline < info.image_height) {
        // libjpeg reads the rows only; its interface is not const-qualified.
        JSAMPROW row = const_cast<JSAMPROW>(image.pixels.data() + info.next_scanline * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

int gifWrite(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<ByteSink*>(gif->UserData)->append(data, static_cast<size_t>(length));
    return length;
}

// GifQuantizeBuffer works on 5 bits per channel, so its palette turns white into 248 grey.
// Each entry becomes the exact mean of the pixels mapped to it; the mapping stays as it is.
void refinePalette(const RgbImage& image, const std::vector<GifByteType>& indices,
                   ColorMapObject& map) {
    std::vector<uint64_t> sums(static_cast<size_t>(map.ColorCount) * 4, 0);
    for (size_t i = 0; i < indices.size(); ++i) {
        uint64_t* s = &sums[size_t{indices[i]} * 4];
        s[0] += image.pixels[3 * i];
        s[1] += image.pixels[3 * i + 1];
        s[2] += image.pixels[3 * i + 2];
        ++s[3];
    }
    for (int c = 0; c < map.ColorCount; ++c) {
        const uint64_t* s = &sums[static_cast<size_t>(c) * 4];
        if (s[3] != 0) {
            const auto mean = [&](int k) {
                return static_cast<GifByteType>((s[k] + s[3] / 2) / s[3]);
            };
            map.Colors[c] = GifColorType{mean(0), mean(1), mean(2)};
        }
    }
}

struct PngState {
    ByteSink sink;
    std::jmp_buf jump;
};

void pngError(png_structp png, png_const_charp) {
    std::longjmp(static_cast<PngState*>(png_get_error_ptr(png))->jump, 1);
}

void pngWarning(png_structp, png_const_charp) {}

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    static_cast<PngState*>(png_get_io_ptr(png))->sink.append(data, length);
}

void pngFlush(png_structp) {}

bool compressPng(const RgbImage& image, PngState& state) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, pngError, pngWarning);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(state.jump) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &state, pngWrite, pngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Rendered frames are mostly flat colour: a fast level and one filter compress them well
    // at a fraction of the default's cost.
    png_set_compression_level(png, 3);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(image.width) * 3;
    for (int32_t y = 0; y < image.height; ++y) {
        png_write_row(png, image.pixels.data() + static_cast<size_t>(y) * stride);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool encodeBmp(const RgbImage& image, std::vector<uint8_t>& out) {
    constexpr uint32_t kHeaderSize = 14 + 40;
    const uint64_t stride = (static_cast<uint64_t>(image.width) * 3 + 3) & ~uint64_t{3};
    const uint64_t dataSize = stride * static_cast<uint64_t>(image.height);
    if (dataSize + kHeaderSize > 0x7fffffffu) {
        return false;
    }
    out.assign(kHeaderSize + dataSize, 0);
    uint8_t* h = out.data();
    h[0] = 'B';
    h[1] = 'M';
    putLe32(h + 2, static_cast<uint32_t>(kHeaderSize + dataSize));
    putLe32(h + 10, kHeaderSize);
    putLe32(h + 14, 40);
    putLe32(h + 18, static_cast<uint32_t>(image.width));
    putLe32(h + 22, static_cast<uint32_t>(image.height));  // positive: rows bottom-up
    putLe16(h + 26, 1);
    putLe16(h + 28, 24);
    putLe32(h + 34, static_cast<uint32_t>(dataSize));
    putLe32(h + 38, 3780);  // 96 dots per inch
    putLe32(h + 42, 3780);
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t* src = image.pixel(0, image.height - 1 - y);
        uint8_t* dst = out.data() + kHeaderSize + static_cast<size_t>(y) * stride;
        for (int32_t x = 0; x < image.width; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
    return true;
}

bool encodeJpeg(const RgbImage& image, std::vector<uint8_t>& out) {
    if (image.width > JPEG_MAX_DIMENSION || image.height > JPEG_MAX_DIMENSION) {
        return false;
    }
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool ok = compressJpeg(image, &buffer, &size);
    // libjpeg allocates the buffer with malloc, also when it fails part way.
    const std::unique_ptr<unsigned char, decltype(&std::free)> owned(buffer, &std::free);
    if (ok) {
        out.assign(buffer, buffer + size);
    }
    return ok;
}

bool encodeGif(const RgbImage& image, std::vector<uint8_t>& out) {
    if (image.width > 0xffff || image.height > 0xffff) {
        return false;
    }
    const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    std::vector<GifByteType> red(count), green(count), blue(count), indices(count);
    for (size_t i = 0; i < count; ++i) {
        red[i] = image.pixels[3 * i];
        green[i] = image.pixels[3 * i + 1];
        blue[i] = image.pixels[3 * i + 2];
    }
    ColorMapObject* map = GifMakeMapObject(256, nullptr);
    if (map == nullptr) {
        return false;
    }
    int mapSize = 256;
    bool ok = GifQuantizeBuffer(static_cast<unsigned>(image.width),
                                static_cast<unsigned>(image.height), &mapSize, red.data(),
                                green.data(), blue.data(), indices.data(), map->Colors) == GIF_OK;
    if (ok) {
        refinePalette(image, indices, *map);
    }
    ByteSink sink{&out};
    out.reserve(count / 4);
    int error = 0;
    GifFileType* gif = ok ? EGifOpen(&sink, gifWrite, &error) : nullptr;
    ok = gif != nullptr;
    ok = ok && EGifPutScreenDesc(gif, image.width, image.height, 8, 0, map) == GIF_OK;
    ok = ok && EGifPutImageDesc(gif, 0, 0, image.width, image.height, false, nullptr) == GIF_OK;
    for (int32_t y = 0; ok && y < image.height; ++y) {
        ok = EGifPutLine(gif, indices.data() + static_cast<size_t>(y) * image.width, image.width) ==
             GIF_OK;
    }
    if (gif != nullptr) {
        ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    }
    GifFreeMapObject(map);
    return ok && !sink.failed;
}

bool encodePng(const RgbImage& image, std::vector<uint8_t>& out) {
    out.reserve(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) / 4);
    PngState state{ByteSink{&out}, {}};
    return compressPng(image, state) && !state.sink.failed;
}

}  // namespace korvan::detail
