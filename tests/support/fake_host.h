#pragma once
// A host callback for tests: answers audioMasterVersion with a chosen version and records
// every call the plug-in makes.

#include <mutex>
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
    default:
        return 0;
    }
}

} // namespace testing_host

extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback audioMaster);
