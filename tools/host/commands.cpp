#include "tools/host/commands.h"

#include <charconv>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <thread>

#include "platform/winmm.h"
#include "tools/host/binary_exports.h"
#include "tools/host/binary_version.h"
#include "tools/host/validate_probes.h"

namespace qrhost {

namespace {

constexpr std::int64_t kDefaultFrames = 44100;
constexpr std::int64_t kMaxFrames = 100'000'000;
constexpr std::int32_t kDefaultBlock = 512;
constexpr std::int32_t kMaxBlock = 1 << 20;

std::string quoted(const std::string& text) {
    return '"' + text + '"';
}

std::int64_t positiveNumber(const std::string& text, std::int64_t limit, const char* what) {
    const auto number = parseInteger(text);
    if (!number || *number <= 0 || *number > limit)
        throw UsageError(std::string(what) + " must be a whole number from 1 to " +
                         std::to_string(limit) + ", not " + quoted(text));
    return *number;
}

int commandHelp(const Arguments&, Streams& io) {
    printUsage(io.out, "qrhost");
    return kExitOk;
}

int commandInfo(const Arguments& arguments, Streams& io) {
    if (arguments.size() != 1) throw UsageError("info takes one plug-in file");
    // What the file says comes first, so a plug-in of another system still shows it.
    printFileInfo(arguments[0], io.out);
    auto plugin = LoadedPlugin::load(arguments[0]);
    printInfo(*plugin, io.out);
    io.out << '\n';
    printParameters(*plugin, io.out);
    return kExitOk;
}

int commandExports(const Arguments& arguments, Streams& io) {
    if (arguments.size() != 1) throw UsageError("exports takes one library file");
    const BinaryExports exports = readBinaryExports(arguments[0]);
    io.out << exports.format << '\n';
    for (const std::string& name : exports.names)
        io.out << "  " << name << '\n';
    if (exports.unnamed) io.out << "  (" << exports.unnamed << " by ordinal only)\n";
    return kExitOk;
}

int commandVersion(const Arguments& arguments, Streams& io) {
    if (arguments.size() != 1) throw UsageError("version takes one library file");
    const auto version = readVersionInfo(arguments[0]);
    if (!version) {
        io.err << arguments[0] << " carries no version information\n";
        return kExitCheckFailed;
    }
    printVersionInfo(*version, io.out);
    return kExitOk;
}

int commandDevices(const Arguments& arguments, Streams& io) {
    if (!arguments.empty()) throw UsageError("devices takes no arguments");
    const auto devices = midiOutputDevices();
    io.out << "MIDI output devices: " << devices.size() << '\n';
    for (const MidiDevice& device : devices) {
        io.out << std::setw(4) << device.number << "  "
               << (device.available ? device.name : "(no capabilities)") << '\n';
    }
    return kExitOk;
}

// IDX=VALUE pairs, every one checked before the plug-in is touched.
std::vector<std::pair<std::string, float>> assignments(const Arguments& arguments,
                                                       std::size_t first) {
    std::vector<std::pair<std::string, float>> changes;
    for (std::size_t i = first; i < arguments.size(); ++i) {
        const std::string& pair = arguments[i];
        const auto equals = pair.find('=');
        if (equals == std::string::npos)
            throw UsageError("expected IDX=VALUE, not " + quoted(pair));
        const auto value = parseFloat(pair.substr(equals + 1));
        if (!value) throw UsageError("not a number: " + quoted(pair.substr(equals + 1)));
        changes.emplace_back(pair.substr(0, equals), *value);
    }
    return changes;
}

int commandSet(const Arguments& arguments, Streams& io) {
    if (arguments.size() < 2) throw UsageError("set needs a plug-in file and IDX=VALUE pairs");
    const auto changes = assignments(arguments, 1);
    auto plugin = LoadedPlugin::load(arguments[0]);
    std::vector<std::pair<VstInt32, float>> resolved;
    for (const auto& [index, value] : changes)
        resolved.emplace_back(parameterIndex(*plugin, index), value);
    for (const auto& [index, value] : resolved) {
        plugin->setParameter(index, value);
        io.out << describeParameter(plugin->parameter(index)) << '\n';
    }
    return kExitOk;
}

int commandSave(const Arguments& arguments, Streams& io) {
    if (arguments.size() < 2) throw UsageError("save needs a plug-in file and a state file");
    const auto changes = assignments(arguments, 2);
    auto plugin = LoadedPlugin::load(arguments[0]);
    for (const auto& [index, value] : changes)
        plugin->setParameter(parameterIndex(*plugin, index), value);
    writeStateFile(*plugin, arguments[1], io.out);
    return kExitOk;
}

// Loads the state as a host reopening a project does, waits while the plug-in sends what it
// restored, and shows the parameters it ends up with.
int commandLoad(const Arguments& arguments, Streams& io) {
    if (arguments.size() < 2 || arguments.size() > 3)
        throw UsageError("load needs a plug-in file, a state file and optionally MS to wait");
    std::int64_t waitMs = 500;
    if (arguments.size() == 3) {
        const auto number = parseInteger(arguments[2]);
        if (!number || *number < 0 || *number > 3'600'000)
            throw UsageError("MS must be a whole number from 0 to 3600000");
        waitMs = *number;
    }
    auto plugin = LoadedPlugin::load(arguments[0]);
    const bool taken = readStateFile(*plugin, arguments[1], io.out);
    io.out.flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    printParameters(*plugin, io.out);
    return taken ? kExitOk : kExitCheckFailed;
}

// A MIDI receiver of the host's own that prints what arrives, for checking from a shell which
// device a plug-in or a host's project reaches.
int commandListen(const Arguments& arguments, Streams& io) {
    if (arguments.empty() || arguments.size() > 2)
        throw UsageError("listen needs SECONDS and optionally a receiver name");
    const auto seconds = parseInteger(arguments[0]);
    if (!seconds || *seconds < 1 || *seconds > 86'400)
        throw UsageError("SECONDS must be a whole number from 1 to 86400");
    std::string whyNot;
    const auto receiver = MidiReceiverProbe::open(whyNot, arguments.size() > 1 ? arguments[1] : "");
    if (!receiver) throw HostError("no receiver: " + whyNot);
    io.out << "listening on " << receiver->portName() << std::endl;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(*seconds);
    while (std::chrono::steady_clock::now() < end) {
        for (const auto& message : receiver->take(1 << 20, 100)) {
            for (std::size_t i = 0; i < message.size(); ++i)
                io.out << (i ? " " : "") << std::hex << std::setw(2) << std::setfill('0')
                       << static_cast<unsigned>(message[i]) << std::dec << std::setfill(' ');
            io.out << '\n';
        }
        io.out.flush();
    }
    return kExitOk;
}

int commandGet(const Arguments& arguments, Streams& io) {
    if (arguments.size() < 2) throw UsageError("get needs a plug-in file and parameter indexes");
    for (std::size_t i = 1; i < arguments.size(); ++i)
        if (!parseInteger(arguments[i]))
            throw UsageError("not a parameter index: " + quoted(arguments[i]));
    auto plugin = LoadedPlugin::load(arguments[0]);
    std::vector<VstInt32> indexes;
    for (std::size_t i = 1; i < arguments.size(); ++i)
        indexes.push_back(parameterIndex(*plugin, arguments[i]));
    for (VstInt32 index : indexes)
        io.out << describeParameter(plugin->parameter(index)) << '\n';
    return kExitOk;
}

int commandScript(const Arguments& arguments, Streams& io) {
    if (arguments.size() != 2) throw UsageError("script needs a plug-in file and a script file");
    const std::string& name = arguments[1];
    std::stringstream script;
    if (name == "-") {
        script << io.in.rdbuf();
    } else {
        std::ifstream file(std::filesystem::path(std::u8string(name.begin(), name.end())));
        if (!file) throw HostError("cannot read the script " + name);
        script << file.rdbuf();
    }
    auto plugin = LoadedPlugin::load(arguments[0]);
    return runScript(*plugin, script, name == "-" ? "stdin" : name, io);
}

int commandProcess(const Arguments& arguments, Streams& io) {
    if (arguments.empty() || arguments.size() > 3)
        throw UsageError("process needs a plug-in file, and optionally frames and block size");
    const std::int64_t frames =
        arguments.size() > 1 ? positiveNumber(arguments[1], kMaxFrames, "FRAMES") : kDefaultFrames;
    const auto block = static_cast<std::int32_t>(
        arguments.size() > 2 ? positiveNumber(arguments[2], kMaxBlock, "BLOCK") : kDefaultBlock);
    auto plugin = LoadedPlugin::load(arguments[0]);
    const ProcessReport single = plugin->processFloat(frames, block);
    io.out << describeProcess("32-bit", single) << '\n';
    const ProcessReport twice = plugin->processDouble(frames, block);
    io.out << describeProcess("64-bit", twice) << '\n';
    auto passed = [](const ProcessReport& r) {
        return !r.supported || (r.equal && r.inputsIntact);
    };
    const bool ok = (single.supported || twice.supported) && passed(single) && passed(twice);
    return ok ? kExitOk : kExitCheckFailed;
}

const std::vector<Command> commandTable = {
    {"info", "PLUGIN", "identity, flags and every parameter of a plug-in", commandInfo},
    {"exports", "FILE", "a library file's format and exported names, without loading it",
     commandExports},
    {"version", "FILE", "a library file's version resource or note, without loading it",
     commandVersion},
    {"devices", "", "the MIDI output devices a plug-in sees on this system", commandDevices},
    {"set", "PLUGIN IDX=VALUE...", "set parameters in one session, showing each result",
     commandSet},
    {"get", "PLUGIN IDX...", "read parameters: name, value and display text", commandGet},
    {"save", "PLUGIN FILE [IDX=VALUE...]",
     "set parameters, then write the state a host saves with a project to FILE", commandSave},
    {"load", "PLUGIN FILE [MS]",
     "give the plug-in the state in FILE as a reopened project does, wait MS (500), show it",
     commandLoad},
    {"script", "PLUGIN FILE", "run a script of parameter changes and checks (FILE - is stdin)",
     commandScript},
    {"process", "PLUGIN [FRAMES] [BLOCK]",
     "run test audio through (32 and 64 bit); output must equal input", commandProcess},
    {"listen", "SECONDS [NAME]",
     "a MIDI receiver of this host's (NAME:in on JACK) that prints what arrives",
     commandListen},
    {"help", "", "this text", commandHelp},
};

} // namespace

const std::vector<Command>& commands() {
    static const std::vector<Command> all = [] {
        std::vector<Command> table = commandTable;
        const auto& window = editorCommands();
        table.insert(table.end() - 1, window.begin(), window.end()); // "help" stays last
        const auto& validate = validateCommands();
        table.insert(table.end() - 1, validate.begin(), validate.end());
        return table;
    }();
    return all;
}

void printUsage(std::ostream& out, const std::string& program) {
    out << "qrhost: a command-line VST 2.4 host\n\n"
        << "usage: " << program << " COMMAND [ARGUMENTS]\n\ncommands:\n";
    for (const Command& command : commands()) {
        std::string synopsis = std::string(command.name) + ' ' + command.arguments;
        out << "  " << std::left << std::setw(32) << synopsis << ' ' << command.summary << '\n';
    }
    out << std::right
        << "\nPLUGIN is a VST 2.4 plug-in file (.so on Linux, .dll on Windows); IDX counts the\n"
           "plug-in's parameters from 0; VALUE is a number as the plug-in takes it.\n\n"
           "script lines:\n"
           "  set IDX VALUE    get IDX    device N (= set 0 N)    refresh (= set 1 1.0)\n"
           "  sleep MS    process FRAMES [BLOCK]    print    # comment\n\n"
           "exit codes: 0 done, 1 a check failed, 2 wrong usage, 3 the plug-in could not be\n"
           "loaded or driven.\n";
}

int runCommandLine(const std::vector<std::string>& arguments, Streams& io) {
    const std::string program = arguments.empty() ? "qrhost" : arguments[0];
    if (arguments.size() < 2) {
        printUsage(io.err, program);
        return kExitUsage;
    }
    const std::string& name = arguments[1];
    if (name == "-h" || name == "--help") {
        printUsage(io.out, program);
        return kExitOk;
    }
    for (const Command& command : commands()) {
        if (name != command.name) continue;
        try {
            return command.run(Arguments(arguments.begin() + 2, arguments.end()), io);
        } catch (const UsageError& error) {
            io.err << program << ": " << error.what() << "\nusage: " << program << ' '
                   << command.name << ' ' << command.arguments << '\n';
            return kExitUsage;
        } catch (const std::exception& error) {
            io.err << program << ": " << error.what() << '\n';
            return kExitError;
        }
    }
    io.err << program << ": unknown command " << quoted(name) << "\n\n";
    printUsage(io.err, program);
    return kExitUsage;
}

namespace {

// The whole text as one number, an explicit '+' allowed; nothing before or after it.
template <typename Number> std::optional<Number> parseNumber(const std::string& text) {
    Number value{};
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || first == last) return std::nullopt;
    return value;
}

} // namespace

std::optional<std::int64_t> parseInteger(const std::string& text) {
    return parseNumber<std::int64_t>(text);
}

std::optional<float> parseFloat(const std::string& text) {
    return parseNumber<float>(text);
}

std::string formatFloat(float value) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc() ? std::string(buffer, end) : std::string("?");
}

