#include "bmp_writer.h"

#include "geometry.h"

namespace glyphor::bmp {

rgb_image::rgb_image(int width, int height, rgb fill)
    : width_(width),
      height_(height),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), fill) {}

void draw_tile(rgb_image& image, int tile, const std::uint8_t* rows, rgb light, rgb dark) {
    const int left = tile % tiles_per_row * tile_size;
    const int top = tile / tiles_per_row * tile_size;
    for (int y = 0; y < tile_size; ++y) {
        for (int x = 0; x < tile_size; ++x) {
            const bool set = ((rows[y] >> (tile_size - 1 - x)) & 1U) != 0;
            image.at(left + x, top + y) = set ? light : dark;
        }
    }
}

std::size_t stored_row_size(int width, unsigned bits_per_pixel) {
    const std::size_t bits = static_cast<std::size_t>(width) * bits_per_pixel;
    return (bits + 31) / 32 * 4;
}

void put_le16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes.at(at) = static_cast<std::uint8_t>(value);
    bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8U);
}

void put_le32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t get_le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) value = (value << 8U) | bytes.at(at + i);
    return value;
}

std::vector<std::uint8_t> encode(const rgb_image& image, const layout& options) {
    const std::size_t row_size = stored_row_size(image.width(), options.bits_per_pixel);
    const std::size_t pixel_offset =
        bmp_field::file_header_size + options.info_header_size + options.gap;
    const std::size_t image_size = row_size * static_cast<std::size_t>(image.height());
    std::vector<std::uint8_t> bytes(pixel_offset + image_size, 0);

    // File header.
    bytes[bmp_field::signature] = 'B';
    bytes[bmp_field::signature + 1] = 'M';
    put_le32(bytes, bmp_field::file_size, static_cast<std::uint32_t>(bytes.size()));
    put_le32(bytes, bmp_field::pixel_offset, static_cast<std::uint32_t>(pixel_offset));

    // Information header; a v4/v5 header leaves its colour-space fields zero.
    const std::uint32_t height = static_cast<std::uint32_t>(image.height());
    put_le32(bytes, bmp_field::info_header_size, options.info_header_size);
    put_le32(bytes, bmp_field::width, static_cast<std::uint32_t>(image.width()));
    put_le32(bytes, bmp_field::height, options.top_down ? 0U - height : height);
    put_le16(bytes, bmp_field::planes, 1);
    put_le16(bytes, bmp_field::bits_per_pixel, options.bits_per_pixel);
    put_le32(bytes, bmp_field::compression, options.compression);
    put_le32(bytes, bmp_field::image_size, static_cast<std::uint32_t>(image_size));
    put_le32(bytes, bmp_field::resolution, 2835);  // 72 dpi
    put_le32(bytes, bmp_field::resolution + 4, 2835);

    const std::size_t pixel_bytes = options.bits_per_pixel / 8U;
    if (options.bits_per_pixel != 24 && options.bits_per_pixel != 32) return bytes;
    for (int y = 0; y < image.height(); ++y) {
        const int stored = options.top_down ? y : image.height() - 1 - y;
        std::uint8_t* row =
            bytes.data() + pixel_offset + static_cast<std::size_t>(stored) * row_size;
        for (int x = 0; x < image.width(); ++x) {
            std::uint8_t* pixel = row + static_cast<std::size_t>(x) * pixel_bytes;
            const rgb& colour = image.at(x, y);
            pixel[0] = colour.blue;
            pixel[1] = colour.green;
            pixel[2] = colour.red;
            if (pixel_bytes == 4) pixel[3] = 0xFF;
        }
    }
    return bytes;
}

}  // namespace glyphor::bmp
