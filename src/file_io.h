// The platform's side of file access: how file names are spelled, opening a file by name for
// reading, and writing a whole file so that it is replaced whole or not at all. Plain C and system
// calls only; file_io_posix.cpp and file_io_windows.cpp are the two sides.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

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

// Creates or replaces the file path leads to with size bytes; each side keeps this contract. The
// name is opened for writing as "wb" opens it, but without cutting it, or making it where nothing
// is: what "wb" refuses is refused (create_failed), and every later step works on that descriptor
// or handle. A device or a pipe is written through it, but not the file, pipe or terminal console
// writes to. A regular file is replaced whole by a new file, flushed and renamed over it (a new
// output is named once complete): readers and crashes see the old bytes or the new ones, and a
// failure leaves the old file. Where the new file would not be the same file, the file is written
// in place, as "wb" writes, and a failure leaves it empty. On POSIX: links, owner, mode, ACL,
// attributes, flags, an XFS project, a mount, a folder closed to new or removed names, and a full
// disk or quota whose room in place (the old file's blocks, the new one's, a full disk's free ones)
// holds the bytes. A name that turns to another file is opened again: no bytes are written that no
// name holds. Where a failed replacement leaves the name empty (Windows alone), kept gets the old
// file's backup name, for the user to rename it back.
write_outcome write_file(const path_char* path, const void* bytes, std::size_t size,
                         std::FILE* console, path_text* kept = nullptr);

// A file-size limit (ulimit -f) or a pipe whose reader has gone would end the
// program by a signal in the middle of a write: no message, a status that is
// neither 0 nor 1. Ignored, the write fails instead, and is reported like one
// to a full disk. Systems without the signals have nothing to ignore.
void report_failed_writes_instead_of_dying();

// A closed standard descriptor would be the output's number, and the output
// pass for the console: each is held by the root folder, read-only, which no
// output can be and /dev/stdin or /dev/fd/N cannot open for writing. POSIX only.
void hold_closed_standard_descriptors();

}  // namespace glyphor
