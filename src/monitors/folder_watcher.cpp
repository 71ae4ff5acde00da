#include "monitors/folder_watcher.h"

#include <memory>
#include <string>

#include "common/process_state.h"

#include "log/trace_log.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "settings/driver_defaults.h"
#include "settings/forcepad_control.h"
#include "settings/palm_control.h"

namespace tavo {
namespace {

struct WatcherState {
    std::atomic<std::uint8_t> BlockRetryLoop{0};
};
ProcessWide<WatcherState> watcherState;

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
void Watch(const MonitorRuns::Run& run, win::HANDLE stop, win::UniqueChangeNotification& change) {
    std::wstring folder;
    win::DWORD error = win::ERROR_SUCCESS;
    if (!PackagesFolder(&folder, &error)) {
        TraceLog("DetectUWPInstall::Get UserAppDataPath Fail, Error=%d\r\n", static_cast<int>(error));
        return;
    }
    TraceLog("DetectUWPInstall::Get UWPAppDataPath Success (%ws)\r\n", folder.c_str());
    TraceLog("DetectDirectoryChangeThread::GetUserUWPInstallDirectory = %ws\r\n", folder.c_str());

    for (int attempt = 1;; ++attempt) {
        if (BlockRetryLoop.load() == 1 || !run.Current()) {
            TraceLog("DetectDirectoryChangeThread::BlockRetryLoop is true, Exit Thread\r\n");
            return;
        }
        if (win::Fs().FindFirstChangeNotificationW(folder.c_str(), true, win::FILE_NOTIFY_CHANGE_DIR_NAME,
                                                   change.put()) == win::ERROR_SUCCESS)
            break;
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

std::atomic<std::uint8_t>& BlockRetryLoop = watcherState->BlockRetryLoop;

void DetectDirectoryChangeThread(MonitorRuns& runs, MonitorRuns::Ticket ticket) {
    TraceLog("DetectDirectoryChangeThread++");
    MonitorRuns::Run run(runs, ticket);
    // A watcher stopped before it began leaves the stop flag as the stop set it.
    if (run.Current()) BlockRetryLoop = 0;
    {
        win::UniqueChangeNotification change;
        // A stop event that cannot be made fails the first wait, which ends the watcher.
        auto stop = std::make_shared<win::UniqueEvent>();
        win::Sync().CreateEventW(nullptr, true, false, nullptr, stop->put(), nullptr);
        // A watcher begun before this one that still shows its stop event missed the stop
        // meant for it (it had not shown the event yet): showing this one ends it.
        // A stop that came since is seen at the first attempt.
        (void)run.Show(stop);
        Watch(run, stop->get(), change);
        run.Withdraw();
    }
    TraceLog("DetectDirectoryChangeThread--");
}  // the run ends here, the watcher's last touch of what it was started with

void StopDirectoryWatcher(MonitorRuns& runs, int polls) {
    BlockRetryLoop = 1;
    runs.StopAndPoll(polls);
}

}  // namespace tavo
