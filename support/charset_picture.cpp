#include "charset_picture.h"

#include "geometry.h"

namespace glyphor {
namespace {

constexpr bmp::rgb set_pixel{0xFF, 0xFF, 0xFF};
constexpr bmp::rgb clear_pixel{0x00, 0x00, 0x00};
constexpr bmp::rgb missing_stripe{0x90, 0x00, 0x00};

}  // namespace

bmp::rgb_image draw_charset(const std::uint8_t* charset, std::size_t tiles) {
    bmp::rgb_image image{tileset_width, tileset_height};
    for (std::size_t tile = 0; tile < tiles; ++tile) {
        bmp::draw_tile(image, static_cast<int>(tile), charset + tile * bytes_per_tile, set_pixel,
                       clear_pixel);
    }
    // Diagonal stripes over the tiles the charset does not hold.
    for (int y = 0; y < tileset_height; ++y) {
        for (int x = 0; x < tileset_width; ++x) {
            const int tile = y / tile_size * tiles_per_row + x / tile_size;
            if (static_cast<std::size_t>(tile) >= tiles)
                image.at(x, y) = (x + y) % 4 < 2 ? missing_stripe : clear_pixel;
        }
    }
    return image;
}

}  // namespace glyphor
