// What the virtual touchpad's driver keeps in its volatile "Firmware" key: the function
// table (pairs of little-endian words: function, value) and the record of every report
// (per report: direction, accepted, length, the bytes). Portable, so it is tested natively.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vlaptop {

std::vector<std::uint8_t> EncodeTable(const std::map<std::uint16_t, std::uint16_t>& functions);
std::map<std::uint16_t, std::uint16_t> DecodeTable(const std::vector<std::uint8_t>& data);

struct RecordedReport {
    bool toDevice = true;
    bool accepted = true;
    std::vector<std::uint8_t> bytes;  // a refused fetch has none
    friend bool operator==(const RecordedReport&, const RecordedReport&) = default;
};

// A record cut short (what a reader sees while the driver rewrites it) ends at its last
// whole report.
std::vector<RecordedReport> DecodeRecord(const std::vector<std::uint8_t>& data);
std::vector<std::uint8_t> EncodeRecord(const std::vector<RecordedReport>& reports);

// One line: "> 0D AB 03 40 40" sent to the device, "< 0D A1 03 07 03" fetched from it, with
// " refused" after a report the device refused ("< refused" for a refused fetch).
std::string FormatReport(const RecordedReport& report);

}  // namespace vlaptop
