#include <dlfcn.h>

#include "platform/module.h"

namespace platform {

// A shared object has no instance handle of its own; the address of this function identifies
// the module to dladdr() whenever it is needed.
void* moduleHandle() {
    Dl_info info{};
    return dladdr(reinterpret_cast<void*>(&moduleHandle), &info) ? info.dli_fbase : nullptr;
}

} // namespace platform
