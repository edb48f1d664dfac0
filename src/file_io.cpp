#include "file_io.h"

#include <climits>
#include <csignal>
#include <cstdlib>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace glyphor {

void report_failed_writes_instead_of_dying() {
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

namespace {

// Sends size bytes to file with nothing held back in a buffer: whatever is not
// written when fwrite returns is never written later, by a flush or a close
// that comes after the clean-up. The flush is checked all the same: not every
// runtime's fwrite reports a failure of its own.
bool write_unbuffered(std::FILE* file, const void* bytes, std::size_t size) {
    std::setvbuf(file, nullptr, _IONBF, 0);
    return std::fwrite(bytes, 1, size, file) == size && std::fflush(file) == 0;
}

}  // namespace

#ifdef _WIN32

namespace {

HANDLE handle_of(std::FILE* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// What fopen(path, "wb") opens, with the right to delete the file through the
// same handle when asked for.
HANDLE create_for_writing(const wchar_t* path, DWORD extra_access) {
    return CreateFileW(path, GENERIC_WRITE | extra_access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A "wb" stream over handle; closing the stream closes the handle.
file_handle stream_over(HANDLE handle) {
    const int descriptor =
        _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (descriptor == -1) {
        CloseHandle(handle);
        return nullptr;
    }
    file_handle file{_fdopen(descriptor, "wb")};
    if (!file) _close(descriptor);
    return file;
}

// Writes argument as the console shows it into text (size bytes, 0 to only
// measure) and returns the bytes it takes, its ending zero included, or 0 when
// it cannot be converted. WC_NO_BEST_FIT_CHARS keeps '?' for what the code
// page cannot hold.
int console_text(const wchar_t* argument, unsigned code_page, char* text, int size) {
    const int bytes = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, argument, -1, text, size,
                                          nullptr, nullptr);
    if (bytes != 0 || GetLastError() != ERROR_INVALID_FLAGS) return bytes;
    // UTF-8 and a few other code pages accept no flags.
    return WideCharToMultiByte(code_page, 0, argument, -1, text, size, nullptr, nullptr);
}

}  // namespace

bool can_seek(std::FILE* file) {
    return GetFileType(handle_of(file)) == FILE_TYPE_DISK;
}

write_outcome write_file(const wchar_t* path, const void* bytes, std::size_t size,
                         clean_up_seam seam) {
    // The handle that writes the file may also delete it, so a failed write is
    // cleaned up through it and the name is never looked up again. A file that
    // may be written but not deleted (another program has it open without
    // sharing deletion) is still written, as fopen would; a failed write then
    // leaves it empty.
    HANDLE handle = create_for_writing(path, DELETE);
    if (handle == INVALID_HANDLE_VALUE) handle = create_for_writing(path, 0);
    if (handle == INVALID_HANDLE_VALUE) return write_outcome::create_failed;
    file_handle file = stream_over(handle);
    if (!file) return write_outcome::create_failed;
    if (write_unbuffered(file.get(), bytes, size)) {
        return std::fclose(file.release()) == 0 ? write_outcome::written
                                                : write_outcome::write_failed;
    }
    if (seam != nullptr) seam(path);
    if (GetFileType(handle) == FILE_TYPE_DISK) {
        const LARGE_INTEGER start{};
        if (SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) != 0) SetEndOfFile(handle);
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        // Through a symbolic link the handle is the file the link leads to:
        // that file goes when the handle closes, and the link stays.
        SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    }
    return write_outcome::write_failed;
}

console_arguments::console_arguments(int argc, const wchar_t* const* argv) {
    const unsigned code_page = GetConsoleOutputCP();  // 0, the ANSI code page, without a console
    const std::size_t count = argc > 0 ? static_cast<std::size_t>(argc) : 0;
    std::size_t total = 1;  // a spare byte: never a request for nothing
    for (std::size_t i = 0; i < count; ++i) {
        const int bytes = console_text(argv[i], code_page, nullptr, 0);
        total += bytes > 0 ? static_cast<std::size_t>(bytes) : 1;
    }
    block_ = static_cast<char*>(std::malloc(total));
    table_ = static_cast<char**>(std::calloc(count + 1, sizeof(char*)));
    if (block_ == nullptr || table_ == nullptr) {
        std::free(table_);
        table_ = nullptr;
        return;
    }
    char* text = block_;
    std::size_t room = total;
    for (std::size_t i = 0; i < count; ++i) {
        const int size = room < INT_MAX ? static_cast<int>(room) : INT_MAX;
        const int bytes = console_text(argv[i], code_page, text, size);
        if (bytes <= 0) *text = '\0';  // nothing to show rather than a broken text
        const std::size_t used = bytes > 0 ? static_cast<std::size_t>(bytes) : 1;
        table_[i] = text;
        text += used;
        room -= used;
    }
}

console_arguments::~console_arguments() {
    std::free(table_);
    std::free(block_);
}

#else

namespace {

bool same_file(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Removes the name that path leads to now, through any symbolic links, when
// that name is still the written file; the links stay. A name that leads
// elsewhere by now (re-pointed or replaced since the write) is left alone.
void remove_name_of(const char* path, const struct stat& written) {
    char target[PATH_MAX];
    struct stat found {};
    if (realpath(path, target) != nullptr && lstat(target, &found) == 0 &&
        same_file(found, written)) {
        unlink(target);
    }
}

}  // namespace

bool can_seek(std::FILE* file) {
    struct stat found {};
    return fstat(fileno(file), &found) == 0 && (S_ISREG(found.st_mode) || S_ISBLK(found.st_mode));
}

write_outcome write_file(const char* path, const void* bytes, std::size_t size,
                         clean_up_seam seam) {
    file_handle file{std::fopen(path, "wb")};
    if (!file) return write_outcome::create_failed;
    // The written file's identity, from its handle: whatever its name leads
    // to later, this is the file the bytes went to.
    struct stat written {};
    const bool regular = fstat(fileno(file.get()), &written) == 0 && S_ISREG(written.st_mode);
    const bool sent = write_unbuffered(file.get(), bytes, size);
    if (sent && std::fclose(file.release()) == 0) return write_outcome::written;
    if (seam != nullptr) seam(path);
    if (!regular) return write_outcome::write_failed;
    if (!sent) {
        // Cut back through the handle, while it is open, before the name goes
        // (a close that failed took the handle with it). A file that cannot be
        // cut back still loses its name.
        const int cut = ftruncate(fileno(file.get()), 0);
        static_cast<void>(cut);
        file.reset();
    }
    remove_name_of(path, written);
    return write_outcome::write_failed;
}

#endif

}  // namespace glyphor
