// korvan-image-probe FILE [X Y ...]: prints "FORMAT WIDTH HEIGHT", then "R G B" of each
// pixel asked for; exit status 1 when the file cannot be decoded.
#include <cstdio>
#include <cstdlib>

#include "image/decode.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: korvan-image-probe FILE [X Y ...]\n");
        return 2;
    }
    korvan::testing::DecodedImage decoded;
    if (!korvan::testing::decodeImageFile(argv[1], decoded)) {
        std::fprintf(stderr, "cannot decode %s\n", argv[1]);
        return 1;
    }
    const korvan::RgbImage& image = decoded.image;
    std::printf("%s %d %d\n", decoded.format.c_str(), image.width, image.height);
    for (int i = 2; i + 1 < argc; i += 2) {
        const int x = std::atoi(argv[i]);
        const int y = std::atoi(argv[i + 1]);
        if (x < 0 || y < 0 || x >= image.width || y >= image.height) {
            std::printf("outside\n");
            continue;
        }
        const uint8_t* p = image.pixel(x, y);
        std::printf("%d %d %d\n", p[0], p[1], p[2]);
    }
    return 0;
}
