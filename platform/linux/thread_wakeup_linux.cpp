// Sleeping on the wake flag itself: a futex needs no object of its own, and the kernel checks
// the flag again before it sleeps, so no wake is missed.
#include "platform/thread_wakeup.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace platform {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));

ThreadWakeup::ThreadWakeup() = default;
ThreadWakeup::~ThreadWakeup() = default;

void ThreadWakeup::sleep(std::chrono::microseconds timeout) noexcept {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    timespec relative{};
    relative.tv_sec = static_cast<time_t>(seconds.count());
    relative.tv_nsec = static_cast<long>((timeout - seconds).count() * 1000);
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&signal), FUTEX_WAIT_PRIVATE, 0u,
              &relative, nullptr, 0);
}

void ThreadWakeup::notify() noexcept {
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&signal), FUTEX_WAKE_PRIVATE, 1, nullptr,
              nullptr, 0);
}

} // namespace platform
