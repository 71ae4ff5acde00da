// The touchpad's vendor feature report 0x0D and the two transactions built on it.
//
// Every report is 5 bytes: report id, 16-bit function code, 16-bit data word, both
// little-endian. Function kReadRequest asks the device to answer, in the next fetch of the
// report, the value of the function named by the data word; any other code writes the data
// word into that function. 0xFFFF is what a failed read returns.
#pragma once

#include "platform/wintypes.h"

namespace tavo {

inline constexpr win::BYTE kFeatureReportId = 0x0D;
inline constexpr win::ULONG kFeatureReportLength = 5;
inline constexpr win::WORD kFeatureReadFailed = 0xFFFF;

// Function codes.
namespace fn {
inline constexpr win::WORD kReadRequest = 0x0305;
inline constexpr win::WORD kMeteringProbe = 0x0101;      // read; only success counts
inline constexpr win::WORD kForcepadSupport = 0x0104;    // read; bit 0: the pad is a forcepad
inline constexpr win::WORD kStepCounts = 0x0105;         // read; low byte X, high byte Y
inline constexpr win::WORD kExtentX = 0x0106;            // read; device counts
inline constexpr win::WORD kExtentY = 0x0107;            // read; device counts
inline constexpr win::WORD kResolutionClass = 0x0108;    // read; low byte X, high byte Y
inline constexpr win::WORD kBiosEnable = 0x0365;         // read; bit 15: enabled by the BIOS
inline constexpr win::WORD kForcepadOptions = 0x03A1;    // read and write; see kOption*
inline constexpr win::WORD kClickForce1 = 0x03A2;
inline constexpr win::WORD kClickForce2 = 0x03A3;
inline constexpr win::WORD kClickForce3 = 0x03A4;
inline constexpr win::WORD kButtonClickForce1 = 0x03A9;  // VadavAredu button click force
inline constexpr win::WORD kButtonClickForce2 = 0x03AA;
inline constexpr win::WORD kHapticStrength = 0x03AB;
}  // namespace fn

// The forcepad option word (fn::kForcepadOptions).
inline constexpr win::WORD kOptionHaptic = 0x0100;
inline constexpr win::WORD kOptionTopZoneButtons = 0x0002;
inline constexpr win::WORD kOptionAlwaysSet = 0x0205;  // bits 0, 2 and 9 of every composed word
inline constexpr win::WORD kBiosEnableBit = 0x8000;
inline constexpr win::WORD kForcepadSupportBit = 0x0001;

// Values per option level (index = level 0, 1, 2).
inline constexpr win::WORD kClickForceValues[3][3] = {
    {0x007A, 0x0062, 0x003C}, {0x00A0, 0x0080, 0x003C}, {0x00C0, 0x009A, 0x003C}};
inline constexpr win::WORD kButtonClickForceValues[3][2] = {{0x0050, 0x003C}, {0x006E, 0x0042}, {0x008C, 0x0054}};
// Haptic strength by percentage; a stronger feel is a lower byte, repeated in both bytes.
struct HapticStrengthValue {
    int percent;
    win::WORD value;
};
inline constexpr HapticStrengthValue kHapticStrengthValues[] = {
    {0, 0x0000}, {25, 0x5050}, {50, 0x4040}, {75, 0x3030}, {100, 0x2020}};

// Sends one write; true when the platform accepted it. Logs either way.
bool SetFeatureFunction(win::HANDLE device, win::WORD function, win::WORD data);
// Sends a read request for function and fetches the answer; kFeatureReadFailed on any
// failure, which callers cannot tell from a true 0xFFFF.
win::WORD GetFeatureFunction(win::HANDLE device, win::WORD function);

}  // namespace tavo
