// glyphor-preview's picture of a charset, drawn by one function for every
// program that shows one: glyphor-preview writes it as a BMP, the web page
// puts it on the screen. And the charset as the C64's and the VIC-20's video
// chips show it, by their rules, for the web page's views.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bmp_writer.h"

namespace glyphor {

// The 256x64 picture of the first tiles of charset (tiles * 8 bytes, at most
// 256 tiles): set bits white, clear bits black, tile n where glyphor reads
// tile n, and the tiles past the count hatched in dark red and black.
bmp::rgb_image draw_charset(const std::uint8_t* charset, std::size_t tiles);

// The colour registers a character is shown with, each a colour number 0-15
// of the machine's palette (only the bits the machine keeps are used).
struct machine_colours {
    bool vic20 = false;
    // The C64's multicolour mode ($D016 bit 4). The VIC-20 has no such switch:
    // a character is multicolour there whenever its colour is 8-15.
    bool multicolour = false;
    std::uint8_t background = 0;  // C64: $D021; VIC-20: the screen colour ($900F bits 4-7)
    std::uint8_t extra1 = 0;      // C64: $D022; VIC-20: the border colour ($900F bits 0-2)
    std::uint8_t extra2 = 0;      // C64: $D023; VIC-20: the auxiliary colour ($900E bits 4-7)
    std::uint8_t character = 1;   // the character's colour RAM value
};

// The machine's colour number 0-15 as red, green and blue (as emulators show
// a PAL machine: a screen's colours are never exact).
bmp::rgb machine_rgb(bool vic20, unsigned colour);

// The colour number of pixel x (0-7, left to right) of a character row.
// Hires: a set bit shows the character's colour (the VIC-20 keeps its bits
// 0-2), a clear one the background. Multicolour (C64: the mode on and a
// colour of 8-15; VIC-20: a colour of 8-15), each pair of bits is one pixel
// two wide: C64 00 $D021, 01 $D022, 10 $D023, 11 the character's colour bits
// 0-2; VIC-20 00 screen, 01 border, 10 the character's colour bits 0-2, 11
// auxiliary.
unsigned machine_pixel(const machine_colours& colours, std::uint8_t row, int x);

// The 256x64 picture of the first tiles of charset as the machine shows them,
// laid out and hatched as draw_charset's.
bmp::rgb_image draw_charset_on(const machine_colours& colours, const std::uint8_t* charset,
                               std::size_t tiles);

}  // namespace glyphor
