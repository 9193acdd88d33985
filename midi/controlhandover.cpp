#include "midi/controlhandover.h"

#include <algorithm>
#include <thread>

namespace {

// Word layout: value in bits 0-6, pending in bit 7, "always send" in bit 8, the low 23 bits of
// the device generation in bits 9-31 and the sequence number in bits 32-63.
constexpr std::uint64_t kValueMask = 0x7F;
constexpr std::uint64_t kPending = 1u << 7;
constexpr std::uint64_t kAlways = 1u << 8;
constexpr int kGenerationShift = 9;
constexpr std::uint32_t kGenerationMask = (1u << 23) - 1;

constexpr std::uint32_t generationTag(std::uint64_t word) {
    return static_cast<std::uint32_t>(word >> kGenerationShift) & kGenerationMask;
}
constexpr std::uint32_t sequenceOf(std::uint64_t word) {
    return static_cast<std::uint32_t>(word >> 32);
}
// Sequence numbers and generations wrap; of two that are close, the one behind is older.
constexpr bool before(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) < 0;
}
constexpr bool generationOlder(std::uint32_t tag, std::uint32_t current) {
    const std::uint32_t behind = (current - tag) & kGenerationMask;
    return behind != 0 && behind < (kGenerationMask + 1) / 2;
}

// Numbers in the request's 30 bits; anything else means "no device".
constexpr std::int32_t kMaxNumber = (1 << 29) - 1;

} // namespace

static_assert(std::atomic<std::uint64_t>::is_always_lock_free,
              "the hand-over must not fall back to a lock on any target");

static_assert(((kGenerationMask + 1) % ControlHandOver::kGenerations) == 0,
              "a generation's bank must follow from the low bits a word keeps");

ControlHandOver::ControlHandOver() {
    for (auto& bank : banks)
        for (auto& word : bank)
            word.store(0, std::memory_order_relaxed);
    for (auto& entry : requests)
        entry.store(0, std::memory_order_relaxed);
}

ControlHandOver::Word ControlHandOver::pack(int value, bool always, std::uint32_t generation,
                                            std::uint32_t sequence) {
    const auto clamped = static_cast<std::uint64_t>(std::clamp(value, 0, 127));
    return clamped | kPending | (always ? kAlways : 0) |
           static_cast<std::uint64_t>(generation & kGenerationMask) << kGenerationShift |
           static_cast<std::uint64_t>(sequence) << 32;
}

void ControlHandOver::post(int controller, int value, bool always) noexcept {
    if (controller < 0 || controller >= kControllers) return;
    // Counted as active before taking a number, so that collect() can wait for every change
    // numbered before its horizon to be stored.
    writersActive.fetch_add(1);
    const std::uint32_t sequence = nextSequence.fetch_add(1);
    const std::uint32_t generation = newestGeneration.load();
    std::atomic<Word>& slot =
        banks[generation % kGenerations][static_cast<std::size_t>(controller)];
    Word old = slot.load(std::memory_order_relaxed);
    Word word;
    do {
        // A writer that took its generation before many device changes found its bank in use
        // by a newer device: its change belongs to a device that is gone.
        if ((old & kPending) && generationOlder(generation & kGenerationMask, generationTag(old)))
            break;
        // A refresh's "always" survives a newer value of the same generation.
        const bool keepAlways = (old & kPending) && (old & kAlways) &&
                                generationTag(old) == (generation & kGenerationMask);
        word = pack(value, always || keepAlways, generation, sequence);
    } while (!slot.compare_exchange_weak(old, word, std::memory_order_acq_rel,
                                         std::memory_order_relaxed));
    writersActive.fetch_sub(1, std::memory_order_release);
}

std::uint32_t ControlHandOver::requestDevice(DeviceAction action, std::int32_t number) noexcept {
    if (number < 0 || number > kMaxNumber) number = -1;
    const std::uint32_t generation = newestGeneration.fetch_add(1) + 1;
    const std::uint64_t entry = static_cast<std::uint64_t>(generation) << 32 |
                                static_cast<std::uint64_t>(action) << 30 |
                                (static_cast<std::uint32_t>(number) & 0x3FFFFFFFu);
    requests[generation % kGenerations].store(entry);
    return generation;
}

