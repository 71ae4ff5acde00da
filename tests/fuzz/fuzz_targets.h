// The fuzz targets: each takes one input, builds its own scenario from it and checks what
// must hold for any input. Built into a libFuzzer binary each (TAVO_FUZZ) and into the
// regression test that replays the checked-in corpus in every native build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavo::fuzz {

// The settings application's procedures, any opnum, any arguments, on a simulated laptop.
int FuzzRpcProcedures(const std::uint8_t* data, std::size_t size);
// Values of any type and size under the settings key, the driver key and the other keys
// the service reads, then every read.
int FuzzRegistryValues(const std::uint8_t* data, std::size_t size);
// HID collections and device nodes with any ids, descriptions, paths and capabilities,
// then every scan and probe.
int FuzzHidIds(const std::uint8_t* data, std::size_t size);
// A touchpad whose firmware answers the vendor report as it pleases, then every reader.
int FuzzFeatureAnswers(const std::uint8_t* data, std::size_t size);
// INF files of any text in the INF folder, then the package cleanup.
int FuzzInfFiles(const std::uint8_t* data, std::size_t size);
// Raw mouse records of any size and contents into the input agent.
int FuzzRawInput(const std::uint8_t* data, std::size_t size);

// A property every input must keep failed: the libFuzzer driver stops with a crash report,
// the regression test records a failure. Defined by each driver.
[[noreturn]] void CheckFailed(const char* condition, const char* file, int line);

}  // namespace tavo::fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::tavo::fuzz::CheckFailed(#condition, __FILE__, __LINE__))
