// The input agent's portable part: the toggle-report rule, the flip, the start state and
// what reaches the settings key over a run of reports.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "single_instance.h"
#include "toggle_agent.h"
#include "toggle_rule.h"

namespace {

using kvr::MouseRecord;

constexpr std::uint32_t kRegSz = 1, kRegBinary = 3, kRimTypeKeyboard = 1, kRimTypeHid = 2;

MouseRecord With(void (*edit)(MouseRecord&)) {
    MouseRecord r;
    edit(r);
    return r;
}

// ---- which records toggle ----------------------------------------------------------------
struct RuleCase {
    const char* name;
    MouseRecord record;
    bool toggles;
};

const RuleCase kRuleCases[] = {
    {"all_zero", MouseRecord{}, true},
    {"second_mouse_all_zero", With([](MouseRecord& r) { r.device = 0x2a0041; }), true},
    {"extra_information", With([](MouseRecord& r) { r.extraInformation = 0xff515700; }), false},
    {"wheel", With([](MouseRecord& r) { r.buttonFlags = 0x0400; r.buttonData = 120; }), false},
    {"button_data_alone", With([](MouseRecord& r) { r.buttonData = 0xff88; }), false},
    {"left_button_down", With([](MouseRecord& r) { r.buttonFlags = 0x0001; }), false},
    {"raw_buttons", With([](MouseRecord& r) { r.rawButtons = 1; }), false},
    {"move_right", With([](MouseRecord& r) { r.lastX = 1; }), false},
    {"move_up", With([](MouseRecord& r) { r.lastY = -1; }), false},
    {"absolute_flag", With([](MouseRecord& r) { r.flags = 0x0001; }), false},
    {"virtual_desktop_flag", With([](MouseRecord& r) { r.flags = 0x0002; }), false},
    {"keyboard_header", With([](MouseRecord& r) { r.type = kRimTypeKeyboard; }), false},
    {"hid_header", With([](MouseRecord& r) { r.type = kRimTypeHid; }), false},
};

class ToggleRule : public testing::TestWithParam<RuleCase> {};

TEST_P(ToggleRule, OnlyAnAllZeroMouseRecordToggles) {
    EXPECT_EQ(kvr::IsToggleReport(GetParam().record), GetParam().toggles);
}

INSTANTIATE_TEST_SUITE_P(Records, ToggleRule, testing::ValuesIn(kRuleCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the flip ----------------------------------------------------------------------------
struct FlipCase {
    std::int32_t old, flipped;
};

const FlipCase kFlipCases[] = {
    {0, 1}, {1, 0}, {-1, 0}, {2, 1}, {3, 0}, {-2, 1}, {INT32_MAX, 0}, {INT32_MIN, 1},
};

class Flip : public testing::TestWithParam<FlipCase> {};

TEST_P(Flip, IsTheLowestBitOfOldMinusOne) {
    EXPECT_EQ(kvr::FlipToggleState(GetParam().old), GetParam().flipped) << "old " << GetParam().old;
}

INSTANTIATE_TEST_SUITE_P(States, Flip, testing::ValuesIn(kFlipCases));

// ---- the start state from one read of AABB -----------------------------------------------
struct InitialCase {
    const char* name;
    kvr::StoredToggle stored;
    std::int32_t state;
};

const InitialCase kInitialCases[] = {
    {"key_absent", {false, false, 0, 0}, 0},
    {"key_absent_ignores_the_rest", {false, true, kvr::kRegDword, 1}, 0},
    {"value_absent", {true, false, 0, 0}, -1},
    {"dword_one", {true, true, kvr::kRegDword, 1}, 1},
    {"dword_zero", {true, true, kvr::kRegDword, 0}, 0},
    {"dword_other", {true, true, kvr::kRegDword, 7}, 7},
    {"short_string", {true, true, kRegSz, 0x31}, -1},
    {"binary", {true, true, kRegBinary, 1}, -1},
};

class InitialState : public testing::TestWithParam<InitialCase> {};

TEST_P(InitialState, FollowsTheRead) {
    EXPECT_EQ(kvr::InitialToggleState(GetParam().stored), GetParam().state);
}

INSTANTIATE_TEST_SUITE_P(Reads, InitialState, testing::ValuesIn(kInitialCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- a run of reports against a modelled settings key ------------------------------------
struct StoredValue {
    std::uint32_t type;
    std::vector<std::uint8_t> data;
    bool operator==(const StoredValue&) const = default;
};

StoredValue Dword(std::int32_t v) {
    StoredValue s{kvr::kRegDword, std::vector<std::uint8_t>(4)};
    std::memcpy(s.data.data(), &v, 4);
    return s;
}

StoredValue Wide(const char16_t* text) {
    std::u16string t(text);
    StoredValue s{kRegSz, std::vector<std::uint8_t>((t.size() + 1) * 2)};
    std::memcpy(s.data.data(), t.c_str(), s.data.size());
    return s;
}

// Reads as RegQueryValueExW does into a 4-byte buffer: a longer value fails (ERROR_MORE_DATA).
class ModelKey : public kvr::ToggleKey {
public:
    ModelKey(bool exists, std::optional<StoredValue> aabb) : exists_(exists), aabb_(std::move(aabb)) {}

    kvr::StoredToggle Read() override {
        if (!exists_) return {};
        if (!aabb_ || aabb_->data.size() > 4) return {true, false, 0, 0};
        kvr::StoredToggle s{true, true, aabb_->type, 0};
        std::memcpy(&s.value, aabb_->data.data(), aabb_->data.size());
        return s;
    }
    bool Write(std::int32_t state) override {
        if (!exists_) return false;
        aabb_ = Dword(state);
        writes.push_back(state);
        return true;
    }

    bool exists() const { return exists_; }
    const std::optional<StoredValue>& aabb() const { return aabb_; }
    std::vector<std::int32_t> writes;

private:
    bool exists_;
    std::optional<StoredValue> aabb_;
};

const MouseRecord kZero{};
const MouseRecord kMove = With([](MouseRecord& r) { r.lastX = 3; r.lastY = -2; });
const MouseRecord kClick = With([](MouseRecord& r) { r.buttonFlags = 0x0001; });
const MouseRecord kOtherMouseZero = With([](MouseRecord& r) { r.device = 0x10047; });

struct RunCase {
    const char* name;
    bool keyExists;
    std::optional<StoredValue> before;
    std::vector<MouseRecord> reports;
    std::vector<std::int32_t> writes;
    std::optional<StoredValue> after;
    std::int32_t state;
};

const RunCase kRunCases[] = {
    {"value_absent_writes_0_then_1", true, std::nullopt, {kZero, kZero}, {0, 1}, Dword(1), 1},
    {"one_writes_0", true, Dword(1), {kZero}, {0}, Dword(0), 0},
    {"zero_writes_1", true, Dword(0), {kZero}, {1}, Dword(1), 1},
    {"other_number_writes_its_flip", true, Dword(6), {kZero}, {1}, Dword(1), 1},
    {"short_string_is_replaced_by_dword_0", true, Wide(u"1"), {kZero}, {0}, Dword(0), 0},
    {"long_string_is_replaced_by_dword_0", true, Wide(u"on"), {kZero}, {0}, Dword(0), 0},
    {"binary_is_replaced_by_dword_0", true, StoredValue{kRegBinary, {1, 0, 0, 0}}, {kZero}, {0}, Dword(0), 0},
    {"movement_and_clicks_write_nothing", true, Dword(1), {kMove, kClick, kMove}, {}, Dword(1), 1},
    {"only_the_zero_reports_count", true, Dword(1), {kMove, kZero, kClick, kOtherMouseZero}, {0, 1}, Dword(1), 1},
    {"key_absent_writes_and_creates_nothing", false, std::nullopt, {kZero, kZero, kZero}, {}, std::nullopt, 1},
};

class ToggleRun : public testing::TestWithParam<RunCase> {};

TEST_P(ToggleRun, WritesEachFlipToTheKey) {
    const RunCase& c = GetParam();
    ModelKey key(c.keyExists, c.before);
    kvr::ToggleAgent agent(key);
    agent.Start();
    for (const MouseRecord& r : c.reports) agent.OnMouseRecord(r);
    EXPECT_EQ(key.writes, c.writes);
    EXPECT_EQ(key.aabb(), c.after);
    EXPECT_EQ(key.exists(), c.keyExists);
    EXPECT_EQ(agent.state(), c.state);
}

INSTANTIATE_TEST_SUITE_P(Runs, ToggleRun, testing::ValuesIn(kRunCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the record buffer -------------------------------------------------------------------
struct BufferCase {
    const char* name;
    std::vector<std::size_t> sizes;
    std::size_t capacity, allocations;
};

const BufferCase kBufferCases[] = {
    {"first_record_allocates", {48}, 48, 1},
    {"same_size_reuses", {48, 48, 48}, 48, 1},
    {"smaller_never_shrinks", {48, 40, 24}, 48, 1},
    {"larger_grows", {24, 48, 40, 64}, 64, 3},
};

class Buffer : public testing::TestWithParam<BufferCase> {};

TEST_P(Buffer, GrowsOnlyForALargerRecordAndStartsZeroed) {
    kvr::RecordBuffer buffer;
    for (std::size_t size : GetParam().sizes) {
        const std::size_t before = buffer.capacity();
        std::uint8_t* p = buffer.Reserve(size);
        ASSERT_GE(buffer.capacity(), size);
        if (buffer.capacity() != before) {
            for (std::size_t i = 0; i < buffer.capacity(); ++i) ASSERT_EQ(p[i], 0) << "byte " << i;
        }
        std::memset(p, 0xcd, size);  // the record fetched into it
    }
    EXPECT_EQ(buffer.capacity(), GetParam().capacity);
    EXPECT_EQ(buffer.allocations(), GetParam().allocations);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Buffer, testing::ValuesIn(kBufferCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- one agent per session -----------------------------------------------------------------
// The session's named objects as the kernel keeps them: a name exists while a handle holds it.
struct SessionNamespace {
    int holders = 0;
    bool createFails = false;
};

class ModelMutex : public kvr::InstanceMutex {
public:
    explicit ModelMutex(SessionNamespace& session) : session_(session) {}
    ~ModelMutex() override {
        if (held_) --session_.holders;
    }
    bool Open() override { return session_.holders > 0; }
    Created Create() override {
        ++creates;
        if (beforeCreate) beforeCreate();
        if (session_.createFails) return Created::Failed;
        held_ = true;
        return session_.holders++ > 0 ? Created::AlreadyExists : Created::New;
    }

    std::function<void()> beforeCreate;  // what another agent does between Open and Create
    int creates = 0;

private:
    SessionNamespace& session_;
    bool held_ = false;
};

struct InstanceCase {
    const char* name;
    bool otherRunning;        // another agent holds the mutex before this one starts
    bool otherStartsBetween;  // another agent claims between this one's Open and Create
    bool createFails;
    bool claims;
    int creates;
};

const InstanceCase kInstanceCases[] = {
    {"alone", false, false, false, true, 1},
    {"another_running", true, false, false, false, 0},
    {"two_starting_together", false, true, false, false, 1},
    {"mutex_cannot_be_made", false, false, true, true, 1},
};

class Instance : public testing::TestWithParam<InstanceCase> {};

TEST_P(Instance, OneAgentPerSession) {
    const InstanceCase& c = GetParam();
    SessionNamespace session;
    session.createFails = c.createFails;
    ModelMutex other(session), self(session);
    bool otherClaims = c.otherRunning;
    if (c.otherRunning) ASSERT_TRUE(kvr::ClaimSession(other));
    if (c.otherStartsBetween) self.beforeCreate = [&] { otherClaims = kvr::ClaimSession(other); };

    EXPECT_EQ(kvr::ClaimSession(self), c.claims);
    EXPECT_EQ(self.creates, c.creates);
    if (c.otherRunning || c.otherStartsBetween) EXPECT_NE(otherClaims, c.claims) << "exactly one agent goes on";
}

INSTANTIATE_TEST_SUITE_P(Starts, Instance, testing::ValuesIn(kInstanceCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
