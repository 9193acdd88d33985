#include <cstddef>
#include <cstdint>

#include "platform/version_note.h"
#include "qr_version.h"

// The same keys as the Windows version resource; each string literal ends with its zero byte,
// the last one's supplied by the literal itself.
#define QR_VERSION_NOTE_TEXT                                                                       \
    "CompanyName=" QR_COMPANY_NAME "\0"                                                            \
    "FileDescription=" QR_FILE_DESCRIPTION "\0"                                                    \
    "FileVersion=" QR_VERSION_TEXT "\0"                                                            \
    "InternalName=" QR_INTERNAL_NAME "\0"                                                          \
    "LegalCopyright=" QR_COPYRIGHT "\0"                                                            \
    "OriginalFilename=QuorvelRemote.so\0"                                                          \
    "ProductName=" QR_PRODUCT_NAME "\0"                                                            \
    "ProductVersion=" QR_VERSION_TEXT

namespace {

constexpr std::size_t padded(std::size_t size) {
    return (size + 3) & ~std::size_t{3};
}

struct VersionNote {
    std::uint32_t nameSize;
    std::uint32_t descriptionSize;
    std::uint32_t type;
    char name[padded(sizeof QR_VERSION_NOTE_OWNER)];
    char description[padded(sizeof QR_VERSION_NOTE_TEXT)];
};

// Nothing refers to the note, hence `used`; the ".note" prefix gives the section the note type.
[[gnu::used, gnu::section(".note.quorvel.version"),
  gnu::aligned(4)]] const VersionNote versionNote = {
    sizeof QR_VERSION_NOTE_OWNER, sizeof QR_VERSION_NOTE_TEXT, platform::kVersionNoteType,
    QR_VERSION_NOTE_OWNER, QR_VERSION_NOTE_TEXT};

} // namespace
