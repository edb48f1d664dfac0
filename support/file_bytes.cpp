#include "file_bytes.h"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>
#endif

namespace glyphor {

std::optional<std::vector<std::uint8_t>> read_file_bytes(const path_char* path, std::size_t limit) {
    const file_handle file = open_for_reading(path);
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

bool write_file_bytes(const path_char* path, const std::vector<std::uint8_t>& bytes,
                      std::FILE* console) {
    return write_file(path, bytes.data(), bytes.size(), console) == write_outcome::written;
}

#ifdef _WIN32
namespace {

// An ANSI-code-page name as the wide name it stands for; empty when it
// cannot be converted.
std::wstring widened(const char* path) {
    const int size = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (size <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), size) != size) return {};
    wide.pop_back();  // the ending zero, which the string keeps on its own
    return wide;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> read_file_bytes(const char* path, std::size_t limit) {
    const std::wstring wide = widened(path);
    if (wide.empty()) return std::nullopt;
    return read_file_bytes(wide.c_str(), limit);
}

bool write_file_bytes(const char* path, const std::vector<std::uint8_t>& bytes,
                      std::FILE* console) {
    const std::wstring wide = widened(path);
    return !wide.empty() && write_file_bytes(wide.c_str(), bytes, console);
}
#endif

}  // namespace glyphor
