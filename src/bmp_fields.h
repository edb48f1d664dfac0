// Where the fields of a BMP file lie, counted from its first byte: the 14-byte
// file header, then the information header. Every field is little-endian. The
// reader, the writer of BMP files and the tests all name them from here.
#pragma once

#include <cstddef>

namespace glyphor::bmp_field {

// The file header: 14 bytes.
inline constexpr std::size_t file_header_size = 14;
inline constexpr std::size_t signature = 0;      // 2 bytes: "BM"
inline constexpr std::size_t file_size = 2;      // 4 bytes
inline constexpr std::size_t pixel_offset = 10;  // 4 bytes: where the pixel rows start
// The information header, after it.
inline constexpr std::size_t info_header_size = 14;  // 4 bytes: the information header's own size
inline constexpr std::size_t width = 18;             // 4 bytes, signed
inline constexpr std::size_t height = 22;            // 4 bytes, signed: negative for top-down rows
inline constexpr std::size_t planes = 26;            // 2 bytes
inline constexpr std::size_t bits_per_pixel = 28;    // 2 bytes
inline constexpr std::size_t compression = 30;       // 4 bytes
inline constexpr std::size_t image_size = 34;        // 4 bytes
inline constexpr std::size_t resolution = 38;        // 4 bytes across, then 4 bytes down

// The header bytes the reader takes before it judges a file: all up to the
// compression field's end. A file shorter than that is no BMP file to it.
inline constexpr std::size_t read_size = compression + 4;

}  // namespace glyphor::bmp_field
