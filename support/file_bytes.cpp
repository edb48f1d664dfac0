#include "file_bytes.h"

#include <cstdio>
#include <memory>

namespace glyphor {
namespace {

struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

}  // namespace

std::optional<std::vector<std::uint8_t>> read_file_bytes(const char* path) {
    const file_handle file{std::fopen(path, "rb")};
    if (!file) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::uint8_t block[4096];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
        bytes.insert(bytes.end(), block, block + got);
    }
    if (std::ferror(file.get())) return std::nullopt;
    return bytes;
}

bool write_file_bytes(const char* path, const std::vector<std::uint8_t>& bytes) {
    file_handle file{std::fopen(path, "wb")};
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    return std::fclose(file.release()) == 0 && written;
}

}  // namespace glyphor
