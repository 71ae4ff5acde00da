// Registry changes that can be taken back: each change first notes what it replaces under
// an undo key of the installer's own, and Undo puts everything back in reverse order (keys
// it created go with their subtrees, values return with their old type and data, a deleted
// key returns with its subtree). Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "devnodes.h"
#include "platform/reg_text.h"

namespace vlaptop {

class RegistryUndo {
public:
    // The undo log lives under `log` (created if missing).
    explicit RegistryUndo(HKEY log);

    // The operations of a parsed .reg file, in order.
    void Apply(const tavo::RegOperation& operation);
    void SetValue(const std::wstring& key, const std::wstring& name, DWORD type, const std::vector<std::uint8_t>& data);

    // Puts back everything the log holds, newest first, and empties it.
    static void Undo(HKEY log);

private:
    void NoteCreatedKey(HKEY root, const std::wstring& path);
    void NoteValue(HKEY root, const std::wstring& path, const std::wstring& name);
    Key NewEntry(DWORD kind, HKEY root, const std::wstring& path);

    HKEY log_;
};

// The names of a key's subkeys, in the registry's order.
std::vector<std::wstring> SubKeyNames(HKEY key);

// The root and the rest of a full key path ("HKEY_LOCAL_MACHINE\\System\\..."); throws
// WinError (ERROR_INVALID_PARAMETER) for a root the registry does not have.
HKEY RootOf(const std::wstring& fullPath, std::wstring* subPath);

}  // namespace vlaptop
