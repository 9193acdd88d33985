#include "vst/vststrings.h"

#include <cstring>

namespace vst {

void boundedCopy(char* dest, const char* source, std::size_t bound) {
    if (!dest) return;
    std::size_t i = 0;
    if (source) {
        for (; i < bound && source[i] != '\0'; ++i) dest[i] = source[i];
    }
    for (; i <= bound; ++i) dest[i] = '\0';
}

void boundedAppend(char* dest, const char* source, std::size_t bound) {
    if (!dest) return;
    std::size_t length = 0;
    while (length < bound && dest[length] != '\0') ++length;
    if (source) {
        for (std::size_t i = 0; length < bound && source[i] != '\0'; ++i) dest[length++] = source[i];
    }
    dest[length] = '\0';
    dest[bound] = '\0';
}

} // namespace vst
