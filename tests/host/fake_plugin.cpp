// A minimal plug-in file for the host's own tests: it talks back to the host from effOpen, and
// can be told to fail at its entry point in the ways careless plug-ins do.

#include <atomic>
#include <map>
#include <mutex>

#include "vst/aeffect.h"

namespace {

enum Mode { kNormal = 0, kReturnNull = 1, kBadMagic = 2, kSwapChannels = 3, kEatsInput = 4 };

std::atomic<int> mode{kNormal};
std::atomic<int> liveEffects{0};
std::mutex answersLock;
std::map<int, VstIntPtr> answers; // last answer of the host per opcode

struct FakeEffect {
    AEffect record{};
    audioMasterCallback host = nullptr;
};

void remember(int opcode, VstIntPtr answer) {
    std::lock_guard guard(answersLock);
    answers[opcode] = answer;
}

VstIntPtr VSTCALLBACK dispatcher(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void*,
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

void VSTCALLBACK setParameter(AEffect*, VstInt32, float) {}
float VSTCALLBACK getParameter(AEffect*, VstInt32) {
    return 0.0f;
}

} // namespace

extern "C" {

PLUGIN_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host) {
    remember(audioMasterVersion, host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f));
    if (mode == kReturnNull) return nullptr;
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
    fake->record.object = fake;
    ++liveEffects;
    return &fake->record;
}

PLUGIN_EXPORT void qrFakeSetMode(int newMode) {
    mode = newMode;
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
