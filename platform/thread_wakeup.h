#pragma once
// Wakes one waiting thread from any other thread without a lock. The waker makes a system call
// only when the waiter is actually asleep, so a thread that must not wait (a host's audio
// thread) can hand work over at the cost of two atomic operations.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace platform {

class ThreadWakeup {
  public:
    ThreadWakeup();
    ~ThreadWakeup();
    ThreadWakeup(const ThreadWakeup&) = delete;
    ThreadWakeup& operator=(const ThreadWakeup&) = delete;

    // Any thread, any number of them. A wake with nobody waiting is kept for the next wait.
    void wake() noexcept;
    // The one waiting thread: returns after a wake or when `timeout` has passed.
    void waitFor(std::chrono::microseconds timeout) noexcept;

  private:
    void sleep(std::chrono::microseconds timeout) noexcept;
    void notify() noexcept;

    std::atomic<std::uint32_t> signal{0}; // 1 while a wake has not been taken
    std::atomic<bool> sleeping{false};
    void* event = nullptr; // the system's object to sleep on, where there is one
};

inline void ThreadWakeup::wake() noexcept {
    if (signal.exchange(1) == 0 && sleeping.load()) notify();
}

inline void ThreadWakeup::waitFor(std::chrono::microseconds timeout) noexcept {
    sleeping.store(true);
    // A wake between the exchange and the sleep finds `sleeping` set and makes the sleep end.
    if (signal.exchange(0) == 0) sleep(timeout);
    sleeping.store(false);
}

} // namespace platform
