// Every line glyphor-preview shows, one table: the program prints them, the
// tests and the test stages take them from here (scripts/messages.py reads
// it as it reads glyphor's). All go to standard error.
#pragma once

#include "message_format.h"

namespace glyphor::preview_says {

enum message {
    usage,
    read_failed,
    empty,
    too_large,
    not_whole_tiles,
    write_failed,
    shows_one_tile,
    shows_tiles,
    out_of_memory,
};

inline constexpr const char* message_text[] = {
    "usage: glyphor-preview <charset.bin> <preview.bmp>\n",
    "glyphor-preview: cannot read %s\n",
    "glyphor-preview: %s is empty; a charset holds 1 to 256 tiles of 8 bytes\n",
    ("glyphor-preview: %s is larger than 2048 bytes; a charset holds at most 256 tiles of 8 "
     "bytes\n"),
    "glyphor-preview: %s is %d bytes, not a whole number of 8-byte tiles\n",
    "glyphor-preview: cannot write %s\n",
    "glyphor-preview: %s shows the 1 tile of %s\n",
    "glyphor-preview: %s shows the %d tiles of %s\n",
    "glyphor-preview: out of memory\n",
};
static_assert(sizeof message_text / sizeof message_text[0] == out_of_memory + 1);
constexpr const char* text_of(message key) {
    return message_text[key];
}

}  // namespace glyphor::preview_says
