#pragma once
// What the validator needs from the system beyond the plug-in's record: a MIDI receiver of the
// host's own, and counters of what the audio thread asks of the system while it is inside a
// plug-in's process call. Each system has its own implementation file; where one is missing
// the probe says why, and the check that needs it is skipped.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qrhost {

// A MIDI input port of the host's own that a plug-in can pick as its output device.
class MidiReceiverProbe {
  public:
    using Message = std::vector<unsigned char>;

    // Null when no receiver can be opened here; `whyNot` then says why. `clientName`, where the
    // system names receivers, is the name it is listed under (a name of the host's own if empty).
    static std::unique_ptr<MidiReceiverProbe> open(std::string& whyNot,
                                                   const std::string& clientName = "");
    virtual ~MidiReceiverProbe() = default;

    // The port's name as the MIDI device list shows it.
    virtual std::string portName() const = 0;
    // Everything received since the last call, once at least `count` messages are there or
    // `timeoutMs` has passed.
    virtual std::vector<Message> take(std::size_t count, int timeoutMs) = 0;
    // Cycles the MIDI service reported as overrun since the receiver opened: messages lost in
    // one are the machine's load, not the plug-in's fault.
    virtual std::uint64_t overruns() const = 0;
};

// What one thread asked of the system while counting was on.
struct PathCounts {
    std::uint64_t allocations = 0; // malloc, calloc, realloc, memalign family (new ends there)
    std::uint64_t frees = 0;
    std::uint64_t lockWaits = 0;   // mutex / rwlock / spin lock, condition and semaphore waits
    std::uint64_t systemCalls = 0; // calls of the libc system call wrappers (see the .cpp)
    std::uint64_t total() const { return allocations + frees + lockWaits + systemCalls; }
};

// Counting on the calling thread only; true when this build can count the calls of the plug-in
// whose code is at `pluginCode`, else `whyNot`.
bool pathCountingAvailable(const void* pluginCode, std::string& whyNot);
void beginPathCounting();
PathCounts endPathCounting();

// While it lives, plug-ins created in this process find no MIDI service to list (on Linux: the
// JACK server name points nowhere), so that many instance cycles measure the plug-in rather
// than the MIDI service's client round trips. `active()` says whether anything was hidden.
class MidiServiceHidden {
  public:
    MidiServiceHidden();
    ~MidiServiceHidden();
    MidiServiceHidden(const MidiServiceHidden&) = delete;
    MidiServiceHidden& operator=(const MidiServiceHidden&) = delete;
    bool active() const { return hidden; }

  private:
    bool hidden = false;
    bool hadValue = false;
    std::string previous;
};

// The process's resident memory, where the system tells it cheaply.
std::optional<std::uint64_t> residentBytes();

} // namespace qrhost
