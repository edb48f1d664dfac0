#include "file_io.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#endif

namespace glyphor {

bool write_and_close(file_handle file, const void* bytes, std::size_t size) {
    const bool all_written = std::fwrite(bytes, 1, size, file.get()) == size;
    const bool flushed = std::fflush(file.get()) == 0;
    const bool closed = std::fclose(file.release()) == 0;
    return all_written && flushed && closed;
}

#ifdef _WIN32
namespace {

// Owns a handle from CreateFile and closes it.
class win32_file {
public:
    explicit win32_file(HANDLE handle) : handle_(handle) {}
    ~win32_file() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    win32_file(const win32_file&) = delete;
    win32_file& operator=(const win32_file&) = delete;

    // Marks the file for removal when it is a regular file on disk; it goes
    // when the handle closes. Opened through a symbolic link, the handle is
    // the file the link leads to, so that file goes and the link stays.
    void remove_if_regular() const {
        if (handle_ == INVALID_HANDLE_VALUE || GetFileType(handle_) != FILE_TYPE_DISK) return;
        BY_HANDLE_FILE_INFORMATION information{};
        if (GetFileInformationByHandle(handle_, &information) == 0 ||
            (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return;
        }
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        SetFileInformationByHandle(handle_, FileDispositionInfo, &disposition, sizeof disposition);
    }

private:
    HANDLE handle_;
};

// Opening for removal follows links (no FILE_FLAG_OPEN_REPARSE_POINT) and
// fails on folders (no FILE_FLAG_BACKUP_SEMANTICS).
constexpr DWORD removal_access = DELETE | FILE_READ_ATTRIBUTES;
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

void remove_partial_file(const wchar_t* path) {
    const win32_file file{CreateFileW(path, removal_access, share_all, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)};
    file.remove_if_regular();
}

void remove_partial_file(const char* path) {
    const win32_file file{CreateFileA(path, removal_access, share_all, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)};
    file.remove_if_regular();
}

#else

void remove_partial_file(const char* path) {
    struct stat named {};
    struct stat entry {};
    // stat follows links, lstat does not: a regular file at the end of the
    // path, named directly or through links.
    if (stat(path, &named) != 0 || !S_ISREG(named.st_mode) || lstat(path, &entry) != 0) return;
    if (!S_ISLNK(entry.st_mode)) {
        unlink(path);
        return;
    }
    // The file the links lead to, removed only if it is still the one stat saw.
    char target[PATH_MAX];
    struct stat found {};
    if (realpath(path, target) != nullptr && lstat(target, &found) == 0 && S_ISREG(found.st_mode) &&
        found.st_dev == named.st_dev && found.st_ino == named.st_ino) {
        unlink(target);
    }
}

#endif

}  // namespace glyphor
