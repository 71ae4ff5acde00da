// The settings store: copies a record between memory and either the interactive user's
// subkey or the values in force directly under the settings key.
//
// Nothing is locked: every call opens and closes its own key, so concurrent calls
// interleave value by value.
#pragma once

#include <cstdint>
#include <string>

#include "registry/registry_helpers.h"
#include "settings/settings_records.h"

namespace tavo {

enum SyncMode : int {
    SYNC_READ = 0,        // the interactive user's subkey to the record
    SYNC_WRITE = 1,       // the record to the interactive user's subkey
    SYNC_READ_LAST = 2,   // the values in force to the record
    SYNC_WRITE_LAST = 3,  // the record to the values in force
};

// "SYNC_READ" ... "SYNC_WRITE_LAST", or "Unknow Sync Mode".
const char* SyncModeName(int mode);
// The word the log uses for a palm level, or "Unknow Palm Level".
const char* PalmLevelName(std::int32_t level);

// Both return 1 when the mode was carried out, or when a user's key could not be opened;
// 0 when there is no usable user name (user modes) or an in-force key could not be opened.
// Any other mode opens the key and does nothing else. A missing or non-DWORD value reads
// as -1. A failed open leaves the record unchanged. *transferred, when asked for, tells
// whether the key was opened and the values read or written: the result cannot tell a
// user's key that did not open.
int SyncTouchpadSettings(int mode, PalmSettings& record, bool* transferred = nullptr);
int SyncForcepadSettings(int mode, ForcepadSettings& record, bool* transferred = nullptr);

// SYNC_READ and SYNC_WRITE with their logs, for a change made to one user's record: the
// read tells whose key it read (*user, empty when nothing was read), and the write goes
// to that user's key whoever is at the console by then. True when the key was read or
// written.
bool ReadUserForcepadSettings(ForcepadSettings& record, std::wstring* user);
bool WriteUserForcepadSettings(const std::wstring& user, ForcepadSettings& record);

// The same on a record shared between threads; read modes store the values one by one.
int SyncTouchpadSettings(int mode, SharedRecord<PalmSettings>& record);
int SyncForcepadSettings(int mode, SharedRecord<ForcepadSettings>& record);

}  // namespace tavo
