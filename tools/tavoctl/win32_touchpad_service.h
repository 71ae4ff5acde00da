// The touchpad service's RPC procedures through the widl client stub (Windows only).
#pragma once

#include "run_command.h"

namespace tavoctl {

class Win32TouchpadService final : public TouchpadService {
public:
    Win32TouchpadService();
    ~Win32TouchpadService() override;
    Win32TouchpadService(const Win32TouchpadService&) = delete;
    Win32TouchpadService& operator=(const Win32TouchpadService&) = delete;

    RpcStatus Open() override;
    RpcStatus GetStatus(std::uint8_t& status) override;
    RpcStatus GetPalm(PalmValues& values) override;
    RpcStatus SetPalm(const PalmValues& values) override;
    RpcStatus GetForcepad(ForcepadValues& values) override;
    RpcStatus SetForcepad(const ForcepadValues& values) override;
    RpcStatus GetData(std::int32_t function, std::int32_t& value) override;
    RpcStatus GetSupport(std::int32_t& value) override;
    RpcStatus StartMetering(std::int64_t first, std::int64_t second) override;
    RpcStatus SetSamplePeriod(std::int64_t period) override;
    RpcStatus StopMetering() override;
    void Close() override;

private:
    void* handler_ = nullptr;  // the vectored exception handler, for the object's life
    void* binding_ = nullptr;  // RPC_BINDING_HANDLE
    void* context_ = nullptr;  // TAVO_METERING_HANDLE
};

}  // namespace tavoctl