VstInt32 parameterIndex(const LoadedPlugin& plugin, const std::string& text) {
    const auto index = parseInteger(text);
    if (!index) throw UsageError("not a parameter index: " + quoted(text));
    if (!plugin.isParameter(static_cast<VstInt32>(*index)) ||
        *index != static_cast<VstInt32>(*index))
        throw UsageError("parameter " + text + " is outside 0.." +
                         std::to_string(plugin.numParams() - 1));
    return static_cast<VstInt32>(*index);
}

std::string describeParameter(const ParameterInfo& parameter) {
    std::string text = "[" + std::to_string(parameter.index) + "] " + parameter.name + " = " +
                       formatFloat(parameter.value) + " (display " + quoted(parameter.display);
    if (!parameter.label.empty()) text += ", label " + quoted(parameter.label);
    return text + ")";
}

std::string describeFlags(VstInt32 flags) {
    static const std::pair<VstInt32, const char*> names[] = {
        {effFlagsHasEditor, "effFlagsHasEditor"},
        {effFlagsHasClip, "effFlagsHasClip"},
        {effFlagsHasVu, "effFlagsHasVu"},
        {effFlagsCanMono, "effFlagsCanMono"},
        {effFlagsCanReplacing, "effFlagsCanReplacing"},
        {effFlagsProgramChunks, "effFlagsProgramChunks"},
        {effFlagsIsSynth, "effFlagsIsSynth"},
        {effFlagsNoSoundInStop, "effFlagsNoSoundInStop"},
        {effFlagsExtIsAsync, "effFlagsExtIsAsync"},
        {effFlagsExtHasBuffer, "effFlagsExtHasBuffer"},
        {effFlagsCanDoubleReplacing, "effFlagsCanDoubleReplacing"},
    };
    std::ostringstream text;
    text << "0x" << std::hex << std::setw(8) << std::setfill('0')
         << static_cast<std::uint32_t>(flags) << std::dec;
    auto rest = static_cast<std::uint32_t>(flags);
    for (const auto& [bit, name] : names) {
        if (!(rest & static_cast<std::uint32_t>(bit))) continue;
        text << ' ' << name;
        rest &= ~static_cast<std::uint32_t>(bit);
    }
    if (rest) text << " unknown:0x" << std::hex << rest;
    return text.str();
}

