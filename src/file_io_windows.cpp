// File access on Windows, through the system's handles. The output name is
// opened once, for writing, as "wb" opens it but without creating or cutting
// anything, so that its refusal (a read-only file, a folder, a file another
// program holds) is "wb"'s; a hidden or system file, which "wb" refuses, is
// written and stays hidden or system. A file there is replaced by
// ReplaceFileW, which keeps its ACL and streams, the old file kept under a
// backup name until the new one has its place. The new file is made beside
// it, hidden, with its deletion asked for until it is complete: a failure or
// a crash while it is written leaves nothing. ReplaceFileW needs its deletion
// withdrawn and its handle closed, so a crash in the call itself may leave
// it, still hidden, or the old file under its backup name.
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <optional>

#include "file_io.h"

namespace glyphor {

void report_failed_writes_instead_of_dying() {
    // Windows raises no signal for a full disk or a closed pipe: the write fails.
}

namespace {

HANDLE handle_of(std::FILE* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// A handle, closed when it goes out of scope.
class handle {
public:
    explicit handle(HANDLE value) noexcept : value_{value} {}
    ~handle() { reset(); }
    handle(const handle&) = delete;
    handle& operator=(const handle&) = delete;
    handle(handle&& other) noexcept : value_{other.value_} { other.value_ = INVALID_HANDLE_VALUE; }
    handle& operator=(handle&&) = delete;
    HANDLE get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != INVALID_HANDLE_VALUE; }
    void reset() noexcept {
        if (value_ != INVALID_HANDLE_VALUE) CloseHandle(value_);
        value_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE value_;
};

struct free_deleter {
    void operator()(void* block) const noexcept { std::free(block); }
};
using wide_text = std::unique_ptr<wchar_t[], free_deleter>;

// Sends all size bytes, however many each call takes.
bool write_all(HANDLE file, const void* bytes, std::size_t size) {
    const auto* next = static_cast<const unsigned char*>(bytes);
    while (size > 0) {
        const DWORD part = size < 0x40000000U ? static_cast<DWORD>(size) : 0x40000000U;
        DWORD wrote = 0;
        if (WriteFile(file, next, part, &wrote, nullptr) == 0 || wrote == 0) return false;
        next += wrote;
        size -= wrote;
    }
    return true;
}

// Cuts a file on disk to 0 bytes through its handle.
bool cut(HANDLE file) {
    const LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0 && SetEndOfFile(file) != 0;
}

// Writes through the handle the name was opened as, as "wb" writes: a device
// or a pipe, a file with other hard links, a file a new one could not
// replace. A file on disk is cut to 0 bytes first, and again when the write fails.
write_outcome write_in_place(HANDLE file, const void* bytes, std::size_t size) {
    const bool disk = GetFileType(file) == FILE_TYPE_DISK;
    if (disk && !cut(file)) return write_outcome::create_failed;
    if (write_all(file, bytes, size) && (!disk || FlushFileBuffers(file) != 0)) {
        return write_outcome::written;
    }
    if (disk) cut(file);
    return write_outcome::write_failed;
}

// A file's identity: its volume's serial number and its number on the volume.
struct file_identity {
    unsigned long long volume = 0;
    FILE_ID_128 number{};
};

bool identify(HANDLE file, file_identity& identity) {
    FILE_ID_INFO id{};
    if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id) != 0) {
        identity = {id.VolumeSerialNumber, id.FileId};
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info{};  // file systems without 128-bit numbers
    if (GetFileInformationByHandle(file, &info) == 0) return false;
    identity.volume = info.dwVolumeSerialNumber;
    const unsigned long long number =
        (static_cast<unsigned long long>(info.nFileIndexHigh) << 32U) | info.nFileIndexLow;
    std::memcpy(identity.number.Identifier, &number, sizeof number);
    return true;
}

// True when handle is a console's: it tells its mode, or, opened only for
// writing, takes a write of no characters.
bool is_console(HANDLE handle) {
    DWORD mode = 0;
    DWORD wrote = 0;
    return GetConsoleMode(handle, &mode) != 0 ||
           WriteConsoleW(handle, L"", 0, &wrote, nullptr) != 0;
}

// True when console writes to file: the same file on disk, or a console
// while console is one (a process has one console). Wine gives the standard
// handles that a Unix parent passed on no volume (0): there the file's number
// decides alone.
bool is_console_file(HANDLE file, std::FILE* console) {
    if (console == nullptr) return false;
    const HANDLE output = handle_of(console);
    if (is_console(output)) return is_console(file);
    file_identity seen;
    file_identity found;
    return output != INVALID_HANDLE_VALUE && GetFileType(output) == FILE_TYPE_DISK &&
           identify(output, seen) && identify(file, found) &&
           std::memcmp(&seen.number, &found.number, sizeof seen.number) == 0 &&
           (seen.volume == found.volume || seen.volume == 0 || found.volume == 0);
}

// The full path of the file opened, through every link, in the \\?\ form
// that may pass MAX_PATH (the new file's name beside it is longer). Null
// when it cannot be had.
wide_text full_path(HANDLE file) {
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    const DWORD length = GetFinalPathNameByHandleW(file, nullptr, 0, flags);
    if (length == 0) return nullptr;
    wide_text text{static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)))};
    if (!text) return nullptr;
    const DWORD got = GetFinalPathNameByHandleW(file, text.get(), length + 1, flags);
    if (got == 0 || got > length) return nullptr;
    return text;
}

