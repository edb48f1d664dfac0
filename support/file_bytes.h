// Whole-file reads and writes for the companion tools and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace glyphor {

// The file's bytes, or nothing when it cannot be opened or read. Reading stops
// after limit bytes, so a caller that knows the largest size it accepts asks
// for one byte more and never reads a huge file (or a device) to its end.
std::optional<std::vector<std::uint8_t>> read_file_bytes(
    const char* path, std::size_t limit = std::numeric_limits<std::size_t>::max());

// Creates or replaces path with bytes; false when that fails in any way, and
// then the partly written file goes as remove_partial_file removes it.
bool write_file_bytes(const char* path, const std::vector<std::uint8_t>& bytes);

}  // namespace glyphor
