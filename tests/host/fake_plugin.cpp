// A minimal plug-in file for the host's own tests: it talks back to the host from effOpen, and
// can be told to fail at its entry point in the ways careless plug-ins do. From mode 10 on it
// is a stand-in for our plug-in instead (fake_remote.cpp).

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

#include "tests/host/fake_remote.h"
#include "vst/aeffect.h"

namespace {

enum Mode {
    kNormal = 0,
    kReturnNull = 1,
    kBadMagic = 2,
    kSwapChannels = 3,
    kEatsInput = 4,
    // Faults a validator must find; each is otherwise a clean pass-through.
    kPassThrough = 5,
    kAllocates = 6, // allocates and frees in every process call
    kLocks = 7,     // takes a mutex in every process call
    kMakesNaN = 8,  // writes NaN over a finite sample in every process call
    kLongTexts = 9, // names longer than the conventional buffers
    // 10 and up: the stand-in for our plug-in (fake_remote.h), with fault (mode - 10).
    kRemote = 10,
};

bool passesThrough(int m) {
    return m >= kPassThrough && m <= kLongTexts;
}

// QR_FAKE_MODE picks the mode for command-line runs (qrhost validate on the fake's file).
int initialMode() {
    const char* text = std::getenv("QR_FAKE_MODE");
    return text ? std::atoi(text) : kNormal;
}

std::atomic<int> mode{initialMode()};
std::atomic<int> liveEffects{0};
std::mutex answersLock;
std::map<int, VstIntPtr> answers; // last answer of the host per opcode
std::mutex processLock;
// Kept where the compiler must store it, so the allocation cannot be dropped.
void* volatile lastAllocation = nullptr;

// While the fake takes its lock in the process call, a second thread holds that lock most of
// the time, so the call really waits for it, as it would behind a busy thread of a host.
class LockHolder {
  public:
    ~LockHolder() { stop(); }
    void start() {
        if (thread.joinable()) return;
        stopping = false;
        thread = std::thread([this] {
            while (!stopping) {
                {
                    std::lock_guard guard(processLock);
                    std::this_thread::sleep_for(std::chrono::microseconds(300));
                }
                std::this_thread::sleep_for(std::chrono::microseconds(30));
            }
        });
    }
    void stop() {
        stopping = true;
        if (thread.joinable()) thread.join();
    }

  private:
    std::thread thread;
    std::atomic<bool> stopping{false};
};
LockHolder lockHolder;

struct FakeEffect {
    AEffect record{};
    audioMasterCallback host = nullptr;
};

void remember(int opcode, VstIntPtr answer) {
    std::lock_guard guard(answersLock);
    answers[opcode] = answer;
}

VstIntPtr VSTCALLBACK dispatcher(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void* ptr,
                                 float) {
    auto* fake = static_cast<FakeEffect*>(effect->object);
    switch (opcode) {
    case effOpen:
        remember(audioMasterAutomate,
                 fake->host(effect, audioMasterAutomate, 0, 0, nullptr, 0.75f));
        remember(audioMasterBeginEdit, fake->host(effect, audioMasterBeginEdit, 0, 0, nullptr, 0));
        remember(audioMasterEndEdit, fake->host(effect, audioMasterEndEdit, 0, 0, nullptr, 0));
        remember(audioMasterIdle, fake->host(effect, audioMasterIdle, 0, 0, nullptr, 0));
        return 0;
    case effClose:
        delete fake;
        --liveEffects;
        return 1;
    case effGetEffectName:
        if (!passesThrough(mode)) return 0;
        std::strcpy(static_cast<char*>(ptr),
                    mode == kLongTexts ? "A fake effect with a name of well over 32 characters"
                                       : "Fake");
        return 1;
    case effGetParamName:
        if (!passesThrough(mode)) return 0;
        std::strcpy(static_cast<char*>(ptr), mode == kLongTexts ? "Much too long" : "Level");
        return 0;
    default:
        return 0;
    }
}

// Two ways of getting audio wrong that a host's check must notice.
void VSTCALLBACK processReplacing(AEffect*, float** inputs, float** outputs, VstInt32 frames) {
    for (VstInt32 i = 0; i < frames; ++i) {
        if (mode == kSwapChannels) {
            outputs[0][i] = inputs[1][i];
            outputs[1][i] = inputs[0][i];
        } else {
            outputs[0][i] = inputs[0][i];
            outputs[1][i] = inputs[1][i];
            inputs[0][i] = 0.0f;
        }
    }
}

// The clean pass-through and its faulty variants.
void VSTCALLBACK processChecked(AEffect*, float** inputs, float** outputs, VstInt32 frames) {
    if (mode == kAllocates) {
        lastAllocation = std::malloc(64 + static_cast<std::size_t>(frames));
        std::free(lastAllocation);
    }
    std::unique_lock<std::mutex> guard(processLock, std::defer_lock);
    if (mode == kLocks) guard.lock();
    for (int c = 0; c < 2; ++c)
        for (VstInt32 i = 0; i < frames; ++i)
            outputs[c][i] = inputs[c][i];
    if (mode == kMakesNaN && frames > 0 && std::isfinite(inputs[0][0]))
        outputs[0][0] = std::numeric_limits<float>::quiet_NaN();
}

void VSTCALLBACK setParameter(AEffect*, VstInt32, float) {}
float VSTCALLBACK getParameter(AEffect*, VstInt32) {
    return 0.0f;
}

} // namespace

extern "C" {

PLUGIN_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host) {
    remember(audioMasterVersion, host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f));
    if (mode == kReturnNull) return nullptr;
    if (mode >= kRemote && mode < static_cast<int>(kRemote) + fake_remote::kFaultCount)
        return fake_remote::create(host, static_cast<fake_remote::Fault>(mode - kRemote));
    if (mode == kBadMagic) {
        // A host that refuses this record cannot close it, so it must not be a leak.
        static AEffect wrong{};
        wrong.magic = fourCharCode('N', 'o', 'p', 'e');
        return &wrong;
    }
    auto* fake = new FakeEffect;
    fake->host = host;
    fake->record.magic = kEffectMagic;
    fake->record.dispatcher = dispatcher;
    fake->record.setParameter = setParameter;
    fake->record.getParameter = getParameter;
    fake->record.numParams = 1;
    if (mode == kSwapChannels || mode == kEatsInput) {
        fake->record.flags = effFlagsCanReplacing;
        fake->record.processReplacing = processReplacing;
        fake->record.numInputs = 2;
        fake->record.numOutputs = 2;
    }
    if (passesThrough(mode)) {
        fake->record.flags = effFlagsCanReplacing;
        fake->record.processReplacing = processChecked;
        fake->record.numInputs = 2;
        fake->record.numOutputs = 2;
        fake->record.uniqueID = fourCharCode('F', 'a', 'k', 'e');
    }
    fake->record.object = fake;
    ++liveEffects;
    return &fake->record;
}

PLUGIN_EXPORT void qrFakeSetMode(int newMode) {
    mode = newMode;
    if (newMode == kLocks)
        lockHolder.start();
    else
        lockHolder.stop();
}
PLUGIN_EXPORT int qrFakeLiveEffects() {
    return liveEffects;
}
PLUGIN_EXPORT VstIntPtr qrFakeAnswer(int opcode) {
    std::lock_guard guard(answersLock);
    const auto found = answers.find(opcode);
    return found == answers.end() ? -1 : found->second;
}
}