bool ControlHandOver::nextRequest(std::uint32_t generation, DeviceRequest& out) const noexcept {
    const std::uint32_t newest = newestGeneration.load();
    if (newest == generation) return false;
    std::uint32_t next = generation + 1;
    // More changes waited than are kept: the oldest were overwritten.
    if (newest - next >= kGenerations) next = newest - kGenerations + 1;
    const std::uint64_t entry = requests[next % kGenerations].load();
    if (static_cast<std::uint32_t>(entry >> 32) != next) return false; // still being stored
    out.generation = next;
    out.action = static_cast<DeviceAction>((entry >> 30) & 3u);
    const std::uint32_t number = static_cast<std::uint32_t>(entry) & 0x3FFFFFFFu;
    out.number = number == 0x3FFFFFFFu ? -1 : static_cast<std::int32_t>(number);
    return true;
}

bool ControlHandOver::waitingAfter(std::uint32_t generation,
                                   DeviceAction action) const noexcept {
    DeviceRequest request;
    while (nextRequest(generation, request)) {
        if (request.action == action) return true;
        generation = request.generation;
    }
    return false;
}

std::size_t ControlHandOver::collect(std::uint32_t generation, Batch& out,
                                     std::uint32_t& horizon) noexcept {
    horizon = nextSequence.load();
    // A writer numbered below the horizon may still be storing its change; give it a moment
    // (it is a few instructions away unless the system preempted it).
    for (int round = 0; writersActive.load() != 0 && round < 2000; ++round)
        if (round > 64) std::this_thread::yield();

    const std::uint32_t tag = generation & kGenerationMask;
    std::size_t count = 0;
    for (std::size_t bank = 0; bank < kGenerations; ++bank) {
        for (int controller = 0; controller < kControllers; ++controller) {
            std::atomic<Word>& slot = banks[bank][static_cast<std::size_t>(controller)];
            Word word = slot.load(std::memory_order_acquire);
            if (!(word & kPending)) continue;
            if (generationOlder(generationTag(word), tag)) {
                // Made for a device that is closed or was never opened.
                slot.compare_exchange_strong(word, word & ~(kPending | kAlways));
                continue;
            }
            // This generation's changes live in its own bank, at most one per controller.
            if (bank != generation % kGenerations || generationTag(word) != tag ||
                !before(sequenceOf(word), horizon))
                continue;
            Change& change = out[count++];
            change.word = word;
            change.controller = controller;
            change.value = static_cast<int>(word & kValueMask);
            change.always = (word & kAlways) != 0;
            change.sequence = sequenceOf(word);
        }
    }
    std::sort(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(count),
              [](const Change& a, const Change& b) { return before(a.sequence, b.sequence); });
    return count;
}

void ControlHandOver::catchUp(Change& change) const noexcept {
    const Word word = banks[generationTag(change.word) % kGenerations]
                           [static_cast<std::size_t>(change.controller)]
                               .load(std::memory_order_acquire);
    if (word == change.word || !(word & kPending) ||
        generationTag(word) != generationTag(change.word))
        return;
    change.word = word;
    change.value = static_cast<int>(word & kValueMask);
    change.always = (word & kAlways) != 0;
    change.sequence = sequenceOf(word);
}

bool ControlHandOver::markTaken(const Change& change) noexcept {
    // The bank follows from the generation, whose low bits the word keeps.
    std::atomic<Word>& slot = banks[generationTag(change.word) % kGenerations]
                                   [static_cast<std::size_t>(change.controller)];
    Word expected = change.word;
    return slot.compare_exchange_strong(expected, change.word & ~(kPending | kAlways));
}

bool ControlHandOver::hasPending(std::uint32_t generation) const noexcept {
    const std::uint32_t tag = generation & kGenerationMask;
    for (const auto& slot : banks[generation % kGenerations]) {
        const Word word = slot.load(std::memory_order_acquire);
        if ((word & kPending) && generationTag(word) == tag) return true;
    }
    return false;
}
