// The Windows write path, run under Wine by the windows stage in a scratch
// folder given as the argument, its system calls (glyphor::win32) through a
// model of the rules Windows documents and Wine does not keep, each with the
// document it comes from, failing where a row asks; then the console.
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "file_io_windows.h"

namespace {
using enum glyphor::write_outcome;
int failures = 0;
void check(bool good, const char* what, const std::wstring& detail) {
    if (!good) ++failures, std::printf("FAILED: %s (%ls)\n", what, detail.c_str());
}
// Writes text as the file's bytes (for a null text, reads them): the bytes, or
// "(none)" when there is no such file.
std::string file(const std::wstring& name, const char* text = nullptr) {
    std::FILE* const file = _wfopen(name.c_str(), text ? L"wb" : L"rb");
    if (file == nullptr) return "(none)";
    char bytes[64] = {};
    const std::size_t done = text ? std::fwrite(text, 1, std::strlen(text), file)
                                  : std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    return std::string(bytes, text ? 0 : done);
}
// What a row makes fail (every move, every removal, the final path, writes
// after a first byte, a new name in the folder) or sets up (a hard link
// beside the output, the output held open without FILE_SHARE_DELETE).
// And where ReplaceFileW, failing with error, leaves the old file: aside
// under the backup name, gone from both names (here the backup's and "-gone").
constexpr unsigned moves = 1, removals = 2, final_paths = 4, writes = 8, names = 16, linked = 32,
                   held = 64, aside = 128, gone = 256;
struct row {
    const wchar_t* name;  // the output's too ('*': in a folder of 240 characters)
    DWORD attributes;     // the old file's, or 0 for a new output
    unsigned faults;
    DWORD error;  // ReplaceFileW's, or 0 for the system's own call
    glyphor::write_outcome outcome;
    const char* kept;  // what the name then holds
    int left;          // .glyphor- files left beside it
    bool same;         // the name holds the file it held before: written in place
};
const row* now = nullptr;
// The model: handles whose file's deletion is pending, files not flushed since written.
using file_id = std::pair<DWORD, unsigned long long>;
file_id id_of(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    GetFileInformationByHandle(file, &info);
    return {info.dwVolumeSerialNumber, (0ULL + info.nFileIndexHigh) << 32U | info.nFileIndexLow};
}
file_id id_of(const wchar_t* name) {
    const HANDLE file = CreateFileW(name, 0, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    const file_id id = file == INVALID_HANDLE_VALUE ? file_id{} : id_of(file);
    CloseHandle(file);
    return id;
}
std::map<HANDLE, file_id> pending;
std::set<file_id> unflushed;
int broken = 0, writes_left = 0;  // named before flushed, renamed over a file
const auto is_pending = [](file_id id) {
    return std::any_of(pending.begin(), pending.end(),
                       [&](auto& file) { return file.second == id; });
};
const auto fail = [](DWORD error) { return SetLastError(error), FALSE; };
const auto attributes_of = [](const wchar_t* name) {  // 0 for no such file
    const DWORD attributes = GetFileAttributesW(name);
    return attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
};
HANDLE WINAPI create(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                     DWORD disposition, DWORD flags, HANDLE model) {
    // Naming Files, Paths, and Namespaces, "Maximum Path Length Limitation":
    // a path of MAX_PATH characters or more needs the \\?\ prefix. CreateFileW:
    // CREATE_ALWAYS or TRUNCATE_EXISTING on a hidden or system file fails with
    // ERROR_ACCESS_DENIED unless the flags hold those attributes. File
    // Attribute Constants: a read-only file cannot be written or deleted (Wine
    // run as root lets it be). DeleteFileW: once a file's deletion is pending,
    // CreateFile fails on it with ERROR_ACCESS_DENIED.
    const DWORD found = attributes_of(name);
    const bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (std::wcsncmp(name, L"\\\\?\\", 4) != 0 &&
        GetFullPathNameW(name, 0, nullptr, nullptr) > MAX_PATH)
        return fail(ERROR_FILENAME_EXCED_RANGE), INVALID_HANDLE_VALUE;
    if ((truncates && (found & ~flags & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) ||
        ((found & FILE_ATTRIBUTE_READONLY) != 0 && (access & (GENERIC_WRITE | DELETE)) != 0) ||
        (found == 0 && disposition != OPEN_EXISTING && now->faults & names) ||
        is_pending(id_of(name)))
        return fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
    return CreateFileW(name, access, share, security, disposition, flags, model);
}
BOOL WINAPI close(HANDLE file) {
    pending.erase(file);  // FILE_DISPOSITION_INFORMATION: the file goes with it
    return CloseHandle(file);
}
BOOL WINAPI write(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD wrote, LPOVERLAPPED overlapped) {
    if ((now->faults & writes) != 0 && writes_left-- <= 0) return fail(ERROR_DISK_FULL);
    unflushed.insert(id_of(file));
    return WriteFile(file, bytes, (now->faults & writes) != 0 ? 1 : size, wrote, overlapped);
}
BOOL WINAPI flush(HANDLE file) {
    unflushed.erase(id_of(file));
    return FlushFileBuffers(file);
}
BOOL WINAPI set_information(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
    if (kind == FileRenameInfo)
        broken += static_cast<int>(unflushed.count(id_of(file))) +
                  static_cast<FILE_RENAME_INFO*>(info)->ReplaceIfExists;
    const BOOL done = SetFileInformationByHandle(file, kind, info, size);
    if (done != 0 && kind == FileDispositionInfo) pending.erase(file);
    if (done != 0 && kind == FileDispositionInfo &&
        static_cast<FILE_DISPOSITION_INFO*>(info)->DeleteFile)
        pending[file] = id_of(file);
    return done;
}
DWORD WINAPI final_path(HANDLE file, LPWSTR path, DWORD size, DWORD flags) {
    if ((now->faults & final_paths) != 0) return static_cast<DWORD>(fail(ERROR_PATH_NOT_FOUND));
    return GetFinalPathNameByHandleW(file, path, size, flags);
}
BOOL WINAPI replace_file(LPCWSTR target, LPCWSTR made, LPCWSTR backup, DWORD flags, LPVOID,
                         LPVOID) {
    // ReplaceFileW opens the replacement for data and deletion, sharing
    // nothing (Wine keeps sharing modes), and, as any open, fails on a file
    // whose deletion is pending with ERROR_ACCESS_DENIED.
    broken += unflushed.contains(id_of(made));
    if (is_pending(id_of(made)) || is_pending(id_of(target))) return fail(ERROR_ACCESS_DENIED);
    const HANDLE opened = CreateFileW(made, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return FALSE;
    CloseHandle(opened);
    if (now->error == 0) return ReplaceFileW(target, made, backup, flags, nullptr, nullptr);
    if ((now->faults & (aside | gone)) != 0)
        MoveFileExW(target, (backup + std::wstring((now->faults & gone) ? L"-gone" : L"")).c_str(),
                    0);
    return fail(now->error);
}
BOOL WINAPI move_file(LPCWSTR from, LPCWSTR to, DWORD flags) {
    return (now->faults & moves) != 0 ? fail(ERROR_ACCESS_DENIED) : MoveFileExW(from, to, flags);
}
BOOL WINAPI delete_file(LPCWSTR name) {
    // DeleteFileW: a read-only file cannot be deleted (ERROR_ACCESS_DENIED).
    if ((now->faults & removals) != 0 || (attributes_of(name) & FILE_ATTRIBUTE_READONLY) != 0)
        return fail(ERROR_ACCESS_DENIED);
    return DeleteFileW(name);
}
// The .glyphor- files in folder, removed.
int leftovers(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\.glyphor-*").c_str(), &found);
    int count = 0;
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        count += DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    FindClose(search);
    return count;
}
void writes_each_row(const std::wstring& folder) {
    constexpr DWORD plain = FILE_ATTRIBUTE_NORMAL, hidden = FILE_ATTRIBUTE_HIDDEN,
                    system = FILE_ATTRIBUTE_SYSTEM, moved = ERROR_UNABLE_TO_MOVE_REPLACEMENT,
                    moved_2 = ERROR_UNABLE_TO_MOVE_REPLACEMENT_2,
                    removed = ERROR_UNABLE_TO_REMOVE_REPLACED;
    constexpr const char *old = "old and longer", *none = "(none)";
    constexpr row rows[] = {
        {L"plain", plain, 0, 0, written, "new", 0, false},
        {L"hidden", hidden, 0, 0, written, "new", 0, false},
        {L"system", system, 0, 0, written, "new", 0, false},
        {L"hidden and system", hidden | system, 0, 0, written, "new", 0, false},
        {L"read-only", FILE_ATTRIBUTE_READONLY, 0, 0, create_failed, old, 0, true},
        {L"new", 0, 0, 0, written, "new", 0, false},
        {L"*new, no room beside it", 0, 0, 0, written, "new", 0, false},
        {L"*past MAX_PATH, a file there", plain, 0, 0, written, "new", 0, false},
        {L"*past MAX_PATH, a new file", 0, 0, 0, written, "new", 0, false},
        {L"no final path", plain, final_paths, 0, written, "new", 0, false},
        {L"hard link", plain, linked, 0, written, "new", 0, true},
        {L"hard link, a write fails", plain, linked | writes, 0, write_failed, "", 0, true},
        {L"held open", plain, held, 0, written, "new", 0, true},
        {L"folder closed to new names", plain, names, 0, written, "new", 0, true},
        {L"new, folder closed", 0, names, 0, create_failed, none, 0, true},
        {L"new, full disk", 0, writes, 0, write_failed, none, 0, true},
        {L"old not removed", plain, 0, removed, written, "new", 0, true},
        {L"access denied", plain, 0, ERROR_ACCESS_DENIED, written, "new", 0, true},
        {L"file held elsewhere", plain, 0, ERROR_SHARING_VIOLATION, written, "new", 0, true},
        {L"new not renamed", plain, 0, moved, write_failed, old, 0, true},
        {L"new not renamed, old aside", plain, aside, moved, write_failed, old, 0, true},
        {L"new not moved, old aside", plain, aside, moved_2, write_failed, old, 0, true},
        {L"new not moved, old gone", plain, gone, moved_2, written, "new", 1, false},
        {L"neither moved back", plain, moves | aside, moved_2, write_failed, none, 2, false},
        {L"new file not removed", plain, removals, removed, write_failed, old, 1, true},
    };
    // A folder of 240 characters: no room for a longer name beside a name in it.
    const std::wstring deep = folder + L"\\" + std::wstring(239 - folder.size(), L'd');
    CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr);
    for (const row& row : rows) {
        now = &row;
        writes_left = 1;
        const std::wstring in = row.name[0] == L'*' ? deep : folder, link = folder + L"\\link";
        const std::wstring name = in + L"\\" + (row.name + (in == deep ? 1 : 0));
        if (row.attributes != 0) file(name, old), SetFileAttributesW(name.c_str(), row.attributes);
        if ((row.faults & linked) != 0) CreateHardLinkW(link.c_str(), name.c_str(), nullptr);
        const HANDLE holder =
            CreateFileW(name.c_str(), GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, nullptr);
        if ((row.faults & held) == 0) CloseHandle(holder);
        const file_id before = id_of(name.c_str());
        glyphor::path_text kept;
        const auto outcome = glyphor::write_file(name.c_str(), "new", 3, stdout, &kept);
        if ((row.faults & held) != 0) CloseHandle(holder);
        // A new file keeps the old one's hidden and system attributes, and
        // has the archive one, as CreateFileW gives every file it makes.
        const DWORD attributes =
            GetFileAttributesW(name.c_str()) & (hidden | system | FILE_ATTRIBUTE_ARCHIVE);
        // An old file left aside while its name holds nothing is named, and only then.
        const bool emptied = row.attributes != 0 && std::strcmp(row.kept, none) == 0;
        const std::string aside_bytes = kept ? file(kept.get()) : none;
        check(outcome == row.outcome && file(name) == row.kept &&
                  (before == id_of(name.c_str())) == row.same &&
                  ((row.faults & linked) == 0 || file(link) == row.kept) &&
                  leftovers(in) == row.left && aside_bytes == (emptied ? old : none) &&
                  (row.same || outcome != written ||
                   attributes == ((row.attributes & (hidden | system)) | FILE_ATTRIBUTE_ARCHIVE)),
              "the outcome, the bytes, the file, its links and attributes, what is left and named",
              row.name);
        SetFileAttributesW(name.c_str(), plain);
        DeleteFileW(name.c_str());
        DeleteFileW(link.c_str());
    }
    check(broken == 0, "flushed before it has its name, which replaces nothing else", L"every row");
}

// The console's own device, by any of its names, gets no charset while standard output is
// that console; a device beside it does. Without a console (no terminal) nothing is shown.
void refuses_the_console() {
    DWORD mode = 0;
    if (GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))), &mode) == 0) {
        std::printf("no console here: the console's own device is not tried\n");
        return;
    }
    for (const wchar_t* name : {L"CON", L"CONOUT$", L"\\\\.\\CON"})
        check(glyphor::write_file(name, "new", 3, stdout) == create_failed, "the console refused",
              name);
    check(glyphor::write_file(L"NUL", "new", 3, stdout) == written, "NUL written", L"NUL");
}

}  // namespace

int wmain(int argc, wchar_t** argv);
int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return std::printf("usage: windows_file_tests SCRATCH-FOLDER\n"), 2;
    glyphor::win32 = {create,     close,        write,     flush,      set_information,
                      final_path, replace_file, move_file, delete_file};
    writes_each_row(argv[1]);
    refuses_the_console();
    std::printf("windows_file_tests: %d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
