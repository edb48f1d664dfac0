// What a coder reads about a charset, worded once for the web page and any
// other program: the charset as assembler source, one tile's bytes, and what a
// load address means to the C64's and the VIC-20's video chips. Each writes
// into a caller's buffer, NUL-ended, cut short where the buffer ends.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace glyphor {

// Text added to a buffer of room bytes as printf prints it.
struct text_out {
    char* at;
    std::size_t room;
    std::size_t size = 0;
    template <typename... Values>
    void add(const char* format, Values... values) {
        if (size + 1 >= room) return;
        const int written = std::snprintf(at + size, room - size, format, values...);
        if (written > 0) size += std::min(static_cast<std::size_t>(written), room - size - 1);
    }
};

// The character the machines' ROM shows for screen code tile (0-63), in
// UTF-8 ("space" for 32); null for any other tile.
const char* screen_code_name(int tile);

enum class dialect { acme, tass64, ca65, kick };

// A file of tiles first .. first + count - 1 of a charset, after a 2-byte
// load address when origin is 0 or more.
struct charset_slice {
    int first = 0;
    int count = 0;
    long origin = -1;
};

// The slice's tiles of charset as source for the dialect: one line of 8
// bytes a tile, with a comment naming the tile, after an origin line when the
// slice has a load address.
void write_source(text_out& out, dialect language, const std::uint8_t* charset,
                  const charset_slice& file);

// Tile number tile of a charset of tiles tiles: a line naming it, a line with
// its offset in the file and its address there (or that the file lacks it),
// then its 8 bytes (if the charset holds it) in hex and in binary, a row a line.
void describe_tile(text_out& out, const std::uint8_t* charset, int tiles, int tile,
                   const charset_slice& file);

// What a video chip makes of size bytes (tiles first on) loaded at address:
// the values for the C64's $D018 and $DD00, or the VIC-20's $9005, with a
// warning line for each reason the chip would not show them as they are.
void explain_address(text_out& out, unsigned address, unsigned size, int first, bool vic20);

// The file the page's fields ask for from a charset of tiles tiles: the
// first tile (empty for 0) and the load address (empty for none; $2000,
// 0x2000 or 8192, within $0000-$FFFF with the whole slice). A field refused
// leaves its reason in its text; the slice then starts at tile 0, or has no
// origin.
struct file_fields {
    charset_slice file;
    char first_refused[1024] = {};
    char address_refused[1024] = {};
};
file_fields read_file_fields(const char* first_field, const char* address_field, int tiles);

// The line saying what the page offers under name: its size and the addresses
// and tiles it covers, or that nothing is offered and why (made: whether a
// charset was made from the tileset). True when a file is offered.
bool write_offer(text_out& out, const char* name, const file_fields& fields, bool made);

}  // namespace glyphor
