// The system's thread id, read from the thread's environment block.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/thread_identity.h"

namespace platform {

ThreadIdentity currentThread() noexcept {
    return static_cast<ThreadIdentity>(GetCurrentThreadId());
}

} // namespace platform
