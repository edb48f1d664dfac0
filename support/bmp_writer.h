// Writes uncompressed BMP files: the sample tileset generator, the tests'
// fixtures and the charset preview all draw an image and encode it with this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bmp_fields.h"

namespace glyphor::bmp {

struct rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const rgb&, const rgb&) = default;
};

// An image in memory, top row first.
class rgb_image {
public:
    rgb_image(int width, int height, rgb fill = {});
    int width() const { return width_; }
    int height() const { return height_; }
    rgb& at(int x, int y) { return pixels_[index(x, y)]; }
    const rgb& at(int x, int y) const { return pixels_[index(x, y)]; }

private:
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(x);
    }
    int width_;
    int height_;
    std::vector<rgb> pixels_;
};

// How the file is laid out. The defaults give the classic 40-byte header,
// bottom-up rows and pixels right after the headers (offset 54).
struct layout {
    bool top_down = false;                // store a negative height, top row first
    std::uint16_t bits_per_pixel = 24;    // 24 and 32 store the colours; other depths store zeros
    std::uint32_t info_header_size = 40;  // 40, 108 (v4) or 124 (v5)
    std::uint32_t compression = 0;        // written as given
    std::uint32_t gap = 0;                // zero bytes between the headers and the pixels
};

// Draws one 8x8 tile of a 32-tile-wide sheet: tile n at column n % 32, tile
// row n / 32; rows[y] holds pixel row y, leftmost pixel in bit 7, and a set
// bit is drawn light, a clear bit dark.
void draw_tile(rgb_image& image, int tile, const std::uint8_t* rows, rgb light, rgb dark);

// Bytes of one stored row: width * bits rounded up to whole 32-bit words.
std::size_t stored_row_size(int width, unsigned bits_per_pixel);

// The whole file.
std::vector<std::uint8_t> encode(const rgb_image& image, const layout& options = {});

// Little-endian field access, for files that are patched after encoding.
void put_le16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value);
void put_le32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value);
std::uint32_t get_le32(const std::vector<std::uint8_t>& bytes, std::size_t at);

}  // namespace glyphor::bmp
