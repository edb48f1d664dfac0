// glyphor: converts a 256x64, 24-bit BMP tileset into a raw Commodore
// 64 / VIC-20 charset. The driver owns every line the user sees, runs the
// reader, the packer and the writer in turn, and decides the exit status.

#include <cstdio>
#include <optional>

#include "charset_writer.h"
#include "driver.h"
#include "file_io.h"
#ifdef _WIN32
#include "file_io_windows.h"
#endif
#include "geometry.h"
#include "messages.h"
#include "tile_count.h"
#include "tileset_reader.h"

namespace glyphor {
namespace {

// Prints a message with its values, its text from the one table.
template <message key, typename... Values>
void say(Values... values) {
    say_through<key>(std::printf, values...);
}

void print_banner() {
    std::printf("%s", banner);
}

// Names the file a failed write left the old charset in, as the console
// shows the arguments.
#ifdef _WIN32
void say_kept(const wchar_t* name) {
    const console_arguments shown{1, &name};
    if (shown.texts() == nullptr) return say<out_of_memory>();
    say<old_kept>(shown.texts()[0]);
}
#else
void say_kept(const char* name) {
    say<old_kept>(name);
}
#endif

}  // namespace

// On Windows the two argument tables differ in type; elsewhere they are one table.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters)
int run(int argc, const path_char* const* args, const char* const* shown) {
    print_banner();
    if (argc < 3 || argc > 4) {
        // A start-up may pass no argument 0 at all.
        const char* program = argc > 0 && shown[0] != nullptr ? shown[0] : "glyphor";
        say<usage_1>(program);
        say<usage_2>(program);
        say<usage_3>(program);
        return 1;
    }

    int tile_count = max_tiles;
    if (argc == 4) {
        const std::optional<int> count = read_tile_count(args[3]);
        if (!count) {
            say<count_range>();
            return 1;
        }
        tile_count = *count;
    }
    const char* const input_path = shown[1];
    const char* const output_path = shown[2];

    tileset tiles = load_tileset(args[1]);
    if (say_load_failure(std::printf, tiles, input_path)) return 1;

    charset_buffer charset = pack_charset(tiles.pixels.get(), tiles.order, tile_count);
    tiles.pixels.reset();
    if (!charset) {
        say<out_of_memory>();
        return 1;
    }

    // A count of 0 converts but leaves the output path untouched.
    if (tile_count > 0) {
        path_text kept;
        switch (write_charset(args[2], charset.get(), tile_count, &kept)) {
            case write_outcome::written:
                break;
            case write_outcome::create_failed:
                say<create_failed>(output_path);
                return 1;
            case write_outcome::write_failed:
                say<write_failed>(output_path);
                if (kept) say_kept(kept.get());
                return 1;
        }
    }
    charset.reset();

    say<success_1>(output_path, tile_count, tile_count * static_cast<int>(bytes_per_tile));
    say<success_2>();
    return 0;
}

}  // namespace glyphor

#ifndef GLYPHOR_NO_MAIN
#ifdef _WIN32
// The wide-character entry point (linked with -municode): the wide arguments
// name the files and give the count; their console text is what the
// messages print.
int wmain(int argc, wchar_t** argv);
int wmain(int argc, wchar_t** argv) {
    glyphor::report_failed_writes_instead_of_dying();
    const glyphor::console_arguments shown{argc, argv};
    if (shown.texts() == nullptr) {
        glyphor::print_banner();
        glyphor::say<glyphor::out_of_memory>();
        return 1;
    }
    return glyphor::run(argc, argv, shown.texts());
}
#else
int main(int argc, char** argv) {
    glyphor::hold_closed_standard_descriptors();
    glyphor::report_failed_writes_instead_of_dying();
    return glyphor::run(argc, argv);
}
#endif
#endif
