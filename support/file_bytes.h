// Whole-file reads and writes for the companion tools and the tests.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace glyphor {

// The file's bytes, or nothing when it cannot be opened or read.
std::optional<std::vector<std::uint8_t>> read_file_bytes(const char* path);

// Creates or replaces path with bytes; false when that fails in any way.
bool write_file_bytes(const char* path, const std::vector<std::uint8_t>& bytes);

}  // namespace glyphor
