// The companion application's local RPC endpoint.
#pragma once

#include "platform/wintypes.h"

namespace tavo {

// Serves the interface until listening ends: 0 on a normal end, otherwise the RPC status.
win::DWORD RpcServerStart();

}  // namespace tavo
