#include "tools/host/binary_version.h"

#include <algorithm>

#include "platform/version_note.h"
#include "tools/host/binary_image.h"
#include "tools/host/host.h"

namespace qrhost {

namespace {

using binary::Image;

// ELF: the notes of every note section, looking for ours.
std::optional<VersionInfo> parseElfNote(const Image& image) {
    constexpr std::uint32_t kNoteSection = 7;
    const binary::ElfFile elf = binary::readElf(image);
    for (const binary::ElfSection& section : elf.sections) {
        if (section.type != kNoteSection) continue;
        if (section.size > image.size()) throw HostError("damaged ELF note section");
        const std::uint64_t align = section.alignment == 8 ? 8 : 4;
        auto padded = [align](std::uint64_t size) { return (size + align - 1) & ~(align - 1); };
        const std::uint64_t end = section.offset + section.size;
        for (std::uint64_t at = section.offset; at + 12 <= end;) {
            const std::uint32_t nameSize = image.u32(at);
            const std::uint32_t descriptionSize = image.u32(at + 4);
            const std::uint32_t type = image.u32(at + 8);
            const std::uint64_t name = at + 12;
            const std::uint64_t description = name + padded(nameSize);
            const std::uint64_t next = description + padded(descriptionSize);
            if (next > end) throw HostError("damaged ELF note");
            at = next;
            if (type != platform::kVersionNoteType || nameSize != sizeof QR_VERSION_NOTE_OWNER ||
                image.string(name) != QR_VERSION_NOTE_OWNER)
                continue;
            VersionInfo info;
            info.source = "ELF version note";
            std::string entry;
            for (std::uint64_t i = 0; i < descriptionSize; ++i) {
                const auto c = static_cast<char>(image.read(description + i, 1));
                if (c != '\0') {
                    entry += c;
                    if (i + 1 < descriptionSize) continue;
                }
                const auto equals = entry.find('=');
                if (!entry.empty())
                    info.strings.emplace_back(
                        entry.substr(0, equals),
                        equals == std::string::npos ? "" : entry.substr(equals + 1));
                entry.clear();
            }
            return info;
        }
    }
    return std::nullopt;
}

void appendUtf8(std::string& text, std::uint32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16 text from `at` up to its zero or `end`, as UTF-8; `after` gets the offset past it.
std::string utf16Text(const Image& image, std::uint64_t at, std::uint64_t end,
                      std::uint64_t* after = nullptr) {
    std::string text;
    while (at + 2 <= end) {
        std::uint32_t unit = image.u16(at);
        at += 2;
        if (unit == 0) break;
        if (unit >= 0xD800 && unit < 0xDC00 && at + 2 <= end) {
            const std::uint32_t low = image.u16(at);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                at += 2;
            }
        }
        if (unit >= 0xD800 && unit < 0xE000) unit = 0xFFFD; // a lone surrogate
        appendUtf8(text, unit);
    }
    if (after) *after = at;
    return text;
}

// One block of a version resource: length, value length, type, key, value, children.
struct Block {
    std::string key;
    std::uint64_t value = 0;
    std::uint64_t valueBytes = 0;
    std::uint64_t children = 0;
    std::uint64_t end = 0;
    bool isText = false;
};

// Blocks, values and children start on 4-byte boundaries counted from the resource's start.
std::uint64_t aligned(std::uint64_t origin, std::uint64_t offset) {
    return origin + ((offset - origin + 3) & ~std::uint64_t{3});
}

Block readBlock(const Image& image, std::uint64_t origin, std::uint64_t at, std::uint64_t limit) {
    const std::uint16_t length = image.u16(at);
    const std::uint16_t valueLength = image.u16(at + 2);
    const std::uint16_t type = image.u16(at + 4);
    if (length < 6 || at + length > limit) throw HostError("damaged version resource");
    Block block;
    block.end = at + length;
    block.isText = type == 1;
    std::uint64_t afterKey = 0;
    block.key = utf16Text(image, at + 6, block.end, &afterKey);
    block.value = std::min(aligned(origin, afterKey), block.end);
    block.valueBytes = std::min<std::uint64_t>(block.isText ? 2ull * valueLength : valueLength,
                                               block.end - block.value);
    block.children = std::min(aligned(origin, block.value + block.valueBytes), block.end);
    return block;
}

// Calls `visit` for each child block of `parent`.
template <typename Visit>
void forEachChild(const Image& image, std::uint64_t origin, const Block& parent, Visit visit) {
    std::uint64_t at = parent.children;
    while (at + 6 <= parent.end && image.u16(at) != 0) {
        const Block child = readBlock(image, origin, at, parent.end);
        visit(child);
        at = aligned(origin, child.end);
    }
}

VersionInfo::Numbers numbers(std::uint32_t high, std::uint32_t low) {
    return {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
            static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
}

// The first entry of a resource directory table with number `id`, or the first of all; its
// offset field.
std::optional<std::uint32_t> resourceEntry(const Image& image, std::uint64_t table,
                                           std::optional<std::uint32_t> id) {
    const std::uint32_t named = image.u16(table + 12);
    const std::uint32_t numbered = image.u16(table + 14);
    for (std::uint32_t i = 0; i < named + numbered; ++i) {
        const std::uint64_t entry = table + 16 + 8ull * i;
        if (id && (i < named || image.u32(entry) != *id)) continue;
        return image.u32(entry + 4);
    }
    return std::nullopt;
}

std::optional<VersionInfo> parsePeResource(const Image& image) {
    constexpr std::uint32_t kVersionType = 16;
    constexpr std::uint32_t kSubdirectory = 0x80000000u;
    constexpr std::uint32_t kFixedSignature = 0xFEEF04BDu;
    constexpr std::uint64_t kFixedSize = 52;
    const binary::PeFile pe = binary::readPe(image);
    const auto [resourceRva, resourceSize] = pe.directory(2);
    if (resourceRva == 0 || resourceSize == 0) return std::nullopt;
    const std::uint64_t base = pe.fileOffset(resourceRva);

    // Type, name, language: the first two levels lead to tables, the last to the data record.
    std::uint64_t at = base;
    for (int level = 0; level < 3; ++level) {
        const auto entry =
            resourceEntry(image, at, level == 0 ? std::optional(kVersionType) : std::nullopt);
        if (!entry) return std::nullopt;
        if (((*entry & kSubdirectory) != 0) != (level < 2))
            throw HostError("damaged resource directory");
        at = base + (*entry & ~kSubdirectory);
    }
    const std::uint64_t origin = pe.fileOffset(image.u32(at));
    const std::uint64_t limit = origin + image.u32(at + 4);

    const Block root = readBlock(image, origin, origin, limit);
    if (root.key != "VS_VERSION_INFO") throw HostError("damaged version resource");
    VersionInfo info;
    info.source = "PE version resource";
    if (root.valueBytes >= kFixedSize && image.u32(root.value) == kFixedSignature) {
        info.fileVersion = numbers(image.u32(root.value + 8), image.u32(root.value + 12));
        info.productVersion = numbers(image.u32(root.value + 16), image.u32(root.value + 20));
    }
    // StringFileInfo holds one table per language, each a list of key and text.
    forEachChild(image, origin, root, [&](const Block& group) {
        if (group.key != "StringFileInfo") return;
        forEachChild(image, origin, group, [&](const Block& table) {
            forEachChild(image, origin, table, [&](const Block& string) {
                info.strings.emplace_back(
                    string.key, utf16Text(image, string.value, string.value + string.valueBytes));
            });
        });
    });
    return info;
}

} // namespace

std::string VersionInfo::value(const std::string& key) const {
    for (const auto& [name, text] : strings)
        if (name == key) return text;
    return {};
}

std::string versionNumbersText(const VersionInfo::Numbers& n) {
    return std::to_string(n[0]) + '.' + std::to_string(n[1]) + '.' + std::to_string(n[2]) + '.' +
           std::to_string(n[3]);
}

std::optional<VersionInfo> parseVersionInfo(const std::vector<std::uint8_t>& bytes) {
    return binary::parseLibrary(bytes, parseElfNote, parsePeResource);
}

std::optional<VersionInfo> readVersionInfo(const std::string& utf8Path) {
    return binary::readLibrary(utf8Path, parseVersionInfo);
}

} // namespace qrhost
