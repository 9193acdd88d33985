#pragma once
// The qrhost command line: a table of subcommands, each a function over its arguments and the
// three standard streams, so that tests run the same code in-process.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "tools/host/host.h"

namespace qrhost {

enum ExitCode : int {
    kExitOk = 0,
    kExitCheckFailed = 1, // the command ran, and what it checked was not so
    kExitUsage = 2,       // wrong arguments or script syntax
    kExitError = 3,       // the plug-in could not be loaded or driven, a file could not be read
};

struct Streams {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
};

// Arguments after the command name.
using Arguments = std::vector<std::string>;

// Thrown for wrong arguments; the dispatcher prints the message and the command's usage.
class UsageError : public HostError {
  public:
    using HostError::HostError;
};

struct Command {
    const char* name;
    const char* arguments; // e.g. "PLUGIN IDX=VALUE..."
    const char* summary;
    int (*run)(const Arguments& arguments, Streams& io);
};

// The table of subcommands. New subcommands are one more row in commands.cpp.
const std::vector<Command>& commands();
// The window commands (editor_commands.cpp), part of the table above.
const std::vector<Command>& editorCommands();
// The validator (validate.cpp), part of the table above.
const std::vector<Command>& validateCommands();

// Runs a whole command line (arguments[0] is the program name) and answers the exit code.
int runCommandLine(const std::vector<std::string>& arguments, Streams& io);
void printUsage(std::ostream& out, const std::string& program);

// Shared by the subcommands and the script interpreter.
std::optional<std::int64_t> parseInteger(const std::string& text);
std::optional<float> parseFloat(const std::string& text);
std::string formatFloat(float value); // shortest text that reads back as the same float
VstInt32 parameterIndex(const LoadedPlugin& plugin, const std::string& text); // UsageError
std::string describeParameter(const ParameterInfo& parameter);
std::string describeFlags(VstInt32 flags);
std::string categoryName(VstIntPtr category);
struct VersionInfo;
void printVersionInfo(const VersionInfo& version, std::ostream& out);
// The file's format, exports and version information, read without loading it.
void printFileInfo(const std::string& path, std::ostream& out);
// The loaded plug-in's entry point, identity, counts, flags and program.
void printInfo(const LoadedPlugin& plugin, std::ostream& out);
void printParameters(const LoadedPlugin& plugin, std::ostream& out);
std::string describeProcess(const char* precision, const ProcessReport& report);

// The MIDI output devices of this system, as the plug-in's MIDI calls report them.
struct MidiDevice {
    unsigned number;
    std::string name;
    bool available; // false when the capabilities query failed
};
std::vector<MidiDevice> midiOutputDevices();

// A plug-in's state data to and from a file, as a host keeps it with a project; reading
// answers whether the plug-in took the state.
void writeStateFile(const LoadedPlugin& plugin, const std::string& path, std::ostream& out);
bool readStateFile(const LoadedPlugin& plugin, const std::string& path, std::ostream& out);

// The script language of `qrhost script`.
int runScript(LoadedPlugin& plugin, std::istream& script, const std::string& scriptName,
              Streams& io);

} // namespace qrhost
