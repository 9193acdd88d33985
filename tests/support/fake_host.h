#pragma once
// A host callback for tests: answers audioMasterVersion with a chosen version and records
// every call the plug-in makes; it can also claim to resize the editor's window.

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "vst/aeffect.h"

namespace testing_host {

struct HostCall {
    AEffect* effect;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

// A window size the plug-in asked for, and what its editor rectangle said at that moment.
struct SizeRequest {
    VstInt32 width;
    VstIntPtr height;
    ERect rectDuringCall;
};

struct FakeHost {
    static FakeHost& instance() {
        static FakeHost host;
        return host;
    }
    void reset(VstIntPtr version = 2400) {
        std::lock_guard g(lock);
        calls.clear();
        versionAnswer = version;
        editAnswer = 1;
        canSizeWindow = false;
        canDoAsked.clear();
        sizeRequests.clear();
    }
    std::vector<HostCall> recorded() {
        std::lock_guard g(lock);
        return calls;
    }
    std::vector<HostCall> recorded(VstInt32 opcode) {
        std::lock_guard g(lock);
        std::vector<HostCall> matching;
        for (const HostCall& call : calls)
            if (call.opcode == opcode) matching.push_back(call);
        return matching;
    }

    std::mutex lock;
    std::vector<HostCall> calls;
    VstIntPtr versionAnswer = 2400;
    VstIntPtr editAnswer = 1;
    bool canSizeWindow = false; // answers "sizeWindow" with yes and resizes on request
    std::vector<std::string> canDoAsked;
    std::vector<SizeRequest> sizeRequests;
};

inline VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                          VstIntPtr value, void* ptr, float opt) {
    FakeHost& host = FakeHost::instance();
    std::lock_guard g(host.lock);
    host.calls.push_back({effect, opcode, index, value, ptr, opt});
    switch (opcode) {
    case audioMasterVersion:
        return host.versionAnswer;
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
        return host.editAnswer;
    case audioMasterCanDo: {
        const char* text = static_cast<const char*>(ptr);
        host.canDoAsked.emplace_back(text ? text : "");
        return host.canSizeWindow && text && std::strcmp(text, "sizeWindow") == 0 ? 1 : 0;
    }
    case audioMasterSizeWindow: {
        // Hosts read the editor's rectangle back while they resize.
        ERect* rect = nullptr;
        if (effect) effect->dispatcher(effect, effEditGetRect, 0, 0, &rect, 0.0f);
        host.sizeRequests.push_back({index, value, rect ? *rect : ERect{}});
        return host.canSizeWindow ? 1 : 0;
    }
    default:
        return 0;
    }
}

} // namespace testing_host

extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster);
