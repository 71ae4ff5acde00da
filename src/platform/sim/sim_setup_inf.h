// A model of the Windows folder's INF folder: files with their text, and SetupAPI's reading
// of INF syntax for the lines the service asks for: [sections], key = value lines,
// comma-separated and quoted fields, ';' comments, section and key names without regard to
// case, unquoted fields trimmed of surrounding blanks.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/setup_inf.h"
#include "platform/sim/faults.h"

namespace sim {

// One parsed INF: sections in file order, each a list of lines (key, fields).
struct InfText {
    struct Line {
        bool hasKey = false;
        std::wstring key;
        std::vector<std::wstring> fields;  // values after the key, or every field of a keyless line
    };
    struct Section {
        std::wstring name;
        std::vector<Line> lines;
    };
    std::vector<Section> sections;

    // False (with *error) for text SetupAPI refuses: a line before the first section.
    static bool Parse(const std::wstring& text, InfText* out, win::DWORD* error);
};

class SimSetupInf : public win::SetupInf {
public:
    SimSetupInf(FaultPlan& faults, HandleTable& handles) : faults_(faults), handles_(handles) {}

    win::DWORD SetupOpenInfFileW(const wchar_t* fileName, win::DWORD style, win::HINF* inf) override;
    void SetupCloseInfFile(win::HINF inf) override;
    win::DWORD SetupFindFirstLineW(win::HINF inf, const wchar_t* section, const wchar_t* key,
                                   win::INFCONTEXT* context) override;
    win::DWORD SetupGetStringFieldW(const win::INFCONTEXT& context, win::DWORD field, wchar_t* buffer,
                                    win::DWORD size, win::DWORD* required) override;
    win::DWORD SetupUninstallOEMInfW(const wchar_t* infFileName, win::DWORD flags) override;
    win::DWORD GetWindowsDirectoryW(wchar_t* buffer, win::UINT size, win::UINT* length) override;
    win::DWORD FindFirstFileW(const wchar_t* pattern, win::HANDLE* find, std::wstring* name) override;
    win::DWORD FindNextFileW(win::HANDLE find, std::wstring* name) override;
    void FindClose(win::HANDLE find) override;
    win::DWORD DeleteFileW(const wchar_t* path) override;

    // ---- set-up and inspection for tests ----
    void SetWindowsDirectory(std::wstring path);
    std::wstring WindowsDirectory() const;
    std::wstring InfDirectory() const { return WindowsDirectory() + L"\\INF"; }
    // A file with its text; a bare name goes into the INF folder.
    void AddFile(const std::wstring& path, std::wstring text = {});
    bool Exists(const std::wstring& path) const;
    // The bare names in the INF folder, in listing order.
    std::vector<std::wstring> InfFolder() const;
    // Wine's SetupUninstallOEMInfW deletes the .inf and leaves its .pnf; Windows deletes both.
    void SetUninstallLeavesPnf(bool leaves);

private:
    struct File {
        std::wstring path;  // as added
        std::wstring text;
    };
    struct Search {
        std::vector<std::wstring> names;
        std::size_t next = 0;
    };
    std::wstring FullPath(const std::wstring& path) const;
    static std::wstring Key(const std::wstring& path);

    FaultPlan& faults_;
    HandleTable& handles_;
    mutable std::mutex lock_;
    std::wstring windowsDirectory_ = L"C:\\Windows";
    bool uninstallLeavesPnf_ = false;
    std::map<std::wstring, File> files_;  // by upper-case full path: listing order is NTFS's
    std::map<std::uint64_t, InfText> open_;
    std::map<std::uint64_t, Search> searches_;
};

}  // namespace sim
