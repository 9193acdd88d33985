// Builds without embedded resources: every name finds nothing.
#include "toolkit/platformwindow.h"

namespace toolkit {

std::vector<unsigned char> loadResource(const char* /*name*/) {
    return {};
}

} // namespace toolkit
