// What the built plug-in file exports, read from the file as a loader sees it, and how the
// reader copes with files that are damaged or no libraries at all.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "tests/host/host_test_paths.h"
#include "tools/host/binary_exports.h"
#include "tools/host/host.h"

namespace {

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(PluginExports, OnlyTheTwoEntryPointsLeaveTheLibrary) {
    const qrhost::BinaryExports exports = qrhost::readBinaryExports(host_tests::pluginPath());
    EXPECT_EQ(sorted(exports.names), (std::vector<std::string>{"VSTPluginMain", "main"}));
    EXPECT_EQ(exports.unnamed, 0u);
    // The file is built for the machine the tests run on.
    EXPECT_NE(exports.format.find(sizeof(void*) == 8 ? "x86-64" : "i386"), std::string::npos)
        << exports.format;
}

TEST(PluginExports, BothNamesReachTheSameEntry) {
    platform::SharedLibrary library;
    ASSERT_TRUE(library.open(host_tests::pluginPath())) << library.error();
    void* pluginMain = library.symbol("VSTPluginMain");
    EXPECT_NE(pluginMain, nullptr);
    EXPECT_EQ(library.symbol("main"), pluginMain);
    EXPECT_EQ(library.symbol("createEffectInstance"), nullptr);
    EXPECT_FALSE(library.error().empty());
}

TEST(PluginExports, TheFakePluginListsItsHelpers) {
    const auto names = sorted(qrhost::readBinaryExports(host_tests::fakePluginPath()).names);
    for (const char* name : {"VSTPluginMain", "qrFakeSetMode", "qrFakeLiveEffects"})
        EXPECT_TRUE(std::binary_search(names.begin(), names.end(), name)) << name;
    EXPECT_FALSE(std::binary_search(names.begin(), names.end(), "main"));
}

TEST(PluginExports, DamagedAndForeignFilesAreRefusedSafely) {
    EXPECT_THROW(qrhost::readBinaryExports(host_tests::textFilePath()), qrhost::HostError);
    EXPECT_THROW(qrhost::readBinaryExports(host_tests::pluginPath() + ".missing"),
                 qrhost::HostError);
    EXPECT_THROW(qrhost::parseBinaryExports({}), qrhost::HostError);

    const std::vector<std::uint8_t> image = fileBytes(host_tests::pluginPath());
    ASSERT_GT(image.size(), 4096u);
    // Every cut of the headers, and headers with scribbled fields, either parse or throw the
    // host's error; none reads outside the image.
    for (std::size_t length = 0; length < 2048; length += 7) {
        const std::vector<std::uint8_t> cut(image.begin(), image.begin() + length);
        try {
            qrhost::parseBinaryExports(cut);
        } catch (const qrhost::HostError&) {
        }
    }
    std::uint32_t seed = 12345;
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> damaged = image;
        for (int hit = 0; hit < 4; ++hit) {
            seed = seed * 1664525u + 1013904223u;
            damaged[4 + (seed >> 8) % 1020] = static_cast<std::uint8_t>(seed >> 24);
        }
        try {
            qrhost::parseBinaryExports(damaged);
        } catch (const qrhost::HostError&) {
        }
    }
}
