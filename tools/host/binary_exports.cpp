#include "tools/host/binary_exports.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "tools/host/host.h"

namespace qrhost {

namespace {

// Nobody ships a plug-in this large; the cap keeps a wrong path from filling memory.
constexpr std::uintmax_t kMaxImageSize = 512u * 1024u * 1024u;

// Little-endian reads that refuse to leave the image.
class Image {
  public:
    explicit Image(const std::vector<std::uint8_t>& bytes) : data(bytes) {}

    std::uint64_t read(std::uint64_t offset, unsigned size) const {
        if (offset > data.size() || size > data.size() - offset)
            throw HostError("truncated or damaged file");
        std::uint64_t value = 0;
        for (unsigned i = 0; i < size; ++i)
            value |= static_cast<std::uint64_t>(data[static_cast<std::size_t>(offset) + i])
                     << (8 * i);
        return value;
    }
    std::uint16_t u16(std::uint64_t offset) const {
        return static_cast<std::uint16_t>(read(offset, 2));
    }
    std::uint32_t u32(std::uint64_t offset) const {
        return static_cast<std::uint32_t>(read(offset, 4));
    }
    std::uint64_t u64(std::uint64_t offset) const { return read(offset, 8); }

    std::string string(std::uint64_t offset) const {
        std::string text;
        for (;; ++offset) {
            const auto c = static_cast<char>(read(offset, 1));
            if (c == '\0') return text;
            text += c;
        }
    }
    std::size_t size() const { return data.size(); }

  private:
    const std::vector<std::uint8_t>& data;
};

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
    const unsigned elfClass = static_cast<unsigned>(image.read(4, 1));
    if (elfClass != 1 && elfClass != 2) throw HostError("unknown ELF class");
    if (image.read(5, 1) != 1) throw HostError("big-endian ELF files are not supported");
    const bool is64 = elfClass == 2;

    BinaryExports exports;
    exports.format = std::string(is64 ? "ELF64 " : "ELF32 ") + machineName(image.u16(18), false);

    const std::uint64_t sectionTable = is64 ? image.u64(0x28) : image.u32(0x20);
    const std::uint16_t sectionSize = image.u16(is64 ? 0x3A : 0x2E);
    const std::uint16_t sectionCount = image.u16(is64 ? 0x3C : 0x30);
    if (sectionCount == 0 || sectionSize < (is64 ? 64u : 40u))
        throw HostError("ELF file without section headers");

    struct Section {
        std::uint32_t type;
        std::uint64_t offset, size, entrySize;
        std::uint32_t link;
    };
    auto section = [&](std::uint32_t index) {
        const std::uint64_t at = sectionTable + std::uint64_t{index} * sectionSize;
        if (is64)
            return Section{image.u32(at + 4), image.u64(at + 0x18), image.u64(at + 0x20),
                           image.u64(at + 0x38), image.u32(at + 0x28)};
        return Section{image.u32(at + 4), image.u32(at + 0x10), image.u32(at + 0x14),
                       image.u32(at + 0x24), image.u32(at + 0x18)};
    };

    constexpr std::uint32_t kDynamicSymbols = 11;
    for (std::uint32_t s = 0; s < sectionCount; ++s) {
        const Section symbols = section(s);
        if (symbols.type != kDynamicSymbols) continue;
        if (symbols.link >= sectionCount) throw HostError("damaged ELF symbol table");
        const Section strings = section(symbols.link);
        const std::uint64_t entrySize = symbols.entrySize ? symbols.entrySize : (is64 ? 24 : 16);
        for (std::uint64_t at = 0; at + entrySize <= symbols.size; at += entrySize) {
            const std::uint64_t entry = symbols.offset + at;
            const std::uint32_t nameOffset = image.u32(entry);
            const auto info = static_cast<std::uint8_t>(image.read(entry + (is64 ? 4 : 12), 1));
            const std::uint16_t sectionIndex = image.u16(entry + (is64 ? 6 : 14));
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
    const std::uint32_t header = image.u32(0x3C);
    if (image.u32(header) != 0x00004550) throw HostError("no PE signature");
    const std::uint64_t coff = header + 4;
    const std::uint16_t machine = image.u16(coff);
    const std::uint16_t sectionCount = image.u16(coff + 2);
    const std::uint16_t optionalSize = image.u16(coff + 16);
    const std::uint64_t optional = coff + 20;
    const std::uint16_t magic = image.u16(optional);
    if (magic != 0x10B && magic != 0x20B) throw HostError("unknown PE optional header");
    const bool plus = magic == 0x20B;

    BinaryExports exports;
    exports.format = std::string(plus ? "PE32+ " : "PE32 ") + machineName(machine, true);

    const std::uint64_t directories = optional + (plus ? 112 : 96);
    const std::uint32_t directoryCount = image.u32(optional + (plus ? 108 : 92));
    if (directoryCount == 0 || directories + 8 > optional + optionalSize) return exports;
    const std::uint32_t exportRva = image.u32(directories);
    if (exportRva == 0 || image.u32(directories + 4) == 0) return exports;

    const std::uint64_t sections = optional + optionalSize;
    auto fileOffset = [&](std::uint32_t rva) -> std::uint64_t {
        for (std::uint16_t s = 0; s < sectionCount; ++s) {
            const std::uint64_t at = sections + std::uint64_t{s} * 40;
            const std::uint32_t virtualSize = image.u32(at + 8);
            const std::uint32_t virtualAddress = image.u32(at + 12);
            const std::uint32_t rawSize = image.u32(at + 16);
            const std::uint32_t rawOffset = image.u32(at + 20);
            const std::uint32_t extent = std::max(virtualSize, rawSize);
            if (rva >= virtualAddress && rva - virtualAddress < extent)
                return std::uint64_t{rawOffset} + (rva - virtualAddress);
        }
        throw HostError("PE address outside every section");
    };

    const std::uint64_t directory = fileOffset(exportRva);
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
            image.string(fileOffset(image.u32(fileOffset(nameTable) + 4ull * i))));
        namedOrdinals.insert(image.u16(fileOffset(ordinalTable) + 2ull * i));
    }
    for (std::uint32_t i = 0; i < functionCount; ++i)
        if (!namedOrdinals.count(i) && image.u32(fileOffset(functionTable) + 4ull * i) != 0)
            ++exports.unnamed;
    return exports;
}

} // namespace

BinaryExports parseBinaryExports(const std::vector<std::uint8_t>& bytes) {
    const Image image(bytes);
    if (bytes.size() >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' &&
        bytes[3] == 'F')
        return parseElf(image);
    if (bytes.size() >= 0x40 && bytes[0] == 'M' && bytes[1] == 'Z') return parsePe(image);
    throw HostError("neither an ELF nor a PE file");
}

BinaryExports readBinaryExports(const std::string& utf8Path) {
    const std::filesystem::path path(std::u8string(utf8Path.begin(), utf8Path.end()));
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) throw HostError("cannot read " + utf8Path + ": " + error.message());
    if (size > kMaxImageSize) throw HostError(utf8Path + " is too large for a plug-in");
    std::ifstream file(path, std::ios::binary);
    if (!file) throw HostError("cannot open " + utf8Path);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (static_cast<std::uintmax_t>(file.gcount()) != size)
        throw HostError("cannot read " + utf8Path);
    try {
        return parseBinaryExports(bytes);
    } catch (const HostError& error) {
        throw HostError(utf8Path + ": " + error.what());
    }
}

} // namespace qrhost
