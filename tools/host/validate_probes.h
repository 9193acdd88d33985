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

// The validator's own MIDI surroundings for the device checks: receivers that come and go under
// names of its choosing, devices it can make slow, and where the system has one, a MIDI server
// it can stop, continue and restart. On Linux a private JACK server (dummy driver) that the
// plug-ins created meanwhile find through the environment; on Windows the tests' recording
// winmm.dll, whose device table this process changes. While a lab lives, no other receiver of
// the validator may be open (one process talks to one JACK server at a time).
class MidiLab {
  public:
    // Null when the system offers no such surroundings; `whyNot` then says why.
    static std::unique_ptr<MidiLab> open(std::string& whyNot);
    virtual ~MidiLab() = default;

    // What the lab is, for the figures.
    virtual std::string description() const = 0;
    // A receiver listed among the MIDI output devices while it lives; opening `key` again
    // after the first one went brings back a device of the same name. Null on failure.
    virtual std::unique_ptr<MidiReceiverProbe> receiver(const std::string& key,
                                                        std::string& whyNot) = 0;

    // Whether a device takes one client at a time (most Windows drivers), so that a second
    // instance choosing it fails to open until the first lets go.
    virtual bool devicesTakeOneClient() const = 0;

    // A MIDI server process that can be stopped (no cycles, no answers) and continued, or
    // killed and started again under the same name (every receiver dies with it and must be
    // opened again).
    virtual bool hasServer() const = 0;
    virtual void stopServer() = 0;
    virtual void continueServer() = 0;
    virtual void killServer() = 0;
    virtual std::string startServer() = 0; // empty on success (or when it runs already)
    // Clients of a killed server that this process still holds, by name. A JACK client kept
    // across the server's restart breaks libjack's state for every client of the process, so
    // nothing may start the server again while one is left.
    virtual std::vector<std::string> clientsOfKilledServer() const = 0;

    // Devices that take their messages slowly while `slow` is on; answers how, for the
    // figures. Where the server is the device, it runs in short bursts between stops.
    virtual std::string makeSlow(bool slow) = 0;
};

// What one thread asked of the system while counting was on.
struct PathCounts {
    std::uint64_t allocations = 0; // malloc, calloc, realloc, memalign family (new ends there)
    std::uint64_t frees = 0;
    std::uint64_t lockWaits = 0;   // mutex / rwlock / spin lock, condition and semaphore waits
    std::uint64_t systemCalls = 0; // calls of the libc system call wrappers (see the .cpp)
    std::uint64_t wakes = 0;       // another thread woken (futex wake, semaphore post, event)
    // What an audio thread must never do; waking a thread of the plug-in's own is allowed.
    std::uint64_t forbidden() const { return allocations + frees + lockWaits + systemCalls; }
    void add(const PathCounts& other) {
        allocations += other.allocations;
        frees += other.frees;
        lockWaits += other.lockWaits;
        systemCalls += other.systemCalls;
        wakes += other.wakes;
    }
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
    std::shared_ptr<void> environment; // the system's way of hiding it, put back at the end
};

// How often the calling thread has given up the processor to wait (a lock, a sleep, a
// driver), where the system counts it (Linux); null elsewhere. A thread that was only
// preempted does not count.
std::optional<std::uint64_t> threadWaits();

// The process's resident memory, where the system tells it cheaply.
std::optional<std::uint64_t> residentBytes();

} // namespace qrhost
