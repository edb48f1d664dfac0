// The sample tileset's glyph art: tiles 0..127 drawn as text, `#` light and
// `.` dark, 8 rows of 8 characters after a `tile N name` line; `;` lines are
// comments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace glyphor::sample {

inline constexpr int glyph_tiles = 128;
inline constexpr int tile_side = 8;

struct glyph {
    bool present = false;
    std::uint8_t rows[tile_side] = {};  // top row first, leftmost pixel in bit 7
};

// All 128 glyphs (absent ones blank). On a malformed file, error says where
// and what, and the result is empty.
std::vector<glyph> read_glyph_art(const char* path, std::string& error);

}  // namespace glyphor::sample
