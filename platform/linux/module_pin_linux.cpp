#include <dlfcn.h>

#include "platform/module.h"

namespace platform {

void pinModule() {
    // One more reference that is never dropped, and one that makes unloading a no-op.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&pinModule), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

} // namespace platform
