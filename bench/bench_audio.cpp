// Audio pass-through through the effect record against memcpy of the same bytes.

#include <cstring>
#include <random>
#include <vector>

#include "bench/bench_support.h"

namespace qr_bench {
namespace {

void passThrough(benchmark::State& state) {
    const auto frames = static_cast<VstInt32>(state.range(0));
    Plugin plugin;
    if (!plugin.ok()) {
        state.SkipWithError("the plug-in did not load");
        return;
    }
    plugin.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    plugin.dispatch(effSetBlockSize, 0, frames);
    plugin.dispatch(effMainsChanged, 0, 1);

    std::vector<float> in1(static_cast<std::size_t>(frames)), in2(in1.size());
    std::vector<float> out1(in1.size()), out2(in1.size());
    std::mt19937 random(7);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    for (std::size_t i = 0; i < in1.size(); ++i) {
        in1[i] = sample(random);
        in2[i] = sample(random);
    }
    float* inputs[] = {in1.data(), in2.data()};
    float* outputs[] = {out1.data(), out2.data()};
    const std::size_t bytes = in1.size() * sizeof(float);
    AEffect* record = plugin.record;

    // About 64k frames per timed batch, so the clock's own cost does not count.
    const std::int64_t batch = std::max<std::int64_t>(1, 65536 / frames);
    timeAgainstFloor(
        state, batch,
        [&](std::int64_t) {
            std::memcpy(outputs[0], inputs[0], bytes);
            std::memcpy(outputs[1], inputs[1], bytes);
            benchmark::ClobberMemory();
        },
        [&](std::int64_t) {
            record->processReplacing(record, inputs, outputs, frames);
            benchmark::ClobberMemory();
        },
        [] {});
    state.SetBytesProcessed(state.iterations() * batch * static_cast<std::int64_t>(2 * bytes));
    plugin.dispatch(effMainsChanged, 0, 0);
}

BENCHMARK(passThrough)
    ->Name("PassThrough")
    ->ArgName("frames")
    ->Arg(64)
    ->Arg(512)
    ->Arg(4096)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace qr_bench
