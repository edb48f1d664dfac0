// The platform's side of file access: how file names are spelled, opening a
// file by name, the handle that closes it, and removing what a failed write
// left behind. Plain C and system calls only: no stream or locale machinery.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <memory>

namespace glyphor {

// File names as the process receives them. On Windows they are wide-character
// strings: the narrow arguments there are in the ANSI code page, which cannot
// name every file. Everywhere else they are the plain bytes of argv.
#ifdef _WIN32
using path_char = wchar_t;
#else
using path_char = char;
#endif

// Files are closed on every path out of the function that opened them.
struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

// Opens path in binary mode: "rb" to read, "wb" to create or replace.
enum class open_mode { read, write };
inline file_handle open_file(const path_char* path, open_mode mode) {
#ifdef _WIN32
    return file_handle{_wfopen(path, mode == open_mode::read ? L"rb" : L"wb")};
#else
    return file_handle{std::fopen(path, mode == open_mode::read ? "rb" : "wb")};
#endif
}

// Writes size bytes to file and closes it; true when every byte reached the
// file. A full disk often shows only when the buffered bytes go out, so the
// flush is checked on its own: not every runtime's fclose reports a failed one.
bool write_and_close(file_handle file, const void* bytes, std::size_t size);

// Past a file-size limit (ulimit -f) the system would end the program with
// SIGXFSZ in the middle of a write: no message, and half a file left behind.
// Ignored, the write fails instead, and is reported and cleaned up like one to
// a full disk. Systems without the signal have nothing to ignore.
inline void fail_writes_past_file_size_limit() {
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

// Removes what a failed write to path left behind, but only a regular file:
// a device, a pipe or a folder named as output is never touched. When path is
// a symbolic link, the bytes went to the file it leads to: that file is
// removed and the link stays, so the next write through it recreates the file.
void remove_partial_file(const path_char* path);
#ifdef _WIN32
// The same for a narrow name, in the ANSI code page.
void remove_partial_file(const char* path);
#endif

}  // namespace glyphor
