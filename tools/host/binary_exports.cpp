#include "tools/host/binary_exports.h"

#include <set>

#include "tools/host/binary_image.h"
#include "tools/host/host.h"

namespace qrhost {

namespace {

using binary::Image;

std::string machineName(std::uint32_t machine, bool pe) {
    if (pe) {
        switch (machine) {
        case 0x14C:
            return "i386";
        case 0x8664:
            return "x86-64";
        case 0xAA64:
            return "arm64";
        default:
            break;
        }
    } else {
        switch (machine) {
        case 3:
            return "i386";
        case 62:
            return "x86-64";
        case 40:
            return "arm";
        case 183:
            return "arm64";
        default:
            break;
        }
    }
    return "machine " + std::to_string(machine);
}

BinaryExports parseElf(const Image& image) {
    const binary::ElfFile elf = binary::readElf(image);
    BinaryExports exports;
    exports.format = std::string(elf.is64 ? "ELF64 " : "ELF32 ") + machineName(elf.machine, false);

    constexpr std::uint32_t kDynamicSymbols = 11;
    for (const binary::ElfSection& symbols : elf.sections) {
        if (symbols.type != kDynamicSymbols) continue;
        if (symbols.link >= elf.sections.size()) throw HostError("damaged ELF symbol table");
        const binary::ElfSection& strings = elf.sections[symbols.link];
        const std::uint64_t entrySize =
            symbols.entrySize ? symbols.entrySize : (elf.is64 ? 24 : 16);
        for (std::uint64_t at = 0; at + entrySize <= symbols.size; at += entrySize) {
            const std::uint64_t entry = symbols.offset + at;
            const std::uint32_t nameOffset = image.u32(entry);
            const auto info = static_cast<std::uint8_t>(image.read(entry + (elf.is64 ? 4 : 12), 1));
            const std::uint16_t sectionIndex = image.u16(entry + (elf.is64 ? 6 : 14));
            const unsigned binding = info >> 4;
            // Global, weak and unique bindings leave the library; undefined ones are imports.
            const bool exported = binding == 1 || binding == 2 || binding == 10;
            if (!exported || sectionIndex == 0 || nameOffset >= strings.size) continue;
            exports.names.push_back(image.string(strings.offset + nameOffset));
        }
    }
    return exports;
}

BinaryExports parsePe(const Image& image) {
    const binary::PeFile pe = binary::readPe(image);
    BinaryExports exports;
    exports.format = std::string(pe.plus ? "PE32+ " : "PE32 ") + machineName(pe.machine, true);

    const auto [exportRva, exportSize] = pe.directory(0);
    if (exportRva == 0 || exportSize == 0) return exports;

    const std::uint64_t directory = pe.fileOffset(exportRva);
    const std::uint32_t functionCount = image.u32(directory + 0x14);
    const std::uint32_t nameCount = image.u32(directory + 0x18);
    const std::uint32_t functionTable = image.u32(directory + 0x1C);
    const std::uint32_t nameTable = image.u32(directory + 0x20);
    const std::uint32_t ordinalTable = image.u32(directory + 0x24);
    if (nameCount > image.size() / 4 || functionCount > image.size() / 4)
        throw HostError("damaged PE export directory");

    std::set<std::uint32_t> namedOrdinals;
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        exports.names.push_back(
            image.string(pe.fileOffset(image.u32(pe.fileOffset(nameTable) + 4ull * i))));
        namedOrdinals.insert(image.u16(pe.fileOffset(ordinalTable) + 2ull * i));
    }
    for (std::uint32_t i = 0; i < functionCount; ++i)
        if (!namedOrdinals.count(i) && image.u32(pe.fileOffset(functionTable) + 4ull * i) != 0)
            ++exports.unnamed;
    return exports;
}

} // namespace

BinaryExports parseBinaryExports(const std::vector<std::uint8_t>& bytes) {
    return binary::parseLibrary(bytes, parseElf, parsePe);
}

BinaryExports readBinaryExports(const std::string& utf8Path) {
    return binary::readLibrary(utf8Path, parseBinaryExports);
}

} // namespace qrhost
