// Whole-file reads and writes for the companion tools and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

#include "file_io.h"

namespace glyphor {

// The file's bytes, or nothing when it cannot be opened or read. Reading stops
// after limit bytes, so a caller that knows the largest size it accepts asks
// for one byte more and never reads a huge file (or a device) to its end.
std::optional<std::vector<std::uint8_t>> read_file_bytes(
    const path_char* path, std::size_t limit = std::numeric_limits<std::size_t>::max());

// Creates or replaces path with bytes, as write_file writes; false when that
// fails in any way. console is where the caller's messages go (a file that
// is also the output is refused).
bool write_file_bytes(const path_char* path, const std::vector<std::uint8_t>& bytes,
                      std::FILE* console = stderr);

#ifdef _WIN32
// The same for names in the ANSI code page, as a narrow main receives them.
std::optional<std::vector<std::uint8_t>> read_file_bytes(
    const char* path, std::size_t limit = std::numeric_limits<std::size_t>::max());
bool write_file_bytes(const char* path, const std::vector<std::uint8_t>& bytes,
                      std::FILE* console = stderr);
#endif

}  // namespace glyphor
