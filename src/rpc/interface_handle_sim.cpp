// The simulated run time takes the interface handle as a plain token.
#include "rpc/rpc_server.h"

namespace tavo {

win::RPC_IF_HANDLE TouchpadInterfaceHandle() { return static_cast<win::RPC_IF_HANDLE>(0x7A40); }

}  // namespace tavo
