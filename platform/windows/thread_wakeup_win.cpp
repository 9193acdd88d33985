// An auto-reset event: a wake that comes before the waiter sleeps leaves the event set, so the
// sleep that follows returns at once.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/thread_wakeup.h"

namespace platform {

ThreadWakeup::ThreadWakeup() : event(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

ThreadWakeup::~ThreadWakeup() {
    if (event) CloseHandle(event);
}

void ThreadWakeup::sleep(std::chrono::microseconds timeout) noexcept {
    // Without an event (the system refused one) the waiter polls at the timeout's pace.
    const auto milliseconds = static_cast<DWORD>((timeout.count() + 999) / 1000);
    if (event)
        WaitForSingleObject(event, milliseconds);
    else
        Sleep(milliseconds);
}

void ThreadWakeup::notify() noexcept {
    if (event) SetEvent(event);
}

} // namespace platform
