#include "kvr_input_app.h"

#include <commctrl.h>

#include "kvr_input_dlg.h"

namespace {

// In the session's namespace: one agent per logged-on user.
constexpr wchar_t kInstanceMutex[] = L"{C2C43697-9E8D-487A-AC49-D379A1BBF5A1}";
constexpr DWORD kMutexAllAccess = 0x1F0001;
constexpr DWORD kAllCommonControls = 0xFF;

}  // namespace

bool CKVRInputApp::SessionMutex::Open() {
    return static_cast<bool>(kvr::UniqueHandle{OpenMutexW(kMutexAllAccess, FALSE, kInstanceMutex)});
}

kvr::InstanceMutex::Created CKVRInputApp::SessionMutex::Create() {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutex);
    const DWORD error = GetLastError();  // read before anything else can change it
    held_.reset(mutex);
    if (!mutex) return Created::Failed;
    return error == ERROR_ALREADY_EXISTS ? Created::AlreadyExists : Created::New;
}

BOOL CKVRInputApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), kAllCommonControls};
    InitCommonControlsEx(&controls);

    if (!kvr::ClaimSession(singleInstance_)) return FALSE;

    SetPriorityClass(GetCurrentProcess(), ABOVE_NORMAL_PRIORITY_CLASS);

    CKVRInputDlg dialog(instance_);
    dialog.DoModal();
    return FALSE;
}
