// Builds without a window system: every frame is offscreen only.
#include "toolkit/platformwindow.h"

namespace toolkit {

std::unique_ptr<IPlatformWindow> createPlatformWindow(void* /*parent*/, CCoord /*width*/,
                                                      CCoord /*height*/,
                                                      IPlatformFrame& /*frame*/) {
    return nullptr;
}

} // namespace toolkit
