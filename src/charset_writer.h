// Packs the tileset's pixels into 8x8 one-bit character patterns and writes
// them as a raw charset: 8 bytes a tile, no header. Never prints.
#pragma once

#include <cstdint>

#include "file_io.h"
#include "geometry.h"

namespace glyphor {

// Returns a new zero-filled charset_buffer holding tiles 0..tile_count-1 of
// the image (tiles past the count stay zero), or an empty pointer when the
// buffer cannot be allocated. pixels holds pixel_block_size bytes as stored.
charset_buffer pack_charset(const std::uint8_t* pixels, row_order order, int tile_count);

// One byte of a tile: the eight pixels starting at pixel, left to right into
// bits 7..0, set where the pixel's plain average of its three bytes is 128 or more.
std::uint8_t pack_pixel_row(const std::uint8_t* pixel);

// Writes the first tile_count * 8 bytes of charset to path (tile_count > 0),
// as write_file writes: replaced whole or not at all. The program's text goes
// to standard output, so the file that is standard output is refused. kept
// is write_file's: the name a failure left the old file under, if any.
write_outcome write_charset(const path_char* path, const std::uint8_t* charset, int tile_count,
                            path_text* kept = nullptr);

}  // namespace glyphor
