// Does this machine run Windows programs of this build's word size? The test script runs this
// first: it prints its pointer width and exits 0.

#include <cstdio>

int main() {
    std::printf("probe: %d-bit Windows program running\n", static_cast<int>(sizeof(void*) * 8));
    return 0;
}
