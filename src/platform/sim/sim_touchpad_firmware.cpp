#include "platform/sim/sim_touchpad_firmware.h"

#include <algorithm>

namespace sim {

void TouchpadFirmware::Set(win::WORD function, win::WORD value) {
    std::lock_guard<std::mutex> lock(lock_);
    values_[function] = value;
}

std::map<win::WORD, win::WORD> TouchpadFirmware::Values() const {
    std::lock_guard<std::mutex> lock(lock_);
    return values_;
}

std::optional<win::WORD> TouchpadFirmware::Value(win::WORD function) const {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = values_.find(function);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void TouchpadFirmware::Refuse(win::WORD function) {
    std::lock_guard<std::mutex> lock(lock_);
    refused_.insert(function);
}

void TouchpadFirmware::AcceptAll() {
    std::lock_guard<std::mutex> lock(lock_);
    refused_.clear();
}

void TouchpadFirmware::Script(std::deque<Answer> answers) {
    std::lock_guard<std::mutex> lock(lock_);
    script_ = std::move(answers);
}

std::vector<TouchpadFirmware::Report> TouchpadFirmware::Reports() const {
    std::lock_guard<std::mutex> lock(lock_);
    return reports_;
}

void TouchpadFirmware::ClearReports() {
    std::lock_guard<std::mutex> lock(lock_);
    reports_.clear();
}

void TouchpadFirmware::Restart() {
    std::lock_guard<std::mutex> lock(lock_);
    pendingRead_.reset();
}

win::DWORD TouchpadFirmware::SetFeature(const win::BYTE* report, win::ULONG length) {
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<win::BYTE> bytes(report, report + length);
    auto refuse = [&] {
        reports_.push_back({Direction::ToDevice, std::move(bytes), false});
        return win::ERROR_GEN_FAILURE;
    };
    if (length < 5 || report[0] != kReportId) return refuse();
    const win::WORD function = static_cast<win::WORD>(report[1] | report[2] << 8);
    const win::WORD data = static_cast<win::WORD>(report[3] | report[4] << 8);
    // A read request names its target in the data word; a write names it in the function.
    const win::WORD target = function == kReadRequest ? data : function;
    if (!values_.contains(target) || refused_.contains(target)) return refuse();
    if (function == kReadRequest)
        pendingRead_ = data;
    else
        values_[function] = data;
    reports_.push_back({Direction::ToDevice, std::move(bytes), true});
    return win::ERROR_SUCCESS;
}

win::DWORD TouchpadFirmware::GetFeature(win::BYTE* report, win::ULONG length) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!script_.empty() && length >= 5 && report[0] == kReportId) {
        const Answer answer = script_.front();
        script_.pop_front();
        if (answer.error != 0) {
            reports_.push_back({Direction::FromDevice, {}, false});
            return answer.error;
        }
        std::copy(answer.bytes.begin(), answer.bytes.end(), report);
        reports_.push_back({Direction::FromDevice, std::vector<win::BYTE>(report, report + 5), true});
        return win::ERROR_SUCCESS;
    }
    if (length < 5 || report[0] != kReportId || !pendingRead_) {
        reports_.push_back({Direction::FromDevice, {}, false});
        return win::ERROR_GEN_FAILURE;
    }
    const win::WORD function = *pendingRead_;
    const win::WORD value = values_.at(function);
    report[1] = static_cast<win::BYTE>(function & 0xFF);
    report[2] = static_cast<win::BYTE>(function >> 8);
    report[3] = static_cast<win::BYTE>(value & 0xFF);
    report[4] = static_cast<win::BYTE>(value >> 8);
    reports_.push_back({Direction::FromDevice, std::vector<win::BYTE>(report, report + 5), true});
    return win::ERROR_SUCCESS;
}

}  // namespace sim
