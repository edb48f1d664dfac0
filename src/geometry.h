// Tileset and tile geometry shared by the reader, the packer and the driver,
// and the owning types of the two heap buffers that pass between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace glyphor {

// The tileset image: 256x64 pixels, 24 bits (blue, green, red) per pixel.
inline constexpr int tileset_width = 256;
inline constexpr int tileset_height = 64;
inline constexpr int tileset_bits_per_pixel = 24;
inline constexpr std::size_t bytes_per_pixel = 3;
inline constexpr std::size_t row_stride = 768;  // 256 * 3, already a multiple of 4: no row padding
inline constexpr std::size_t pixel_block_size = row_stride * tileset_height;  // 49,152

// The charset: 8x8 tiles, one byte per pixel row, 32 tiles across, 8 down.
inline constexpr int tile_size = 8;
inline constexpr std::size_t bytes_per_tile = 8;
inline constexpr int tiles_per_row = tileset_width / tile_size;          // 32
inline constexpr int tile_rows = tileset_height / tile_size;             // 8
inline constexpr int max_tiles = tiles_per_row * tile_rows;              // 256
inline constexpr std::size_t charset_size = bytes_per_tile * max_tiles;  // 2,048

static_assert(row_stride == static_cast<std::size_t>(tileset_width) * bytes_per_pixel);
static_assert(row_stride % 4 == 0, "BMP rows would need padding");
static_assert(pixel_block_size == 49152 && charset_size == 2048);

// How stored BMP rows map to image rows.
enum class row_order {
    bottom_up,  // positive height: stored row 0 is the bottom image row
    top_down,   // negative height: stored row 0 is the top image row
};

// Heap buffers come from malloc/calloc and go back through free.
struct free_deleter {
    void operator()(void* block) const noexcept { std::free(block); }
};
using byte_buffer = std::unique_ptr<std::uint8_t[], free_deleter>;

// The tileset's pixel rows exactly as stored in the file: pixel_block_size bytes.
using pixel_block = byte_buffer;
// All 256 tiles in tile-number order: charset_size bytes.
using charset_buffer = byte_buffer;

}  // namespace glyphor
