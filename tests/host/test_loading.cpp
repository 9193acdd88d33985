// Loading the built plug-in file as a host does: the entry points, the record it hands back,
// its identity, and closing.

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "tests/host/host_test_paths.h"
#include "tools/host/host.h"

using qrhost::EntryPoint;
using qrhost::HostError;
using qrhost::LoadedPlugin;

namespace {

std::unique_ptr<LoadedPlugin> loadPlugin(EntryPoint entry = EntryPoint::Any) {
    return LoadedPlugin::load(host_tests::pluginPath(), entry);
}

} // namespace

TEST(LoadedPlugin, RecordAsTheHostReadsIt) {
    auto plugin = loadPlugin();
    const AEffect& e = plugin->effect();
    EXPECT_EQ(e.magic, kEffectMagic);
    EXPECT_EQ(e.numPrograms, 1);
    EXPECT_EQ(e.numParams, 74);
    EXPECT_EQ(e.numInputs, 2);
    EXPECT_EQ(e.numOutputs, 2);
    // The editor flag depends on whether the window is built in; the rest is fixed.
    EXPECT_EQ(e.flags & ~effFlagsHasEditor,
              effFlagsCanReplacing | effFlagsCanDoubleReplacing | effFlagsProgramChunks);
    EXPECT_EQ(e.uniqueID, fourCharCode('Q', 'V', 'R', 'L'));
    EXPECT_EQ(qrhost::fourCharText(e.uniqueID), "QVRL");
    EXPECT_EQ(e.version, 1);
    EXPECT_EQ(e.initialDelay, 0);
    EXPECT_EQ(e.ioRatio, 1.0f);
    EXPECT_NE(e.object, nullptr);
    EXPECT_EQ(e.user, &plugin->host());
    EXPECT_NE(e.dispatcher, nullptr);
    EXPECT_NE(e.setParameter, nullptr);
    EXPECT_NE(e.getParameter, nullptr);
    EXPECT_NE(e.processReplacing, nullptr);
    EXPECT_NE(e.processDoubleReplacing, nullptr);
    const char zeros[sizeof e.future] = {};
    EXPECT_EQ(std::memcmp(e.future, zeros, sizeof zeros), 0);
}

TEST(LoadedPlugin, IdentityThroughTheDispatcher) {
    auto plugin = loadPlugin();
    const qrhost::Identity id = plugin->identity();
    EXPECT_EQ(id.effectName, "Quorvel Remote Control Demo");
    EXPECT_EQ(id.vendor, "Brannock");
    EXPECT_EQ(id.product, "Quorvel Remote Control Demo");
    EXPECT_EQ(id.vendorVersion, 1100);
    EXPECT_EQ(id.vstVersion, 2400);
    EXPECT_EQ(id.category, kPlugCategEffect);
    EXPECT_EQ(id.program, 0);
    EXPECT_EQ(id.programName, "Default");
    EXPECT_EQ(plugin->dispatch(effIdentify), fourCharCode('N', 'v', 'E', 'f'));
    for (VstInt32 index = 0; index < 74; ++index)
        EXPECT_EQ(plugin->dispatch(effCanBeAutomated, index), 1) << index;
}

TEST(LoadedPlugin, BothEntryPointsCreateAWorkingEffect) {
    for (EntryPoint entry : {EntryPoint::Any, EntryPoint::VSTPluginMain, EntryPoint::Main}) {
        SCOPED_TRACE(qrhost::entryPointName(entry));
        auto plugin = loadPlugin(entry);
        EXPECT_EQ(plugin->entryUsed(),
                  entry == EntryPoint::Main ? EntryPoint::Main : EntryPoint::VSTPluginMain);
        EXPECT_EQ(plugin->effect().uniqueID, fourCharCode('Q', 'V', 'R', 'L'));
        EXPECT_EQ(plugin->identity().effectName, "Quorvel Remote Control Demo");
        plugin->setParameter(10, 0.5f);
        EXPECT_EQ(plugin->getParameter(10), 0.5f);
    }
}

TEST(LoadedPlugin, SameFileTwiceGivesIndependentEffects) {
    auto first = loadPlugin();
    auto second = loadPlugin(EntryPoint::Main);
    ASSERT_NE(&first->effect(), &second->effect());
    EXPECT_NE(first->effect().object, second->effect().object);

    first->setParameter(2, 0.25f);
    second->setParameter(2, 0.75f);
    first->setParameter(60, 1.0f);
    EXPECT_EQ(first->getParameter(2), 0.25f);
    EXPECT_EQ(second->getParameter(2), 0.75f);
    EXPECT_EQ(second->getParameter(60), 0.0f);
    EXPECT_EQ(first->parameter(2).display, "20 dB");
    EXPECT_EQ(second->parameter(2).display, "40 dB");

    // Closing one leaves the other whole, with the library still loaded for it.
    EXPECT_EQ(first->close(), 1);
    EXPECT_EQ(second->getParameter(2), 0.75f);
    EXPECT_EQ(second->identity().vendor, "Brannock");
    EXPECT_TRUE(second->processFloat(1000, 128).equal);
}

