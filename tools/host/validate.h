#pragma once
// `qrhost validate`: the checks professional plug-in validators make, run against one plug-in
// file through its record only, one line per check.

#include <iosfwd>
#include <string>
#include <vector>

namespace qrhost {

enum class Outcome { Pass, Fail, Skip };

struct CheckResult {
    std::string name;
    Outcome outcome = Outcome::Pass;
    std::string figures; // what was measured, or why the check failed or was skipped
    bool expectedToFail = false; // listed with --expect-fail: its failure fails no run
};

struct ValidateOptions {
    bool quick = false; // fewer cycles and shorter runs, for tests
    std::string
        only; // when set, only the checks whose names contain one of its comma-separated parts
    // Checks left out: those whose names contain one of its comma-separated parts.
    std::string skip;
    // Comma-separated names of checks known to fail on this plug-in for now: they still run
    // and print, as XFAIL, but do not make the run fail. (No check's name holds a comma.)
    std::string expectFail;
};

// Whether a run failed: a check failed that was not expected to.
bool runFailed(const std::vector<CheckResult>& results);

// Loads the plug-in file once and runs every check on instances from its entry point,
// printing each result as it comes. Throws HostError when the file is no plug-in at all.
std::vector<CheckResult> runValidation(const std::string& path, const ValidateOptions& options,
                                       std::ostream& out);

const char* outcomeName(Outcome outcome);

} // namespace qrhost
