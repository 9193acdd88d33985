// The validator's system probes on Windows. The system's MIDI devices cannot be read back, but
// our tests' recording winmm.dll can stand in for the system's (placed beside the host and
// preferred by the loader): it appends every message sent to any of its devices to the file
// that QR_WINMM_LOG names. When it is the winmm.dll of this process, its first device is the
// receiver's port and that file is what the receiver reads.

#include <windows.h>
#include <mmsystem.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
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

// The size of a file, or 0: a receiver reads what is appended after it opened.
std::uint64_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class RecordingReceiver : public MidiReceiverProbe {
  public:
    RecordingReceiver(std::string name, std::string logPath, UINT device,
                      std::function<void()> whenGone = {})
        : name(std::move(name)), logPath(std::move(logPath)), device(device),
          whenGone(std::move(whenGone)), offset(fileSize(this->logPath)) {}
    ~RecordingReceiver() override {
        if (whenGone) whenGone();
    }

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
        unsigned sentTo = 0, bytes[3] = {};
        char end = 0;
        if (std::sscanf(line.c_str(), "send %u %x %x %x%c", &sentTo, &bytes[0], &bytes[1],
                        &bytes[2], &end) != 4 ||
            sentTo != device)
            return;
        received.push_back({static_cast<unsigned char>(bytes[0]),
                            static_cast<unsigned char>(bytes[1]),
                            static_cast<unsigned char>(bytes[2])});
    }

    std::string name;
    std::string logPath;
    UINT device;
    std::function<void()> whenGone;
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
    return std::make_unique<RecordingReceiver>(caps.szPname, logPath, kRecorderDevice);
}

namespace {

// The lab: the recording winmm.dll's devices 1 to 7, plugged in as receivers are asked for
// and unplugged when they go; device 0 is the validator's own receiver and stays.
class RecordingLab : public MidiLab {
  public:
    using Control = int(WINAPI*)(UINT, DWORD);

    std::string start() {
        HMODULE winmm = ::GetModuleHandleA("winmm.dll");
        if (winmm) {
            setPresent = reinterpret_cast<Control>(
                reinterpret_cast<void*>(::GetProcAddress(winmm, "qrRecordingSetPresent")));
            setDelay = reinterpret_cast<Control>(
                reinterpret_cast<void*>(::GetProcAddress(winmm, "qrRecordingSetDelay")));
            setOpenDelay = reinterpret_cast<Control>(
                reinterpret_cast<void*>(::GetProcAddress(winmm, "qrRecordingSetOpenDelay")));
        }
        if (!setPresent || !setDelay || !setOpenDelay)
            return "no recording winmm.dll with device controls in this process (the system's "
                   "devices can neither be read back nor unplugged on demand)";
        logPath = environmentValue("QR_WINMM_LOG");
        if (logPath.empty()) return "QR_WINMM_LOG names no file to read the recording from";
        previousCount = environmentValue("QR_WINMM_DEVICES");
        ::SetEnvironmentVariableA("QR_WINMM_DEVICES", std::to_string(kDevices).c_str());
        // The lab's devices take as long to open as USB devices do.
        for (UINT device = 1; device < kDevices; ++device) {
            setPresent(device, FALSE);
            setOpenDelay(device, kOpenMilliseconds);
        }
        return {};
    }
    ~RecordingLab() override {
        if (!setPresent) return;
        makeSlow(false);
        for (UINT device = 0; device < kDevices; ++device) {
            setPresent(device, TRUE);
            setOpenDelay(device, 0);
        }
        ::SetEnvironmentVariableA("QR_WINMM_DEVICES",
                                  previousCount.empty() ? nullptr : previousCount.c_str());
    }

    std::string description() const override {
        return "the recording winmm.dll, its devices plugged in and out on demand, each taking " +
               std::to_string(kOpenMilliseconds) + " ms to open";
    }

    std::unique_ptr<MidiReceiverProbe> receiver(const std::string& key,
                                                std::string& whyNot) override {
        auto known = std::find(keys.begin(), keys.end(), key);
        if (known == keys.end()) {
            if (keys.size() + 1 >= kDevices) {
                whyNot = "no recording device left for another receiver";
                return nullptr;
            }
            known = keys.insert(keys.end(), key);
        }
        const UINT device = static_cast<UINT>(known - keys.begin()) + 1;
        setPresent(device, TRUE);
        Control unplug = setPresent;
        return std::make_unique<RecordingReceiver>(kRecorderPrefix + std::to_string(device + 1),
                                                   logPath, device,
                                                   [unplug, device] { unplug(device, FALSE); });
    }

    bool devicesTakeOneClient() const override { return true; }
    bool hasServer() const override { return false; }
    void stopServer() override {}
    void continueServer() override {}
    void killServer() override {}
    std::string startServer() override { return "no MIDI server on this system"; }
    std::vector<std::string> clientsOfKilledServer() const override { return {}; }

    std::string makeSlow(bool slow) override {
        for (UINT device = 0; device < kDevices; ++device)
            setDelay(device, slow ? kSlowMilliseconds : 0);
        return "each message takes " + std::to_string(kSlowMilliseconds) +
               " ms in midiOutShortMsg, as on a driver that waits for a slow cable";
    }

  private:
    static constexpr UINT kDevices = 8;
    static constexpr DWORD kSlowMilliseconds = 2;
    static constexpr DWORD kOpenMilliseconds = 100;

    Control setPresent = nullptr;
    Control setDelay = nullptr;
    Control setOpenDelay = nullptr;
    std::string logPath;
    std::string previousCount;
    std::vector<std::string> keys;
};

} // namespace

std::unique_ptr<MidiLab> MidiLab::open(std::string& whyNot) {
    auto lab = std::make_unique<RecordingLab>();
    whyNot = lab->start();
    if (!whyNot.empty()) return nullptr;
    return lab;
}

// The system's MIDI devices are listed without round trips to a server: nothing to hide.
MidiServiceHidden::MidiServiceHidden() = default;
MidiServiceHidden::~MidiServiceHidden() = default;

// Windows counts no waits per thread.
std::optional<std::uint64_t> threadWaits() {
    return std::nullopt;
}

std::optional<std::uint64_t> residentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters))
        return std::nullopt;
    return counters.WorkingSetSize;
}

} // namespace qrhost
