#pragma once
// Which thread is running, as a number: asking costs no allocation, no lock and no system call
// on any system, so a host's audio thread may ask. (The C++ library's thread ids do not promise
// that: on Windows the first id of a thread the runtime did not start allocates.)

#include <cstdint>

namespace platform {

// 0 is no thread.
using ThreadIdentity = std::uintptr_t;

ThreadIdentity currentThread() noexcept;

} // namespace platform
