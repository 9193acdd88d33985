#pragma once
// Reading library files without loading them: bounds-checked little-endian access to the bytes,
// and the section tables of ELF and PE files. Shared by the export and version readers. Every
// read outside the file throws HostError.

#include <cstdint>
#include <string>
#include <vector>

#include "tools/host/host.h"

namespace qrhost::binary {

class Image {
  public:
    explicit Image(const std::vector<std::uint8_t>& bytes) : data(bytes) {}

    std::uint64_t read(std::uint64_t offset, unsigned size) const;
    std::uint16_t u16(std::uint64_t offset) const {
        return static_cast<std::uint16_t>(read(offset, 2));
    }
    std::uint32_t u32(std::uint64_t offset) const {
        return static_cast<std::uint32_t>(read(offset, 4));
    }
    std::uint64_t u64(std::uint64_t offset) const { return read(offset, 8); }
    std::string string(std::uint64_t offset) const; // up to its zero byte
    std::size_t size() const { return data.size(); }

  private:
    const std::vector<std::uint8_t>& data;
};

bool isElf(const std::vector<std::uint8_t>& bytes);
bool isPe(const std::vector<std::uint8_t>& bytes);

struct ElfSection {
    std::uint32_t type;
    std::uint64_t offset, size, entrySize, alignment;
    std::uint32_t link;
};

struct ElfFile {
    bool is64 = false;
    std::uint16_t machine = 0;
    std::vector<ElfSection> sections;
};

// Throws for big-endian files, unknown classes and files without section headers.
ElfFile readElf(const Image& image);

struct PeFile {
    bool plus = false; // PE32+ (64-bit)
    std::uint16_t machine = 0;

    // Where an address of the loaded image lies in the file; throws when in no section.
    std::uint64_t fileOffset(std::uint32_t rva) const;
    // Address and size of data directory `index` (0 export, 2 resource); {0, 0} when absent.
    struct Directory {
        std::uint32_t rva = 0, size = 0;
    };
    Directory directory(unsigned index) const;

    const Image* image = nullptr;
    std::uint64_t sectionTable = 0;
    std::uint16_t sectionCount = 0;
    std::uint64_t directories = 0;
    std::uint32_t directoryCount = 0;
};

PeFile readPe(const Image& image);

// The whole file, refusing files far larger than any plug-in.
std::vector<std::uint8_t> readFile(const std::string& utf8Path);

// Hands the bytes to the ELF or the PE reader, whichever the file is.
template <typename Elf, typename Pe>
auto parseLibrary(const std::vector<std::uint8_t>& bytes, Elf elf, Pe pe) {
    const Image image(bytes);
    if (isElf(bytes)) return elf(image);
    if (isPe(bytes)) return pe(image);
    throw HostError("neither an ELF nor a PE file");
}

// Reads the file and parses it; every error names the file.
template <typename Parse> auto readLibrary(const std::string& utf8Path, Parse parse) {
    const std::vector<std::uint8_t> bytes = readFile(utf8Path);
    try {
        return parse(bytes);
    } catch (const HostError& error) {
        throw HostError(utf8Path + ": " + error.what());
    }
}

} // namespace qrhost::binary
