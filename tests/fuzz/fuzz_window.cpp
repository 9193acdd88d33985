// libFuzzer target: the whole record with the window, which decodes the window's bitmaps for
// every effect and draws it: the slow one of the record targets (fuzz_session.h).

#include "tests/fuzz/fuzz_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::runSession(data, size, true);
}
