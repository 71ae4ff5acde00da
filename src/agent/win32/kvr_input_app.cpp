#include "kvr_input_app.h"

#include <commctrl.h>

#include "kvr_input_dlg.h"

namespace {

// In the session's namespace: one agent per logged-on user.
constexpr wchar_t kInstanceMutex[] = L"{C2C43697-9E8D-487A-AC49-D379A1BBF5A1}";
constexpr DWORD kMutexAllAccess = 0x1F0001;
constexpr DWORD kAllCommonControls = 0xFF;

}  // namespace

BOOL CKVRInputApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), kAllCommonControls};
    InitCommonControlsEx(&controls);

    if (kvr::UniqueHandle existing{OpenMutexW(kMutexAllAccess, FALSE, kInstanceMutex)}) return FALSE;
    singleInstance_.reset(CreateMutexW(nullptr, FALSE, kInstanceMutex));

    SetPriorityClass(GetCurrentProcess(), ABOVE_NORMAL_PRIORITY_CLASS);

    CKVRInputDlg dialog(instance_);
    dialog.DoModal();
    return FALSE;
}
