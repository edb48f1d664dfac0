#include "charset_writer.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace glyphor {
namespace {

// A pixel is light when (blue + green + red) / 3 >= 128, that is when the sum is >= 384.
constexpr unsigned light_sum = 128 * 3;

// Removes what a failed write left behind, but only a regular file: a device
// or a pipe named as output is never touched.
void discard_partial_output(const path_char* path) {
    std::error_code error;
    if (std::filesystem::symlink_status(path, error).type() ==
        std::filesystem::file_type::regular) {
        std::filesystem::remove(path, error);
    }
}

}  // namespace

std::uint8_t pack_pixel_row(const std::uint8_t* pixel) {
    unsigned bits = 0;
    for (int column = 0; column < tile_size; ++column, pixel += bytes_per_pixel) {
        const unsigned sum = unsigned{pixel[0]} + pixel[1] + pixel[2];
        bits = (bits << 1U) | (sum >= light_sum ? 1U : 0U);
    }
    return static_cast<std::uint8_t>(bits);
}

charset_buffer pack_charset(const std::uint8_t* pixels, row_order order, int tile_count) {
    charset_buffer charset{static_cast<std::uint8_t*>(std::calloc(charset_size, 1))};
    if (!charset) return charset;
    const int tiles = tile_count < 0 ? 0 : (tile_count > max_tiles ? max_tiles : tile_count);

    for (int y = 0; y < tileset_height; ++y) {
        const int first_tile = (y / tile_size) * tiles_per_row;
        if (first_tile >= tiles) break;  // this tile row and all below it are not emitted
        const int columns = tiles - first_tile < tiles_per_row ? tiles - first_tile : tiles_per_row;
        const int stored_row = order == row_order::bottom_up ? tileset_height - 1 - y : y;
        const std::uint8_t* row = pixels + static_cast<std::size_t>(stored_row) * row_stride;
        std::uint8_t* out = charset.get() + static_cast<std::size_t>(first_tile) * bytes_per_tile +
                            static_cast<std::size_t>(y % tile_size);
        for (int column = 0; column < columns; ++column) {
            out[static_cast<std::size_t>(column) * bytes_per_tile] = pack_pixel_row(
                row + static_cast<std::size_t>(column) * tile_size * bytes_per_pixel);
        }
    }
    return charset;
}

write_outcome write_charset(const path_char* path, const std::uint8_t* charset, int tile_count) {
    file_handle file = open_file(path, open_mode::write);
    if (!file) return write_outcome::create_failed;
    const std::size_t size = static_cast<std::size_t>(tile_count) * bytes_per_tile;
    const bool all_written = std::fwrite(charset, 1, size, file.get()) == size;
    // A full disk often shows only when the buffered bytes go out. Flush first
    // and check it on its own: not every runtime's fclose reports a failed flush.
    const bool flushed = std::fflush(file.get()) == 0;
    const bool closed = std::fclose(file.release()) == 0;
    if (!all_written || !flushed || !closed) {
        discard_partial_output(path);
        return write_outcome::write_failed;
    }
    return write_outcome::written;
}

}  // namespace glyphor
