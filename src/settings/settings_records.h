// The touchpad settings as the service keeps them: the layout of the settings key, the two
// records that travel between the registry, the companion and the device, and the records
// the service holds for its whole life.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/registry_paths.h"

namespace tavo {

// ---- values under the settings key (and, for the fourteen settings, under each user's subkey)
// All are REG_DWORD handled as signed 32-bit numbers, except Version (REG_SZ).
inline constexpr wchar_t kValuePalmCheckLevel[] = L"PalmCheck_Level";
inline constexpr wchar_t kValuePalmCheckRangeUp[] = L"PalmCheck_Range_Up";
inline constexpr wchar_t kValuePalmCheckRangeDown[] = L"PalmCheck_Range_Down";
inline constexpr wchar_t kValuePalmCheckRangeLeft[] = L"PalmCheck_Range_Left";
inline constexpr wchar_t kValuePalmCheckRangeRight[] = L"PalmCheck_Range_Right";
inline constexpr wchar_t kValueCurrentControlItem[] = L"CurrentControlItem";
inline constexpr wchar_t kValueHapticEnabled[] = L"HapticEnabled";
inline constexpr wchar_t kValueHapticFeedbackCheckSlider[] = L"HapticFeedbackCheckSlider";
inline constexpr wchar_t kValueFingerDetectionForceCheckOption[] = L"FingerDetectionForceCheckOption";
inline constexpr wchar_t kValueClickForceCheckOption[] = L"ClickForceCheckOption";
inline constexpr wchar_t kValueUseTopZoneAsVadavAreduButtonsEnabled[] = L"UseTopZoneAsVadavAreduButtonsEnabled";
inline constexpr wchar_t kValueVadavAreduButtonClickForceCheckOption[] = L"VadavAreduButtonClickForceCheckOption";
inline constexpr wchar_t kValueUseTopZoneAsVadavAreduButtonsNotGrayOut[] = L"UseTopZoneAsVadavAreduButtonsNotGrayOut";
inline constexpr wchar_t kValueUseTopZoneAsVadavAreduButtonsPreviousManualStatus[] =
    L"UseTopZoneAsVadavAreduButtonsPreviousManualStatus";
inline constexpr wchar_t kValueForcepadCapability[] = L"ForcepadCapability";
inline constexpr wchar_t kValueFunctionCustomPalmRejection[] = L"Function_CustomPalmRejection";
inline constexpr wchar_t kValueAABB[] = L"AABB";
inline constexpr wchar_t kValueBIOSEnablePSTStatus[] = L"BIOSEnablePSTStatus";
inline constexpr wchar_t kValueDisableEventLog[] = L"DisableEventLog";
inline constexpr wchar_t kValueVersion[] = L"Version";

// What a read of a missing (or not REG_DWORD) value gives; "nothing stored" in any field.
inline constexpr std::int32_t kNotStored = -1;

// Palm-check settings; the field order is also the order of every registry read and write.
struct PalmSettings {
    std::int32_t level = 0;
    std::int32_t up = 0;
    std::int32_t down = 0;
    std::int32_t left = 0;
    std::int32_t right = 0;
    friend bool operator==(const PalmSettings&, const PalmSettings&) = default;
};

// Forcepad settings; field n (CurrentControlItem is 0) is the one that forcepad item n edits.
struct ForcepadSettings {
    std::int32_t CurrentControlItem = 0;
    std::int32_t HapticEnabled = 0;
    std::int32_t HapticFeedbackCheckSlider = 0;
    std::int32_t FingerDetectionForceCheckOption = 0;
    std::int32_t ClickForceCheckOption = 0;
    std::int32_t UseTopZoneAsVadavAreduButtonsEnabled = 0;
    std::int32_t VadavAreduButtonClickForceCheckOption = 0;
    std::int32_t UseTopZoneAsVadavAreduButtonsNotGrayOut = 0;
    std::int32_t UseTopZoneAsVadavAreduButtonsPreviousManualStatus = 0;
    friend bool operator==(const ForcepadSettings&, const ForcepadSettings&) = default;
};

template <typename Record>
struct RecordField {
    std::int32_t Record::*member;
    const wchar_t* valueName;
};

// Field order and registry names of each record.
template <typename Record>
struct RecordLayout;

template <>
struct RecordLayout<PalmSettings> {
    static constexpr std::array<RecordField<PalmSettings>, 5> fields = {{
        {&PalmSettings::level, kValuePalmCheckLevel},
        {&PalmSettings::up, kValuePalmCheckRangeUp},
        {&PalmSettings::down, kValuePalmCheckRangeDown},
        {&PalmSettings::left, kValuePalmCheckRangeLeft},
        {&PalmSettings::right, kValuePalmCheckRangeRight},
    }};
};

template <>
struct RecordLayout<ForcepadSettings> {
    static constexpr std::array<RecordField<ForcepadSettings>, 9> fields = {{
        {&ForcepadSettings::CurrentControlItem, kValueCurrentControlItem},
        {&ForcepadSettings::HapticEnabled, kValueHapticEnabled},
        {&ForcepadSettings::HapticFeedbackCheckSlider, kValueHapticFeedbackCheckSlider},
        {&ForcepadSettings::FingerDetectionForceCheckOption, kValueFingerDetectionForceCheckOption},
        {&ForcepadSettings::ClickForceCheckOption, kValueClickForceCheckOption},
        {&ForcepadSettings::UseTopZoneAsVadavAreduButtonsEnabled, kValueUseTopZoneAsVadavAreduButtonsEnabled},
        {&ForcepadSettings::VadavAreduButtonClickForceCheckOption, kValueVadavAreduButtonClickForceCheckOption},
        {&ForcepadSettings::UseTopZoneAsVadavAreduButtonsNotGrayOut, kValueUseTopZoneAsVadavAreduButtonsNotGrayOut},
        {&ForcepadSettings::UseTopZoneAsVadavAreduButtonsPreviousManualStatus,
         kValueUseTopZoneAsVadavAreduButtonsPreviousManualStatus},
    }};
};

template <typename Record>
inline constexpr std::size_t kFieldCount = RecordLayout<Record>::fields.size();

// Field n of a record, in layout order.
template <typename Record>
constexpr std::int32_t& Field(Record& record, std::size_t n) {
    return record.*(RecordLayout<Record>::fields[n].member);
}
template <typename Record>
constexpr std::int32_t Field(const Record& record, std::size_t n) {
    return record.*(RecordLayout<Record>::fields[n].member);
}

// A record shared by many threads without a lock: each field is its own atomic, so
// concurrent writers interleave value by value and the last writer of a value wins.
// A whole-record Load may therefore mix fields of two writers, as the registry itself does.
template <typename Record>
class SharedRecord {
public:
    SharedRecord() = default;
    SharedRecord(const SharedRecord&) = delete;
    SharedRecord& operator=(const SharedRecord&) = delete;

