// The validator against the fake plug-in file: a clean pass-through passes, and each fault the
// fake can be told to make fails the check that is meant to find it.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tests/host/validator_fixture.h"
#include "tools/host/commands.h"

using qrhost::CheckResult;
using qrhost::Outcome;

namespace {

// Mode numbers of fake_plugin.cpp.
enum FakeMode { kPassThrough = 5, kAllocates = 6, kLocks = 7, kMakesNaN = 8, kLongTexts = 9 };

using host_tests::ValidatorOnFake;

bool countingAvailable(const std::vector<CheckResult>& results) {
    return std::any_of(results.begin(), results.end(), [](const CheckResult& r) {
        return r.name == "audio path" && r.outcome != Outcome::Skip;
    });
}

} // namespace

TEST_F(ValidatorOnFake, CleanPassThroughFailsNothing) {
    const auto results = validate(kPassThrough);
    for (const CheckResult& result : results)
        EXPECT_NE(result.outcome, Outcome::Fail) << result.name << ": " << result.figures;
    for (const char* name :
         {"identity", "programs", "instances", "audio 44100 Hz 32-bit", "audio 192000 Hz 32-bit",
          "parameters from 4 threads", "hostile values"})
        EXPECT_EQ(find(results, name).outcome, Outcome::Pass) << name;
    // No window and no 64-bit entry: said, not failed.
    EXPECT_EQ(find(results, "editor open/close").outcome, Outcome::Skip);
    EXPECT_EQ(find(results, "audio 48000 Hz 64-bit").outcome, Outcome::Skip);
    EXPECT_EQ(find(results, "automation MIDI").outcome, Outcome::Skip);
    EXPECT_NE(log.find("summary: "), std::string::npos) << log;
}

TEST_F(ValidatorOnFake, OnlyRunsTheChecksNamedInItsList) {
    setMode(kPassThrough);
    std::ostringstream out;
    qrhost::ValidateOptions options;
    options.quick = true;
    options.only = "identity,,192000";
    std::vector<std::string> names;
    for (const CheckResult& result :
         qrhost::runValidation(host_tests::fakePluginPath(), options, out))
        names.push_back(result.name);
    EXPECT_EQ(names, (std::vector<std::string>{"identity", "audio 192000 Hz 32-bit",
                                               "audio 192000 Hz 64-bit"}));
}

TEST_F(ValidatorOnFake, AudioPathFaultsAreCounted) {
    auto results = validate(kAllocates);
    if (!countingAvailable(results)) GTEST_SKIP() << find(results, "audio path").figures;
    const CheckResult& allocating = find(results, "audio path");
    EXPECT_EQ(allocating.outcome, Outcome::Fail);
    EXPECT_EQ(allocating.figures.find(" 0 allocations"), std::string::npos) << allocating.figures;
    EXPECT_EQ(allocating.figures.find(" 0 frees"), std::string::npos) << allocating.figures;

    results = validate(kLocks);
    const CheckResult& locking = find(results, "audio path");
    EXPECT_EQ(locking.outcome, Outcome::Fail);
    EXPECT_NE(locking.figures.find(" 0 allocations"), std::string::npos) << locking.figures;
    EXPECT_EQ(locking.figures.find(" 0 lock waits"), std::string::npos) << locking.figures;
    // The same audio is bit exact: only the path check sees these faults.
    EXPECT_EQ(find(results, "audio 96000 Hz 32-bit").outcome, Outcome::Pass);
}

TEST_F(ValidatorOnFake, IntroducedNaNFailsEveryRate) {
    const auto results = validate(kMakesNaN);
    for (const char* name : {"audio 44100 Hz 32-bit", "audio 48000 Hz 32-bit",
                             "audio 96000 Hz 32-bit", "audio 192000 Hz 32-bit"}) {
        const CheckResult& audio = find(results, name);
        EXPECT_EQ(audio.outcome, Outcome::Fail) << name;
        EXPECT_NE(audio.figures.find("NaN/inf introduced"), std::string::npos) << audio.figures;
        EXPECT_EQ(audio.figures.find(" 0 NaN/inf introduced"), std::string::npos) << audio.figures;
    }
}

TEST_F(ValidatorOnFake, TextsPastTheirBuffersAreCaught) {
    const auto results = validate(kLongTexts);
    const CheckResult& identity = find(results, "identity");
    EXPECT_EQ(identity.outcome, Outcome::Fail);
    EXPECT_NE(identity.figures.find("wrote past the buffer"), std::string::npos)
        << identity.figures;
    const CheckResult& hostile = find(results, "hostile values");
    EXPECT_EQ(hostile.outcome, Outcome::Fail);
    EXPECT_NE(hostile.figures.find(": name "), std::string::npos) << hostile.figures;
}

TEST(ValidateCommand, ExitCodes) {
    std::istringstream in;
    std::ostringstream out, err;
    qrhost::Streams io{in, out, err};
    EXPECT_EQ(qrhost::runCommandLine({"qrhost", "validate"}, io), qrhost::kExitUsage);
    EXPECT_EQ(qrhost::runCommandLine({"qrhost", "validate", "a", "b"}, io), qrhost::kExitUsage);
    EXPECT_EQ(qrhost::runCommandLine({"qrhost", "validate", host_tests::textFilePath()}, io),
              qrhost::kExitError);
}
