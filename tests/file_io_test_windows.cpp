// The Windows file access, run under Wine by the windows stage in a scratch
// folder given as the argument: a replacement that fails halfway, with the
// replacing step stood in for (Wine's own never fails so), and what Wine can
// show of hidden and system files, long paths and the console.
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "file_io.h"

namespace {

using glyphor::write_outcome;

int failures = 0;

void check(bool good, const char* what, const std::wstring& detail) {
    if (!good) std::printf("FAILED: %s (%ls)\n", what, detail.c_str());
    failures += good ? 0 : 1;
}

// Writes text as the file's bytes (for a null text, reads them): the bytes, or
// "(none)" when there is no such file.
std::string file(const std::wstring& name, const char* text = nullptr) {
    const HANDLE file =
        CreateFileW(name.c_str(), text ? GENERIC_WRITE : GENERIC_READ, 0, nullptr,
                    text ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(none)";
    char bytes[64] = {};
    DWORD done = 0;
    if (text)
        WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &done, nullptr);
    else
        ReadFile(file, bytes, sizeof bytes, &done, nullptr);
    CloseHandle(file);
    return std::string(bytes, text ? 0 : done);
}

bool exists(const std::wstring& name) {
    return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// What the stand-in step does before it fails with error (or, for 0, succeeds
// as ReplaceFileW does): the documented outcome of each error, and what
// Windows' own code does beyond it (Wine moves the old file aside first).
enum old_file { stays, aside, gone };  // aside: under the backup name
struct step_case {
    const wchar_t* name;
    DWORD error;
    old_file old;
    const char* kept;  // what the name holds after put_in_place
    std::optional<write_outcome> outcome;
};
const step_case* current = nullptr;

int stand_in(const wchar_t* target, const wchar_t* made, const wchar_t* backup) {
    if (current->old == aside) MoveFileExW(target, backup, 0);
    if (current->old == gone) DeleteFileW(target);
    if (current->error == 0) return MoveFileExW(made, target, 0);
    SetLastError(current->error);
    return 0;
}

void recovers_from_each_failure(const std::wstring& folder) {
    constexpr std::optional<write_outcome> in_place, written = write_outcome::written,
                                                     failed = write_outcome::write_failed;
    constexpr step_case cases[] = {
        {L"replaced", 0, aside, "new", written},
        {L"old not removed", ERROR_UNABLE_TO_REMOVE_REPLACED, stays, "old", in_place},
        {L"new not renamed", ERROR_UNABLE_TO_MOVE_REPLACEMENT, stays, "old", failed},
        {L"new not renamed, old aside", ERROR_UNABLE_TO_MOVE_REPLACEMENT, aside, "old", failed},
        {L"new not moved, old aside", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, aside, "old", failed},
        {L"new not moved, old gone", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, gone, "new", written},
        {L"file held elsewhere", ERROR_SHARING_VIOLATION, stays, "old", in_place},
    };
    const std::wstring target = folder + L"\\charset.bin", made = folder + L"\\.glyphor-made";
    const std::wstring backup = made + L".old";
    for (const step_case& row : cases) {
        current = &row;
        file(target, "old");
        file(made, "new");
        check(glyphor::put_in_place(target.c_str(), made.c_str(), backup.c_str(), stand_in) ==
                  row.outcome,
              "the outcome", row.name);
        check(file(target) == row.kept, "what the name holds", row.name);
        check(!exists(made) && !exists(backup), "nothing left beside it", row.name);
        DeleteFileW(target.c_str());
    }
}

// A hidden or system file is written, as "wb" would refuse to, and keeps its
// attributes; a new file in a folder whose path leaves no room for a longer
// name beside it is made as "wb" makes it.
void writes_what_wb_would_not(const std::wstring& folder) {
    // A folder of 240 characters: the new file's name fits in MAX_PATH, a
    // longer one beside it would not (on Windows: Wine sets no such limit).
    std::wstring deep = folder + L"\\";
    deep.append(240 - deep.size(), L'd');
    CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr);
    constexpr DWORD hidden = FILE_ATTRIBUTE_HIDDEN, system = FILE_ATTRIBUTE_SYSTEM;
    const std::pair<std::wstring, DWORD> cases[] = {// the attributes, 0 for a new file
                                                    {folder + L"\\hidden.bin", hidden},
                                                    {folder + L"\\system.bin", system},
                                                    {folder + L"\\both.bin", hidden | system},
                                                    {deep + L"\\a.bin", 0}};
    for (const auto& [name, attributes] : cases) {
        if (attributes != 0) {
            file(name, "old");
            SetFileAttributesW(name.c_str(), attributes);
        }
        check(glyphor::write_file(name.c_str(), "new", 3, stdout) == write_outcome::written &&
                  file(name) == "new",
              "written, the new bytes", name);
        check((GetFileAttributesW(name.c_str()) & (hidden | system)) == attributes,
              "its attributes", name);
    }
}

// The console's own device, by any of its names, gets no charset while
// standard output is that console; a device beside it does. Where Wine gives
// the program no console (no terminal), there is nothing to show.
void refuses_the_console() {
    DWORD mode = 0;
    if (GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))), &mode) == 0) {
        std::printf("no console here: the console's own device is not tried\n");
        return;
    }
    for (const wchar_t* name : {L"CON", L"CONOUT$", L"\\\\.\\CON"}) {
        check(glyphor::write_file(name, "new", 3, stdout) == write_outcome::create_failed,
              "the console refused", name);
    }
    check(glyphor::write_file(L"NUL", "new", 3, stdout) == write_outcome::written, "NUL written",
          L"NUL");
}

}  // namespace

int wmain(int argc, wchar_t** argv);
int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::printf("usage: windows_file_tests SCRATCH-FOLDER\n");
        return 2;
    }
    recovers_from_each_failure(argv[1]);
    writes_what_wb_would_not(argv[1]);
    refuses_the_console();
    std::printf("windows_file_tests: %d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
