// The agent's hidden modal dialog. Its initialisation puts a raw-input sink for mice on a
// window of its own ("DUMMY_WINDOW") and reads the stored toggle state; from then on every
// all-zero mouse report flips AABB under the settings key.
#pragma once

#include <windows.h>

#include "registry_toggle_key.h"
#include "toggle_agent.h"
#include "unique_handle.h"

class CKVRInputDlg {
public:
    explicit CKVRInputDlg(HINSTANCE instance);
    CKVRInputDlg(const CKVRInputDlg&) = delete;
    CKVRInputDlg& operator=(const CKVRInputDlg&) = delete;

    // Runs until the dialog is ended (WM_CLOSE or IDOK/IDCANCEL); returns what it ended with.
    INT_PTR DoModal();

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK DummyWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    BOOL OnInitDialog();
    bool StartRawInputSink();
    void OnPaint();
    void OnToggleInput(HRAWINPUT input);

    HINSTANCE instance_;
    HWND dialog_ = nullptr;
    HICON icon_;
    kvr::UniqueWindow dummyWindow_;
    kvr::RegistryToggleKey key_;
    kvr::ToggleAgent agent_{key_};
    kvr::RecordBuffer buffer_;
};
