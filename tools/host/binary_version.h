#pragma once
// The version information a library file carries, read from the file without loading it: the
// version resource of a Windows DLL, or the version note of our Linux plug-in
// (platform/version_note.h). Both give the same keys: CompanyName, FileDescription,
// FileVersion, ProductName, ProductVersion and a few more.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qrhost {

struct VersionInfo {
    using Numbers = std::array<std::uint16_t, 4>; // major, minor, patch, build

    std::string source; // "PE version resource" or "ELF version note"
    // The numeric versions of a version resource; a note has only the texts.
    std::optional<Numbers> fileVersion;
    std::optional<Numbers> productVersion;
    std::vector<std::pair<std::string, std::string>> strings; // in the file's order

    std::string value(const std::string& key) const; // empty when absent
};

std::string versionNumbersText(const VersionInfo::Numbers& numbers); // "1.1.0.0"

// No value when the file carries no version information. Throws HostError for a file that
// cannot be read, is neither ELF nor PE, or whose version information is damaged.
std::optional<VersionInfo> readVersionInfo(const std::string& utf8Path);
std::optional<VersionInfo> parseVersionInfo(const std::vector<std::uint8_t>& bytes);

} // namespace qrhost
