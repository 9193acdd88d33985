// The script language of `qrhost script`: one command a line, checked as a whole before the
// first line runs, so a typing error late in a script never leaves a session half done.

#include <chrono>
#include <istream>
#include <ostream>
#include <sstream>
#include <thread>

#include "tools/host/commands.h"

namespace qrhost {

namespace {

constexpr std::int64_t kMaxSleepMs = 3'600'000;
constexpr std::int64_t kMaxScriptFrames = 100'000'000;
constexpr std::int64_t kMaxScriptBlock = 1 << 20;
constexpr std::int32_t kScriptBlock = 512;
constexpr VstInt32 kDeviceParameter = 0;
constexpr VstInt32 kRefreshParameter = 1;

enum class Action { Set, Get, Device, Sleep, Process, Print, Save, Load };

struct Step {
    int line;
    std::string text;
    Action action;
    VstInt32 index = 0;
    float value = 0.0f;
    std::int64_t number = 0;
    std::int32_t block = kScriptBlock;
    std::string file;
};

std::vector<std::string> words(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> result;
    for (std::string word; stream >> word;)
        result.push_back(word);
    return result;
}

std::int64_t wholeNumber(const std::string& text, std::int64_t low, std::int64_t high,
                         const char* what) {
    const auto number = parseInteger(text);
    if (!number || *number < low || *number > high)
        throw UsageError(std::string(what) + " must be a whole number from " + std::to_string(low) +
                         " to " + std::to_string(high) + ", not \"" + text + "\"");
    return *number;
}

Step parseStep(const LoadedPlugin& plugin, const std::vector<std::string>& w, int line,
               const std::string& text) {
    Step step{line, text, Action::Print, 0, 0.0f, 0, kScriptBlock, {}};
    const std::string& command = w[0];
    auto expect = [&](std::size_t low, std::size_t high, const char* form) {
        if (w.size() < low + 1 || w.size() > high + 1)
            throw UsageError(std::string("expected \"") + form + "\"");
    };
    if (command == "set") {
        expect(2, 2, "set IDX VALUE");
        step.action = Action::Set;
        step.index = parameterIndex(plugin, w[1]);
        const auto value = parseFloat(w[2]);
        if (!value) throw UsageError("not a number: \"" + w[2] + "\"");
        step.value = *value;
    } else if (command == "get") {
        expect(1, 1, "get IDX");
        step.action = Action::Get;
        step.index = parameterIndex(plugin, w[1]);
    } else if (command == "device") {
        expect(1, 1, "device N");
        step.action = Action::Device;
        step.number = wholeNumber(w[1], -1, 65535, "the device number");
        step.index = kDeviceParameter;
    } else if (command == "refresh") {
        expect(0, 0, "refresh");
        step.action = Action::Set;
        step.index = kRefreshParameter;
        step.value = 1.0f;
    } else if (command == "sleep") {
        expect(1, 1, "sleep MS");
        step.action = Action::Sleep;
        step.number = wholeNumber(w[1], 0, kMaxSleepMs, "MS");
    } else if (command == "process") {
        expect(1, 2, "process FRAMES [BLOCK]");
        step.action = Action::Process;
        step.number = wholeNumber(w[1], 1, kMaxScriptFrames, "FRAMES");
        if (w.size() > 2)
            step.block = static_cast<std::int32_t>(wholeNumber(w[2], 1, kMaxScriptBlock, "BLOCK"));
    } else if (command == "print") {
        expect(0, 0, "print");
        step.action = Action::Print;
    } else if (command == "save" || command == "load") {
        expect(1, 1, command == "save" ? "save FILE" : "load FILE");
        if (!plugin.hasStateData()) throw UsageError("the plug-in keeps no state data");
        step.action = command == "save" ? Action::Save : Action::Load;
        step.file = w[1];
    } else {
        throw UsageError("unknown command \"" + command + "\"");
    }
    if ((step.action == Action::Device || step.index == kRefreshParameter) &&
        !plugin.isParameter(step.index))
        throw UsageError("the plug-in has no parameter " + std::to_string(step.index));
    return step;
}

std::vector<Step> parseScript(const LoadedPlugin& plugin, std::istream& script,
                              const std::string& scriptName) {
    std::vector<Step> steps;
    std::string text;
    for (int line = 1; std::getline(script, text); ++line) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        const auto w = words(text);
        if (w.empty() || w[0][0] == '#') continue;
        try {
            steps.push_back(parseStep(plugin, w, line, text));
        } catch (const UsageError& error) {
            throw UsageError(scriptName + ":" + std::to_string(line) + ": " + error.what());
        }
    }
    return steps;
}

} // namespace

int runScript(LoadedPlugin& plugin, std::istream& script, const std::string& scriptName,
              Streams& io) {
    const std::vector<Step> steps = parseScript(plugin, script, scriptName);
    const auto devices = midiOutputDevices();
    int result = kExitOk;
    for (const Step& step : steps) {
        io.out << "> " << step.text << '\n';
        switch (step.action) {
        case Action::Device:
            plugin.setParameter(step.index, static_cast<float>(step.number));
            io.out << "  " << describeParameter(plugin.parameter(step.index)) << '\n';
            if (step.number >= 0 && static_cast<std::size_t>(step.number) < devices.size())
                io.out << "  MIDI output " << step.number << ": "
                       << devices[static_cast<std::size_t>(step.number)].name << '\n';
            else
                io.out << "  no MIDI output " << step.number << " on this system ("
                       << devices.size() << " found)\n";
            break;
        case Action::Set:
            plugin.setParameter(step.index, step.value);
            [[fallthrough]];
        case Action::Get:
            io.out << "  " << describeParameter(plugin.parameter(step.index)) << '\n';
            break;
        case Action::Sleep:
            io.out.flush();
            std::this_thread::sleep_for(std::chrono::milliseconds(step.number));
            io.out << "  slept " << step.number << " ms\n";
            break;
        case Action::Process: {
            const ProcessReport report = plugin.processFloat(step.number, step.block);
            io.out << "  " << describeProcess("32-bit", report) << '\n';
            if (!report.supported || !report.equal || !report.inputsIntact)
                result = kExitCheckFailed;
            break;
        }
        case Action::Print:
            printParameters(plugin, io.out);
            break;
        case Action::Save:
            io.out << "  ";
            writeStateFile(plugin, step.file, io.out);
            break;
        case Action::Load:
            io.out << "  ";
            if (!readStateFile(plugin, step.file, io.out)) result = kExitCheckFailed;
            break;
        }
        io.out.flush();
    }
    io.out << (result == kExitOk ? "script done: " : "script done, with FAILED checks: ")
           << steps.size() << " commands\n";
    return result;
}

} // namespace qrhost
