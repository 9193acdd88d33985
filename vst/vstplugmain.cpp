// The library's one entry point: the host hands over its callback and receives the record.

#include "vst/audioeffect.h"

extern "C" PLUGIN_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster);

extern "C" PLUGIN_EXPORT AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster) {
    if (!audioMaster) return nullptr;
    try {
        if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
        AudioEffect* effect = createEffectInstance(audioMaster);
        return effect ? effect->getAeffect() : nullptr;
    } catch (...) {
        return nullptr;
    }
}
