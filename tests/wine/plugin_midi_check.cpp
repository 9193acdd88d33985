// Loads the shipped plug-in DLL as a host does and checks, through the recording winmm.dll that
// sits next to this program, the exact MIDI bytes it sends: a device open, one gain change, a
// refresh of all 48 gains, and the close when the host closes the plug-in.
//
// Usage: qr_wine_midi_tests [PATH\TO\QuorvelRemote.dll]
// Without a path, the DLL is looked for two folders up (the build folder's top). Under Wine run
// it with WINEDLLOVERRIDES="winmm=n,b", so that the recording winmm.dll is preferred.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "vst/aeffect.h"

namespace {

using PluginMain = AEffect*(VSTCALLBACK*)(audioMasterCallback);

VstIntPtr VSTCALLBACK hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string moduleFile(HMODULE module) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

bool sameFolder(const std::string& a, const std::string& b) {
    return lstrcmpiA(folderOf(a).c_str(), folderOf(b).c_str()) == 0;
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string sendLine(int device, int channel, int value) {
    char line[32];
    std::snprintf(line, sizeof line, "send %d %02x %02x %02x", device, 0xB1 + channel / 8,
                  24 + channel % 8, value);
    return line;
}

int fail(const char* what) {
    std::printf("FAIL: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string self = moduleFile(nullptr);
    const std::string pluginPath = argc > 1
                                       ? std::string(argv[1])
                                       : folderOf(folderOf(folderOf(self))) + "\\QuorvelRemote.dll";

    char tempFolder[MAX_PATH] = {};
    if (GetTempPathA(sizeof tempFolder, tempFolder) == 0) return fail("no temporary folder");
    const std::string logPath =
        std::string(tempFolder) + "qr_winmm_" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(logPath.c_str());
    SetEnvironmentVariableA("QR_WINMM_LOG", logPath.c_str());
    SetEnvironmentVariableA("QR_WINMM_DEVICES", "3");

    HMODULE plugin = LoadLibraryA(pluginPath.c_str());
    if (!plugin) {
        std::printf("FAIL: cannot load %s (error %lu)\n", pluginPath.c_str(), GetLastError());
        return 1;
    }
    std::printf("loaded %s\n", moduleFile(plugin).c_str());

    // The plug-in's MIDI calls must reach the recording DLL beside this program, not the system's.
    // Wine names its own DLL after a file of that name it found, so the path alone proves
    // nothing; the recording DLL has none of the system's other calls.
    HMODULE winmmModule = GetModuleHandleA("winmm.dll");
    const std::string winmm = moduleFile(winmmModule);
    std::printf("winmm.dll in use: %s\n", winmm.empty() ? "(none)" : winmm.c_str());
    if (!winmmModule || !sameFolder(winmm, self) || GetProcAddress(winmmModule, "timeGetTime"))
        return fail("the system's winmm.dll was loaded, not the recording one next to this "
                    "program (under Wine, set WINEDLLOVERRIDES=winmm=n,b)");

    const auto entry = reinterpret_cast<PluginMain>(
        reinterpret_cast<void*>(GetProcAddress(plugin, "VSTPluginMain")));
    const auto oldEntry =
        reinterpret_cast<PluginMain>(reinterpret_cast<void*>(GetProcAddress(plugin, "main")));
    if (!entry) return fail("no export VSTPluginMain");
    if (oldEntry != entry) return fail("export main is not the same entry as VSTPluginMain");

    AEffect* effect = entry(hostCallback);
    if (!effect || effect->magic != kEffectMagic)
        return fail("VSTPluginMain gave no effect record");
    if (effect->numParams != 74) return fail("the record does not announce 74 parameters");
    effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
    // The devices are re-plugged in another order after the plug-in counted them: its device 0,
    // "QR Recording Out 1", now stands at place 1, and only that device may be opened.
    SetEnvironmentVariableA("QR_WINMM_FIRST", "2");
    effect->setParameter(effect, 0, 0.0f); // device 0 as the plug-in counted it
    effect->setParameter(effect, 5, 0.5f); // Gain 4
    Sleep(200); // the plug-in sends on a thread of its own: let this change leave first
    effect->setParameter(effect, 1, 1.0f); // refresh
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f); // sends what is pending first
    FreeLibrary(plugin);

    std::vector<std::string> expected{"open 1", sendLine(1, 3, 63)};
    for (int channel = 0; channel < 48; ++channel)
        expected.push_back(sendLine(1, channel, channel == 3 ? 63 : 0));
    expected.push_back("close 1");

    const std::vector<std::string> actual = readLines(logPath);
    DeleteFileA(logPath.c_str());
    // On a machine too busy to let the sender run in the pause, the gain change was still
    // waiting when the refresh replaced it with the same value: then only the refresh's 48.
    if (actual.size() + 1 == expected.size() && actual.size() > 1 && actual[1] == expected[2])
        expected.erase(expected.begin() + 1);
    bool same = actual.size() == expected.size();
    int shown = 0;
    for (std::size_t i = 0; i < actual.size() || i < expected.size(); ++i) {
        const std::string want = i < expected.size() ? expected[i] : "(nothing)";
        const std::string got = i < actual.size() ? actual[i] : "(nothing)";
        if (want == got) continue;
        same = false;
        if (++shown <= 10)
            std::printf("  line %zu: expected \"%s\", recorded \"%s\"\n", i + 1, want.c_str(),
                        got.c_str());
    }
    std::printf("%zu events recorded, %zu expected\n", actual.size(), expected.size());
    if (!same) return fail("the recorded MIDI traffic differs from the expected");
    std::printf("PASS: the counted device opened at its new place, 1 gain change, refresh of 48 "
                "gains in channel order, close "
                "(%zu events)\n",
                actual.size());
    return 0;
}
