#include "charset_picture.h"

#include "geometry.h"

namespace glyphor {
namespace {

constexpr bmp::rgb set_pixel{0xFF, 0xFF, 0xFF};
constexpr bmp::rgb clear_pixel{0x00, 0x00, 0x00};
constexpr bmp::rgb missing_stripe{0x90, 0x00, 0x00};

// Diagonal stripes over the tiles the charset does not hold.
void hatch_missing(bmp::rgb_image& image, std::size_t tiles) {
    for (int y = 0; y < tileset_height; ++y) {
        for (int x = 0; x < tileset_width; ++x) {
            const int tile = y / tile_size * tiles_per_row + x / tile_size;
            if (static_cast<std::size_t>(tile) >= tiles)
                image.at(x, y) = (x + y) % 4 < 2 ? missing_stripe : clear_pixel;
        }
    }
}

// The palettes, 0xRRGGBB: the C64's (black, white, red, cyan, purple, green,
// blue, yellow, orange, brown, light red, dark grey, grey, light green, light
// blue, light grey), then the VIC-20's (its first eight the same names, then
// orange, light orange, pink, light cyan, light purple, light green, light
// blue, light yellow).
constexpr std::uint32_t palettes[2][16] = {
    {0x000000, 0xFFFFFF, 0x68372B, 0x70A4B2, 0x6F3D86, 0x588D43, 0x352879, 0xB8C76F, 0x6F4F25,
     0x433900, 0x9A6759, 0x444444, 0x6C6C6C, 0x9AD284, 0x6C5EB5, 0x959595},
    {0x000000, 0xFFFFFF, 0xB61F21, 0x4DF0FF, 0xB43FFF, 0x44E237, 0x1A34FF, 0xDCD71B, 0xCA5400,
     0xE9B072, 0xE79293, 0x9AF7FD, 0xE09FFF, 0x8FE493, 0x8290FF, 0xE5DE85},
};

}  // namespace

bmp::rgb_image draw_charset(const std::uint8_t* charset, std::size_t tiles) {
    bmp::rgb_image image{tileset_width, tileset_height};
    for (std::size_t tile = 0; tile < tiles; ++tile) {
        bmp::draw_tile(image, static_cast<int>(tile), charset + tile * bytes_per_tile, set_pixel,
                       clear_pixel);
    }
    hatch_missing(image, tiles);
    return image;
}

bmp::rgb machine_rgb(bool vic20, unsigned colour) {
    const std::uint32_t value = palettes[vic20 ? 1 : 0][colour & 15U];
    return {static_cast<std::uint8_t>(value >> 16U), static_cast<std::uint8_t>(value >> 8U),
            static_cast<std::uint8_t>(value)};
}

unsigned machine_pixel(const machine_colours& colours, std::uint8_t row, int x) {
    const unsigned character = colours.character & 15U;
    if ((colours.vic20 || colours.multicolour) && character >= 8) {
        const unsigned pair = (row >> (6 - (x & 6))) & 3U;
        const unsigned own = character & 7U;
        if (pair == 0) return colours.background & 15U;
        if (pair == 1) return colours.extra1 & (colours.vic20 ? 7U : 15U);
        if (pair == 2) return colours.vic20 ? own : colours.extra2 & 15U;
        return colours.vic20 ? colours.extra2 & 15U : own;
    }
    if (((row >> (7 - x)) & 1U) == 0) return colours.background & 15U;
    return colours.vic20 ? character & 7U : character;
}

bmp::rgb_image draw_charset_on(const machine_colours& colours, const std::uint8_t* charset,
                               std::size_t tiles) {
    bmp::rgb_image image{tileset_width, tileset_height};
    for (int y = 0; y < tileset_height; ++y) {
        for (int x = 0; x < tileset_width; ++x) {
            const int tile = y / tile_size * tiles_per_row + x / tile_size;
            if (static_cast<std::size_t>(tile) >= tiles) continue;
            const std::uint8_t row = charset[static_cast<std::size_t>(tile) * bytes_per_tile +
                                             static_cast<std::size_t>(y % tile_size)];
            image.at(x, y) = machine_rgb(colours.vic20, machine_pixel(colours, row, x % tile_size));
        }
    }
    hatch_missing(image, tiles);
    return image;
}

}  // namespace glyphor
