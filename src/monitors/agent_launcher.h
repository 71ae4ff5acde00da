// Starting the input agent KVRInput in the user's session at every logon.
#pragma once

#include "platform/wintypes.h"

namespace tavo {

inline constexpr wchar_t kInputAgentFileName[] = L"KVRInput.exe";
inline constexpr wchar_t kInputAgentDesktop[] = L"winsta0\\default";
inline constexpr wchar_t kWinlogonExe[] = L"winlogon.exe";
// Assign primary, duplicate, query, adjust privileges, groups, default and session id, read control.
inline constexpr win::DWORD kWinlogonTokenAccess = 0x201EB;
// The agent's path, terminator included, as the system's path buffers hold it.
inline constexpr win::DWORD kAgentPathChars = win::MAX_PATH;

// Starts the agent from the service's current directory in the active console session,
// under a copy of that session's winlogon token. Every outcome is logged; every handle it
// takes is released.
void LaunchInputAgent();

}  // namespace tavo
