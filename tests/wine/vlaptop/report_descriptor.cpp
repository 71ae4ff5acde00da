#include "report_descriptor.h"

#include <limits>
#include <string>

namespace vlaptop {
namespace {

// Item prefixes: tag and type; the low two bits give the data size (1, 2 or 4 bytes).
constexpr std::uint8_t kUsagePage = 0x04;
constexpr std::uint8_t kLogicalMinimum = 0x14;
constexpr std::uint8_t kLogicalMaximum = 0x24;
constexpr std::uint8_t kPhysicalMinimum = 0x34;
constexpr std::uint8_t kPhysicalMaximum = 0x44;
constexpr std::uint8_t kReportSize = 0x74;
constexpr std::uint8_t kReportId = 0x84;
constexpr std::uint8_t kReportCount = 0x94;
constexpr std::uint8_t kUsage = 0x08;
constexpr std::uint8_t kInput = 0x80;
constexpr std::uint8_t kFeature = 0xB0;
constexpr std::uint8_t kCollection = 0xA0;
constexpr std::uint8_t kEndCollection = 0xC0;
constexpr std::uint8_t kApplication = 0x01;
constexpr std::uint8_t kDataVariableAbsolute = 0x02;

void Put(std::vector<std::uint8_t>& out, std::uint8_t prefix, std::uint32_t bits, int bytes) {
    out.push_back(static_cast<std::uint8_t>(prefix | (bytes == 4 ? 3 : bytes)));
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}

void Unsigned(std::vector<std::uint8_t>& out, std::uint8_t prefix, std::uint32_t value) {
    Put(out, prefix, value, value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : 4);
}

// Signed items are read sign-extended from their size, so 0xFFFF needs four bytes.
void Signed(std::vector<std::uint8_t>& out, std::uint8_t prefix, std::int32_t value) {
    const int bytes = value >= std::numeric_limits<std::int8_t>::min() && value <= std::numeric_limits<std::int8_t>::max()     ? 1
                      : value >= std::numeric_limits<std::int16_t>::min() && value <= std::numeric_limits<std::int16_t>::max() ? 2
                                                                                                                             : 4;
    Put(out, prefix, static_cast<std::uint32_t>(value), bytes);
}

[[noreturn]] void Refuse(const tavo::laptops::HidSheet& hid, std::size_t index, const std::string& what) {
    throw DescriptorError("hid \"" + hid.name + "\", feature value " + std::to_string(index) + ": " + what);
}

}  // namespace

std::vector<std::uint8_t> BuildReportDescriptor(const tavo::laptops::HidSheet& hid) {
    std::vector<std::uint8_t> out;
    Unsigned(out, kUsagePage, hid.usagePage);
    Unsigned(out, kUsage, hid.usage);
    Unsigned(out, kCollection, kApplication);
    const bool numbered = !hid.featureValues.empty() && hid.featureValues.front().reportId != 0;
    for (std::size_t i = 0; i < hid.featureValues.size(); ++i) {
        const auto& v = hid.featureValues[i];
        if ((v.reportId != 0) != numbered)
            Refuse(hid, i, "report id 0 and other report ids cannot share a collection");
        if (v.bitSize < 1 || v.bitSize > 32) Refuse(hid, i, "bitSize must be 1 to 32, not " + std::to_string(v.bitSize));
        if (v.reportCount < 1) Refuse(hid, i, "reportCount must be at least 1");
        if (numbered) Unsigned(out, kReportId, v.reportId);
        Unsigned(out, kUsagePage, v.usagePage);
        Unsigned(out, kUsage, v.usage);
        Signed(out, kLogicalMinimum, v.logicalMin);
        Signed(out, kLogicalMaximum, v.logicalMax);
        Signed(out, kPhysicalMinimum, v.physicalMin);
        Signed(out, kPhysicalMaximum, v.physicalMax);
        Unsigned(out, kReportSize, v.bitSize);
        Unsigned(out, kReportCount, v.reportCount);
        Unsigned(out, kFeature, kDataVariableAbsolute);
    }
    // A collection needs a report to exist at all: one without feature values gets a byte of
    // input of its own usage, which nothing ever sends.
    if (hid.featureValues.empty()) {
        Signed(out, kLogicalMinimum, 0);
        Signed(out, kLogicalMaximum, 0xFF);
        Unsigned(out, kReportSize, 8);
        Unsigned(out, kReportCount, 1);
        Unsigned(out, kUsage, hid.usage);
        Unsigned(out, kInput, kDataVariableAbsolute);
    }
    out.push_back(kEndCollection);
    if (out.size() > 0xFFFF) throw DescriptorError("hid \"" + hid.name + "\": the report descriptor is longer than 65535 bytes");
    return out;
}

}  // namespace vlaptop
