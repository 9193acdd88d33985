// Audio through the built plug-in: both sample widths, block sizes from one frame up.

#include <gtest/gtest.h>

#include "tests/host/host_test_paths.h"
#include "tools/host/host.h"

namespace {

void expectPassThrough(const qrhost::ProcessReport& report) {
    EXPECT_TRUE(report.supported);
    EXPECT_EQ(report.channels, 2);
    EXPECT_TRUE(report.equal) << "first difference at frame " << report.firstMismatch
                              << ", channel " << report.mismatchChannel;
    EXPECT_TRUE(report.inputsIntact);
}

} // namespace

TEST(BuiltPluginAudio, OutputEqualsInputBitForBit) {
    auto plugin = qrhost::LoadedPlugin::load(host_tests::pluginPath());
    for (std::int32_t block : {1, 7, 64, 512, 4096}) {
        SCOPED_TRACE(block);
        expectPassThrough(plugin->processFloat(10007, block));
        expectPassThrough(plugin->processDouble(10007, block, 96000.0));
    }
}

TEST(BuiltPluginAudio, ParameterChangesDoNotTouchTheSound) {
    auto plugin = qrhost::LoadedPlugin::load(host_tests::pluginPath());
    for (VstInt32 index = 0; index < 74; ++index)
        plugin->setParameter(index, 1.0f);
    expectPassThrough(plugin->processFloat(2048, 256));
    expectPassThrough(plugin->processDouble(2048, 256));
}
