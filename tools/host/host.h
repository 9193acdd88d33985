#pragma once
// Loading a VST 2.4 plug-in file the way a host does and driving it through its record only.

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/shared_library.h"
#include "vst/aeffect.h"

namespace qrhost {

// Every failure of the host side: a file that is no plug-in, a bad argument, an unreadable script.
class HostError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One call the plug-in made to the host.
struct HostCall {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    float opt;
};

// The calls a plug-in made to the host, recorded from any of its threads. With a limit, the
// log keeps the latest calls only, dropping the older half when it is full.
class HostCallLog {
  public:
    explicit HostCallLog(std::size_t limit = 0) : limit(limit) {}

    void add(const HostCall& call);
    std::vector<HostCall> all() const;
    std::vector<HostCall> matching(VstInt32 opcode) const;
    void clear();

  private:
    const std::size_t limit;
    mutable std::mutex lock;
    std::vector<HostCall> recorded;
};

// The host's side of one effect: what the callback answers and records for it. The callback is
// a plain function, so it finds this object through the record's `user` field.
class HostCallbacks {
  public:
    static constexpr VstIntPtr kHostVersion = 2400;

    static VstIntPtr VSTCALLBACK callback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                          VstIntPtr value, void* ptr, float opt);
    // What this host answers to an opcode whatever the effect: its version, and yes to the
    // edit brackets; 0 otherwise.
    static VstIntPtr plainAnswer(VstInt32 opcode);

    std::vector<HostCall> calls() const { return log.all(); }
    std::vector<HostCall> calls(VstInt32 opcode) const { return log.matching(opcode); }
    void clear() { log.clear(); }

  private:
    // An editor's idle requests would otherwise grow the log for as long as a session lasts.
    static constexpr std::size_t kMaxRecordedCalls = 65536;

    VstIntPtr answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, float opt);

    HostCallLog log{kMaxRecordedCalls};
};

enum class EntryPoint { Any, VSTPluginMain, Main };
const char* entryPointName(EntryPoint entry);

// The record's identity and texts as the dispatcher reports them.
struct Identity {
    std::string effectName;
    std::string vendor;
    std::string product;
    VstIntPtr vendorVersion = 0;
    VstIntPtr vstVersion = 0;
    VstIntPtr category = 0;
    std::string programName;
    VstIntPtr program = 0;
};

struct ParameterInfo {
    VstInt32 index = 0;
    std::string name;
    std::string display;
    std::string label;
    float value = 0.0f;
};

// Outcome of running a test signal through a process entry.
struct ProcessReport {
    bool supported = false;
    bool equal = false;       // every output sample equals its input, bit for bit
    bool inputsIntact = true; // the plug-in left its input buffers alone
    std::int64_t frames = 0;
    std::int32_t blockSize = 0;
    std::int32_t channels = 0;       // channels compared (inputs that have an output)
    std::int64_t firstMismatch = -1; // frame of the first differing sample
    std::int32_t mismatchChannel = -1;
};

// A loaded plug-in file and the one effect created from it. Destruction closes the effect
// (effClose) and then unloads the library. Not movable: the record's `user` field points into it.
class LoadedPlugin {
  public:
    // Loads the file, calls its entry point with the host callback and opens the effect.
    // Throws HostError when the file cannot be loaded or is no VST 2.4 plug-in.
    static std::unique_ptr<LoadedPlugin> load(const std::string& path,
                                              EntryPoint entry = EntryPoint::Any);
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    // effClose (once) and unload; answers what effClose answered, or 0 when already closed.
    VstIntPtr close();
    bool isOpen() const { return record != nullptr; }

    AEffect& effect() const;
    const std::string& path() const { return filePath; }
    EntryPoint entryUsed() const { return entry; }
    HostCallbacks& host() { return callbacks; }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) const;
    // A text opcode into a generous zeroed buffer, cut at its terminator.
    std::string text(VstInt32 opcode, VstInt32 index = 0) const;

    Identity identity() const;
    VstInt32 numParams() const { return effect().numParams; }
    bool isParameter(VstInt32 index) const { return index >= 0 && index < numParams(); }
    ParameterInfo parameter(VstInt32 index) const;
    void setParameter(VstInt32 index, float value) const;
    float getParameter(VstInt32 index) const;

    // The state a host saves with a project (effGetChunk) and gives back (effSetChunk). Both
    // throw HostError when the plug-in keeps no state data; setState answers what it answered.
    bool hasStateData() const { return (effect().flags & effFlagsProgramChunks) != 0; }
    std::vector<unsigned char> getState() const;
    VstIntPtr setState(std::vector<unsigned char> state) const;

    // Runs `frames` frames of a test signal through processReplacing (or
    // processDoubleReplacing) in blocks, and compares every output with its input.
    ProcessReport processFloat(std::int64_t frames, std::int32_t blockSize,
                               double sampleRate = 44100.0);
    ProcessReport processDouble(std::int64_t frames, std::int32_t blockSize,
                                double sampleRate = 44100.0);

  private:
    LoadedPlugin() = default;
    template <typename Sample>
    ProcessReport process(std::int64_t frames, std::int32_t blockSize, double sampleRate);
    void resume(std::int32_t blockSize, double sampleRate);
    void suspend();

    platform::SharedLibrary library;
    HostCallbacks callbacks;
    AEffect* record = nullptr;
    std::string filePath;
    EntryPoint entry = EntryPoint::Any;
    bool resumed = false;
};

// Switching an effect on for processing (sample rate, block size, mains on, start) and off.
void switchOn(AEffect& effect, double sampleRate, std::int32_t blockSize);
void switchOff(AEffect& effect);

// The test signal: deterministic, different on every channel, with the awkward values
// (signed zeros, subnormals, extremes, infinities) that only an exact copy keeps.
template <typename Sample> Sample testSample(std::int32_t channel, std::int64_t frame);

// Four-character code as text; bytes that are not printable show as '?'.
std::string fourCharText(VstInt32 code);

} // namespace qrhost
