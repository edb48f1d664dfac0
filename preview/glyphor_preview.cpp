// glyphor-preview: draws a charset file as a 256x64, 24-bit BMP tileset, set
// bits white and clear bits black, tile n where glyphor reads tile n, so a
// charset can be looked at without the machine. Tiles the file does not hold
// are hatched in dark red and black.
//
//   glyphor-preview <charset.bin> <preview.bmp>
//
// Either name may be /dev/stdin or /dev/stdout, for use in a pipe; messages
// go to standard error only.
//
// Converting the picture with glyphor and the file's tile count gives the same
// charset bytes back; with the default count of 256 the hatched tiles, dark
// throughout, come out as empty tiles.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <vector>

#include "bmp_writer.h"
#include "charset_picture.h"
#include "file_bytes.h"
#include "file_io.h"
#ifdef _WIN32
#include "file_io_windows.h"
#endif
#include "geometry.h"
#include "preview_messages.h"

namespace {

// A file as the program opens it and as its messages show it.
struct named_file {
    const glyphor::path_char* path;
    const char* name;
};

namespace says = glyphor::preview_says;

// Prints a message with its values on standard error, its text from the
// program's one table; returns the failure status, for the failures' sake.
template <says::message key, typename... Values>
int say(Values... values) {
    const auto to_standard_error = [](const char* format, auto... printed) {
        std::fprintf(stderr, format, printed...);
    };
    glyphor::say_through<key>(to_standard_error, values...);
    return 1;
}

// Draws the charset file into a picture file.
int preview(named_file charset_file, named_file picture) {
    // One byte past the largest charset is enough to tell that a file is too large.
    const std::optional<std::vector<std::uint8_t>> charset =
        glyphor::read_file_bytes(charset_file.path, glyphor::charset_size + 1);
    if (!charset) return say<says::read_failed>(charset_file.name);
    if (charset->empty()) return say<says::empty>(charset_file.name);
    if (charset->size() > glyphor::charset_size) return say<says::too_large>(charset_file.name);
    // No more than 2048 bytes and 256 tiles by now: an int holds either count.
    if (charset->size() % glyphor::bytes_per_tile != 0) {
        return say<says::not_whole_tiles>(charset_file.name, static_cast<int>(charset->size()));
    }

    const std::size_t tiles = charset->size() / glyphor::bytes_per_tile;
    if (!glyphor::write_file_bytes(
            picture.path, glyphor::bmp::encode(glyphor::draw_charset(charset->data(), tiles)))) {
        return say<says::write_failed>(picture.name);
    }
    // Standard output may be the picture itself (/dev/stdout in a pipe): every
    // message goes to standard error.
    if (tiles == 1) {
        say<says::shows_one_tile>(picture.name, charset_file.name);
    } else {
        say<says::shows_tiles>(picture.name, static_cast<int>(tiles), charset_file.name);
    }
    return 0;
}

// Any allocation that fails ends the run with a message and status 1, not by
// an abort: what has not been renamed into place by then goes with the process.
template <typename Run>
int without_memory_aborts(Run run) {
    try {
        return run();
    } catch (const std::bad_alloc&) {
        return say<says::out_of_memory>();
    }
}

}  // namespace

#ifdef _WIN32
// The wide-character entry point (linked with -municode), as glyphor's: any
// file name opens, and messages show it as the console can.
int wmain(int argc, wchar_t** argv);
int wmain(int argc, wchar_t** argv) {
    glyphor::report_failed_writes_instead_of_dying();
    if (argc != 3) return say<says::usage>();
    const glyphor::console_arguments shown{argc, argv};
    if (shown.texts() == nullptr) return say<says::out_of_memory>();
    return without_memory_aborts([&] {
        return preview({argv[1], shown.texts()[1]}, {argv[2], shown.texts()[2]});
    });
}
#else
int main(int argc, char** argv) {
    glyphor::report_failed_writes_instead_of_dying();
    if (argc != 3) return say<says::usage>();
    return without_memory_aborts([&] { return preview({argv[1], argv[1]}, {argv[2], argv[2]}); });
}
#endif
