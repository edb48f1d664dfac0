// Shared test helpers: scratch folders, file access, tileset fixtures and an
// independent, pixel-by-pixel model of the expected charset.
#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "bmp_writer.h"
#include "message_format.h"
#include "tileset_reader.h"

namespace glyphor::test {

// A fresh folder, removed with everything in it at the end of the test.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::vector<std::uint8_t> read_file(const std::string& path);
bool file_exists(const std::string& path);

// A 256x64 tileset of random colours; about half the pixels sit within a few
// steps of the light/dark threshold.
bmp::rgb_image random_tileset(unsigned seed);

// The first tile_count * 8 bytes of the charset for a pixel block as stored
// (49,152 bytes, blue-green-red), computed one pixel at a time.
std::vector<std::uint8_t> expected_charset(const std::uint8_t* block, bool bottom_up,
                                           int tile_count);

// The same for a BMP file's bytes, reading the pixel block from its offset.
std::vector<std::uint8_t> expected_charset(const std::vector<std::uint8_t>& bmp_file,
                                           int tile_count);

// A tileset file as a user could give it, with the counts to give with it: the
// command-line suite, the reader's tests and the web page's test
// (web/test/make_cases.cpp) are all given these.
struct tile_count_case {
    std::string text;
    int tiles;  // -1: outside 0..256
};
struct tileset_case {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::vector<tile_count_case> counts;
    load_outcome outcome = load_outcome::loaded;
    std::tuple<std::int32_t, std::uint32_t, int> found{};  // bad_geometry's width, height, bits
};
std::vector<tileset_case> tileset_cases();

// n pseudo-random bytes, the same for the same n.
std::vector<std::uint8_t> random_bytes(std::size_t n);

// What read_tileset made of a file's bytes fed to it through a pipe, which
// cannot seek, and the bytes it left unread in the pipe.
struct piped_tileset {
    tileset tiles;
    std::vector<std::uint8_t> left;
};

// Nothing when the pipe cannot hold all size bytes at once.
std::optional<piped_tileset> read_tileset_through_pipe(const std::uint8_t* bytes, std::size_t size);

struct run_result {
    int status = -1;  // the exit status, -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// How run_program sets up the program it runs.
struct run_options {
    // Caps the size of any file the program writes.
    rlim_t file_size_limit = RLIM_INFINITY;
    // With a limit, SIGXFSZ ignored makes a write past it fail with EFBIG, as
    // on a disk that fills up; not ignored, it stays as a shell's `ulimit -f`
    // leaves it, and ends the process unless the process ignores it itself.
    bool size_signal_ignored = true;
    // Standard input: these bytes through a pipe that then ends, or /dev/null.
    std::optional<std::vector<std::uint8_t>> input = std::nullopt;
    // Standard output: a pipe whose reader has already gone, so every write
    // to it fails (and raises SIGPIPE, left as a shell leaves it).
    bool output_closed = false;
    // Standard output not open at all, as a shell's `>&-` leaves it.
    bool output_shut = false;
    // Standard output: a pipe read to its end (not with input), or this file,
    // created or emptied as a shell's `>` does. Either way it is the result's out.
    bool output_piped = false;
    std::string output_file = std::string{};
    // Caps the memory the program may allocate (RLIMIT_DATA).
    rlim_t data_limit = RLIM_INFINITY;
};

// A message as the program prints it: its text from the program's own table
// (glyphor's or glyphor-preview's), with these values.
template <auto key, typename... Values>
std::string said(Values... values) {
    std::string text;
    // say_through prints a message at one call.
    auto print = [&text](const char* format, auto... printed) {
        text.resize(static_cast<std::size_t>(std::snprintf(nullptr, 0, format, printed...)));
        std::snprintf(text.data(), text.size() + 1, format, printed...);
    };
    say_through<key>(print, values...);
    return text;
}

// Runs command (its first word found on PATH) in folder and captures its output.
run_result run_program(const std::vector<std::string>& command, const std::string& folder,
                       const run_options& how = {});

}  // namespace glyphor::test
