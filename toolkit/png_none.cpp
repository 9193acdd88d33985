// Builds without an image decoder: every bitmap stays empty.
#include "toolkit/platformwindow.h"

namespace toolkit {

bool decodePng(const void* /*data*/, std::size_t /*size*/, PixelImage& /*out*/) {
    return false;
}

} // namespace toolkit
