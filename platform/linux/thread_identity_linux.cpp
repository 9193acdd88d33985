// The thread's own pthread handle: its control block's address, read from a register.
#include "platform/thread_identity.h"

#include <pthread.h>

namespace platform {

ThreadIdentity currentThread() noexcept {
    return static_cast<ThreadIdentity>(::pthread_self());
}

} // namespace platform
