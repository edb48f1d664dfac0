#include "tileset_reader.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "bmp_fields.h"
#include "file_io.h"

namespace glyphor {
namespace {

using bmp_field::file_header_size;
constexpr std::size_t header_bytes = bmp_field::read_size;
constexpr unsigned bmp_signature = 0x4D42;  // "BM"

unsigned le16(const unsigned char* p) {
    return p[0] | (unsigned{p[1]} << 8U);
}

std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8U) | (std::uint32_t{p[2]} << 16U) |
           (std::uint32_t{p[3]} << 24U);
}

// Two's complement reinterpretation without relying on implementation-defined conversion.
std::int32_t le32_signed(const unsigned char* p) {
    const std::uint32_t u = le32(p);
    if (u <= INT32_MAX) return static_cast<std::int32_t>(u);
    return static_cast<std::int32_t>(u - 0x80000000U) + INT32_MIN;
}

// |value| for every 32-bit value, including -2^31.
std::uint32_t magnitude(std::int32_t value) {
    return value < 0 ? 0U - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
}

tileset outcome_only(load_outcome outcome) {
    tileset result;
    result.outcome = outcome;
    return result;
}

// Fills block with the pixel data of a stream that cannot seek (a pipe), the
// header bytes already read: forward past the bytes before the pixels, using
// the block itself to discard them, or, when the pixels start inside the
// header, from the header bytes on and then from the stream. Reads no more
// than pixel_offset + pixel_block_size bytes in all.
bool read_block_forward(std::FILE* file, const unsigned char* header, std::uint32_t pixel_offset,
                        std::uint8_t* block) {
    std::size_t filled = 0;
    if (pixel_offset < header_bytes) {
        filled = header_bytes - pixel_offset;
        std::memcpy(block, header + pixel_offset, filled);
    }
    for (std::size_t gap = pixel_offset > header_bytes ? pixel_offset - header_bytes : 0;
         gap > 0;) {
        const std::size_t chunk = std::min(gap, pixel_block_size);
        if (std::fread(block, 1, chunk, file) != chunk) return false;
        gap -= chunk;
    }
    const std::size_t rest = pixel_block_size - filled;
    return std::fread(block + filled, 1, rest, file) == rest;
}

}  // namespace

tileset read_tileset(std::FILE* file) {
    // A pipe is read unbuffered: stdio would otherwise take a whole buffer
    // from it, past the end of the pixels, which belongs to whatever follows.
    // The buffer mode is set before anything else touches the stream.
    const bool seekable = can_seek(file);
    if (!seekable) std::setvbuf(file, nullptr, _IONBF, 0);

    // A read that fails (a directory, an I/O error) leaves a file that is
    // opened but unreadable, as good as not opened; one that ends early, a
    // file that is not a whole tileset.
    unsigned char header[header_bytes];
    const std::size_t file_header_read = std::fread(header, 1, file_header_size, file);
    const std::size_t info_read =
        file_header_read == file_header_size
            ? std::fread(header + file_header_size, 1, header_bytes - file_header_size, file)
            : 0;
    if (std::ferror(file)) return outcome_only(load_outcome::open_failed);
    if (file_header_read + info_read != header_bytes) return outcome_only(load_outcome::not_bmp);
    if (le16(header + bmp_field::signature) != bmp_signature)
        return outcome_only(load_outcome::not_bmp);

    tileset result;
    result.width = le32_signed(header + bmp_field::width);
    const std::int32_t stored_height = le32_signed(header + bmp_field::height);
    result.height = magnitude(stored_height);
    result.bits_per_pixel = static_cast<std::uint16_t>(le16(header + bmp_field::bits_per_pixel));
    if (result.width != tileset_width || result.height != tileset_height ||
        result.bits_per_pixel != tileset_bits_per_pixel) {
        result.outcome = load_outcome::bad_geometry;
        return result;
    }

    // The pixels start where the file header says, whatever lies before them.
    // A stream that ends before the whole block, or an offset no file can
    // seek to, holds no tileset: nothing is made up for missing bytes.
    const std::uint32_t pixel_offset = le32(header + bmp_field::pixel_offset);
    if (pixel_offset > INT32_MAX) return outcome_only(load_outcome::not_bmp);
    if (seekable && std::fseek(file, static_cast<long>(pixel_offset), SEEK_SET) != 0) {
        return outcome_only(load_outcome::not_bmp);
    }
    pixel_block pixels{static_cast<std::uint8_t*>(std::malloc(pixel_block_size))};
    if (!pixels) return outcome_only(load_outcome::out_of_memory);
    const bool whole = seekable
                           ? std::fread(pixels.get(), 1, pixel_block_size, file) == pixel_block_size
                           : read_block_forward(file, header, pixel_offset, pixels.get());
    if (!whole) {
        return outcome_only(std::ferror(file) ? load_outcome::open_failed : load_outcome::not_bmp);
    }

    result.outcome = load_outcome::loaded;
    result.pixels = std::move(pixels);
    result.order = stored_height < 0 ? row_order::top_down : row_order::bottom_up;
    return result;
}

tileset load_tileset(const path_char* path) {
    const file_handle file = open_for_reading(path);
    if (!file) return outcome_only(load_outcome::open_failed);
    return read_tileset(file.get());
}

}  // namespace glyphor
