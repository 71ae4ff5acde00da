// TavoTouchpadService.exe
#include "platform/win32/win32_platform.h"
#include "service/entry.h"

int wmain(int argc, wchar_t** argv) {
    win32::InstallPlatform();
    return tavo::ServiceEntry(argc, argv);
}
