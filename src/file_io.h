// The platform's side of file access: how file names are spelled, opening a
// file by name for reading, and writing a whole file so that it is replaced
// whole or not at all. Plain C and system calls only: no stream or locale
// machinery. file_io_posix.cpp and file_io_windows.cpp are the two sides.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>

#include "geometry.h"

namespace glyphor {

// File names as the process receives them. On Windows they are wide-character
// strings: the narrow arguments there are in the ANSI code page, which cannot
// name every file. Everywhere else they are the plain bytes of argv.
#ifdef _WIN32
using path_char = wchar_t;
#else
using path_char = char;
#endif
// A file name in a block of its own, freed with it.
using path_text = std::unique_ptr<path_char[], free_deleter>;

// Files are closed on every path out of the function that opened them.
struct file_closer {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

// Opens path for reading in binary mode ("rb").
inline file_handle open_for_reading(const path_char* path) {
#ifdef _WIN32
    return file_handle{_wfopen(path, L"rb")};
#else
    return file_handle{std::fopen(path, "rb")};
#endif
}

// True when the stream is a file that can seek (a file on disk), false for a
// pipe, a terminal or another device. Decided from what the descriptor is, so
// the stream itself is not touched yet and may still be given a buffer mode.
bool can_seek(std::FILE* file);

enum class write_outcome {
    written,
    create_failed,  // nothing was written: the file could not be made
    write_failed,   // a write, the flush or the close failed; see write_file for what stays
};

// Creates or replaces the file path leads to with size bytes. The name is
// opened for writing once, as "wb" opens it but without creating or cutting
// anything: what "wb" refuses is refused (create_failed), and every later step
// works on that descriptor or handle. A device or a pipe is written through
// it, but not the file or pipe console writes to: the text would be mixed in.
// A regular file is replaced whole by a new file, flushed to the disk and
// renamed over it, so that readers and crashes see the old bytes or the new
// ones; a failure leaves the old file as it was. Where the new file would not
// be the same file (links, owner, ACL, attributes, flags, a mount, a folder
// closed to new names or to removing them), the file is written in place
// through the descriptor, as "wb" writes, and a failure leaves it empty.
// On Windows alone a failed replacement can leave the name holding nothing
// and the old file under a backup name beside it: that name is then put in
// kept (where kept is not null), for the user to rename the file back.
write_outcome write_file(const path_char* path, const void* bytes, std::size_t size,
                         std::FILE* console, path_text* kept = nullptr);

// A file-size limit (ulimit -f) or a pipe whose reader has gone would end the
// program by a signal in the middle of a write: no message, a status that is
// neither 0 nor 1. Ignored, the write fails instead, and is reported like one
// to a full disk. Systems without the signals have nothing to ignore.
void report_failed_writes_instead_of_dying();

}  // namespace glyphor
