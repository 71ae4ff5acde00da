// Replays every checked-in input of every fuzz target through the same entry function the
// fuzzers run, so the plain, ASan+UBSan and TSan builds keep each finding fixed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_targets.h"

namespace tavo::fuzz {

// Thrown out of the target, so the case fails and the replay goes on with the next file.
struct CheckFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void CheckFailed(const char* condition, const char* file, int line) {
    throw CheckFailure(std::string(file) + ":" + std::to_string(line) + ": " + condition);
}

namespace {

struct Target {
    const char* name;  // also its corpus folder
    int (*entry)(const std::uint8_t*, std::size_t);
};
constexpr Target kTargets[] = {
    {"rpc_procedures", &FuzzRpcProcedures}, {"registry_values", &FuzzRegistryValues}, {"hid_ids", &FuzzHidIds},
    {"feature_answers", &FuzzFeatureAnswers}, {"inf_files", &FuzzInfFiles},         {"raw_input", &FuzzRawInput},
};

struct Case {
    const Target* target;
    std::filesystem::path file;
};

std::vector<Case> Corpus() {
    std::vector<Case> cases;
    for (const Target& t : kTargets) {
        const auto folder = std::filesystem::path(TAVO_FUZZ_CORPUS_DIR) / t.name;
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(folder))
            for (const auto& e : std::filesystem::directory_iterator(folder))
                if (e.is_regular_file()) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (auto& f : files) cases.push_back({&t, f});
    }
    return cases;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.target->name << " " << c.file.filename().string(); }

class Replay : public testing::TestWithParam<Case> {};

TEST_P(Replay, KeepsEveryProperty) {
    std::ifstream file(GetParam().file, std::ios::binary);
    ASSERT_TRUE(file) << GetParam().file;
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    try {
        GetParam().target->entry(bytes.data(), bytes.size());
    } catch (const CheckFailure& failure) {
        ADD_FAILURE() << failure.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, Replay, testing::ValuesIn(Corpus()), [](const testing::TestParamInfo<Case>& info) {
    std::string name = std::string(info.param.target->name) + "_" + std::to_string(info.index) + "_" +
                       info.param.file.filename().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

// Every target has seeds, so a corpus folder that went missing cannot pass unnoticed.
TEST(ReplayCorpus, EveryTargetHasInputs) {
    const std::vector<Case> cases = Corpus();
    for (const Target& t : kTargets)
        EXPECT_TRUE(std::any_of(cases.begin(), cases.end(), [&](const Case& c) { return c.target == &t; })) << t.name;
}

}  // namespace
}  // namespace tavo::fuzz