    Record Load() const {
        Record r;
        for (std::size_t i = 0; i < kFieldCount<Record>; ++i) Field(r, i) = fields_[i].load();
        return r;
    }
    void Store(const Record& r) {
        for (std::size_t i = 0; i < kFieldCount<Record>; ++i) fields_[i].store(Field(r, i));
    }
    std::int32_t Get(std::size_t n) const { return fields_[n].load(); }
    void Set(std::size_t n, std::int32_t v) { fields_[n].store(v); }

private:
    std::array<std::atomic<std::int32_t>, kFieldCount<Record>> fields_{};
};

// Runs decide(copy) on a copy of a shared record, then stores only the fields the run
// changed, so a value another thread wrote meanwhile survives. Returns decide's result.
template <typename Record, typename Decide>
int DecideOnShared(SharedRecord<Record>& record, Decide decide) {
    const Record before = record.Load();
    Record working = before;
    const int result = decide(working);
    for (std::size_t i = 0; i < kFieldCount<Record>; ++i)
        if (Field(working, i) != Field(before, i)) record.Set(i, Field(working, i));
    return result;
}

// The forcepad item that stands for the whole default set.
inline constexpr std::int32_t FORCEPAD_DEFAULT_VALUE = 7;

// Constant records. The two forcepad default records hold the same values but are kept
// apart because they answer different questions (any default vs. dynamic-mode default).
inline constexpr PalmSettings kDynamicPalmSettings{5, 0, 0, 0, 0};
inline constexpr ForcepadSettings kForcepadDefaults{FORCEPAD_DEFAULT_VALUE, 1, 50, 0, 1, 1, 0, 1, 1};
inline constexpr ForcepadSettings kForcepadDynamicModeDefaults{FORCEPAD_DEFAULT_VALUE, 1, 50, 0, 1, 1, 0, 1, 1};

// Records held for the life of the process; all start at zero. The level of the palm
// defaults is set from the driver's default settings at start.
extern SharedRecord<PalmSettings>& livePalmSettings;
extern SharedRecord<ForcepadSettings>& liveForcepadSettings;
extern SharedRecord<PalmSettings>& palmDefaults;

}  // namespace tavo
