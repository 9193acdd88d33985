// A thousand window open/close cycles through the dispatcher, offscreen: nothing may pile up.
// Two measures: the live heap must not grow from one cycle to the next (a leaked bitmap or view
// per cycle is tens of kilobytes after a thousand), and in the sanitizer build LeakSanitizer
// must find nothing unreachable at the end of the run.

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "tests/editor/editor_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define QR_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QR_TEST_ASAN 1
#endif
#endif

#if defined(QR_TEST_ASAN)
#include <sanitizer/lsan_interface.h>
// From the sanitizer runtime's allocator interface (GCC ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// Bytes held by live heap blocks, or -1 where this build cannot tell.
long long liveHeapBytes() {
#if defined(QR_TEST_ASAN)
    return static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#elif defined(__GLIBC__)
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
#else
    return -1;
#endif
}

// Runs LeakSanitizer now (reporting what it finds); false only when it found leaks.
bool noLeaksSoFar() {
#if defined(QR_TEST_ASAN)
    return __lsan_do_recoverable_leak_check() == 0;
#else
    return true;
#endif
}

constexpr int kCycles = 1000;
// Allocator bookkeeping may move a little; one leaked bitmap object per cycle would not fit.
constexpr long long kSlackBytes = 4096;

} // namespace

class EditorCycles : public EditorTest {
  protected:
    // One visit of the window: opened, a page chosen (each closes through a different path),
    // idled, painted offscreen now and then, closed.
    void cycle(int i) {
        // The fake host and MIDI recorder log every call; emptied (capacity kept) so that
        // only the plug-in's own memory is measured.
        testing_host::FakeHost::instance().reset();
        clearMidi();
        openWindow();
        if (i % 3 == 1) click(100, 12); // page two
        if (i % 3 == 2) click(550, 12); // information page
        dispatch(effEditIdle);
        if (i % 50 == 0) {
            toolkit::OffscreenSurface surface(573, 394);
            frame()->render(surface.context());
        }
        closeWindow();
    }

    // Live heap growth over `count` cycles, after warm-up cycles that let the libraries below
    // fill their caches. `extra` runs inside each cycle (used to check this measure itself).
    template <typename Extra> long long growthOver(int count, Extra extra) {
        for (int i = 0; i < 6; ++i)
            cycle(i);
        const long long before = liveHeapBytes();
        for (int i = 0; i < count; ++i) {
            cycle(i);
            extra();
        }
        return liveHeapBytes() - before;
    }
};

TEST_F(EditorCycles, AThousandOpenCloseCyclesLeaveNothingBehind) {
    // Without a measure (the Windows builds) fewer cycles still show that reopening works.
    const bool measured = liveHeapBytes() != -1;
    const int cycles = measured ? kCycles : 100;
    const long long growth = growthOver(cycles, [] {});
    if (measured) {
        EXPECT_LE(growth, kSlackBytes) << "live heap grew over " << cycles << " cycles";
    }
    EXPECT_FALSE(editor()->isWindowOpen());
    EXPECT_TRUE(noLeaksSoFar()) << "LeakSanitizer found unreachable blocks (report above)";
}

TEST_F(EditorCycles, OneBitmapKeptPerCycleIsNoticed) {
    if (liveHeapBytes() == -1) GTEST_SKIP() << "no heap statistics in this build";
    // Kept reachable, so that the sanitizer build's leak check at exit stays clean.
    std::vector<CBitmap*> kept;
    kept.reserve(200);
    const long long growth = growthOver(200, [&] { kept.push_back(new CBitmap(1, 1)); });
    for (CBitmap* bitmap : kept)
        bitmap->forget();
    EXPECT_GT(growth, kSlackBytes);
}
