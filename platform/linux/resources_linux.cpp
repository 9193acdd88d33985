#include "platform/resources.h"

#include <algorithm>

#include "resources/embedded.h"

namespace platform {

namespace {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

} // namespace

std::span<const unsigned char> findResource(std::string_view name) {
    for (const embedded::Entry& entry : embedded::table())
        if (sameIgnoringCase(entry.name, name)) return entry.bytes;
    return {};
}

} // namespace platform
