// The qrhost commands, run in-process on the built plug-in file.

#include <gtest/gtest.h>

#include <filesystem>

#include <regex>
#include <sstream>

#include "qr_version.h"
#include "tests/host/host_test_paths.h"
#include "tools/host/commands.h"

namespace {

struct Outcome {
    int exitCode;
    std::string out;
    std::string err;
};

Outcome qrhostRun(std::vector<std::string> arguments, const std::string& input = "") {
    arguments.insert(arguments.begin(), "qrhost");
    std::istringstream in(input);
    std::ostringstream out, err;
    qrhost::Streams io{in, out, err};
    const int code = qrhost::runCommandLine(arguments, io);
    return {code, out.str(), err.str()};
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

int countLines(const std::string& text, const std::string& pattern) {
    const std::regex re(pattern);
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line);)
        count += std::regex_match(line, re);
    return count;
}

const std::string plugin = host_tests::pluginPath();

} // namespace

TEST(QrhostCommands, InfoShowsIdentityFlagsAndEveryParameter) {
    const Outcome run = qrhostRun({"info", plugin});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    for (const char* line :
         {"Effect name:    Quorvel Remote Control Demo\n", "Vendor:         Brannock\n",
          "Product:        Quorvel Remote Control Demo\n", "Vendor version: 1100\n",
          "Unique id:      QVRL (0x5156524c)\n", "Category:       1 (effect)\n",
          "VST version:    2400\n", "Programs:       1\n", "Parameters:     74\n",
          "Inputs:         2\n", "Outputs:        2\n", "Program:        0 \"Default\"\n",
          "Entry point:    VSTPluginMain\n"})
        EXPECT_TRUE(contains(run.out, line)) << line;
    EXPECT_TRUE(contains(run.out,
                         "effFlagsCanReplacing effFlagsProgramChunks effFlagsCanDoubleReplacing"));
    EXPECT_TRUE(contains(run.out, "\n  ProductVersion:   " QR_VERSION_TEXT "\n")) << run.out;
    EXPECT_EQ(countLines(run.out, R"( +\d+  Gain \d+ +10 dB +0)"), 48);
    EXPECT_EQ(countLines(run.out, R"( +\d+  Ln \d+\+\d+ +0\.000000 +0)"), 24);
    EXPECT_TRUE(contains(run.out, "    0  MidiDev   0.000000            0\n"));
    EXPECT_TRUE(contains(run.out, "   73  Ln 47+48  0.000000            0\n"));
}

