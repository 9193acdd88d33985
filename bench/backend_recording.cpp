// The gain-change benchmarks over the recording MIDI calls of the tests: what the plug-in adds
// to a call that only appends to a log.

#include "bench/bench_support.h"
#include "tests/support/recording_midi.h"

namespace qr_bench {
namespace {

class RecordingBackend : public MidiBackend {
  public:
    std::string name() const override { return "recording"; }
    std::string start() override {
        testing_midi::Recorder::instance().reset({u"Bench device A", u"Bench device B"});
        return {};
    }
    int pluginDevice() const override { return 0; }
    int bareDevice() const override { return 1; }
    std::int64_t settle(std::int64_t sent) override {
        testing_midi::Recorder& recorder = testing_midi::Recorder::instance();
        const auto recorded = static_cast<std::int64_t>(recorder.messages().size());
        // The log would otherwise grow by every message of the run.
        recorder.clearLog();
        return sent > recorded ? sent - recorded : 0;
    }
    std::int64_t batchMessages() const override { return 1024; }
    std::int64_t fixedIterations() const override { return 0; }
};

} // namespace

std::unique_ptr<MidiBackend> makeBackend() {
    return std::make_unique<RecordingBackend>();
}

} // namespace qr_bench