std::string categoryName(VstIntPtr category) {
    switch (category) {
    case kPlugCategUnknown:
        return "unknown";
    case kPlugCategEffect:
        return "effect";
    case kPlugCategSynth:
        return "synth";
    default:
        return "other";
    }
}

namespace {

std::ostream& infoLine(std::ostream& out, const char* label) {
    return out << std::left << std::setw(16) << label << std::right;
}

} // namespace

void printVersionInfo(const VersionInfo& version, std::ostream& out) {
    infoLine(out, "Version info:") << version.source << '\n';
    auto line = [&out](const std::string& label) -> std::ostream& {
        return out << "  " << std::left << std::setw(18) << label + ':' << std::right;
    };
    if (version.fileVersion)
        line("File version") << versionNumbersText(*version.fileVersion) << '\n';
    if (version.productVersion)
        line("Product version") << versionNumbersText(*version.productVersion) << '\n';
    for (const auto& [key, text] : version.strings)
        line(key) << text << '\n';
}

void printFileInfo(const std::string& path, std::ostream& out) {
    infoLine(out, "File:") << path << '\n';
    try {
        const BinaryExports exports = readBinaryExports(path);
        infoLine(out, "Binary:") << exports.format << '\n';
        std::string names;
        for (const std::string& name : exports.names)
            names += (names.empty() ? "" : ", ") + name;
        if (exports.unnamed) names += " and " + std::to_string(exports.unnamed) + " by ordinal";
        infoLine(out, "Exports:") << (names.empty() ? "(none)" : names) << '\n';
    } catch (const HostError& error) {
        infoLine(out, "Binary:") << "(" << error.what() << ")\n";
        return;
    }
    try {
        if (const auto version = readVersionInfo(path))
            printVersionInfo(*version, out);
        else
            infoLine(out, "Version info:") << "(none)\n";
    } catch (const HostError& error) {
        infoLine(out, "Version info:") << "(" << error.what() << ")\n";
    }
}

