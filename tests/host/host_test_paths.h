#pragma once
// Where the tests find the built files. An environment variable overrides the built-in path,
// for runs where the build tree is seen under another name (Wine drives, copies).

#include <cstdlib>
#include <string>

namespace host_tests {

inline std::string pathOf(const char* variable, const char* builtIn) {
    const char* value = std::getenv(variable);
    return value && *value ? value : builtIn;
}
inline std::string pluginPath() {
    return pathOf("QR_PLUGIN", QR_PLUGIN_PATH);
}
inline std::string fakePluginPath() {
    return pathOf("QR_FAKE_PLUGIN", QR_FAKE_PLUGIN_PATH);
}
inline std::string textFilePath() {
    return pathOf("QR_TEXT_FILE", QR_TEXT_FILE_PATH);
}

} // namespace host_tests
