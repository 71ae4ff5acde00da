#include "platform/platform.h"

namespace win {
namespace {
Platform g_platform;
}

Platform& P() { return g_platform; }
void SetPlatform(const Platform& platform) { g_platform = platform; }

}  // namespace win
