#include "charset_writer.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace glyphor {
namespace {

// Packing works on a group at a time: the 8 pixels of one tile row, 24 bytes,
// read as three 64-bit words a, b and c, byte k of the group in byte lane k % 8
// of word k / 8 (bits 8 * (k % 8) up). Pixel p owns bytes 3p, 3p+1 and 3p+2.
//
// The group's bytes are first rearranged into three words whose lane j holds
// the first, second and third byte of pixel lane_pixel[j]: lanes 0, 3, 6 come
// from a (pixels 0, 1, 2), lanes 1, 4, 7 from b (pixels 3, 4, 5) and lanes 2,
// 5 from c (pixels 6, 7). The second bytes sit one lane further on, the third
// two lanes further, with the words' roles rotated; rotating those words back
// by one and two lanes lines them up with the first bytes.
//
// Each lane then decides "light" on its own, 8 pixels per operation, without
// carries crossing lanes: a carry-save step turns the three bytes x, y, z into
// a sum s = x ^ y ^ z and carries c = majority(x, y, z) with x + y + z = s + 2c,
// and s + 2c >= 384 exactly when c + floor(s / 2) >= 192, that is when the
// floor average of c and floor(s / 2) + 64 reaches 128: bit 7 of the lane.
// Every step stays within 8 bits (floor(s / 2) + 64 <= 191).
//
// Last, one multiplication moves bit 7 of each lane j to bit 7 - lane_pixel[j]
// of the top byte, leftmost pixel in bit 7. The result is the plain average
// threshold, bit for bit, on any machine: the words are built from the bytes
// in a fixed order, whatever the machine's own byte order.
constexpr int lane_pixel[8] = {0, 3, 6, 1, 4, 7, 2, 5};

constexpr std::uint64_t lanes_036 = 0x00FF0000FF0000FFULL;
constexpr std::uint64_t lanes_147 = 0xFF0000FF0000FF00ULL;
constexpr std::uint64_t lanes_25 = 0x0000FF0000FF0000ULL;
static_assert((lanes_036 ^ lanes_147 ^ lanes_25) == ~std::uint64_t{0});

constexpr std::uint64_t low_7_bits = 0x7F7F7F7F7F7F7F7FULL;
constexpr std::uint64_t lane_64 = 0x4040404040404040ULL;
constexpr std::uint64_t lane_bit_0 = 0x0101010101010101ULL;

// Lane j's bit 0, at bit 8j, goes to bit 63 - lane_pixel[j].
constexpr std::uint64_t gather_factor = [] {
    std::uint64_t factor = 0;
    for (int lane = 0; lane < 8; ++lane)
        factor |= std::uint64_t{1} << (63 - lane_pixel[lane] - 8 * lane);
    return factor;
}();
static_assert(gather_factor == 0x8010024008012004ULL);

// Bytes k..k+7 as a number with byte k in bits 0..7.
std::uint64_t load_le64(const std::uint8_t* bytes) {
    std::uint64_t value = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&value, bytes, sizeof value);
    } else {
        for (int k = 7; k >= 0; --k) value = (value << 8U) | bytes[k];
    }
    return value;
}

std::uint64_t rotate_lanes_right(std::uint64_t word, unsigned lanes) {
    return (word >> (8 * lanes)) | (word << (64 - 8 * lanes));
}

// Bit 0 of lane j set when pixel lane_pixel[j] of the group is light. Inline
// because it is the packing loop's whole body.
inline std::uint64_t light_lanes(const std::uint8_t* group) {
    const std::uint64_t a = load_le64(group);
    const std::uint64_t b = load_le64(group + 8);
    const std::uint64_t c = load_le64(group + 16);
    // Each word picks its lanes from a, b and c: (a & m1) | (b & m2) | (c & m3)
    // for masks that split the 8 lanes, written as a ^ (ab & m2) ^ (ac & m3).
    const std::uint64_t ab = a ^ b;
    const std::uint64_t ac = a ^ c;
    const std::uint64_t first = a ^ (ab & lanes_147) ^ (ac & lanes_25);
    const std::uint64_t second = rotate_lanes_right(a ^ (ab & lanes_25) ^ (ac & lanes_036), 1);
    const std::uint64_t third = rotate_lanes_right(a ^ (ab & lanes_036) ^ (ac & lanes_147), 2);

    const std::uint64_t first_second = first ^ second;
    const std::uint64_t sum_bits = first_second ^ third;
    const std::uint64_t carries = (first & second) | (third & first_second);
    const std::uint64_t half_sum = ((sum_bits >> 1U) & low_7_bits) + lane_64;
    const std::uint64_t average =
        (carries & half_sum) + (((carries ^ half_sum) >> 1U) & low_7_bits);
    return (average >> 7U) & lane_bit_0;
}

// The tile byte of a group from its light_lanes.
std::uint8_t tile_byte(std::uint64_t light) {
    return static_cast<std::uint8_t>((light * gather_factor) >> 56U);
}

}  // namespace

std::uint8_t pack_pixel_row(const std::uint8_t* pixel) {
    return tile_byte(light_lanes(pixel));
}

charset_buffer pack_charset(const std::uint8_t* pixels, row_order order, int tile_count) {
    charset_buffer charset{static_cast<std::uint8_t*>(std::calloc(charset_size, 1))};
    if (!charset) return charset;
    const int tiles = tile_count < 0 ? 0 : (tile_count > max_tiles ? max_tiles : tile_count);
    constexpr std::size_t group_size = tile_size * bytes_per_pixel;

    for (int y = 0; y < tileset_height; ++y) {
        const int first_tile = (y / tile_size) * tiles_per_row;
        if (first_tile >= tiles) break;  // this tile row and all below it are not emitted
        const int columns = tiles - first_tile < tiles_per_row ? tiles - first_tile : tiles_per_row;
        const int stored_row = order == row_order::bottom_up ? tileset_height - 1 - y : y;
        const std::uint8_t* row = pixels + static_cast<std::size_t>(stored_row) * row_stride;
        std::uint8_t* out = charset.get() + static_cast<std::size_t>(first_tile) * bytes_per_tile +
                            static_cast<std::size_t>(y % tile_size);
        // Two passes: the first only reads pixels and fills a local array, a
        // loop of fixed length (the whole row; groups past the count are
        // never stored) that compilers can run two or more groups at a time.
        std::uint64_t light[tiles_per_row];
        for (int column = 0; column < tiles_per_row; ++column) {
            light[column] = light_lanes(row + static_cast<std::size_t>(column) * group_size);
        }
        for (int column = 0; column < columns; ++column) {
            out[static_cast<std::size_t>(column) * bytes_per_tile] = tile_byte(light[column]);
        }
    }
    return charset;
}

write_outcome write_charset(const path_char* path, const std::uint8_t* charset, int tile_count,
                            path_text* kept) {
    return write_file(path, charset, static_cast<std::size_t>(tile_count) * bytes_per_tile, stdout,
                      kept);
}

}  // namespace glyphor
