// Test helper for the input agent under Wine (not shipped). Console program; one command
// per run, one line of results per observation on standard output.
//   agent_probe wait-agent SECONDS   waits for the agent's "Dummy window"; prints which of
//                                    its windows exist, whether they are visible, and the
//                                    agent's priority class
//   agent_probe inject KIND MS       sends mouse input with SendInput, prints the raw records
//                                    this process receives for it, then watches AABB for up
//                                    to MS milliseconds (until it changes)
//       KIND: zero (move by 0,0)  move (5,-3)  click (left down, up)  wheel (+120)
//             extra (move by 0,0 with extra information)  absolute (to 0,0)
//   agent_probe resources EXE        prints the dialog 102, icon group 129 and manifest of EXE
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kSettingsKey[] = L"System\\CurrentControlSet\\Control\\Brindlex_PTP";

double NowMs() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

// ---- wait-agent ---------------------------------------------------------------------------
int WaitAgent(int seconds) {
    const double start = NowMs();
    HWND dummy = nullptr;
    while (!(dummy = FindWindowW(L"DUMMY_WINDOW", L"Dummy window")) && NowMs() - start < seconds * 1000.0) Sleep(20);
    const HWND dialog = FindWindowW(L"#32770", L"KVRInput");
    DWORD priority = 0, pid = 0;
    if (dummy && GetWindowThreadProcessId(dummy, &pid)) {
        if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
            priority = GetPriorityClass(process);
            CloseHandle(process);
        }
    }
    std::printf("dummy=%d dummy_visible=%d dialog=%d dialog_visible=%d priority=0x%lx waited_ms=%.0f\n",
                dummy != nullptr, dummy && IsWindowVisible(dummy), dialog != nullptr,
                dialog && IsWindowVisible(dialog), static_cast<unsigned long>(priority), NowMs() - start);
    return dummy ? 0 : 1;
}

