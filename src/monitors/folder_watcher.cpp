#include "monitors/folder_watcher.h"

#include <string>

#include "log/trace_log.h"
#include "monitors/handle_slot.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "service/sample_service.h"
#include "settings/driver_defaults.h"
#include "settings/forcepad_control.h"
#include "settings/palm_control.h"

namespace tavo {
namespace {

enum : win::DWORD { kStop = 0, kChange = 1 };

// The watched folder: the console user's local application data, then "\Packages"; false
// with the Windows error when it cannot be had whole.
bool PackagesFolder(std::wstring* folder, win::DWORD* error) {
    std::wstring local;
    if (!GetConsoleUserLocalAppDataPath(&local, error)) return false;
    local += L"\\Packages";
    if (local.size() + 1 > kPackagesPathChars) {
        *error = win::ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    *folder = std::move(local);
    return true;
}

// The watch itself, from the folder on; returns when the watcher is to end.
void Watch(win::HANDLE stop, win::UniqueChangeNotification& change, SlotEntry& changeShown) {
    std::wstring folder;
    win::DWORD error = win::ERROR_SUCCESS;
    if (!PackagesFolder(&folder, &error)) {
        TraceLog("DetectUWPInstall::Get UserAppDataPath Fail, Error=%d\r\n", static_cast<int>(error));
        return;
    }
    TraceLog("DetectUWPInstall::Get UWPAppDataPath Success (%ws)\r\n", folder.c_str());
    TraceLog("DetectDirectoryChangeThread::GetUserUWPInstallDirectory = %ws\r\n", folder.c_str());

    for (int attempt = 1;; ++attempt) {
        if (BlockRetryLoop.load() == 1) {
            TraceLog("DetectDirectoryChangeThread::BlockRetryLoop is true, Exit Thread\r\n");
            return;
        }
        if (win::Fs().FindFirstChangeNotificationW(folder.c_str(), true, win::FILE_NOTIFY_CHANGE_DIR_NAME,
                                                   change.put()) == win::ERROR_SUCCESS) {
            changeShown.Show(change.get());
            break;
        }
        TraceLog("DetectDirectoryChangeThread::ChangeHandle[1] is invalid or NULL, Retry\r\n");
        win::Sys().Sleep(kWatchRetryPauseMs);
        if (attempt == kWatchAttempts) {
            TraceLog("DetectDirectoryChangeThread::ChangeHandle[1] is invalid o NULL, Exit Thread\r\n");
            return;
        }
    }
    TraceLog("DetectDirectoryChangeThread::ChangeHandle[1] is Valid, wait change...\r\n");

    std::int32_t lastState = 0x7FFFFFFF;  // so that the first change always acts
    for (;;) {
        const win::HANDLE handles[2] = {stop, change.get()};
        error = win::ERROR_SUCCESS;
        const win::DWORD result = win::Sync().WaitForMultipleObjects(2, handles, false, win::INFINITE, &error);
        TraceLog("DetectDirectoryChangeThread::MultiObjectNumber = %d\r\n", static_cast<int>(result));
        if (result == win::WAIT_OBJECT_0 + kStop) return;
        if (result == win::WAIT_TIMEOUT) continue;
        if (result != win::WAIT_OBJECT_0 + kChange) {
            TraceLog("DetectDirectoryChangeThread::WaitForMultipleObjects fail (Err=%d)\r\n", static_cast<int>(error));
            return;
        }
        const std::int32_t state = DetectUWPInstall();
        TraceLog("DetectDirectoryChangeThread::UWPInstall = %d\r\n", static_cast<int>(state));
        if (state != lastState) {
            PalmControl(livePalmSettings, 0, 0);
            ForcePadControl(liveForcepadSettings, 0, 0);
            lastState = state;
        }
        error = win::Fs().FindNextChangeNotification(change.get());
        if (error != win::ERROR_SUCCESS) {
            TraceLog("DetectDirectoryChangeThread::FindNextChangeNotification fail (Err=%d)\r\n", static_cast<int>(error));
            return;
        }
    }
}

}  // namespace

void DetectDirectoryChangeThread(CSampleService* service) {
    TraceLog("DetectDirectoryChangeThread++");
    BlockRetryLoop = 0;
    {
        // Owners first: the slots are cleared before the handles they show are closed.
        win::UniqueEvent stop;
        win::UniqueChangeNotification change;
        SlotEntry stopShown(service->ChangeHandle[kStop]);
        SlotEntry changeShown(service->ChangeHandle[kChange]);
        // A stop event that cannot be made fails the first wait, which ends the watcher.
        win::Sync().CreateEventW(nullptr, true, false, nullptr, stop.put(), nullptr);
        // A watcher still showing its stop event was started before this one and missed
        // the logon's stop (it had not shown the event yet): end it, or two would run.
        if (const win::HANDLE earlier = stopShown.Show(stop.get()); earlier != win::HANDLE{})
            win::Sync().SetEvent(earlier);
        Watch(stop.get(), change, changeShown);
        // Logged before the slots clear: once they have, a stopper may let the service go.
        TraceLog("DetectDirectoryChangeThread--");
    }
}

void StopDirectoryWatcher(CSampleService* service, int polls) {
    const win::HANDLE stop = service->ChangeHandle[kStop].load();
    if (stop != win::HANDLE{}) win::Sync().SetEvent(stop);
    BlockRetryLoop = 1;
    if (stop == win::HANDLE{}) return;
    for (int poll = 0; poll < polls; ++poll) {
        win::Sys().Sleep(kWatcherStopPollMs);
        if (service->ChangeHandle[kStop].load() == win::HANDLE{}) return;
    }
}

}  // namespace tavo
