#include "firmware_record.h"

#include <cstdio>

namespace vlaptop {

std::vector<std::uint8_t> EncodeTable(const std::map<std::uint16_t, std::uint16_t>& functions) {
    std::vector<std::uint8_t> out;
    for (const auto& [function, value] : functions)
        for (std::uint16_t word : {function, value}) {
            out.push_back(static_cast<std::uint8_t>(word & 0xFF));
            out.push_back(static_cast<std::uint8_t>(word >> 8));
        }
    return out;
}

std::map<std::uint16_t, std::uint16_t> DecodeTable(const std::vector<std::uint8_t>& data) {
    std::map<std::uint16_t, std::uint16_t> out;
    for (std::size_t i = 0; i + 4 <= data.size(); i += 4)
        out[static_cast<std::uint16_t>(data[i] | data[i + 1] << 8)] = static_cast<std::uint16_t>(data[i + 2] | data[i + 3] << 8);
    return out;
}

std::vector<RecordedReport> DecodeRecord(const std::vector<std::uint8_t>& data) {
    std::vector<RecordedReport> out;
    for (std::size_t i = 0; i + 3 <= data.size();) {
        const std::size_t length = data[i + 2];
        if (i + 3 + length > data.size()) break;
        out.push_back({data[i] == 0, data[i + 1] != 0,
                       std::vector<std::uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(i + 3),
                                                 data.begin() + static_cast<std::ptrdiff_t>(i + 3 + length))});
        i += 3 + length;
    }
    return out;
}

std::vector<std::uint8_t> EncodeRecord(const std::vector<RecordedReport>& reports) {
    std::vector<std::uint8_t> out;
    for (const auto& r : reports) {
        out.push_back(r.toDevice ? 0 : 1);
        out.push_back(r.accepted ? 1 : 0);
        out.push_back(static_cast<std::uint8_t>(r.bytes.size()));
        out.insert(out.end(), r.bytes.begin(), r.bytes.end());
    }
    return out;
}

std::string FormatReport(const RecordedReport& report) {
    std::string line = report.toDevice ? ">" : "<";
    for (std::uint8_t b : report.bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", b);
        line += hex;
    }
    if (!report.accepted) line += " refused";
    return line;
}

}  // namespace vlaptop
