#include "file_bytes.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "file_io.h"

namespace glyphor {

std::optional<std::vector<std::uint8_t>> read_file_bytes(const char* path, std::size_t limit) {
    const file_handle file{std::fopen(path, "rb")};
    if (!file) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::uint8_t block[4096];
    std::size_t got = 0;
    while (bytes.size() < limit &&
           (got = std::fread(block, 1, std::min(sizeof block, limit - bytes.size()), file.get())) >
               0) {
        bytes.insert(bytes.end(), block, block + got);
    }
    if (std::ferror(file.get())) return std::nullopt;
    return bytes;
}

bool write_file_bytes(const char* path, const std::vector<std::uint8_t>& bytes) {
    file_handle file{std::fopen(path, "wb")};
    if (!file) return false;
    if (write_and_close(std::move(file), bytes.data(), bytes.size())) return true;
    // A partly written file is no copy of bytes.
    remove_partial_file(path);
    return false;
}

}  // namespace glyphor
