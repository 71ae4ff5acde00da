// Sets a named event as any other program may: open it by name for setting, set it.
// Prints the Windows error and returns 1 when either step fails.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: set-named-event <name>\n");
        return 2;
    }
    HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
    if (event == nullptr || !::SetEvent(event)) {
        std::printf("0x%08lx\n", ::GetLastError());
        if (event != nullptr) ::CloseHandle(event);
        return 1;
    }
    ::CloseHandle(event);
    return 0;
}
