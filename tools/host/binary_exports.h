#pragma once
// The exported symbols of a library file, read from the file itself (ELF dynamic symbol table or
// PE export directory), so a host on any system can check what a plug-in file offers.

#include <cstdint>
#include <string>
#include <vector>

namespace qrhost {

struct BinaryExports {
    std::string format;             // "ELF64 x86-64", "PE32 i386", "PE32+ x86-64", ...
    std::vector<std::string> names; // defined, exported names in table order
    std::uint32_t unnamed = 0;      // PE exports reachable by ordinal only
};

// Throws HostError for a file that cannot be read or is neither ELF nor PE.
BinaryExports readBinaryExports(const std::string& utf8Path);
BinaryExports parseBinaryExports(const std::vector<std::uint8_t>& image);

} // namespace qrhost
