#include "kvr_input_dlg.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "resource.h"

namespace {

constexpr wchar_t kDummyClass[] = L"DUMMY_WINDOW";
constexpr wchar_t kDummyTitle[] = L"Dummy window";
// Every flag but SWP_SHOWWINDOW: the dialog manager shows a modal dialog once it goes idle,
// and this keeps the agent invisible.
constexpr UINT kNeverShow = 0xFFFFFFBF;
constexpr UINT kRawInputHeaderSize = 24;

static_assert(sizeof(RAWINPUTHEADER) == kRawInputHeaderSize);
static_assert(RIM_TYPEMOUSE == kvr::kRimTypeMouse && REG_DWORD == kvr::kRegDword);
static_assert((RIDEV_INPUTSINK | RIDEV_NOLEGACY) == 0x130);

kvr::MouseRecord ToMouseRecord(const RAWINPUT& raw) {
    kvr::MouseRecord r;
    r.type = raw.header.dwType;
    r.device = reinterpret_cast<std::uintptr_t>(raw.header.hDevice);
    r.flags = raw.data.mouse.usFlags;
    r.buttonFlags = raw.data.mouse.usButtonFlags;
    r.buttonData = raw.data.mouse.usButtonData;
    r.rawButtons = raw.data.mouse.ulRawButtons;
    r.lastX = raw.data.mouse.lLastX;
    r.lastY = raw.data.mouse.lLastY;
    r.extraInformation = raw.data.mouse.ulExtraInformation;
    return r;
}

}  // namespace

CKVRInputDlg::CKVRInputDlg(HINSTANCE instance)
    : instance_(instance), icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

INT_PTR CKVRInputDlg::DoModal() {
    return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_KVRINPUT_DIALOG), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CKVRInputDlg::DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        auto* self = reinterpret_cast<CKVRInputDlg*>(lparam);
        self->dialog_ = dialog;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CKVRInputDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (!self) return FALSE;
    switch (message) {
    case WM_WINDOWPOSCHANGING:
        reinterpret_cast<WINDOWPOS*>(lparam)->flags = kNeverShow;
        return FALSE;  // the dialog manager's default handling follows
    case WM_PAINT:
        if (!IsIconic(dialog)) return FALSE;
        self->OnPaint();
        return TRUE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(self->icon_);
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wparam));
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        // No raw input may reach this object once its dialog is gone.
        self->dummyWindow_.reset();
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL CKVRInputDlg::OnInitDialog() {
    SendMessageW(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    // Without the sink nothing can toggle: the state stays 0 and the agent idles.
    if (StartRawInputSink()) agent_.Start();
    return TRUE;
}

bool CKVRInputDlg::StartRawInputSink() {
    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = DummyWindowProc;
    wc.hInstance = instance_;
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kDummyClass;
    if (!RegisterClassW(&wc)) return false;

    dummyWindow_.reset(CreateWindowExW(0, kDummyClass, kDummyTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_, this));
    if (!dummyWindow_) return false;

    // A sink receives mouse input while another program has the focus.
    RAWINPUTDEVICE mouse{};
    mouse.usUsagePage = 1;  // generic desktop
    mouse.usUsage = 2;      // mouse
    mouse.dwFlags = RIDEV_INPUTSINK | RIDEV_NOLEGACY;
    mouse.hwndTarget = dummyWindow_.get();
    return RegisterRawInputDevices(&mouse, 1, sizeof(mouse)) != FALSE;
}

LRESULT CALLBACK CKVRInputDlg::DummyWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_INPUT) {
        if (auto* self = reinterpret_cast<CKVRInputDlg*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
            self->OnToggleInput(reinterpret_cast<HRAWINPUT>(lparam));
        }
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

void CKVRInputDlg::OnToggleInput(HRAWINPUT input) {
    UINT size = 0;
    GetRawInputData(input, RID_INPUT, nullptr, &size, kRawInputHeaderSize);
    if (size == 0) return;
    std::uint8_t* bytes = buffer_.Reserve(size);
    UINT fetched = size;
    // A failed fetch would leave zeros that read as a toggle report.
    if (GetRawInputData(input, RID_INPUT, bytes, &fetched, kRawInputHeaderSize) == static_cast<UINT>(-1)) return;

    RAWINPUT raw{};  // a shorter record reads as zeros beyond its end
    std::memcpy(&raw, bytes, std::min<std::size_t>(size, sizeof(raw)));
    agent_.OnMouseRecord(ToMouseRecord(raw));
}

void CKVRInputDlg::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog_, &paint);
    SendMessageW(dialog_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(dialog_, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(dialog_, &paint);
}
