// Raw-input records of any size and contents into the input agent, as its dialog fetches
// them: into the record buffer, then read as a RAWINPUT of the 64-bit layout, a shorter
// record reading as zeros past its end. Starting from any stored AABB, each record must
// flip and write the toggle exactly when it is an all-zero mouse report.
#include <cstring>
#include <optional>
#include <vector>

#include "fuzz_input.h"
#include "fuzz_targets.h"
#include "toggle_agent.h"
#include "toggle_rule.h"

namespace tavo::fuzz {
namespace {

// RAWINPUT on x86-64: the header (type, size, device, wParam), then RAWMOUSE.
struct RawInput64 {
    std::uint32_t dwType;
    std::uint32_t dwSize;
    std::uint64_t hDevice;
    std::uint64_t wParam;
    std::uint16_t usFlags;
    std::uint16_t padding;
    std::uint16_t usButtonFlags;
    std::uint16_t usButtonData;
    std::uint32_t ulRawButtons;
    std::int32_t lLastX;
    std::int32_t lLastY;
    std::uint32_t ulExtraInformation;
};
static_assert(sizeof(RawInput64) == 48);

kvr::MouseRecord Decode(const std::uint8_t* bytes, std::size_t size) {
    RawInput64 raw{};
    std::memcpy(&raw, bytes, std::min(size, sizeof raw));
    kvr::MouseRecord r;
    r.type = raw.dwType;
    r.device = static_cast<std::uintptr_t>(raw.hDevice);
    r.flags = raw.usFlags;
    r.buttonFlags = raw.usButtonFlags;
    r.buttonData = raw.usButtonData;
    r.rawButtons = raw.ulRawButtons;
    r.lastX = raw.lLastX;
    r.lastY = raw.lLastY;
    r.extraInformation = raw.ulExtraInformation;
    return r;
}

// The settings key as RegQueryValueExW reads AABB into the agent's 4-byte buffer.
class ModelKey : public kvr::ToggleKey {
public:
    bool exists = true;
    bool present = false;
    std::uint32_t type = kvr::kRegDword;
    std::vector<std::uint8_t> data;
    std::vector<std::int32_t> writes;

    kvr::StoredToggle Read() override {
        if (!exists) return {};
        if (!present || data.size() > 4) return {true, false, 0, 0};
        kvr::StoredToggle s{true, true, type, 0};
        if (!data.empty()) std::memcpy(&s.value, data.data(), data.size());
        return s;
    }
    bool Write(std::int32_t state) override {
        if (!exists) return false;
        present = true;
        type = kvr::kRegDword;
        data.assign(4, 0);
        std::memcpy(data.data(), &state, 4);
        writes.push_back(state);
        return true;
    }
};

}  // namespace

int FuzzRawInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    ModelKey key;
    key.exists = in.U8() < 240;
    key.present = in.Bit();
    key.type = in.Bit() ? kvr::kRegDword : in.U32();
    key.data = in.Bytes(in.Size(8));

    kvr::ToggleAgent agent(key);
    FUZZ_CHECK(agent.state() == 0);
    const kvr::StoredToggle stored = key.Read();
    agent.Start();
    FUZZ_CHECK(agent.state() == kvr::InitialToggleState(stored));

    kvr::RecordBuffer buffer;
    std::size_t largest = 0;
    std::size_t growths = 0;
    for (int n = 0; n < 256 && !in.empty(); ++n) {
        const std::size_t recordSize = in.U8() < 224 ? in.Size(96) : in.Size(1 << 16);
        if (recordSize == 0) continue;  // the dialog drops an empty record before the buffer
        std::uint8_t* bytes = buffer.Reserve(recordSize);
        FUZZ_CHECK(bytes != nullptr);
        if (recordSize > largest) {
            // A grown buffer starts zeroed.
            for (std::size_t i = 0; i < recordSize; ++i) FUZZ_CHECK(bytes[i] == 0);
            largest = recordSize;
            ++growths;
        }
        FUZZ_CHECK(buffer.capacity() == largest && buffer.allocations() == growths);
        const std::vector<std::uint8_t> record = in.Bytes(recordSize);
        std::memcpy(bytes, record.data(), recordSize);

        const kvr::MouseRecord r = Decode(bytes, recordSize);
        const std::int32_t stateBefore = agent.state();
        const std::size_t writesBefore = key.writes.size();
        const bool toggled = agent.OnMouseRecord(r);
        const bool allZero = r.type == kvr::kRimTypeMouse && r.flags == 0 && r.buttonFlags == 0 &&
                             r.buttonData == 0 && r.rawButtons == 0 && r.lastX == 0 && r.lastY == 0 &&
                             r.extraInformation == 0;
        FUZZ_CHECK(toggled == allZero);
        if (toggled) {
            // 0 to 1, 1 to 0, nothing usable stored (-1) to 0; never anything but 0 or 1.
            if (stateBefore == 0) FUZZ_CHECK(agent.state() == 1);
            if (stateBefore == 1 || stateBefore == -1) FUZZ_CHECK(agent.state() == 0);
            FUZZ_CHECK(agent.state() == 0 || agent.state() == 1);
            FUZZ_CHECK(key.writes.size() == writesBefore + (key.exists ? 1 : 0));
            if (key.exists) FUZZ_CHECK(key.writes.back() == agent.state());
        } else {
            FUZZ_CHECK(agent.state() == stateBefore);
            FUZZ_CHECK(key.writes.size() == writesBefore);
        }
    }
    return 0;
}

}  // namespace tavo::fuzz
