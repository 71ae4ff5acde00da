// The HID report descriptor of a virtual collection, built from its description in a laptop
// file: one application collection of the file's usage page and usage holding each feature
// value as a variable feature item, so that HidP_GetCaps and HidP_GetValueCaps give back
// what the file says. Portable, so it is tested natively.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "laptops/laptop_file.h"

namespace vlaptop {

class DescriptorError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws DescriptorError for what no descriptor can say: report ids 0 and non-0 mixed in
// one collection, a value wider than 32 bits, a logical or physical range the other way
// round, a descriptor longer than 65535 bytes.
std::vector<std::uint8_t> BuildReportDescriptor(const tavo::laptops::HidSheet& hid);

}  // namespace vlaptop
