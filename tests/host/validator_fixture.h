#pragma once
// The validator run in-process against the fake plug-in file, in the mode the test sets.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/shared_library.h"
#include "tests/host/host_test_paths.h"
#include "tools/host/validate.h"

namespace host_tests {

class ValidatorOnFake : public ::testing::Test {
  protected:
    void SetUp() override {
        // The test's own handle keeps the fake, and the mode set in it, loaded across runs.
        ASSERT_TRUE(library.open(fakePluginPath())) << library.error();
        setMode = reinterpret_cast<void (*)(int)>(library.symbol("qrFakeSetMode"));
        ASSERT_TRUE(setMode);
    }
    void TearDown() override {
        if (setMode) setMode(0);
    }

    // A quick run in `mode`, of the checks whose names contain a part of `only` (all if empty).
    std::vector<qrhost::CheckResult> validate(int mode, const std::string& only = {}) {
        setMode(mode);
        std::ostringstream out;
        qrhost::ValidateOptions options;
        options.quick = true;
        options.only = only;
        auto results = qrhost::runValidation(fakePluginPath(), options, out);
        log = out.str();
        return results;
    }

    static const qrhost::CheckResult& find(const std::vector<qrhost::CheckResult>& results,
                                           const std::string& name) {
        const auto found =
            std::find_if(results.begin(), results.end(),
                         [&](const qrhost::CheckResult& r) { return r.name == name; });
        if (found == results.end()) throw std::runtime_error("no check named " + name);
        return *found;
    }

    platform::SharedLibrary library;
    void (*setMode)(int) = nullptr;
    std::string log;
};

} // namespace host_tests
