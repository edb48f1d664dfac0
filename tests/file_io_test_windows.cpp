// The Windows file access, run under Wine by the windows stage in a scratch
// folder given as the argument: a replacement that fails halfway, with the
// replacing step stood in for (Wine's own never fails so), and what Wine can
// show of hidden and system files, long paths and the console.
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>

#include "file_io.h"

namespace {

using glyphor::write_outcome;

int failures = 0;

void check(bool good, const char* what, const wchar_t* detail) {
    if (good) return;
    ++failures;
    std::printf("FAILED: %s (%ls)\n", what, detail);
}

void save(const std::wstring& name, const char* text) {
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD wrote = 0;
    WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &wrote, nullptr);
    CloseHandle(file);
}

// The file's bytes, or "(none)" when there is no such file.
std::string load(const std::wstring& name) {
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(none)";
    char bytes[64] = {};
    DWORD got = 0;
    ReadFile(file, bytes, sizeof bytes, &got, nullptr);
    CloseHandle(file);
    return std::string(bytes, got);
}

bool exists(const std::wstring& name) {
    return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// What the stand-in step does before it fails with error (or, for 0, succeeds
// as ReplaceFileW does): the documented outcome of each error, and what
// Windows' own code does beyond it (Wine moves the old file aside first).
struct step_case {
    const char* name;
    DWORD error;
    bool moves_old;    // the old file is under the backup name
    bool drops_old;    // the old file is gone (as without a backup name)
    const char* kept;  // what the name holds after put_in_place
    std::optional<write_outcome> outcome;
};
const step_case* current = nullptr;

int stand_in(const wchar_t* target, const wchar_t* made, const wchar_t* backup) {
    if (current->moves_old) MoveFileExW(target, backup, 0);
    if (current->drops_old) DeleteFileW(target);
    if (current->error == 0) return MoveFileExW(made, target, 0);
    SetLastError(current->error);
    return 0;
}

void recovers_from_each_failure(const std::wstring& folder) {
    constexpr auto in_place = std::nullopt;
    constexpr step_case cases[] = {
        {"replaced", 0, true, false, "new", write_outcome::written},
        {"old file not removed", ERROR_UNABLE_TO_REMOVE_REPLACED, false, false, "old", in_place},
        {"new file not renamed", ERROR_UNABLE_TO_MOVE_REPLACEMENT, false, false, "old",
         write_outcome::write_failed},
        {"new file not renamed, old aside", ERROR_UNABLE_TO_MOVE_REPLACEMENT, true, false, "old",
         write_outcome::write_failed},
        {"new file not moved, old aside", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, true, false, "old",
         write_outcome::write_failed},
        {"new file not moved, old gone", ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, false, true, "new",
         write_outcome::written},
        {"file held elsewhere", ERROR_SHARING_VIOLATION, false, false, "old", in_place},
    };
    const std::wstring target = folder + L"\\charset.bin";
    const std::wstring made = folder + L"\\.glyphor-made";
    const std::wstring backup = made + L".old";
    for (const step_case& row : cases) {
        current = &row;
        save(target, "old");
        save(made, "new");
        const auto outcome =
            glyphor::put_in_place(target.c_str(), made.c_str(), backup.c_str(), stand_in);
        const std::wstring name(row.name, row.name + std::strlen(row.name));
        check(outcome == row.outcome, "the outcome", name.c_str());
        check(load(target) == row.kept, "what the name holds", name.c_str());
        check(!exists(made) && !exists(backup), "nothing left beside it", name.c_str());
        DeleteFileW(target.c_str());
    }
}

// A hidden or system file is written, as "wb" would refuse to, and keeps its
// attributes; a new file in a folder whose path leaves no room for a longer
// name beside it is made as "wb" makes it.
void writes_what_wb_would_not(const std::wstring& folder) {
    struct file_case {
        const wchar_t* name;
        DWORD attributes;  // 0 for a new file
    };
    // A folder of 240 characters: the new file's name fits in MAX_PATH, a
    // longer one beside it would not (on Windows: Wine sets no such limit).
    std::wstring deep = folder + L"\\";
    deep.append(240 - deep.size(), L'd');
    CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr);
    const std::wstring deep_file = deep + L"\\a.bin";
    const file_case cases[] = {
        {L"hidden.bin", FILE_ATTRIBUTE_HIDDEN},
        {L"system.bin", FILE_ATTRIBUTE_SYSTEM},
        {L"both.bin", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {deep_file.c_str(), 0},
    };
    for (const file_case& row : cases) {
        const std::wstring name = row.attributes == 0 ? row.name : folder + L"\\" + row.name;
        if (row.attributes != 0) {
            save(name, "old");
            SetFileAttributesW(name.c_str(), row.attributes);
        }
        const write_outcome outcome = glyphor::write_file(name.c_str(), "new", 3, stdout);
        check(outcome == write_outcome::written, "written", name.c_str());
        check(load(name) == "new", "the new bytes", name.c_str());
        constexpr DWORD shown = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        check((GetFileAttributesW(name.c_str()) & shown) == row.attributes, "its attributes",
              name.c_str());
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