TEST(QrhostCommands, SetAndGetShowNameValueAndDisplay) {
    Outcome run = qrhostRun({"set", plugin, "2=0.5", "51=1", "3=nan"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "[2] Gain 1 = 0.5 (display \"30 dB\")\n"
                       "[51] Ln 3+4 = 1 (display \"1.000000\")\n"
                       "[3] Gain 2 = nan (display \"NaN\")\n");
    run = qrhostRun({"get", plugin, "0", "49"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "[0] MidiDev = 0 (display \"0.000000\")\n"
                       "[49] Gain 48 = 0 (display \"10 dB\")\n");
}

TEST(QrhostCommands, StateSavedToAFileIsGivenBackAndBadStateIsAFailure) {
    const std::string state =
        (std::filesystem::temp_directory_path() / "qrhost-state-test.bin").string();
    Outcome run = qrhostRun({"save", plugin, state, "2=0.5", "60=1"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "saved 316 bytes of state to")) << run.out;
    run = qrhostRun({"load", plugin, state, "0"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "the plug-in took it"));
    EXPECT_EQ(countLines(run.out, R"( +2  Gain 1 +30 dB +0\.5)"), 1) << run.out;
    EXPECT_EQ(countLines(run.out, R"( +60  Ln 21\+22 +1\.000000 +1)"), 1) << run.out;

    run = qrhostRun({"load", plugin, host_tests::textFilePath(), "0"});
    EXPECT_EQ(run.exitCode, 1) << "a refused state is a failed check";
    EXPECT_TRUE(contains(run.out, "the plug-in refused it"));
    run = qrhostRun({"save", host_tests::fakePluginPath(), state});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(contains(run.err, "keeps no state data")) << run.err;
    std::filesystem::remove(state);
}

TEST(QrhostCommands, WrongUsageAndBadFilesGiveErrorCodes) {
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {{}, 2, "usage:"},
        {{"frobnicate"}, 2, "unknown command"},
        {{"info"}, 2, "usage: qrhost info PLUGIN"},
        {{"set", plugin, "2"}, 2, "IDX=VALUE"},
        {{"set", plugin, "2=loud"}, 2, "not a number"},
        {{"set", plugin, "74=0.5"}, 2, "outside 0..73"},
        {{"get", plugin, "-1"}, 2, "outside 0..73"},
        {{"process", plugin, "0"}, 2, "FRAMES"},
        {{"info", host_tests::textFilePath()}, 3, "cannot load"},
        {{"info", plugin + ".missing"}, 3, "cannot load"},
        {{"script", plugin, plugin + ".missing.txt"}, 3, "cannot read the script"},
        {{"exports", host_tests::textFilePath()}, 3, "neither an ELF nor a PE file"},
        {{"version"}, 2, "usage: qrhost version FILE"},
        {{"version", host_tests::textFilePath()}, 3, "neither an ELF nor a PE file"},
        {{"version", host_tests::fakePluginPath()}, 1, "carries no version information"},
    };
    for (const Case& c : cases) {
        const Outcome run = qrhostRun(c.arguments);
        SCOPED_TRACE(c.message);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
    }
    const Outcome help = qrhostRun({"help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const qrhost::Command& command : qrhost::commands())
        EXPECT_TRUE(contains(help.out, std::string("  ") + command.name)) << command.name;
}

TEST(QrhostCommands, ScriptEchoesASession) {
    const std::string script = "# a session\n"
                               "set 2 0.5\r\n"
                               "\n"
                               "get 2\n"
                               "   device 0\n"
                               "refresh\n"
                               "sleep 1\n"
                               "process 1000 100\n"
                               "print\n";
    const Outcome run = qrhostRun({"script", plugin, "-"}, script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "> set 2 0.5\n  [2] Gain 1 = 0.5 (display \"30 dB\")\n"));
    EXPECT_TRUE(contains(run.out, "> get 2\n  [2] Gain 1 = 0.5 (display \"30 dB\")\n"));
    EXPECT_TRUE(contains(run.out, "> refresh\n  [1] Refresh = 1 (display \"1.000000\")\n"));
    EXPECT_TRUE(contains(run.out, "> process 1000 100\n  32-bit: 1000 frames in blocks of 100, "
                                  "2 channels: output equals input\n"));
    EXPECT_TRUE(contains(run.out, "    2  Gain 1    30 dB               0.5\n"));
    EXPECT_TRUE(contains(run.out, "script done: 7 commands\n"));
    EXPECT_FALSE(contains(run.out, "# a session"));
}

TEST(QrhostCommands, ScriptErrorsStopBeforeAnythingRuns) {
    const Outcome run = qrhostRun({"script", plugin, "-"}, "set 2 0.5\nget 2\nset 99 1\n");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(contains(run.err, "stdin:3: parameter 99 is outside 0..73")) << run.err;
    EXPECT_EQ(run.out, "");
    for (const char* bad : {"bogus\n", "set 2\n", "sleep -5\n", "process 0\n", "device x\n",
                            "refresh now\n", "get 2 3\n"}) {
        const Outcome wrong = qrhostRun({"script", plugin, "-"}, bad);
        EXPECT_EQ(wrong.exitCode, 2) << bad;
        EXPECT_TRUE(contains(wrong.err, "stdin:1: ")) << wrong.err;
    }
}

TEST(QrhostCommands, ProcessReportsBothWidths) {
    const Outcome run = qrhostRun({"process", plugin, "5000", "300"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "32-bit: 5000 frames in blocks of 300, 2 channels: output equals input\n"
                       "64-bit: 5000 frames in blocks of 300, 2 channels: output equals input\n");
}

TEST(QrhostCommands, ExportsReadsTheFileWithoutLoadingIt) {
    const Outcome run = qrhostRun({"exports", plugin});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(countLines(run.out, "  (VSTPluginMain|main)"), 2) << run.out;
    EXPECT_EQ(countLines(run.out, "  .*"), 2) << run.out;
}

TEST(QrhostCommands, DevicesListsWhatTheSystemReports) {
    const Outcome run = qrhostRun({"devices"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto devices = qrhost::midiOutputDevices();
    EXPECT_TRUE(contains(run.out, "MIDI output devices: " + std::to_string(devices.size()) + "\n"));
    EXPECT_EQ(countLines(run.out, R"( +\d+  .*)"), static_cast<int>(devices.size()));
}
