// glyphor-preview's picture of a charset, drawn by one function for every
// program that shows one: glyphor-preview writes it as a BMP, the web page
// puts it on the screen.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bmp_writer.h"

namespace glyphor {

// The 256x64 picture of the first tiles of charset (tiles * 8 bytes, at most
// 256 tiles): set bits white, clear bits black, tile n where glyphor reads
// tile n, and the tiles past the count hatched in dark red and black.
bmp::rgb_image draw_charset(const std::uint8_t* charset, std::size_t tiles);

}  // namespace glyphor
