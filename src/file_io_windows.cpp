// File access on Windows, through the system's handles. The output name is
// opened once, for writing, as "wb" opens it but without creating or cutting
// anything, so that its refusal (a read-only file, a folder, a file another
// program holds) is "wb"'s; a hidden or system file, which "wb" refuses, is
// written and stays hidden or system. The charset goes to a new file beside
// the output, its deletion asked for until it is complete and flushed (a
// failure or a crash meanwhile leaves nothing), which then takes the name: a
// new name by a rename that replaces nothing, a file there by ReplaceFileW,
// which keeps its ACL and streams and the old file under a backup name until
// then. Paths of MAX_PATH characters or more go in their \\?\ form.
#include <io.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string_view>

#include "file_io_windows.h"
#include "geometry.h"

namespace glyphor {

system_calls win32;

void report_failed_writes_instead_of_dying() {
    // Windows raises no signal for a full disk or a closed pipe: the write fails.
}

namespace {

using enum write_outcome;

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
    HANDLE get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != INVALID_HANDLE_VALUE; }
    void reset() noexcept {
        if (value_ != INVALID_HANDLE_VALUE) win32.close_handle(value_);
        value_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE value_;
};

// The texts one after the other, in a block of their own with room for
// extra characters more; null when there is no memory for it.
path_text join(std::initializer_list<std::wstring_view> texts, std::size_t extra = 0) {
    for (const std::wstring_view text : texts) extra += text.size();
    path_text joined{static_cast<wchar_t*>(std::calloc(extra + 1, sizeof(wchar_t)))};
    wchar_t* at = joined.get();
    for (const std::wstring_view text : texts) {
        if (joined) at = std::wmemcpy(at, text.data(), text.size()) + text.size();
    }
    return joined;
}

// Sends all size bytes, however many each call takes.
bool write_all(HANDLE file, const void* bytes, std::size_t size) {
    const auto* next = static_cast<const unsigned char*>(bytes);
    while (size > 0) {
        const DWORD part = size < 0x40000000U ? static_cast<DWORD>(size) : 0x40000000U;
        DWORD wrote = 0;
        if (win32.write(file, next, part, &wrote, nullptr) == 0 || wrote == 0) return false;
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
    if (disk && !cut(file)) return create_failed;
    if (write_all(file, bytes, size) && (!disk || win32.flush(file) != 0)) {
        return written;
    }
    if (disk) cut(file);
    return write_failed;
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

// The full path of path in the \\?\ form that passes MAX_PATH, as Rust's and
// Go's standard libraries give long paths (\\?\UNC\ for a share); one already
// in that form, or a device's (\\.\), as it is. Null when it cannot be had.
path_text verbatim(const wchar_t* path) {
    const DWORD size = GetFullPathNameW(path, 0, nullptr, nullptr);
    const path_text full = join({}, size);
    const DWORD length = full ? GetFullPathNameW(path, size + 1, full.get(), nullptr) : 0;
    if (length == 0 || length > size) return nullptr;
    const std::wstring_view text{full.get(), length};
    if (text.starts_with(L"\\\\?\\") || text.starts_with(L"\\\\.\\")) return join({text});
    if (text.starts_with(L"\\\\")) return join({L"\\\\?\\UNC", text.data() + 1});
    return join({L"\\\\?\\", text});
}

// The name file was opened by, in the \\?\ form: its final path through every
// link, by its drive, or its volume's GUID where it has none; where the system
// gives neither (some volumes' drivers), full, the name's own, if no link.
path_text full_path(HANDLE file, const wchar_t* full) {
    for (const DWORD flags : {DWORD{VOLUME_NAME_DOS}, DWORD{VOLUME_NAME_GUID}}) {
        const DWORD length = win32.final_path(file, nullptr, 0, flags);
        const path_text text = join({}, length);
        if (length == 0 || !text) continue;
        const DWORD got = win32.final_path(file, text.get(), length + 1, flags);
        if (got != 0 && got <= length) return join({text.get()});
    }
    const DWORD attributes = GetFileAttributesW(full);
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
               ? nullptr
               : join({full});
}

bool set_deleted_on_close(HANDLE file, bool deleted) {
    FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(deleted)};
    return win32.set_information(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Removes a file of this process's own by its name; one that stays is made
// hidden. False when it stays.
bool discard(const wchar_t* name) {
    if (win32.delete_file(name) != 0) return true;
    SetFileAttributesW(name, FILE_ATTRIBUTE_HIDDEN);
    return false;
}

// True for the errors of a name that is already taken.
bool taken(DWORD error) {
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

// True for the errors after which the file is written in place instead: a folder
// closed to new names or removals, a file held elsewhere, what a new one cannot keep.
bool in_place(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_NOT_SUPPORTED;
}

// Makes the new file beside target (a \\?\ path) with the attributes given
// (CreateFileW adds the archive one), named ".glyphor-" and 12 random letters
// and digits no other program picks nor guesses (kept in name), its deletion
// asked for at once: until it is complete, closing its handle (or the end of
// the process, however it comes) removes it. The error is in GetLastError.
handle make_new_file(std::wstring_view target, DWORD attributes, path_text& name) {
    const std::wstring_view folder{target.data(), target.rfind(L'\\') + 1};
    constexpr std::size_t letters = 12;
    name = join({folder, L".glyphor-"}, letters);
    if (!name) return handle{INVALID_HANDLE_VALUE};
    static constexpr wchar_t symbols[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned long long mix = GetCurrentProcessId() * 0x9E3779B97F4A7C15ULL ^ GetTickCount64();
    for (int draw = 0; draw < 100; ++draw) {
        for (std::size_t i = 0; i < letters; ++i) {
            LARGE_INTEGER now{};
            QueryPerformanceCounter(&now);
            mix = (mix ^ static_cast<unsigned long long>(now.QuadPart) ^ (mix >> 29U)) *
                      0xBF58476D1CE4E5B9ULL +
                  i;
            name[folder.size() + 9 + i] = symbols[(mix >> 40U) % 36];
        }
        handle file{win32.create_file(name.get(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                      attributes, nullptr)};
        if (file && set_deleted_on_close(file.get(), true)) return file;
        // One whose deletion cannot be asked for goes now, by its name: the
        // output is then written in place.
        if (file) file.reset(), discard(name.get()), SetLastError(ERROR_NOT_SUPPORTED);
        if (!taken(GetLastError())) break;
    }
    return handle{INVALID_HANDLE_VALUE};
}

// Puts made in target's place by ReplaceFileW, the old file kept as backup
// until then, and removes the backup. When ReplaceFileW fails, the old file is
// put back under its name and made is removed: nothing, for the file to be
// written in place, after the errors that call for it. Where the old file
// cannot be put back, made takes its place (written); where neither can, both
// stay (write_failed), and the backup's name goes to kept if the old file is
// there. Files that cannot be removed are made hidden.
std::optional<write_outcome> put_in_place(const wchar_t* target, const wchar_t* made,
                                          const wchar_t* backup, path_text* kept) {
    const bool replaced = win32.replace_file(target, made, backup, 0, nullptr, nullptr) != 0;
    const DWORD error = GetLastError();
    const bool back = !replaced && win32.move_file(backup, target, 0) != 0;
    if (replaced || (!back && win32.move_file(made, target, 0) != 0)) {
        discard(backup);
        return written;
    }
    // The name taken by neither (the old file still there is the name taken).
    if (!back && !taken(GetLastError())) {
        if (kept && GetFileAttributesW(backup) != INVALID_FILE_ATTRIBUTES) *kept = join({backup});
        return write_failed;
    }
    return discard(made) && in_place(error) ? std::nullopt : std::optional{write_failed};
}

// Writes the bytes to a new file beside target (a \\?\ path) with attributes
// and gives it target's name: a file there (found) by ReplaceFileW, which
// opens it unshared by its name once its handle is closed; a new name by a
// rename through its handle that replaces nothing. Nothing when the file is
// to be written in place instead, or a new name was taken meanwhile.
std::optional<write_outcome> replace(const wchar_t* target, bool found, DWORD attributes,
                                     const void* bytes, std::size_t size, path_text* kept) {
    path_text name;
    handle file = make_new_file(target, attributes, name);
    if (!file) return in_place(GetLastError()) ? std::nullopt : std::optional{create_failed};
    // The bytes reach the disk before the name does.
    const std::size_t length = std::wcslen(target);
    const std::size_t rename_size = offsetof(FILE_RENAME_INFO, FileName) + (length + 1) * 2;
    const path_text backup = join({name.get(), L".old"});
    const std::unique_ptr<FILE_RENAME_INFO, free_deleter> rename{
        static_cast<FILE_RENAME_INFO*>(std::calloc(1, rename_size))};
    if (!backup || !rename || !write_all(file.get(), bytes, size) || win32.flush(file.get()) == 0 ||
        !set_deleted_on_close(file.get(), false)) {
        return write_failed;
    }
    if (found) {
        file.reset();
        return put_in_place(target, name.get(), backup.get(), kept);
    }
    rename->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
    std::memcpy(rename->FileName, target, length * sizeof(wchar_t));
    if (win32.set_information(file.get(), FileRenameInfo, rename.get(),
                              static_cast<DWORD>(rename_size)) != 0) {
        return written;
    }
    const DWORD error = GetLastError();
    if (!set_deleted_on_close(file.get(), true)) {
        file.reset();
        discard(name.get());
    }
    return taken(error) ? std::nullopt : std::optional{write_failed};
}

// Writes through out, the handle the name (full, in its \\?\ form) was opened as.
write_outcome write_opened(HANDLE out, const wchar_t* full, const void* bytes, std::size_t size,
                           std::FILE* console, path_text* kept) {
    BY_HANDLE_FILE_INFORMATION found{};
    if (is_console_file(out, console)) return create_failed;
    if (GetFileType(out) != FILE_TYPE_DISK) return write_in_place(out, bytes, size);
    if (GetFileInformationByHandle(out, &found) == 0) return create_failed;
    // A file with other hard links would part from them if replaced. The new
    // file keeps its hidden and system attributes.
    const path_text target = found.nNumberOfLinks == 1 ? full_path(out, full) : nullptr;
    constexpr DWORD carried =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const std::optional<write_outcome> outcome =
        target ? replace(target.get(), true, found.dwFileAttributes & carried, bytes, size, kept)
               : std::nullopt;
    return outcome ? *outcome : write_in_place(out, bytes, size);
}

}  // namespace

bool can_seek(std::FILE* file) {
    return GetFileType(handle_of(file)) == FILE_TYPE_DISK;
}

write_outcome write_file(const wchar_t* path, const void* bytes, std::size_t size,
                         std::FILE* console, path_text* kept) {
    // A path of MAX_PATH characters or more is opened in its \\?\ form.
    const path_text full = verbatim(path);
    if (!full) return create_failed;
    const wchar_t* const name = std::wcslen(full.get()) >= MAX_PATH + 4 ? full.get() : path;
    constexpr DWORD shared = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const handle out{win32.create_file(name, GENERIC_WRITE, shared, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (out) return write_opened(out.get(), full.get(), bytes, size, console, kept);
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return create_failed;
    // Nothing there, as a creation removing what it makes finds (Wine shows a
    // link leading nowhere as nothing): a new file takes the name.
    handle probe{win32.create_file(full.get(), DELETE, 0, nullptr, CREATE_NEW,
                                   FILE_FLAG_DELETE_ON_CLOSE, nullptr)};
    if (!probe && !taken(GetLastError())) return create_failed;
    const bool nothing_there = static_cast<bool>(probe);
    probe.reset();
    const std::optional<write_outcome> outcome =
        nothing_there ? replace(full.get(), false, FILE_ATTRIBUTE_NORMAL, bytes, size, nullptr)
                      : std::nullopt;
    if (outcome) return *outcome;
    // A link that leads nowhere (which Wine shows as nothing), a name taken
    // meanwhile: made through it as "wb" makes it, without cutting what came
    // there since, and written as a file found there would be.
    const handle made{win32.create_file(name, GENERIC_WRITE, shared, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr)};
    return made ? write_opened(made.get(), full.get(), bytes, size, console, kept) : create_failed;
}

}  // namespace glyphor
