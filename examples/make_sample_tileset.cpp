// Draws the sample tileset, examples/tileset.bmp, from the glyph art in
// examples/tileset.txt.
//
//   make_sample_tileset tileset.txt tileset.bmp          write the tileset
//   make_sample_tileset --check tileset.txt tileset.bmp  exit 1 unless it is up to date
//
// Glyph art: `;` starts a comment line; `tile N name` starts tile N (0..127),
// followed by 8 rows of 8 characters, `#` light and `.` dark. Tiles 128..255
// are drawn as the reverse of tiles 0..127, as on the Commodore machines.
// Dark pixels alternate between black and dark blue from tile to tile, so the
// sheet doubles as a drawing template with visible tile borders; both stay
// below the converter's threshold, as every colour of a light pixel is above it.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bmp_writer.h"
#include "file_bytes.h"
#include "glyph_art.h"

namespace {

using glyphor::bmp::rgb;
using glyphor::bmp::rgb_image;

using glyphor::sample::glyph;
using glyphor::sample::glyph_tiles;
using glyphor::sample::tile_side;

constexpr int tiles_across = 32;

constexpr rgb dark_even{0x00, 0x00, 0x00};
constexpr rgb dark_odd{0x20, 0x20, 0x48};
constexpr rgb light_text{0xFF, 0xFF, 0xFF};
constexpr rgb light_graphic{0x9C, 0xE8, 0x9C};

rgb_image draw(const std::vector<glyph>& glyphs) {
    rgb_image image{tiles_across * tile_side, 8 * tile_side};
    for (int tile = 0; tile < 2 * glyph_tiles; ++tile) {
        const bool reversed = tile >= glyph_tiles;
        const glyph& art = glyphs[static_cast<std::size_t>(tile % glyph_tiles)];
        std::uint8_t rows[tile_side];
        for (int y = 0; y < tile_side; ++y) {
            rows[y] = reversed ? static_cast<std::uint8_t>(~art.rows[y]) : art.rows[y];
        }
        const rgb dark =
            (tile % tiles_across + tile / tiles_across) % 2 == 0 ? dark_even : dark_odd;
        const rgb light = tile % glyph_tiles >= 64 ? light_graphic : light_text;
        glyphor::bmp::draw_tile(image, tile, rows, light, dark);
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    const bool check = argc == 4 && std::strcmp(argv[1], "--check") == 0;
    if (argc != 3 && !check) {
        std::fprintf(stderr, "usage: %s [--check] tileset.txt tileset.bmp\n", argv[0]);
        return 2;
    }
    const char* art_path = argv[check ? 2 : 1];
    const char* bmp_path = argv[check ? 3 : 2];
    std::string error;
    const std::vector<glyph> glyphs = glyphor::sample::read_glyph_art(art_path, error);
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const std::vector<std::uint8_t> bytes = glyphor::bmp::encode(draw(glyphs));
    if (check) {
        if (glyphor::read_file_bytes(bmp_path) == bytes) return 0;
        std::fprintf(stderr, "%s is not what %s draws: rebuild the sample_tileset target\n",
                     bmp_path, art_path);
        return 1;
    }
    if (!glyphor::write_file_bytes(bmp_path, bytes)) {
        std::fprintf(stderr, "%s: cannot write\n", bmp_path);
        return 1;
    }
    return 0;
}
