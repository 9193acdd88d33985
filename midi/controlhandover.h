#pragma once
// The hand-over between the threads that change gains and the one thread that sends them.
//
// Writers (any thread, a host's audio thread included) never wait, lock or allocate: a change
// is one compare-and-swap on the controller's word. The word keeps only the newest value, so
// when the device is slower than the changes, older values are replaced, never the other way
// round. Each change carries a sequence number (the order changes were made in) and the
// device generation it was made for, so that changes made before a device change still go to
// the old device and those made after go to the new one. Device changes are kept in order too,
// up to kGenerations of them waiting at once; beyond that the oldest waiting ones are skipped.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

class ControlHandOver {
  public:
    static constexpr int kControllers = 48;

    // What the newest device change asks for.
    enum class DeviceAction : std::uint32_t {
        kNone = 0,   // nothing chosen yet: no port
        kSelect = 1, // the device with this number in the instance's list, or no device
        kRecall = 2, // the device already chosen, opened afresh
        kReopen = 3, // the chosen device, only if its port is not open
    };
    struct DeviceRequest {
        std::uint32_t generation = 0;
        DeviceAction action = DeviceAction::kNone;
        std::int32_t number = -1;
    };

    struct Change {
        std::uint64_t word = 0;
        int controller = 0;
        int value = 0;
        bool always = false; // sent even if the device already holds the value
        std::uint32_t sequence = 0;
    };
    using Batch = std::array<Change, kControllers>;

    ControlHandOver();

    // --- Any thread, never waits ------------------------------------------------------------
    // `value` is kept to 0..127, `controller` must be 0..47.
    void post(int controller, int value, bool always) noexcept;
    // Starts a new device generation; returns it.
    std::uint32_t requestDevice(DeviceAction action, std::int32_t number) noexcept;
    std::uint32_t latestGeneration() const noexcept { return newestGeneration.load(); }
    // How many changes were posted so far (wraps); a later collect() covers them all.
    std::uint32_t postedCount() const noexcept { return nextSequence.load(); }

    // --- The sending thread -----------------------------------------------------------------
    // The device change that follows `generation`: the next one, or the oldest still kept if
    // the next was overwritten. False while there is none yet (or its writer is still storing).
    bool nextRequest(std::uint32_t generation, DeviceRequest& out) const noexcept;
    // Whether a device change of this kind waits after `generation`.
    bool waitingAfter(std::uint32_t generation, DeviceAction action) const noexcept;
    // The pending changes of `generation` made before this call, oldest first. Waits briefly for
    // writers still storing a change, so that none made earlier is passed over for a later one.
    // Changes of generations older than `generation` are dropped on the way; newer ones stay.
    // Returns the number of changes in `out` and sets `horizon` to the sequence number the
    // batch covers (every change numbered below it that is not in the batch was replaced).
    std::size_t collect(std::uint32_t generation, Batch& out, std::uint32_t& horizon) noexcept;
    // Brings a collected change up to its controller's newest value of the same generation,
    // for a sender that fell behind since it collected.
    void catchUp(Change& change) const noexcept;
    // The change left the thread; false if a newer one replaced it meanwhile (still pending).
    bool markTaken(const Change& change) noexcept;
    // Whether any change of `generation` is pending.
    bool hasPending(std::uint32_t generation) const noexcept;

    static constexpr std::uint32_t kGenerations = 8; // device changes that can wait at once

  private:
    using Word = std::uint64_t;

    static Word pack(int value, bool always, std::uint32_t generation, std::uint32_t sequence);

    std::atomic<std::uint32_t> newestGeneration{0};
    // Per waiting generation: its number (high half), the action and number (low half).
    std::array<std::atomic<std::uint64_t>, kGenerations> requests;
    std::atomic<std::uint32_t> nextSequence{0};
    std::atomic<std::uint32_t> writersActive{0};
    // One word per controller for each device generation that may be in flight.
    std::array<std::array<std::atomic<Word>, kControllers>, kGenerations> banks;
};