void printInfo(const LoadedPlugin& plugin, std::ostream& out) {
    const AEffect& e = plugin.effect();
    const Identity id = plugin.identity();
    auto line = [&out](const char* label) -> std::ostream& { return infoLine(out, label); };
    line("Entry point:") << entryPointName(plugin.entryUsed()) << '\n';
    line("Effect name:") << id.effectName << '\n';
    line("Vendor:") << id.vendor << '\n';
    line("Product:") << id.product << '\n';
    line("Vendor version:") << id.vendorVersion << '\n';
    std::ostringstream uniqueId;
    uniqueId << fourCharText(e.uniqueID) << " (0x" << std::hex << std::setw(8) << std::setfill('0')
             << static_cast<std::uint32_t>(e.uniqueID) << ")";
    line("Unique id:") << uniqueId.str() << '\n';
    line("Category:") << id.category << " (" << categoryName(id.category) << ")\n";
    line("VST version:") << id.vstVersion << '\n';
    line("Version:") << e.version << '\n';
    line("Programs:") << e.numPrograms << '\n';
    line("Parameters:") << e.numParams << '\n';
    line("Inputs:") << e.numInputs << '\n';
    line("Outputs:") << e.numOutputs << '\n';
    line("Initial delay:") << e.initialDelay << '\n';
    line("Flags:") << describeFlags(e.flags) << '\n';
    line("Program:") << id.program << ' ' << quoted(id.programName) << '\n';
}

