// KVRInput.exe: the input toggle agent. A GUI program with no window on screen, no console
// and no log; it shares only the registry value AABB with the service.
#include <windows.h>

#include "kvr_input_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    CKVRInputApp app(instance);
    app.InitInstance();
    return 0;
}
