// The gain-change benchmarks over the recording MIDI calls of the tests: what the plug-in adds
// to a call that only appends to a log.

#include "bench/bench_support.h"
#include "tests/support/recording_midi.h"

namespace qr_bench {
namespace {

const std::u16string kPluginDevice = u"Bench device A";
const std::u16string kBareDevice = u"Bench device B";

class RecordingBackend : public MidiBackend {
  public:
    std::string name() const override { return "recording"; }
    std::string start() override {
        testing_midi::Recorder::instance().reset({kPluginDevice, kBareDevice});
        return {};
    }
    int pluginDevice() const override { return 0; }
    int bareDevice() const override { return 1; }

    // The recording calls are synchronous: once the port has dealt with a change, its message
    // is in the log, so nothing needs waiting for.
    std::int64_t receivePlugin(DeviceGains& device,
                               const std::function<bool(const DeviceGains&)>&) override {
        drain();
        std::int64_t count = 0;
        for (const std::uint32_t message : pluginMessages) {
            device.take(message);
            ++count;
        }
        pluginMessages.clear();
        return count;
    }
    std::int64_t receiveBare(std::int64_t) override {
        drain();
        const std::int64_t count = bareMessages;
        bareMessages = 0;
        return count;
    }

    std::int64_t batchMessages() const override { return 1024; }
    // Each batch ends with the sender finishing untimed: a fixed count keeps the run short.
    std::int64_t fixedIterations() const override { return 400; }

  private:
    // The log would otherwise grow by every message of the run.
    void drain() {
        for (const testing_midi::SentMessage& message :
             testing_midi::Recorder::instance().takeMessages()) {
            if (message.name == kPluginDevice)
                pluginMessages.push_back(message.message);
            else if (message.name == kBareDevice)
                ++bareMessages;
        }
    }

    std::vector<std::uint32_t> pluginMessages;
    std::int64_t bareMessages = 0;
};

} // namespace

std::unique_ptr<MidiBackend> makeBackend() {
    return std::make_unique<RecordingBackend>();
}

} // namespace qr_bench