// ".glyphor-" and 12 random letters and digits, in the folder of target: a
// hidden name no other program picks, nor guesses in advance.
constexpr wchar_t temp_prefix[] = L".glyphor-";
constexpr std::size_t temp_letters = 12;

bool set_deleted_on_close(HANDLE file, bool deleted) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = deleted ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// Removes a file of this process's own by its name; one that stays is made
// hidden. False when it stays.
bool discard(const wchar_t* name) {
    if (DeleteFileW(name) != 0) return true;
    SetFileAttributesW(name, FILE_ATTRIBUTE_HIDDEN);
    return false;
}

// Makes the new file beside target, hidden, under a name of its own (kept in
// name), with its deletion asked for at once: until it is complete, closing
// its handle (or the end of the process, however it comes) removes it.
handle make_new_file(const wchar_t* target, wide_text& name, bool& folder_closed) {
    folder_closed = false;
    const wchar_t* const slash = std::wcsrchr(target, L'\\');
    const std::size_t folder = slash == nullptr ? 0 : static_cast<std::size_t>(slash - target) + 1;
    const std::size_t length = folder + std::wcslen(temp_prefix) + temp_letters;
    name.reset(static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t))));
    if (!name) return handle{INVALID_HANDLE_VALUE};
    std::memcpy(name.get(), target, folder * sizeof(wchar_t));
    std::memcpy(name.get() + folder, temp_prefix, std::wcslen(temp_prefix) * sizeof(wchar_t));
    static constexpr wchar_t symbols[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned long long mix = GetCurrentProcessId() * 0x9E3779B97F4A7C15ULL ^ GetTickCount64();
    for (int draw = 0; draw < 100; ++draw) {
        for (std::size_t i = 0; i < temp_letters; ++i) {
            LARGE_INTEGER now{};
            QueryPerformanceCounter(&now);
            mix = (mix ^ static_cast<unsigned long long>(now.QuadPart) ^ (mix >> 29U)) *
                      0xBF58476D1CE4E5B9ULL +
                  i;
            name[length - temp_letters + i] = symbols[(mix >> 40U) % 36];
        }
        name[length] = L'\0';
        handle file{CreateFileW(name.get(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_HIDDEN, nullptr)};
        if (file) {
            if (set_deleted_on_close(file.get(), true)) return file;
            // Its deletion cannot be asked for: it goes now, by the name
            // this process has just made for itself.
            file.reset();
            discard(name.get());
            return handle{INVALID_HANDLE_VALUE};
        }
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED) folder_closed = true;
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return handle{INVALID_HANDLE_VALUE};
}

// True for the errors of a name that is already taken.
bool taken(DWORD error) {
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

// Writes the bytes into a new file beside target and puts it in the place
// of found, the file there. Nothing when the file is to be written in place
// instead.
std::optional<write_outcome> replace(const wchar_t* target, const BY_HANDLE_FILE_INFORMATION& found,
                                     const void* bytes, std::size_t size) {
    bool folder_closed = false;
    wide_text name;
    handle file = make_new_file(target, name, folder_closed);
    if (!file) return folder_closed ? std::nullopt : std::optional{write_outcome::create_failed};
    // The bytes reach the disk before the name does.
    if (!write_all(file.get(), bytes, size) || FlushFileBuffers(file.get()) == 0) {
        return write_outcome::write_failed;
    }
    // ReplaceFileW opens the new file by its name, and unshared: its deletion
    // is withdrawn and its handle closed. It stays hidden until it has its
    // place, held by a handle that only sets its attributes and shares all.
    const handle attributes{ReOpenFile(file.get(), FILE_WRITE_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0)};
    const std::size_t length = std::wcslen(name.get());
    const wide_text backup{static_cast<wchar_t*>(std::malloc((length + 5) * sizeof(wchar_t)))};
    if (!attributes || !backup || !set_deleted_on_close(file.get(), false)) {
        return write_outcome::write_failed;
    }
    file.reset();
    std::memcpy(backup.get(), name.get(), length * sizeof(wchar_t));
    std::memcpy(backup.get() + length, L".old", 5 * sizeof(wchar_t));
    const std::optional<write_outcome> outcome =
        put_in_place(target, name.get(), backup.get(),
                     [](const wchar_t* old, const wchar_t* made, const wchar_t* kept_as) {
                         return ReplaceFileW(old, made, kept_as, 0, nullptr, nullptr);
                     });
    // The old file's attributes (ReplaceFileW keeps its ACL and streams, not
    // these); never the hidden one the new file was made with.
    FILE_BASIC_INFO basic{};
    constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    basic.FileAttributes = found.dwFileAttributes & kept;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (outcome != write_outcome::written ||
        SetFileInformationByHandle(attributes.get(), FileBasicInfo, &basic, sizeof basic) != 0) {
        return outcome;
    }
    return write_outcome::write_failed;  // the charset is in place, but hidden
}

// Writes a file just made under the name, hidden and unshared, with its
// deletion asked for until it is complete: no reader sees a part of it, and a
// failure or a crash leaves nothing. It is shown, with the archive attribute
// "wb" gives a new file, and kept, in its last two steps.
write_outcome write_new(HANDLE file, const void* bytes, std::size_t size) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    if (!set_deleted_on_close(file, true)) {
        // Its deletion cannot be asked for: it is written as "wb" writes.
        if (SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) == 0) {
            return write_outcome::create_failed;
        }
        return write_in_place(file, bytes, size);
    }
    return write_all(file, bytes, size) && FlushFileBuffers(file) != 0 &&
                   SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0 &&
                   set_deleted_on_close(file, false)
               ? write_outcome::written
               : write_outcome::write_failed;
}

