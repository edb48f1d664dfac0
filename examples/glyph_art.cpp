#include "glyph_art.h"

#include <cstdio>
#include <cstdlib>

#include "file_io.h"

namespace glyphor::sample {
namespace {

std::vector<glyph> failed(std::string& error, const char* path, int line, const char* what) {
    error = std::string{path} + ":" + std::to_string(line) + ": " + what;
    return {};
}

}  // namespace

std::vector<glyph> read_glyph_art(const char* path, std::string& error) {
    error.clear();
    const file_handle file{std::fopen(path, "r")};
    if (!file) return failed(error, path, 0, "cannot open");
    std::vector<glyph> glyphs(glyph_tiles);
    char text[256];
    int line = 0;
    int current = -1;
    int rows_read = tile_side;
    while (std::fgets(text, sizeof text, file.get()) != nullptr) {
        ++line;
        std::string row{text};
        while (!row.empty() && (row.back() == '\n' || row.back() == '\r')) row.pop_back();
        if (row.empty() || row[0] == ';') continue;
        if (row.rfind("tile ", 0) == 0) {
            if (rows_read != tile_side) return failed(error, path, line, "previous tile is short");
            char* end = nullptr;
            const long number = std::strtol(row.c_str() + 5, &end, 10);
            if (end == row.c_str() + 5 || number < 0 || number >= glyph_tiles) {
                return failed(error, path, line, "tile number must be 0..127");
            }
            current = static_cast<int>(number);
            glyph& drawn = glyphs[static_cast<std::size_t>(current)];
            if (drawn.present) return failed(error, path, line, "tile drawn twice");
            drawn.present = true;
            rows_read = 0;
            continue;
        }
        if (current < 0 || rows_read == tile_side) {
            return failed(error, path, line, "pixel row outside a tile");
        }
        if (row.size() != tile_side || row.find_first_not_of("#.") != std::string::npos) {
            return failed(error, path, line, "a pixel row is 8 characters of # and .");
        }
        unsigned bits = 0;
        for (const char pixel : row) bits = (bits << 1U) | (pixel == '#' ? 1U : 0U);
        glyphs[static_cast<std::size_t>(current)].rows[rows_read++] =
            static_cast<std::uint8_t>(bits);
    }
    if (rows_read != tile_side) return failed(error, path, line, "last tile is short");
    return glyphs;
}

}  // namespace glyphor::sample
