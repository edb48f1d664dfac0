// Reads the one shape of BMP file the tool accepts: 256x64 pixels, 24 bits,
// plain rows. Never prints; the caller turns the outcome into a message.
#pragma once

#include <cstdint>
#include <cstdio>

#include "file_io.h"
#include "geometry.h"

namespace glyphor {

enum class load_outcome {
    loaded,
    open_failed,    // cannot be opened or read at all
    not_bmp,        // no "BM" signature, or the file ends before the headers or pixels do
    bad_geometry,   // not 256x64 at 24 bits; width/height/bits say what was found
    out_of_memory,  // the pixel block could not be allocated
};

struct tileset {
    load_outcome outcome = load_outcome::open_failed;
    pixel_block pixels;  // set only when loaded
    row_order order = row_order::bottom_up;
    // As found in the header (valid from bad_geometry on).
    std::int32_t width = 0;
    std::uint32_t height = 0;  // absolute value of the stored height; 2^31 fits
    std::uint16_t bits_per_pixel = 0;
};

// Opens path in binary mode, reads it and closes it again.
tileset load_tileset(const path_char* path);

// Reads a tileset from a stream positioned at the start of the file. The
// stream stays open. A stream that cannot seek (a pipe) gives what a file of
// the same bytes gives; it is read no further than the end of the pixel block.
tileset read_tileset(std::FILE* file);

}  // namespace glyphor
