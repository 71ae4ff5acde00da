// Everything at once on real threads: the settings application's procedures from several
// clients, the input agent's toggles, logons, logoffs, resumes and arrivals, and a stop
// while they still run. Under ThreadSanitizer this is the race check of the whole service.
// In every build it checks that each settings value written, left in force or read back is
// one that some writer sent: the last writer wins value by value, and no value is torn or
// invented.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "native/service_fixture.h"
#include "platform/sync.h"
#include "rpc/procedures.h"

namespace tavo::test {
namespace {

constexpr int kRounds = 24;  // per actor thread; a few seconds under ThreadSanitizer
constexpr std::int32_t kPalmDefaultLevel = 2;  // the driver package's default palm level

// bob, at the console every other round, without the companion; his haptic strength is one
// that no one else stores, so it shows wherever his record lands.
const std::wstring kBob = kInForce + L"\\bob";
constexpr ForcepadSettings kBobForcepad{3, 1, 99, 1, 1, 0, 1, 1, 0};

// What client c sends in round r: values of its own in every field that is not range-checked,
// so a value that went to the wrong field or the wrong place shows.
PalmSettings PalmSent(int c, int r) {
    return {(c + r) % 4, 1000 * (c + 1) + r, 2000 * (c + 1) + r, 3000 * (c + 1) + r, 4000 * (c + 1) + r};
}
ForcepadSettings ForcepadSent(int c, int r) {
    return {1 + (c + r) % 6, (c + r) % 2, 10 * (c + 1) + r % 10, (c + r) % 3, r % 3, (c + r) % 2, c % 3, r % 2,
            (c + 1) % 2};
}

class StressTest : public ServiceTest {
public:
    // One kind of writer: how many threads, and one round of it.
    struct Actor {
        const char* name;
        int threads;
        void (*round)(StressTest& t, int thread, int round);
    };

    sim::Machine& Machine() { return machine; }
    // A record a client read back, to be checked with the values written.
    template <typename Record>
    void Read(const Record& r) {
        std::lock_guard<std::mutex> lock(readsLock_);
        for (std::size_t i = 0; i < kFieldCount<Record>; ++i)
            reads_.emplace_back(RecordLayout<Record>::fields[i].valueName, Field(r, i));
    }

protected:
    // Every value each settings field may hold: what some client sent, what was stored before,
    // and the fallback records the decisions put in place of what they cannot use.
    std::map<std::wstring, std::set<std::int32_t>> Allowed(int clients) const {
        std::map<std::wstring, std::set<std::int32_t>> allowed;
        auto add = [&](const auto& record) {
            using Record = std::decay_t<decltype(record)>;
            for (std::size_t i = 0; i < kFieldCount<Record>; ++i)
                allowed[RecordLayout<Record>::fields[i].valueName].insert(Field(record, i));
        };
        for (int c = 0; c < clients; ++c)
            for (int r = 0; r < kRounds; ++r) {
                add(PalmSent(c, r));
                add(ForcepadSent(c, r));
            }
        for (const auto& r : {kAlicePalm, PalmSettings{kPalmDefaultLevel, 0, 0, 0, 0}, kDynamicPalmSettings}) add(r);
        for (const auto& r : {kAliceForcepad, kBobForcepad, kForcepadDefaults, kForcepadDynamicModeDefaults}) add(r);
        return allowed;
    }

    void Run(const std::vector<Actor>& actors) {
        AliceWithCompanion();
        StorePalm(kBob, {kPalmDefaultLevel, 0, 0, 0, 0});
        StoreForcepad(kBob, kBobForcepad);
        machine.threads.SetMode(sim::SimThreads::Mode::RealThreads);
        // Every write of a settings value, from whichever thread makes it.
        machine.registry.SetWriteHook([this](const std::wstring& place, const std::optional<sim::RegValue>& v) {
            const auto colon = place.rfind(L':');
            if (!v || colon == std::wstring::npos) return;
            std::int32_t value = 0x5EED5EED;
            if (v->type == win::REG_DWORD && v->data.size() == 4) std::memcpy(&value, v->data.data(), 4);
            std::lock_guard<std::mutex> lock(writesLock_);
            writes_.emplace_back(place.substr(colon + 1), value);
            // bob's record read for one event and written after the console changed to alice.
            std::wstring key = place.substr(0, colon);
            for (auto& ch : key) ch = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(ch)));
            if (value == kBobForcepad.HapticFeedbackCheckSlider && key.ends_with(L"\\ALICE")) ++bobsIntoAlice_;
        });
        NewService();
        service->Start(0, nullptr);
        ASSERT_EQ(service->currentState(), win::SERVICE_RUNNING);

        int total = 0;
        for (const auto& a : actors) total += a.threads;
        std::atomic<int> pastThreeQuarters{0};
        std::vector<std::thread> threads;
        for (const auto& a : actors)
            for (int t = 0; t < a.threads; ++t)
                threads.emplace_back([this, &a, t, &pastThreeQuarters] {
                    for (int r = 0; r < kRounds; ++r) {
                        if (r == kRounds * 3 / 4) ++pastThreeQuarters;
                        a.round(*this, t, r);
                    }
                });
        // The stop comes while the last quarter of every actor's rounds still runs.
        while (pastThreeQuarters.load() < total) std::this_thread::yield();
        CServiceBase::ServiceControlHandler(win::SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
        for (auto& t : threads) t.join();
        EndMonitors();
        machine.registry.SetWriteHook(nullptr);
        EXPECT_EQ(service->currentState(), win::SERVICE_STOPPED);
    }

