// The Windows side of file access beyond file_io.h: the system calls the
// write path makes, and the console's view of the program's arguments.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "file_io.h"

namespace glyphor {

// Every call the write path makes to the file system goes through this one
// table, which holds the system's own functions. The tests put in their place
// a model of the rules Windows documents and Wine does not keep (an open of a
// file whose deletion is pending, a path past MAX_PATH, ReplaceFileW's
// sharing), and make any call fail at a chosen moment.
struct system_calls {
    decltype(&::CreateFileW) create_file = ::CreateFileW;
    decltype(&::CloseHandle) close_handle = ::CloseHandle;
    decltype(&::WriteFile) write = ::WriteFile;
    decltype(&::FlushFileBuffers) flush = ::FlushFileBuffers;
    decltype(&::SetFileInformationByHandle) set_information = ::SetFileInformationByHandle;
    decltype(&::GetFinalPathNameByHandleW) final_path = ::GetFinalPathNameByHandleW;
    decltype(&::ReplaceFileW) replace_file = ::ReplaceFileW;
    decltype(&::MoveFileExW) move_file = ::MoveFileExW;
    decltype(&::DeleteFileW) delete_file = ::DeleteFileW;
};
extern system_calls win32;

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

}  // namespace glyphor
