// The gain-change benchmarks over the system's MIDI calls on Linux, here JACK: a private
// `jackd -d dummy` and a receiver port of our own that counts what arrives.

#include <jack/jack.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "bench/bench_support.h"
#include "platform/winmm.h"
#include "tests/platform/jack_harness.h"

namespace qr_bench {
namespace {

constexpr unsigned kPeriod = 256; // frames per JACK cycle at 48 kHz: 5.3 ms
constexpr const char* kReceiverClient = "qr-bench-receiver";

class JackBackend : public MidiBackend {
  public:
    std::string name() const override { return "jack"; }

    std::string start() override {
        if (qr_test::alsaSequencerUsable())
            return "this machine has an ALSA sequencer, which the plug-in would use instead";
        std::string why = server.start("qr-bench", kPeriod);
        if (!why.empty()) return why;
        ::setenv("JACK_DEFAULT_SERVER", server.serverName().c_str(), 1);
        if (!receiver.open(kReceiverClient, "in")) return "the receiver could not connect";
        device = findDevice(receiver.portName());
        if (device < 0) return "the receiver's port is not among the MIDI output devices";
        return {};
    }

    int pluginDevice() const override { return device; }
    int bareDevice() const override { return device; }

    std::int64_t settle(std::int64_t sent) override {
        // Once everything has arrived, the senders' queues are empty for the next batch.
        const auto got =
            static_cast<std::int64_t>(receiver.waitFor(static_cast<std::size_t>(sent)).size());
        return sent > got ? sent - got : 0;
    }

    // 2 x 256 messages of 4 queued bytes each stay inside a sender's 4 KiB queue.
    std::int64_t batchMessages() const override { return 256; }
    std::int64_t fixedIterations() const override { return 80; }

  private:
    static int findDevice(const std::string& portName) {
        const UINT count = midiOutGetNumDevs();
        for (UINT i = 0; i < count; ++i) {
            MIDIOUTCAPSA caps{};
            if (midiOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR &&
                portName == caps.szPname)
                return static_cast<int>(i);
        }
        return -1;
    }

    qr_test::JackServer server;
    qr_test::MidiReceiver receiver;
    int device = -1;
};

} // namespace

std::unique_ptr<MidiBackend> makeBackend() {
    return std::make_unique<JackBackend>();
}

} // namespace qr_bench
