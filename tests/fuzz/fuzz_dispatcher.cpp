// libFuzzer target: the record's dispatcher, parameters and audio without the window
// (fuzz_session.h). It links toolkit/resource_none.cpp, so that making an effect finds no
// bitmaps and decodes nothing: the window's work belongs to the window target.

#include "tests/fuzz/fuzz_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::runSession(data, size, false);
}