void printParameters(const LoadedPlugin& plugin, std::ostream& out) {
    out << "Parameters (" << plugin.numParams() << "):\n"
        << std::right << std::setw(5) << "Index"
        << "  " << std::left << std::setw(10) << "Name" << std::setw(10) << "Display"
        << std::setw(10) << "Label"
        << "Value\n";
    for (VstInt32 index = 0; index < plugin.numParams(); ++index) {
        const ParameterInfo p = plugin.parameter(index);
        out << std::right << std::setw(5) << index << "  " << std::left << std::setw(10) << p.name
            << std::setw(10) << p.display << std::setw(10) << p.label << formatFloat(p.value)
            << '\n';
    }
    out << std::right;
}

std::string describeProcess(const char* precision, const ProcessReport& report) {
    std::ostringstream text;
    text << precision << ": ";
    if (!report.supported) {
        text << "not offered by the plug-in";
        return text.str();
    }
    text << report.frames << " frames in blocks of " << report.blockSize << ", " << report.channels
         << " channels: ";
    if (report.equal)
        text << "output equals input";
    else
        text << "OUTPUT DIFFERS from input (first at frame " << report.firstMismatch << ", channel "
             << report.mismatchChannel << ")";
    if (!report.inputsIntact) text << "; the plug-in CHANGED its input buffers";
    return text.str();
}

void writeStateFile(const LoadedPlugin& plugin, const std::string& path, std::ostream& out) {
    const std::vector<unsigned char> state = plugin.getState();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(state.data()),
               static_cast<std::streamsize>(state.size()));
    if (!file.flush()) throw HostError("cannot write " + quoted(path));
    out << "saved " << state.size() << " bytes of state to " << path << '\n';
}

bool readStateFile(const LoadedPlugin& plugin, const std::string& path, std::ostream& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw HostError("cannot read " + quoted(path));
    const std::vector<unsigned char> state((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
    const VstIntPtr answer = plugin.setState(state);
    out << "loaded " << state.size() << " bytes of state from " << path << ": the plug-in "
        << (answer ? "took it" : "refused it") << '\n';
    return answer != 0;
}

std::vector<MidiDevice> midiOutputDevices() {
    std::vector<MidiDevice> devices;
    const UINT count = midiOutGetNumDevs();
    for (UINT number = 0; number < count; ++number) {
        MIDIOUTCAPSA caps{};
        const MMRESULT result = midiOutGetDevCapsA(number, &caps, sizeof caps);
        devices.push_back({number,
                           std::string(caps.szPname, strnlen(caps.szPname, sizeof caps.szPname)),
                           result == MMSYSERR_NOERROR});
    }
    return devices;
}

} // namespace qrhost