// Writes through out, the handle the name was opened as.
write_outcome write_opened(HANDLE out, const void* bytes, std::size_t size, std::FILE* console) {
    BY_HANDLE_FILE_INFORMATION found{};
    if (is_console_file(out, console)) return write_outcome::create_failed;
    if (GetFileType(out) != FILE_TYPE_DISK) return write_in_place(out, bytes, size);
    if (GetFileInformationByHandle(out, &found) == 0) return write_outcome::create_failed;
    // A file with other hard links would part from them if replaced.
    const wide_text target = found.nNumberOfLinks == 1 ? full_path(out) : nullptr;
    if (target) {
        if (const std::optional<write_outcome> outcome =
                replace(target.get(), found, bytes, size)) {
            return *outcome;
        }
    }
    return write_in_place(out, bytes, size);
}

}  // namespace

std::optional<write_outcome> put_in_place(const wchar_t* target, const wchar_t* made,
                                          const wchar_t* backup, replace_step step) {
    if (step(target, made, backup) != 0) {
        discard(backup);
        return write_outcome::written;
    }
    const DWORD error = GetLastError();
    // The old file back under its name, wherever the step left it; where it
    // cannot be, the new one in its place. Where neither can, both stay.
    if (MoveFileExW(backup, target, 0) == 0) {
        if (MoveFileExW(made, target, 0) != 0) {
            discard(backup);
            return write_outcome::written;
        }
        if (!taken(GetLastError())) return write_outcome::write_failed;
    }
    if (!discard(made)) return write_outcome::write_failed;
    // What could not be kept, or a file held open elsewhere: written in place.
    if (error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_ACCESS_DENIED ||
        error == ERROR_SHARING_VIOLATION || error == ERROR_NOT_SUPPORTED) {
        return std::nullopt;
    }
    return write_outcome::write_failed;
}

bool can_seek(std::FILE* file) {
    return GetFileType(handle_of(file)) == FILE_TYPE_DISK;
}

write_outcome write_file(const wchar_t* path, const void* bytes, std::size_t size,
                         std::FILE* console) {
    constexpr DWORD shared = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const handle out{CreateFileW(path, GENERIC_WRITE, shared, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (out) return write_opened(out.get(), bytes, size, console);
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return write_outcome::create_failed;
    // Nothing there: the file is made, and nothing that came meanwhile is opened.
    const handle fresh{CreateFileW(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_HIDDEN, nullptr)};
    if (fresh) return write_new(fresh.get(), bytes, size);
    if (!taken(GetLastError())) return write_outcome::create_failed;
    // A link that leads nowhere (which Wine shows as nothing), or a name taken
    // meanwhile: the file is made through it as "wb" makes it, but without
    // cutting what may have come there since, and is written as a file found
    // there would be.
    const handle made{CreateFileW(path, GENERIC_WRITE, shared, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr)};
    return made ? write_opened(made.get(), bytes, size, console) : write_outcome::create_failed;
}

}  // namespace glyphor
