// What the built plug-in file says about itself, read from the file without loading it: what
// it exports, as a loader sees it, and its version information, as the operating system shows
// it; and how the readers cope with files that are damaged or no libraries at all.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "qr_version.h"
#include "tests/host/host_test_paths.h"
#include "tools/host/binary_exports.h"
#include "tools/host/binary_image.h"
#include "tools/host/binary_version.h"
#include "tools/host/host.h"

namespace {

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Cuts of `image` from `cutFrom` to `cutTo` and copies with bytes scribbled over in
// [scribbleFrom, scribbleTo) either parse or throw the host's error; none reads outside the
// image (which the sanitizer build would see).
template <typename Parse>
void expectDamageRefusedSafely(Parse parse, const std::vector<std::uint8_t>& image,
                               std::size_t cutFrom, std::size_t cutTo, std::size_t scribbleFrom,
                               std::size_t scribbleTo) {
    ASSERT_LE(cutTo, image.size());
    ASSERT_LT(scribbleFrom, scribbleTo);
    ASSERT_LE(scribbleTo, image.size());
    for (std::size_t length = cutFrom; length < cutTo; length += 7) {
        const std::vector<std::uint8_t> cut(image.begin(), image.begin() + length);
        try {
            parse(cut);
        } catch (const qrhost::HostError&) {
        }
    }
    std::uint32_t seed = 12345;
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> damaged = image;
        for (int hit = 0; hit < 4; ++hit) {
            seed = seed * 1664525u + 1013904223u;
            damaged[scribbleFrom + (seed >> 8) % (scribbleTo - scribbleFrom)] =
                static_cast<std::uint8_t>(seed >> 24);
        }
        try {
            parse(damaged);
        } catch (const qrhost::HostError&) {
        }
    }
}

std::size_t find(const std::vector<std::uint8_t>& image, const std::vector<std::uint8_t>& part) {
    return static_cast<std::size_t>(
        std::search(image.begin(), image.end(), part.begin(), part.end()) - image.begin());
}

bool isPeFile(const std::string& path) {
    return qrhost::readBinaryExports(path).format.starts_with("PE");
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
    // The headers: every cut of them, and scribbled fields.
    expectDamageRefusedSafely(qrhost::parseBinaryExports, image, 0, 2048, 4, 1024);
}

TEST(PluginVersion, TheFileCarriesTheProjectVersionAndThePluginsNames) {
    const auto version = qrhost::readVersionInfo(host_tests::pluginPath());
    ASSERT_TRUE(version);
    EXPECT_EQ(version->value("FileVersion"), QR_VERSION_TEXT);
    EXPECT_EQ(version->value("ProductVersion"), QR_VERSION_TEXT);
    for (const char* key : {"FileDescription", "LegalCopyright", "InternalName"})
        EXPECT_FALSE(version->value(key).empty()) << key;
    if (isPeFile(host_tests::pluginPath())) {
        // Explorer shows the numbers; they must be the same version as the texts.
        const qrhost::VersionInfo::Numbers expected{QR_VERSION_MAJOR, QR_VERSION_MINOR,
                                                    QR_VERSION_PATCH, 0};
        EXPECT_EQ(version->fileVersion, expected);
        EXPECT_EQ(version->productVersion, expected);
        EXPECT_EQ(version->value("OriginalFilename"), "QuorvelRemote.dll");
    } else {
        EXPECT_EQ(version->source, "ELF version note");
        EXPECT_EQ(version->value("OriginalFilename"), "QuorvelRemote.so");
    }
    // What the operating system shows is what the host reads from the plug-in.
    auto plugin = qrhost::LoadedPlugin::load(host_tests::pluginPath());
    const qrhost::Identity identity = plugin->identity();
    EXPECT_EQ(version->value("ProductName"), identity.product);
    EXPECT_EQ(version->value("CompanyName"), identity.vendor);
}

TEST(PluginVersion, FilesWithoutVersionInformationAndNonLibraries) {
    EXPECT_FALSE(qrhost::readVersionInfo(host_tests::fakePluginPath()));
    EXPECT_THROW(qrhost::readVersionInfo(host_tests::textFilePath()), qrhost::HostError);
    EXPECT_THROW(qrhost::readVersionInfo(host_tests::pluginPath() + ".missing"), qrhost::HostError);
    EXPECT_THROW(qrhost::parseVersionInfo({}), qrhost::HostError);
}

TEST(PluginVersion, DamagedVersionInformationIsRefusedSafely) {
    const std::vector<std::uint8_t> image = fileBytes(host_tests::pluginPath());
    const bool pe = isPeFile(host_tests::pluginPath());
    // The version block: the resource's UTF-16 key, or the note's owner and first key.
    std::vector<std::uint8_t> marker;
    if (pe) {
        for (const char c : std::string("VS_VERSION_INFO"))
            marker.insert(marker.end(), {static_cast<std::uint8_t>(c), 0});
    } else {
        const std::string text("Quorvel\0CompanyName=", 20);
        marker.assign(text.begin(), text.end());
    }
    const std::size_t at = find(image, marker);
    ASSERT_LT(at, image.size()) << "no version block found";
    const std::size_t start = at - (pe ? 6 : 12); // its length fields come before the key
    const std::size_t extent = std::min<std::size_t>(image.size() - start, 0x200);
    expectDamageRefusedSafely(qrhost::parseVersionInfo, image, start, start + extent, start,
                              start + extent);
    if (pe) {
        // The resource tree that leads to the block: its first tables.
        const qrhost::binary::Image bytes(image);
        const qrhost::binary::PeFile file = qrhost::binary::readPe(bytes);
        const std::size_t tree = file.fileOffset(file.directory(2).rva);
        const std::size_t size = std::min<std::size_t>(image.size() - tree, 0x100);
        expectDamageRefusedSafely(qrhost::parseVersionInfo, image, tree, tree, tree, tree + size);
    }

    // A length reaching past the block is reported as damage, not followed.
    std::vector<std::uint8_t> damaged = image;
    const std::size_t length = pe ? start : start + 4; // wLength, or the note's description size
    damaged[length] = damaged[length + 1] = 0xFF;
    if (!pe) damaged[length + 2] = 0x7F;
    EXPECT_THROW(qrhost::parseVersionInfo(damaged), qrhost::HostError);
}
