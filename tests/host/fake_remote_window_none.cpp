// Systems the fake remote has no window for: it opens offscreen only.

#include "tests/host/fake_remote_window.h"

namespace fake_remote {

std::unique_ptr<SystemWindow> SystemWindow::open(void*, int, int, WindowEvents&, bool) {
    return nullptr;
}

} // namespace fake_remote
