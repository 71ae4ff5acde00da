// One libFuzzer binary per target: TAVO_FUZZ_ENTRY names the entry function.
#include <cstdio>
#include <cstdlib>

#include "fuzz_targets.h"

namespace tavo::fuzz {
void CheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: FUZZ_CHECK failed: %s\n", file, line, condition);
    std::abort();
}
}  // namespace tavo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return tavo::fuzz::TAVO_FUZZ_ENTRY(data, size);
}
