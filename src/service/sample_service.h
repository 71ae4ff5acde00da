// The touchpad service object.
#pragma once

#include <atomic>

#include "service/service_base.h"

namespace tavo {

inline constexpr wchar_t kServiceDescription[] = L"Service for TAVO Pad Suite";

class CSampleService : public CServiceBase {
public:
    CSampleService();
    ~CSampleService() override;

    // Echoes to the console in console mode, then writes to the provider.
    void WriteTraceString(const wchar_t* text, win::BYTE level) override;

    void SetConsoleMode(bool on) { consoleMode_ = on; }

private:
    std::atomic<bool> consoleMode_{false};
};

// Rewrites the installed service's description and its mouse-arrival start trigger.
void SetServiceInfo();

}  // namespace tavo
