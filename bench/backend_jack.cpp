// The gain-change benchmarks over the system's MIDI calls on Linux, here JACK: a private
// `jackd -d dummy` and two receiver ports of our own, one for the plug-in's messages and one
// for the bare calls', that count what arrives.

#include <jack/jack.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

#include "bench/bench_support.h"
#include "platform/winmm.h"
#include "tests/platform/jack_harness.h"

namespace qr_bench {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kPeriod = 256; // frames per JACK cycle at 48 kHz: 5.3 ms
// Three cycles without a new message: whatever the ports had queued has been delivered.
constexpr auto kQuiet = 16ms;
constexpr auto kDeliveryLimit = 2s;

class JackBackend : public MidiBackend {
  public:
    std::string name() const override { return "jack"; }

    std::string start() override {
        if (qr_test::alsaSequencerUsable())
            return "this machine has an ALSA sequencer, which the plug-in would use instead";
        std::string why = server.start("qr-bench", kPeriod);
        if (!why.empty()) return why;
        ::setenv("JACK_DEFAULT_SERVER", server.serverName().c_str(), 1);
        if (!pluginReceiver.open("qr-bench-plugin-in", "in") ||
            !bareReceiver.open("qr-bench-bare-in", "in"))
            return "the receivers could not connect";
        plugin = findDevice(pluginReceiver.portName());
        bare = findDevice(bareReceiver.portName());
        if (plugin < 0 || bare < 0) return "the receivers' ports are not among the MIDI devices";
        return {};
    }

    int pluginDevice() const override { return plugin; }
    int bareDevice() const override { return bare; }

    // The port's sender has put everything into its JACK queue; the server delivers it over
    // the next cycles, so wait until `complete` and then for a quiet spell.
    std::int64_t receivePlugin(DeviceGains& device,
                               const std::function<bool(const DeviceGains&)>& complete) override {
        const auto deadline = Clock::now() + kDeliveryLimit;
        std::int64_t count = 0;
        Clock::time_point lastArrival = Clock::now();
        for (;;) {
            const auto arrived =
                pluginReceiver.waitFor(std::numeric_limits<std::size_t>::max(), 2ms);
            for (const qr_test::Message& message : arrived)
                if (message.size() == 3)
                    device.take(static_cast<std::uint32_t>(message[0] | message[1] << 8 |
                                                           message[2] << 16));
            count += static_cast<std::int64_t>(arrived.size());
            const Clock::time_point now = Clock::now();
            if (!arrived.empty()) lastArrival = now;
            if ((complete(device) && now - lastArrival >= kQuiet) || now >= deadline) break;
        }
        return count;
    }

    std::int64_t receiveBare(std::int64_t sent) override {
        return static_cast<std::int64_t>(
            bareReceiver.waitFor(static_cast<std::size_t>(sent), kDeliveryLimit).size());
    }

    // 256 messages of 4 queued bytes each stay well inside a port's 4 KiB queue, so no bare
    // call waits for room.
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
    qr_test::MidiReceiver pluginReceiver;
    qr_test::MidiReceiver bareReceiver;
    int plugin = -1;
    int bare = -1;
};

} // namespace

std::unique_ptr<MidiBackend> makeBackend() {
    return std::make_unique<JackBackend>();
}

} // namespace qr_bench
