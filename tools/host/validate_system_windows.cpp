// The validator's system probes on Windows. The system's MIDI devices cannot be read back, but
// our tests' recording winmm.dll can stand in for the system's (placed beside the host and
// preferred by the loader): it appends every message sent to any of its devices to the file
// that QR_WINMM_LOG names. When it is the winmm.dll of this process, its first device is the
// receiver's port and that file is what the receiver reads.

#include <windows.h>
#include <mmsystem.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tools/host/validate_probes.h"

namespace qrhost {
namespace {

constexpr const char* kRecorderPrefix = "QR Recording Out ";
constexpr UINT kRecorderDevice = 0;

std::string environmentValue(const char* name) {
    char value[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

class RecordingReceiver : public MidiReceiverProbe {
  public:
    RecordingReceiver(std::string name, std::string logPath)
        : name(std::move(name)), logPath(std::move(logPath)) {}

    std::string portName() const override { return name; }

    std::vector<Message> take(std::size_t count, int timeoutMs) override {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            readNewLines();
            if (received.size() >= count || std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::vector<Message> out;
        out.swap(received);
        return out;
    }

    std::uint64_t overruns() const override { return 0; }

  private:
    // Reads what the recorder appended since the last look; a line it is still writing waits.
    void readNewLines() {
        HANDLE file = ::CreateFileA(logPath.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(offset);
        char buffer[65536];
        DWORD got = 0;
        if (::SetFilePointerEx(file, at, nullptr, FILE_BEGIN))
            while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
                offset += got;
                pending.append(buffer, got);
            }
        ::CloseHandle(file);
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos;
             start = end + 1)
            parse(pending.substr(start, end - start));
        pending.erase(0, start);
    }

    // "send DEVICE STATUS DATA1 DATA2" in hex; other lines (opens, closes, errors) are not
    // messages.
    void parse(const std::string& line) {
        unsigned device = 0, bytes[3] = {};
        char end = 0;
        if (std::sscanf(line.c_str(), "send %u %x %x %x%c", &device, &bytes[0], &bytes[1],
                        &bytes[2], &end) != 4 ||
            device != kRecorderDevice)
            return;
        received.push_back({static_cast<unsigned char>(bytes[0]),
                            static_cast<unsigned char>(bytes[1]),
                            static_cast<unsigned char>(bytes[2])});
    }

    std::string name;
    std::string logPath;
    std::uint64_t offset = 0;
    std::string pending;
    std::vector<Message> received;
};

} // namespace

std::unique_ptr<MidiReceiverProbe> MidiReceiverProbe::open(std::string& whyNot,
                                                           const std::string& /*clientName*/) {
    MIDIOUTCAPSA caps{};
    const std::string logPath = environmentValue("QR_WINMM_LOG");
    if (::midiOutGetDevCapsA(kRecorderDevice, &caps, sizeof caps) != MMSYSERR_NOERROR ||
        std::string(caps.szPname).rfind(kRecorderPrefix, 0) != 0) {
        whyNot = "no MIDI receiver of the host's own on this system (the system's devices "
                 "cannot be read back; the tests' recording winmm.dll beside the host can)";
        return nullptr;
    }
    if (logPath.empty()) {
        whyNot = "the recording winmm.dll is loaded but QR_WINMM_LOG names no file to read";
        return nullptr;
    }
    return std::make_unique<RecordingReceiver>(caps.szPname, logPath);
}

// The system's MIDI devices are listed without round trips to a server: nothing to hide.
MidiServiceHidden::MidiServiceHidden() = default;
MidiServiceHidden::~MidiServiceHidden() = default;

std::optional<std::uint64_t> residentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters))
        return std::nullopt;
    return counters.WorkingSetSize;
}

} // namespace qrhost
