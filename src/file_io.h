// The platform's side of file access: how file names are spelled, opening a
// file by name, the handle that closes it, and writing a whole file so that a
// failed write leaves nothing of it behind. Plain C and system calls only: no
// stream or locale machinery.
#pragma once

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
    create_failed,  // the file could not be created
    write_failed,   // a write, the flush or the close failed: nothing of the bytes stays
};

// Called, when given, between a failed write and its clean-up with the name
// written to: tests use it to change what the name leads to at that moment.
using clean_up_seam = void (*)(const path_char* path);

// Creates or replaces path with size bytes, in binary mode ("wb"). When a
// write fails (a full disk, a file-size limit, a closed pipe), the clean-up
// knows the file by the handle that wrote it, never by its name alone:
// - a regular file is cut back to 0 bytes through that handle, so no partial
//   byte survives even where its name cannot be removed (a read-only folder);
//   under other hard links it stays, empty;
// - its name is then removed, but only while the name (through a symbolic
//   link: the file the link leads to) is still that same file; the link itself
//   stays. On Windows the handle that wrote the file deletes it on closing.
// A device, a pipe or a folder is never cut back or removed.
write_outcome write_file(const path_char* path, const void* bytes, std::size_t size,
                         clean_up_seam seam = nullptr);

// A file-size limit (ulimit -f) or a pipe whose reader has gone would end the
// program by a signal in the middle of a write: no message, a status that is
// neither 0 nor 1, and half a file left behind. Ignored, the write fails
// instead, and is reported and cleaned up like one to a full disk. Systems
// without the signals have nothing to ignore.
void report_failed_writes_instead_of_dying();

#ifdef _WIN32
// The wide arguments as the console prints them: narrow texts in its output
// code page (the ANSI code page without a console), a character it cannot hold
// shown as '?', never as a look-alike that names another file.
class console_arguments {
public:
    console_arguments(int argc, const wchar_t* const* argv);
    ~console_arguments();
    console_arguments(const console_arguments&) = delete;
    console_arguments& operator=(const console_arguments&) = delete;
    // One text an argument, or null when there was no memory for them.
    const char* const* texts() const { return table_; }

private:
    char* block_ = nullptr;
    char** table_ = nullptr;
};
#endif

}  // namespace glyphor