// ---- inject -------------------------------------------------------------------------------
std::vector<RAWINPUT> g_received;
double g_lastArrival = 0;

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INPUT) {
        RAWINPUT raw{};
        UINT size = sizeof(raw);
        if (GetRawInputData(reinterpret_cast<HRAWINPUT>(lparam), RID_INPUT, &raw, &size, sizeof(RAWINPUTHEADER)) !=
            static_cast<UINT>(-1)) {
            g_received.push_back(raw);
            g_lastArrival = NowMs();
        }
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

void Pump(double untilMs, size_t wantRecords) {
    while (NowMs() < untilMs && g_received.size() < wantRecords) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
}

std::string ReadAabb() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "no-key";
    BYTE data[64] = {};
    DWORD type = 0, size = sizeof(data);
    const LONG rc = RegQueryValueExW(key, L"AABB", nullptr, &type, data, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return "absent";
    char text[64];
    if (type == REG_DWORD && size == 4) {
        DWORD v;
        std::memcpy(&v, data, 4);
        std::snprintf(text, sizeof(text), "dword:%lu", static_cast<unsigned long>(v));
    } else {
        std::snprintf(text, sizeof(text), "type%lu:%lubytes", static_cast<unsigned long>(type),
                      static_cast<unsigned long>(size));
    }
    return text;
}

std::vector<INPUT> InputsFor(const std::string& kind) {
    auto mouse = [](LONG dx, LONG dy, DWORD data, DWORD flags, ULONG_PTR extra) {
        INPUT in{};
        in.type = INPUT_MOUSE;
        in.mi = MOUSEINPUT{dx, dy, data, flags, 0, extra};
        return in;
    };
    if (kind == "zero") return {mouse(0, 0, 0, MOUSEEVENTF_MOVE, 0)};
    if (kind == "move") return {mouse(5, -3, 0, MOUSEEVENTF_MOVE, 0)};
    if (kind == "click") return {mouse(0, 0, 0, MOUSEEVENTF_LEFTDOWN, 0), mouse(0, 0, 0, MOUSEEVENTF_LEFTUP, 0)};
    if (kind == "wheel") return {mouse(0, 0, WHEEL_DELTA, MOUSEEVENTF_WHEEL, 0)};
    if (kind == "extra") return {mouse(0, 0, 0, MOUSEEVENTF_MOVE, 0x1234)};
    if (kind == "absolute") return {mouse(0, 0, 0, MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 0)};
    return {};
}

int Inject(const std::string& kind, int watchMs) {
    std::vector<INPUT> inputs = InputsFor(kind);
    if (inputs.empty()) return 2;

    WNDCLASSW wc{};
    wc.lpfnWndProc = ProbeWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"AGENT_PROBE";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    RAWINPUTDEVICE mouse{1, 2, RIDEV_INPUTSINK, window};
    if (!window || !RegisterRawInputDevices(&mouse, 1, sizeof(mouse))) {
        std::printf("probe cannot receive raw input (%lu)\n", GetLastError());
        return 1;
    }

    const std::string before = ReadAabb();
    const double sent = NowMs();
    const UINT accepted = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    Pump(sent + 2000, inputs.size());
    std::printf("sent %u of %zu, received %zu raw record(s)", accepted, inputs.size(), g_received.size());
    if (!g_received.empty()) std::printf(", the last %.1f ms after sending", g_lastArrival - sent);
    std::printf("\n");
    for (const RAWINPUT& r : g_received) {
        const RAWMOUSE& m = r.data.mouse;
        std::printf("record type=%lu flags=0x%04x buttonFlags=0x%04x buttonData=%u rawButtons=0x%lx x=%ld y=%ld "
                    "extra=0x%lx device=%p\n",
                    static_cast<unsigned long>(r.header.dwType), m.usFlags, m.usButtonFlags, m.usButtonData,
                    static_cast<unsigned long>(m.ulRawButtons), static_cast<long>(m.lLastX),
                    static_cast<long>(m.lLastY), static_cast<unsigned long>(m.ulExtraInformation),
                    static_cast<void*>(r.header.hDevice));
    }

    std::string after = before;
    double changed = -1;
    while (NowMs() - sent < watchMs) {
        after = ReadAabb();
        if (after != before) {
            changed = NowMs() - sent;
            break;
        }
        Sleep(1);
    }
    if (changed >= 0) std::printf("aabb %s -> %s after %.1f ms\n", before.c_str(), after.c_str(), changed);
    else std::printf("aabb %s unchanged for %d ms\n", before.c_str(), watchMs);
    DestroyWindow(window);
    return 0;
}

// ---- resources ----------------------------------------------------------------------------
std::wstring ReadSzOrOrd(const WORD*& p) {
    if (*p == 0x0000) { ++p; return L""; }
    if (*p == 0xFFFF) { p += 2; return L"#" + std::to_wstring(p[-1]); }
    std::wstring s(reinterpret_cast<const wchar_t*>(p));
    p += s.size() + 1;
    return s;
}

int Resources(const wchar_t* path) {
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) {
        std::printf("cannot load %ls (%lu)\n", path, GetLastError());
        return 1;
    }
    auto load = [&](LPCWSTR name, LPCWSTR type, DWORD* size) -> const BYTE* {
        HRSRC found = FindResourceW(module, name, type);
        if (!found) return nullptr;
        *size = SizeofResource(module, found);
        return static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    };

    DWORD size = 0;
    if (const BYTE* d = load(MAKEINTRESOURCEW(102), MAKEINTRESOURCEW(5) /* RT_DIALOG */, &size)) {
        // DLGTEMPLATEEX: version, signature, help id, extended style, style, items, x, y, cx, cy.
        WORD version, signature, items;
        DWORD exStyle, style;
        short x, y, cx, cy;
        std::memcpy(&version, d, 2); std::memcpy(&signature, d + 2, 2);
        std::memcpy(&exStyle, d + 8, 4); std::memcpy(&style, d + 12, 4); std::memcpy(&items, d + 16, 2);
        std::memcpy(&x, d + 18, 2); std::memcpy(&y, d + 20, 2); std::memcpy(&cx, d + 22, 2); std::memcpy(&cy, d + 24, 2);
        const WORD* p = reinterpret_cast<const WORD*>(d + 26);
        const std::wstring menu = ReadSzOrOrd(p), cls = ReadSzOrOrd(p), title = ReadSzOrOrd(p);
        std::printf("dialog ex=%d style=0x%08lx exstyle=0x%lx items=%u rect=%d,%d,%d,%d menu='%ls' class='%ls' "
                    "caption='%ls'",
                    version == 1 && signature == 0xFFFF, static_cast<unsigned long>(style),
                    static_cast<unsigned long>(exStyle), items, x, y, cx, cy, menu.c_str(), cls.c_str(), title.c_str());
        if (style & DS_SETFONT) {
            const WORD points = p[0];
            const std::wstring face(reinterpret_cast<const wchar_t*>(p + 3));
            std::printf(" font=%u,'%ls'", points, face.c_str());
        }
        std::printf("\n");
    } else {
        std::printf("dialog 102 missing\n");
    }

    if (const BYTE* d = load(MAKEINTRESOURCEW(129), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, &size)) {
        WORD count;
        std::memcpy(&count, d + 4, 2);
        std::printf("icon group 129:");
        for (WORD i = 0; i < count; ++i) {
            const BYTE* e = d + 6 + i * 14;  // GRPICONDIRENTRY
            WORD bits;
            std::memcpy(&bits, e + 6, 2);
            std::printf(" %ux%ux%u", e[0] ? e[0] : 256, e[1] ? e[1] : 256, bits);
        }
        std::printf("\n");
    } else {
        std::printf("icon group 129 missing\n");
    }

    if (const BYTE* d = load(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */, &size)) {
        const std::string text(reinterpret_cast<const char*>(d), size);
        auto has = [&](const char* s) { return text.find(s) != std::string::npos ? 1 : 0; };
        std::printf("manifest asInvoker=%d dpiAware=%d common-controls-6=%d\n",
                    has("level=\"asInvoker\""), has(">true</dpiAware>"),
                    has("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    } else {
        std::printf("manifest missing\n");
    }
    FreeLibrary(module);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"wait-agent" && argc == 3) return WaitAgent(_wtoi(argv[2]));
    if (command == L"inject" && argc == 4) {
        const std::wstring kind(argv[2]);
        return Inject(std::string(kind.begin(), kind.end()), _wtoi(argv[3]));
    }
    if (command == L"resources" && argc == 3) return Resources(argv[2]);
    std::fprintf(stderr, "usage: agent_probe wait-agent SECONDS | inject KIND MS | resources EXE\n");
    return 2;
}