    // Value by value: every write, every value left under the settings key and alice's key,
    // and every value a client read back is one that some writer sent.
    void ExpectOnlyWrittenValues(int clients) {
        const auto allowed = Allowed(clients);
        ASSERT_GT(writes_.size(), 0u);
        ASSERT_GT(reads_.size(), 0u);
        auto check = [&](const wchar_t* what, const std::wstring& name, std::int32_t value) {
            // Value names arrive upper-cased from the registry's places.
            for (const auto& [field, values] : allowed) {
                std::wstring upper = field;
                for (auto& ch : upper) ch = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(ch)));
                if (upper != name && field != name) continue;
                EXPECT_TRUE(values.contains(value)) << std::string(what, what + std::wcslen(what)) << " "
                                                    << std::string(field.begin(), field.end()) << " = " << value;
            }
        };
        for (const auto& [name, value] : writes_) check(L"written:", name, value);
        for (const auto& [name, value] : reads_) check(L"read back:", name, value);
        for (const auto& key : {kInForce, kAlice})
            for (const auto& [field, values] : allowed) {
                const auto v = machine.registry.Dword(key, field);
                ASSERT_TRUE(v.has_value()) << std::string(field.begin(), field.end());
                check(L"left:", field, static_cast<std::int32_t>(*v));
            }
        const auto aabb = machine.registry.Dword(kInForce, kValueAABB);
        EXPECT_TRUE(aabb == 0u || aabb == 1u);
        EXPECT_EQ(bobsIntoAlice_, 0) << "a user's record went to the user who came to the console after it was read";
    }

private:
    int bobsIntoAlice_ = 0;  // under writesLock_
    std::mutex writesLock_, readsLock_;
    std::vector<std::pair<std::wstring, std::int32_t>> writes_, reads_;
};

constexpr int kClients = 3;

const std::vector<StressTest::Actor> kActors = {
    {"settings application", kClients,
     [](StressTest& t, int c, int r) {
         MeteringContext* context = OpenRpcEndpoint();
         const PalmSettings palm = PalmSent(c, r);
         ProcessSetTouchpadSettings(context, &palm);
         PalmSettings palmBack{};
         ProcessGetTouchpadSettings(context, &palmBack);
         t.Read(palmBack);
         const ForcepadSettings forcepad = ForcepadSent(c, r);
         ProcessSetForcepadSettings(context, &forcepad);
         ForcepadSettings forcepadBack{};
         ProcessGetForcepadSettings(context, &forcepadBack);
         t.Read(forcepadBack);
         std::uint8_t status = 0;
         ProcessGetTouchpadStatus(context, &status);
         std::int32_t data = 0;
         ProcessGetTouchpadData(context, 99, &data);
         EXPECT_EQ(data, kTouchpadDataSignature);
         CloseRpcEndpoint(&context);
     }},
    {"input agent", 1,
     [](StressTest& t, int, int r) {
         t.Machine().registry.SetDword(kInForce, kValueAABB, static_cast<win::DWORD>(r % 2));
     }},
    {"session and power", 1,
     [](StressTest&, int, int r) {
         static constexpr struct {
             win::DWORD control, event;
         } kControls[] = {{win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGOFF},
                          {win::SERVICE_CONTROL_SESSIONCHANGE, win::WTS_SESSION_LOGON},
                          {win::SERVICE_CONTROL_POWEREVENT, win::PBT_APMRESUMESUSPEND},
                          {win::SERVICE_CONTROL_DEVICEEVENT, win::DBT_DEVICEARRIVAL}};
         const auto& c = kControls[r % 4];
         auto arrival = sim::DeviceInterfaceBroadcast(win::GUID_CLASS_MOUSE, ForcepadCollection("pointer").path);
         CServiceBase::ServiceControlHandler(c.control, c.event,
                                             c.control == win::SERVICE_CONTROL_DEVICEEVENT ? arrival.data() : nullptr,
                                             nullptr);
     }},
    {"console", 1,
     [](StressTest& t, int, int r) {
         if (r % 2 == 0) {
             t.Machine().sessions.LogOn(L"bob", 2);
         } else {
             t.Machine().sessions.LogOn(L"alice", 1);
         }
     }},
    {"other programs' named events", 1,
     [](StressTest&, int, int r) {
         static constexpr const wchar_t* kNames[] = {
             L"Global\\VQSMessage_PST_ON", L"Global\\API_3HB_Change_Status_Off",
             L"Global\\API_Set_Forcepad_Capability_Enable", L"Global\\VQSMessage_PST_OFF",
             L"Global\\API_3HB_Change_Status_On", L"Global\\API_Set_Forcepad_Capability_Disable"};
         win::HANDLE event{};
         // The events live as long as the service object, which outlives every actor.
         ASSERT_EQ(win::Sync().OpenEventW(win::EVENT_MODIFY_STATE, kNames[r % 6], &event), win::ERROR_SUCCESS);
         win::Sync().SetEvent(event);
         win::Sync().CloseHandle(event);
     }},
};

TEST_F(StressTest, EverythingAtOnceLeavesOnlyValuesSomeWriterSent) {
    Run(kActors);
    ExpectOnlyWrittenValues(kClients);
}

}  // namespace
}  // namespace tavo::test
