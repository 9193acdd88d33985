// Builds without an interposed allocator: the audio path check says why it cannot count.

#include "tools/host/validate_probes.h"

namespace qrhost {

bool pathCountingAvailable(const void*, std::string& whyNot) {
    whyNot = QR_PATH_COUNTING_UNAVAILABLE;
    return false;
}

void beginPathCounting() {}

PathCounts endPathCounting() {
    return {};
}

} // namespace qrhost
