// Process and time facet: the module path, the current directory, sleeping and process exit.
#pragma once

#include "platform/platform.h"

namespace win {

class System {
public:
    virtual ~System() = default;
    // GetModuleFileNameW(no module): copies at most size characters including the
    // terminator. A path that does not fit is truncated and reported as
    // ERROR_INSUFFICIENT_BUFFER with *length = size, as Windows does.
    virtual DWORD GetModuleFileNameW(wchar_t* buffer, DWORD size, DWORD* length) = 0;
    // GetCurrentDirectoryW(size, buffer): *length is the path's length without the
    // terminator. A path that does not fit leaves the buffer untouched and gives
    // ERROR_INSUFFICIENT_BUFFER with *length = the size needed, terminator included.
    virtual DWORD GetCurrentDirectoryW(DWORD size, wchar_t* buffer, DWORD* length) = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
    // Ends the process with the exit status, as the C runtime's exit() does.
    [[noreturn]] virtual void ExitProcess(DWORD code) = 0;
    // OutputDebugStringW: a line for an attached debugger; never fails.
    virtual void OutputDebugStringW(const wchar_t* text) = 0;
};

inline System& Sys() { return *P().system; }

}  // namespace win
