// INF files of any text in the Windows INF folder, the recorded package version of any
// type and text, and the setup API's line and field reads with any names, field numbers
// and buffer sizes. Then the package cleanup: it must remove exactly the copies of the
// package whose version differs from the recorded one, with their precompiled files, and
// nothing else.
#include <cwctype>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device/driver_cleanup.h"
#include "fuzz_input.h"
#include "fuzz_scenario.h"
#include "platform/setup_inf.h"
#include "settings/settings_records.h"

namespace tavo::fuzz {
namespace {

const std::wstring kSettingsKey = std::wstring(L"HKLM\\") + kSettingsKeyPath;

const wchar_t* const kSignatures[] = {L"\"$Windows NT$\"", L"$CHICAGO$", L"\"$Windows 95$\"", L"$Windows NT$ ; x"};
const wchar_t* const kCatalogs[] = {L"KVR_Component.cat", L"kvr_component.CAT", L"\"KVR_COMPONENT.CAT\"",
                                    L" KVR_Component.cat ", L"KVR_Component.cat2", L"other.cat"};
const wchar_t* const kVersions[] = {L"1.0.0.1", L"1.0.0.2", L"1.0.0.1a", L"1.0.0.1A", L""};

std::wstring Upper(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return s;
}

// The registry's version as the cleanup must read it: the blanks around it are not part of it.
std::wstring Trimmed(const std::wstring& s) {
    const std::size_t first = s.find_first_not_of(L" \t\r\n");
    return first == std::wstring::npos ? std::wstring() : s.substr(first, s.find_last_not_of(L" \t\r\n") - first + 1);
}

// A file name as a listing returns it: no separator, no terminator inside.
std::wstring AnyInfName(FuzzInput& in) {
    switch (in.Pick(4)) {
        case 0: return L"OEM" + std::to_wstring(in.U8()) + L".INF";
        case 1: return L"oem" + std::to_wstring(in.U8()) + L".inf";
        case 2: return L"OEM.INF";
        default: {
            std::wstring name = in.Ascii(40);
            for (auto& c : name)
                if (c == L'\\' || c == 0) c = L'_';
            return name;
        }
    }
}

std::wstring AnyInfText(FuzzInput& in) {
    switch (in.Pick(3)) {
        case 0: return in.Text(8192);
        case 1: return in.Ascii(8192);
        default: {
            // The shape of the package's own INF, each piece chosen.
            std::wstring text = L"[Version]\r\nSignature=";
            text += in.Bit() ? std::wstring(in.PickFrom(kSignatures)) : in.Ascii(40);
            text += L"\r\nCatalogFile=";
            text += in.Bit() ? std::wstring(in.PickFrom(kCatalogs)) : in.Ascii(40);
            text += L"\r\nDriverVer=";
            text += in.Ascii(16);
            text += L",";
            text += in.Bit() ? std::wstring(in.PickFrom(kVersions)) : in.Ascii(5000);
            text += in.Ascii(16);
            text += L"\r\n";
            return text + in.Ascii(200);
        }
    }
}

}  // namespace

int FuzzInfFiles(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    Scenario s;
    const std::uint8_t setup = in.U8();
    s.machine.setupInf.SetUninstallLeavesPnf((setup & 1) != 0);
    std::vector<std::wstring> names;
    for (std::size_t n = in.Pick(6); n > 0; --n) {
        const std::wstring name = AnyInfName(in);
        s.machine.setupInf.AddFile(name, AnyInfText(in));
        names.push_back(name);
        if (in.Bit() && name.size() > 4) s.machine.setupInf.AddFile(name.substr(0, name.size() - 3) + L"PNF");
    }
    switch (in.Pick(4)) {
        case 0: break;  // no version recorded
        case 1: s.machine.registry.SetString(kSettingsKey, kValueVersion, in.PickFrom(kVersions)); break;
        case 2: s.machine.registry.SetString(kSettingsKey, kValueVersion, in.Ascii(600)); break;
        default: {
            const win::DWORD type = in.U32() % 12;
            s.machine.registry.SetRaw(kSettingsKey, kValueVersion, type, in.Bytes(in.Size(3000)));
            break;
        }
    }

    // The setup API's reads of any line and field into any buffer.
    for (const std::wstring& name : names) {
        win::UniqueInf inf;
        if (win::Inf().SetupOpenInfFileW(name.c_str(), win::INF_STYLE_WIN4, inf.put()) != win::ERROR_SUCCESS) continue;
        for (int probe = in.Pick(4); probe > 0; --probe) {
            const std::wstring section = in.Bit() ? L"Version" : in.Ascii(16);
            const std::wstring key = in.Bit() ? L"DriverVer" : in.Ascii(16);
            win::INFCONTEXT context;
            if (win::Inf().SetupFindFirstLineW(inf.get(), section.c_str(), in.Bit() ? key.c_str() : nullptr,
                                               &context) != win::ERROR_SUCCESS)
                continue;
            const win::DWORD capacity = static_cast<win::DWORD>(in.Size(5000));
            std::vector<wchar_t> buffer(capacity + 1, L'#');
            win::DWORD required = 0;
            if (win::Inf().SetupGetStringFieldW(context, in.U8() % 6, buffer.data(), capacity, &required) ==
                win::ERROR_SUCCESS) {
                FUZZ_CHECK(required >= 1 && required <= capacity);
                FUZZ_CHECK(buffer[required - 1] == L'\0');
            }
            FUZZ_CHECK(buffer[capacity] == L'#');
        }
    }
    s.CheckNothingOpen();

    // Which files are copies of the package, and of which version, before the cleanup.
    struct Copy {
        bool component;
        std::wstring version;
    };
    std::map<std::wstring, Copy> before;  // by the name in the folder's listing
    for (const std::wstring& name : s.machine.setupInf.InfFolder()) {
        Copy c{};
        c.component = ReadComponentInfVersion(name.c_str(), &c.version);
        if (c.component) FUZZ_CHECK(c.version.size() < 4096);
        before[name] = c;
    }

    std::wstring version = L"sentinel";
    GetDriverVersion(&version);
    const std::wstring current = Upper(Trimmed(version));
    FUZZ_CHECK(DeleteOldDriver(version) == (current.empty() ? 0 : 1));
    // The outdated copies go with their precompiled files; every other file stays.
    std::set<std::wstring> gone;  // upper case
    for (const auto& [name, c] : before) {
        const std::wstring upper = Upper(name);
        const bool listed = upper.starts_with(L"OEM") && upper.ends_with(L".INF");
        if (listed && c.component && !current.empty() && Trimmed(c.version) != current) {
            gone.insert(upper);
            gone.insert(upper.substr(0, upper.size() - 3) + L"PNF");
        }
    }
    for (const auto& [name, c] : before) FUZZ_CHECK(s.machine.setupInf.Exists(name) == !gone.contains(Upper(name)));

    RunDriverCleanup();
    s.CheckNothingOpen();
    return 0;
}

}  // namespace tavo::fuzz
