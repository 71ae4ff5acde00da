#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "native/sim_fixture.h"
#include "service/sample_service.h"
#include "log/trace_log.h"

namespace tavo::test {
namespace {

constexpr wchar_t kSettingsKey[] = L"HKLM\\System\\CurrentControlSet\\Control\\Brindlex_PTP";

std::wstring Record(const char* format, ...) {
    wchar_t out[kTraceWideChars + 16];
    for (auto& c : out) c = L'#';
    va_list args;
    va_start(args, format);
    FormatTraceRecord(out, format, args);
    va_end(args);
    std::wstring text(out);
    // The record and its terminator stay inside the 512-character buffer.
    EXPECT_LE(text.size() + 1, kTraceWideChars);
    for (std::size_t i = kTraceWideChars; i < kTraceWideChars + 16; ++i) EXPECT_EQ(out[i], L'#');
    return text;
}

TEST(TraceRecord, EveryMessageEndsInExactlyOneCrLf) {
    EXPECT_EQ(Record("Register Event Success\n"), L"Register Event Success\r\n");
    EXPECT_EQ(Record("line\r\n"), L"line\r\n");
    EXPECT_EQ(Record("Service in OnStart--"), L"Service in OnStart--\r\n");
    EXPECT_EQ(Record("two\n\n\r\n"), L"two\r\n");
}

TEST(TraceRecord, TrailingWhiteSpaceIsRemovedButInnerWhiteSpaceKept) {
    EXPECT_EQ(Record("abc \t"), L"abc\r\n");
    EXPECT_EQ(Record("a \t b\v\f \n"), L"a \t b\r\n");
    EXPECT_EQ(Record(""), L"\r\n");
    EXPECT_EQ(Record(" \t\r\n\v\f"), L"\r\n");
}

TEST(TraceRecord, LongMessagesAreCutToFitWithTheirLineEnd) {
    std::string longText(5000, 'x');
    std::wstring rec = Record("%s", longText.c_str());
    EXPECT_EQ(rec.size(), kTraceWideChars - 1);
    EXPECT_EQ(rec.substr(rec.size() - 2), L"\r\n");
    EXPECT_EQ(rec.find_first_not_of(L'x'), rec.size() - 2);
    // Exactly at the limit nothing is lost.
    std::string fits(kTraceWideChars - 3, 'y');
    EXPECT_EQ(Record("%s", fits.c_str()), std::wstring(fits.begin(), fits.end()) + L"\r\n");
    // A cut that ends in an inner line end or blanks still gives one "\r\n" after the text.
    std::string inner = std::string(kTraceWideChars - 5, 'z') + "\r\n" + std::string(40, 'w');
    EXPECT_EQ(Record("%s", inner.c_str()), std::wstring(kTraceWideChars - 5, L'z') + L"\r\n");
    std::string blanks = std::string(kTraceWideChars - 6, 'v') + " \t  " + std::string(40, 'u');
    EXPECT_EQ(Record("%s", blanks.c_str()), std::wstring(kTraceWideChars - 6, L'v') + L"\r\n");
}

TEST(TraceRecord, TheCutFallsWhereverTheRecordEnds) {
    constexpr std::size_t kText = kTraceWideChars - 3;
    const std::string lead(kText - 4, 'q');
    const std::wstring wlead(lead.begin(), lead.end());
    // In a conversion's digits, in a wide argument, in an argument after the limit.
    EXPECT_EQ(Record("%s0x%.8X", lead.c_str(), 0xABCu), wlead + L"0x00\r\n");
    EXPECT_EQ(Record("%s%ws", lead.c_str(), L"wide-text"), wlead + L"wide\r\n");
    EXPECT_EQ(Record("%s%S|%d|%s", lead.c_str(), L"wide", 5, "more"), wlead + L"wide\r\n");
    // Width and precision around the limit; padding cut at the limit is blank and stripped.
    const std::string longText(600, 'y');
    EXPECT_EQ(Record("%.*s", static_cast<int>(kText), longText.c_str()), std::wstring(kText, L'y') + L"\r\n");
    EXPECT_EQ(Record("%.*s", static_cast<int>(kText + 1), longText.c_str()), std::wstring(kText, L'y') + L"\r\n");
    EXPECT_EQ(Record("%*s", static_cast<int>(kText), "ab"), std::wstring(kText - 2, L' ') + L"ab\r\n");
    EXPECT_EQ(Record("%*s", static_cast<int>(kText + 1), "ab"), std::wstring(kText - 1, L' ') + L"a\r\n");
    EXPECT_EQ(Record("%600s", "ab"), L"\r\n");
    EXPECT_EQ(Record("%-600s|", "ab"), L"ab\r\n");
    EXPECT_EQ(Record("%s%20d", lead.c_str(), 7), wlead + L"\r\n");
}

TEST(TraceRecord, BytesAboveAsciiWidenOneToOne) {
    EXPECT_EQ(Record("caf\xe9"), std::wstring(L"caf\u00e9\r\n"));
}

class TraceLogTest : public SimTest {};

TEST_F(TraceLogTest, MessagesOutsideTheProvidersLifetimeAreDropped) {
    TraceLog("before any service object");
    {
        CSampleService service;
        TraceLog("while registered %d", 7);
    }
    TraceLog("after teardown");
    auto written = Written();
    // EnableTracelog runs before registration: none of its lines can be seen.
    EXPECT_FALSE(Logged(L"EnableTracelog++\r\n"));
    EXPECT_FALSE(Logged(L"EnableTracelog--\r\n"));
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.front(), L"Register Event Success\r\n");
    EXPECT_TRUE(Logged(L"while registered 7\r\n"));
    EXPECT_FALSE(Logged(L"before any service object\r\n"));
    EXPECT_FALSE(Logged(L"after teardown\r\n"));
    EXPECT_FALSE(Logged(L"DisableTracelog++\r\n"));
    EXPECT_EQ(machine.etw.RegisteredProviders(), 0);
    EXPECT_EQ(traceTarget.load(), nullptr);
}

TEST_F(TraceLogTest, SessionRecordsIntoTheEtlFileAndStopsAtTeardown) {
    {
        CSampleService service;
        auto session = machine.etw.Session(L"TAVO");
        ASSERT_TRUE(session.has_value());
        EXPECT_EQ(session->logFile, L"C:\\Windows\\System32\\LogFiles\\TAVO.etl");
        EXPECT_EQ(session->logFileMode, 0x19000180u);
        EXPECT_EQ(session->maximumFileSize, 1u);
        EXPECT_EQ(session->bufferSize, 206u);
        TraceLog("hello %ws", L"etl");
    }
    EXPECT_FALSE(machine.etw.Session(L"TAVO").has_value());
    auto file = machine.etw.LogFile(L"C:\\Windows\\System32\\LogFiles\\TAVO.etl");
    ASSERT_GE(file.size(), 2u);
    EXPECT_EQ(file.front().text, L"Register Event Success\r\n");
    EXPECT_EQ(file.back().text, L"hello etl\r\n");
    EXPECT_EQ(file.back().level, 4);
}

TEST_F(TraceLogTest, DisableEventLogSwitch) {
    struct Case {
        const char* name;
        void (*setup)(sim::Machine&);
        bool sessionExpected;
    };
    const Case cases[] = {
        {"dword 1", [](sim::Machine& m) { m.registry.SetDword(kSettingsKey, L"DisableEventLog", 1); }, false},
        {"dword 0", [](sim::Machine& m) { m.registry.SetDword(kSettingsKey, L"DisableEventLog", 0); }, true},
        {"missing value", [](sim::Machine& m) { m.registry.SetDword(kSettingsKey, L"Other", 1); }, true},
        {"missing key", [](sim::Machine&) {}, true},
        {"string 1", [](sim::Machine& m) { m.registry.SetString(kSettingsKey, L"DisableEventLog", L"1"); }, true},
        {"dword 2", [](sim::Machine& m) { m.registry.SetDword(kSettingsKey, L"DisableEventLog", 2); }, true},
    };
    for (const auto& c : cases) {
        sim::Machine m;
        m.Install();
        c.setup(m);
        {
            CSampleService service;
            EXPECT_EQ(m.etw.Session(L"TAVO").has_value(), c.sessionExpected) << c.name;
            EXPECT_EQ(m.etw.RegisteredProviders(), 1) << c.name;  // the provider registers either way
            TraceLog("probe");
        }
        EXPECT_EQ(m.etw.LogFile(L"C:\\Windows\\System32\\LogFiles\\TAVO.etl").empty(), !c.sessionExpected) << c.name;
        EXPECT_EQ(m.handles.OpenCount("HKEY"), 0) << c.name;
    }
    machine.Install();
}

TEST_F(TraceLogTest, SecondInstanceFindsTheSessionTakenAndRunsWithoutOne) {
    // The first instance's session: independent of its process, so it lives on.
    std::vector<win::BYTE> block(206, 0);
    win::ULONG size = 206, nameOffset = 120;
    std::memcpy(block.data() + win::etp::BufferSize, &size, 4);
    std::memcpy(block.data() + win::etp::LoggerNameOffset, &nameOffset, 4);
    win::TRACEHANDLE other = 0;
    ASSERT_EQ(machine.etw.StartTraceW(&other, L"TAVO", block.data()), 0u);
    {
        CSampleService second;
        // StartTraceW answered 183; its log line, like all of EnableTracelog's, precedes
        // the provider's registration and reaches no one.
        EXPECT_EQ(machine.faults.Uses("StartTraceW"), 2);  // the first instance's, then this one's
        EXPECT_EQ(machine.faults.Uses("EnableTraceEx2"), 0);
        EXPECT_FALSE(Logged(L"StartTrace() failed with 183\r\n"));
        EXPECT_FALSE(TraceSessionRunning());
        TraceLog("still logging");
        EXPECT_TRUE(Logged(L"still logging\r\n"));
    }
    EXPECT_TRUE(machine.etw.Session(L"TAVO").has_value()) << "the second instance must not stop the first's session";
}

TEST_F(TraceLogTest, FailedProviderEnableStillStopsTheSessionAtTeardown) {
    machine.faults.Fail("EnableTraceEx2", 5, 1);
    {
        CSampleService service;
        EXPECT_TRUE(machine.etw.Session(L"TAVO").has_value());
    }
    // The session is independent of the process: leaving it would outlive the service.
    EXPECT_FALSE(machine.etw.Session(L"TAVO").has_value());
}

TEST_F(TraceLogTest, ProviderRegistrationFailureDropsEverything) {
    machine.faults.Fail("EventRegister", 87);
    {
        CSampleService service;
        TraceLog("nobody hears this");
    }
    EXPECT_TRUE(machine.etw.Written().empty());
}

TEST_F(TraceLogTest, ConsoleModeEchoesLevelColonText) {
    CSampleService service;
    service.SetConsoleMode(true);
    service.WriteTraceString(L"Starting Rpc Server..", 4);
    TraceLog("Register %d\n", 2);
    service.WriteTraceString(L"CreateThreadpoolWork failed", 2);
    EXPECT_EQ(machine.console.Text(),
              L"4: Starting Rpc Server..\n4: Register 2\r\n\n2: CreateThreadpoolWork failed\n");
    // The echo does not replace the provider write.
    EXPECT_TRUE(Logged(L"Starting Rpc Server.."));
}

}  // namespace
}  // namespace tavo::test
