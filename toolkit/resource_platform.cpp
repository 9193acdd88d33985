// Bitmaps come from the resources embedded in the plug-in.
#include "platform/resources.h"
#include "toolkit/platformwindow.h"

namespace toolkit {

std::vector<unsigned char> loadResource(const char* name) {
    const std::span<const unsigned char> bytes = platform::findResource(name);
    return {bytes.begin(), bytes.end()};
}

} // namespace toolkit
