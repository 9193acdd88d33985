// Sanitizer runs set QR_KEEP_PLUGIN_LOADED: libraries the plug-in pulls in keep allocations in
// their globals, which look leaked once the library is unloaded. An extra handle held for the
// whole run keeps them mapped, so the leak check reports only what the effects themselves lose.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/shared_library.h"
#include "tests/host/host_test_paths.h"

namespace {

class KeepPluginLoaded : public ::testing::Environment {
  public:
    void SetUp() override {
        const char* keep = std::getenv("QR_KEEP_PLUGIN_LOADED");
        if (!keep || std::string(keep) != "1") return;
        // Owned by nobody: gtest deletes its environments at exit, before the leak check.
        kept[0] = new platform::SharedLibrary;
        kept[1] = new platform::SharedLibrary;
        ASSERT_TRUE(kept[0]->open(host_tests::pluginPath())) << kept[0]->error();
        ASSERT_TRUE(kept[1]->open(host_tests::fakePluginPath())) << kept[1]->error();
    }

  private:
    static inline platform::SharedLibrary* kept[2] = {};
};

[[maybe_unused]] auto* const environment =
    ::testing::AddGlobalTestEnvironment(new KeepPluginLoaded);

} // namespace
