#include "tools/host/binary_image.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tools/host/host.h"

namespace qrhost::binary {

namespace {
// Nobody ships a plug-in this large; the cap keeps a wrong path from filling memory.
constexpr std::uintmax_t kMaxImageSize = 512u * 1024u * 1024u;
} // namespace

std::uint64_t Image::read(std::uint64_t offset, unsigned size) const {
    if (offset > data.size() || size > data.size() - offset)
        throw HostError("truncated or damaged file");
    std::uint64_t value = 0;
    for (unsigned i = 0; i < size; ++i)
        value |= static_cast<std::uint64_t>(data[static_cast<std::size_t>(offset) + i]) << (8 * i);
    return value;
}

std::string Image::string(std::uint64_t offset) const {
    std::string text;
    for (;; ++offset) {
        const auto c = static_cast<char>(read(offset, 1));
        if (c == '\0') return text;
        text += c;
    }
}

bool isElf(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' &&
           bytes[3] == 'F';
}

bool isPe(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= 0x40 && bytes[0] == 'M' && bytes[1] == 'Z';
}

ElfFile readElf(const Image& image) {
    const unsigned elfClass = static_cast<unsigned>(image.read(4, 1));
    if (elfClass != 1 && elfClass != 2) throw HostError("unknown ELF class");
    if (image.read(5, 1) != 1) throw HostError("big-endian ELF files are not supported");
    ElfFile elf;
    elf.is64 = elfClass == 2;
    elf.machine = image.u16(18);

    const bool is64 = elf.is64;
    const std::uint64_t sectionTable = is64 ? image.u64(0x28) : image.u32(0x20);
    const std::uint16_t sectionSize = image.u16(is64 ? 0x3A : 0x2E);
    const std::uint16_t sectionCount = image.u16(is64 ? 0x3C : 0x30);
    if (sectionCount == 0 || sectionSize < (is64 ? 64u : 40u))
        throw HostError("ELF file without section headers");
    for (std::uint32_t index = 0; index < sectionCount; ++index) {
        const std::uint64_t at = sectionTable + std::uint64_t{index} * sectionSize;
        if (is64)
            elf.sections.push_back({image.u32(at + 4), image.u64(at + 0x18), image.u64(at + 0x20),
                                    image.u64(at + 0x38), image.u64(at + 0x30),
                                    image.u32(at + 0x28)});
        else
            elf.sections.push_back({image.u32(at + 4), image.u32(at + 0x10), image.u32(at + 0x14),
                                    image.u32(at + 0x24), image.u32(at + 0x20),
                                    image.u32(at + 0x18)});
    }
    return elf;
}

PeFile readPe(const Image& image) {
    const std::uint32_t header = image.u32(0x3C);
    if (image.u32(header) != 0x00004550) throw HostError("no PE signature");
    const std::uint64_t coff = header + 4;
    PeFile pe;
    pe.image = &image;
    pe.machine = image.u16(coff);
    pe.sectionCount = image.u16(coff + 2);
    const std::uint16_t optionalSize = image.u16(coff + 16);
    const std::uint64_t optional = coff + 20;
    const std::uint16_t magic = image.u16(optional);
    if (magic != 0x10B && magic != 0x20B) throw HostError("unknown PE optional header");
    pe.plus = magic == 0x20B;
    pe.sectionTable = optional + optionalSize;
    pe.directories = optional + (pe.plus ? 112 : 96);
    // Directories beyond the optional header's declared size are not there.
    const std::uint64_t room =
        pe.directories < pe.sectionTable ? (pe.sectionTable - pe.directories) / 8 : 0;
    pe.directoryCount = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(image.u32(optional + (pe.plus ? 108 : 92)), room));
    return pe;
}

std::uint64_t PeFile::fileOffset(std::uint32_t rva) const {
    for (std::uint16_t s = 0; s < sectionCount; ++s) {
        const std::uint64_t at = sectionTable + std::uint64_t{s} * 40;
        const std::uint32_t virtualSize = image->u32(at + 8);
        const std::uint32_t virtualAddress = image->u32(at + 12);
        const std::uint32_t rawSize = image->u32(at + 16);
        const std::uint32_t rawOffset = image->u32(at + 20);
        const std::uint32_t extent = std::max(virtualSize, rawSize);
        if (rva >= virtualAddress && rva - virtualAddress < extent)
            return std::uint64_t{rawOffset} + (rva - virtualAddress);
    }
    throw HostError("PE address outside every section");
}

PeFile::Directory PeFile::directory(unsigned index) const {
    if (index >= directoryCount) return {};
    const std::uint64_t at = directories + 8ull * index;
    return {image->u32(at), image->u32(at + 4)};
}

std::vector<std::uint8_t> readFile(const std::string& utf8Path) {
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
    return bytes;
}

} // namespace qrhost::binary