TEST(LoadedPlugin, ClosingIsCleanAndFinal) {
    for (int cycle = 0; cycle < 10; ++cycle) {
        auto plugin = loadPlugin();
        plugin->setParameter(cycle + 2, 1.0f);
        EXPECT_TRUE(plugin->processDouble(300, 64).equal);
        EXPECT_TRUE(plugin->isOpen());
        EXPECT_EQ(plugin->close(), 1) << "effClose answers 1";
        EXPECT_FALSE(plugin->isOpen());
        EXPECT_EQ(plugin->close(), 0) << "a second close reaches no effect";
        EXPECT_THROW(plugin->effect(), HostError);
        EXPECT_THROW(plugin->getParameter(2), HostError);
    }
}

TEST(LoadedPlugin, FilesThatAreNoPluginAreRefused) {
    EXPECT_THROW(LoadedPlugin::load(host_tests::textFilePath()), HostError);
    EXPECT_THROW(LoadedPlugin::load(host_tests::pluginPath() + ".missing"), HostError);
    EXPECT_THROW(LoadedPlugin::load(""), HostError);
    try {
        LoadedPlugin::load(host_tests::fakePluginPath(), EntryPoint::Main);
        ADD_FAILURE() << "a library without main was loaded through main";
    } catch (const HostError& error) {
        EXPECT_NE(std::string(error.what()).find("no main"), std::string::npos) << error.what();
    }
}

// The fake plug-in file calls the host back, and fails on request, through a real load.
class FakePlugin : public ::testing::Test {
  protected:
    void SetUp() override {
        // A handle of the test's own keeps the fake loaded, so its counters outlive each load.
        ASSERT_TRUE(library.open(host_tests::fakePluginPath())) << library.error();
        setMode = reinterpret_cast<void (*)(int)>(library.symbol("qrFakeSetMode"));
        liveEffects = reinterpret_cast<int (*)()>(library.symbol("qrFakeLiveEffects"));
        answer = reinterpret_cast<VstIntPtr (*)(int)>(library.symbol("qrFakeAnswer"));
        ASSERT_TRUE(setMode && liveEffects && answer);
        setMode(0);
    }
    void TearDown() override {
        if (setMode) setMode(0);
    }

    platform::SharedLibrary library;
    void (*setMode)(int) = nullptr;
    int (*liveEffects)() = nullptr;
    VstIntPtr (*answer)(int) = nullptr;
};

TEST_F(FakePlugin, CallbacksReachTheirHostThroughTheRecord) {
    const int before = liveEffects();
    auto first = LoadedPlugin::load(host_tests::fakePluginPath());
    auto second = LoadedPlugin::load(host_tests::fakePluginPath());
    EXPECT_EQ(liveEffects(), before + 2);

    // The version question comes before the record exists and is answered without state.
    EXPECT_EQ(answer(audioMasterVersion), 2400);
    EXPECT_EQ(answer(audioMasterBeginEdit), 1);
    EXPECT_EQ(answer(audioMasterEndEdit), 1);
    EXPECT_EQ(answer(audioMasterIdle), 0);

    for (LoadedPlugin* plugin : {first.get(), second.get()}) {
        const auto calls = plugin->host().calls();
        ASSERT_EQ(calls.size(), 4u) << "each effect's calls reach its own host only";
        EXPECT_EQ(calls[0].opcode, audioMasterAutomate);
        EXPECT_EQ(calls[0].index, 0);
        EXPECT_EQ(calls[0].opt, 0.75f);
        EXPECT_EQ(calls[1].opcode, audioMasterBeginEdit);
        EXPECT_EQ(calls[2].opcode, audioMasterEndEdit);
        EXPECT_EQ(calls[3].opcode, audioMasterIdle);
        EXPECT_EQ(plugin->host().calls(audioMasterAutomate).size(), 1u);
    }

    EXPECT_EQ(first->close(), 1);
    EXPECT_EQ(liveEffects(), before + 1);
    second.reset();
    EXPECT_EQ(liveEffects(), before) << "destroying the host object closes its effect";
}

TEST_F(FakePlugin, EntryPointFailuresAreReported) {
    setMode(1);
    EXPECT_THROW(LoadedPlugin::load(host_tests::fakePluginPath()), HostError);
    setMode(2);
    try {
        LoadedPlugin::load(host_tests::fakePluginPath());
        ADD_FAILURE() << "a record without the magic was accepted";
    } catch (const HostError& error) {
        EXPECT_NE(std::string(error.what()).find("magic"), std::string::npos) << error.what();
    }
}

TEST_F(FakePlugin, NoFloatProcessingWithoutItsFlag) {
    auto plugin = LoadedPlugin::load(host_tests::fakePluginPath());
    EXPECT_FALSE(plugin->processFloat(100, 10).supported);
    EXPECT_FALSE(plugin->processDouble(100, 10).supported);
}

TEST_F(FakePlugin, AudioThatIsNotPassedThroughIsCaught) {
    setMode(3);
    auto swapping = LoadedPlugin::load(host_tests::fakePluginPath());
    const qrhost::ProcessReport swapped = swapping->processFloat(500, 100);
    EXPECT_TRUE(swapped.supported);
    EXPECT_FALSE(swapped.equal);
    EXPECT_EQ(swapped.firstMismatch, 0);
    EXPECT_EQ(swapped.mismatchChannel, 0);
    EXPECT_TRUE(swapped.inputsIntact);

    setMode(4);
    auto eating = LoadedPlugin::load(host_tests::fakePluginPath());
    const qrhost::ProcessReport eaten = eating->processFloat(500, 100);
    EXPECT_TRUE(eaten.equal);
    EXPECT_FALSE(eaten.inputsIntact);
}
