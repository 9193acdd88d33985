#include "tools/host/host.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

namespace qrhost {

namespace {

// Texts from a plug-in are bounded by convention only; a generous buffer keeps a careless one
// from writing past it.
constexpr std::size_t kTextBufferSize = 1024;

// Channel counts beyond this are a broken record, not a plug-in to feed.
constexpr VstInt32 kMaxChannels = 256;

using EntryFunction = AEffect*(VSTCALLBACK*)(audioMasterCallback);

} // namespace

VstIntPtr VSTCALLBACK HostCallbacks::callback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                              VstIntPtr value, void* /*ptr*/, float opt) {
    // Nothing may leave a callback as an exception: the plug-in's frames are on the stack.
    try {
        auto* self = effect ? static_cast<HostCallbacks*>(effect->user) : nullptr;
        if (self) return self->answer(opcode, index, value, opt);
    } catch (...) {
        return 0;
    }
    // Before the entry point has returned, the record has no host pointer yet: answer what
    // needs no state.
    return opcode == audioMasterVersion ? kHostVersion : 0;
}

VstIntPtr HostCallbacks::answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, float opt) {
    log.add({opcode, index, value, opt});
    return plainAnswer(opcode);
}

VstIntPtr HostCallbacks::plainAnswer(VstInt32 opcode) {
    switch (opcode) {
    case audioMasterVersion:
        return kHostVersion;
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
        return 1;
    default:
        return 0;
    }
}

void HostCallLog::add(const HostCall& call) {
    std::lock_guard guard(lock);
    if (limit && recorded.size() >= limit)
        recorded.erase(recorded.begin(), recorded.begin() + static_cast<std::ptrdiff_t>(limit / 2));
    recorded.push_back(call);
}

std::vector<HostCall> HostCallLog::all() const {
    std::lock_guard guard(lock);
    return recorded;
}

std::vector<HostCall> HostCallLog::matching(VstInt32 opcode) const {
    std::lock_guard guard(lock);
    std::vector<HostCall> found;
    for (const HostCall& call : recorded)
        if (call.opcode == opcode) found.push_back(call);
    return found;
}

void HostCallLog::clear() {
    std::lock_guard guard(lock);
    recorded.clear();
}

const char* entryPointName(EntryPoint entry) {
    switch (entry) {
    case EntryPoint::VSTPluginMain:
        return "VSTPluginMain";
    case EntryPoint::Main:
        return "main";
    default:
        return "any";
    }
}

std::unique_ptr<LoadedPlugin> LoadedPlugin::load(const std::string& path, EntryPoint entry) {
    std::unique_ptr<LoadedPlugin> plugin(new LoadedPlugin());
    plugin->filePath = path;
    if (!plugin->library.open(path))
        throw HostError("cannot load " + path + ": " + plugin->library.error());

    void* symbol = nullptr;
    if (entry != EntryPoint::Main) {
        symbol = plugin->library.symbol("VSTPluginMain");
        plugin->entry = EntryPoint::VSTPluginMain;
    }
    if (!symbol && entry != EntryPoint::VSTPluginMain) {
        symbol = plugin->library.symbol("main");
        plugin->entry = EntryPoint::Main;
    }
    if (!symbol) {
        throw HostError(path + " is no VST 2.4 plug-in: it exports " +
                        (entry == EntryPoint::Any ? std::string("neither VSTPluginMain nor main")
                                                  : std::string("no ") + entryPointName(entry)));
    }

    AEffect* effect = reinterpret_cast<EntryFunction>(symbol)(&HostCallbacks::callback);
    if (!effect) throw HostError(path + ": the entry point created no effect");
    if (effect->magic != kEffectMagic)
        throw HostError(path + ": the entry point returned a record without the VstP magic");
    if (!effect->dispatcher) throw HostError(path + ": the effect record has no dispatcher");

    effect->user = &plugin->callbacks;
    plugin->record = effect;
    plugin->dispatch(effOpen);
    return plugin;
}

LoadedPlugin::~LoadedPlugin() {
    close();
}

VstIntPtr LoadedPlugin::close() {
    VstIntPtr result = 0;
    if (record) {
        if (resumed) suspend();
        result = record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
        record = nullptr;
    }
    library.close();
    return result;
}

AEffect& LoadedPlugin::effect() const {
    if (!record) throw HostError("the effect is closed");
    return *record;
}

VstIntPtr LoadedPlugin::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                 float opt) const {
    AEffect& e = effect();
    return e.dispatcher(&e, opcode, index, value, ptr, opt);
}

std::string LoadedPlugin::text(VstInt32 opcode, VstInt32 index) const {
    char buffer[kTextBufferSize] = {};
    dispatch(opcode, index, 0, buffer);
    buffer[kTextBufferSize - 1] = '\0';
    return buffer;
}

Identity LoadedPlugin::identity() const {
    Identity id;
    id.effectName = text(effGetEffectName);
    id.vendor = text(effGetVendorString);
    id.product = text(effGetProductString);
    id.vendorVersion = dispatch(effGetVendorVersion);
    id.vstVersion = dispatch(effGetVstVersion);
    id.category = dispatch(effGetPlugCategory);
    id.program = dispatch(effGetProgram);
    id.programName = text(effGetProgramName);
    return id;
}

ParameterInfo LoadedPlugin::parameter(VstInt32 index) const {
    ParameterInfo info;
    info.index = index;
    info.name = text(effGetParamName, index);
    info.display = text(effGetParamDisplay, index);
    info.label = text(effGetParamLabel, index);
    info.value = getParameter(index);
    return info;
}

void LoadedPlugin::setParameter(VstInt32 index, float value) const {
    AEffect& e = effect();
    if (!e.setParameter) throw HostError("the effect record has no setParameter entry");
    e.setParameter(&e, index, value);
}

// The largest state this host takes from a plug-in; a project's state is kilobytes, and a
// size beyond this is a fault, not data.
constexpr VstIntPtr kMaxStateBytes = 64 << 20;

std::vector<unsigned char> LoadedPlugin::getState() const {
    if (!hasStateData()) throw HostError("the plug-in keeps no state data (no program chunks)");
    void* data = nullptr;
    const VstIntPtr size = dispatch(effGetChunk, 0, 0, &data);
    if (size <= 0 || !data) throw HostError("the plug-in gave no state data");
    if (size > kMaxStateBytes)
        throw HostError("the plug-in claims " + std::to_string(size) + " bytes of state data");
    const auto* bytes = static_cast<const unsigned char*>(data);
    return std::vector<unsigned char>(bytes, bytes + size);
}

VstIntPtr LoadedPlugin::setState(std::vector<unsigned char> state) const {
    if (!hasStateData()) throw HostError("the plug-in keeps no state data (no program chunks)");
    // The plug-in reads from the host's copy, which stays alive for the call.
    return dispatch(effSetChunk, 0, static_cast<VstIntPtr>(state.size()), state.data());
}

float LoadedPlugin::getParameter(VstInt32 index) const {
    AEffect& e = effect();
    if (!e.getParameter) throw HostError("the effect record has no getParameter entry");
    return e.getParameter(&e, index);
}

void switchOn(AEffect& effect, double sampleRate, std::int32_t blockSize) {
    effect.dispatcher(&effect, effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
    effect.dispatcher(&effect, effSetBlockSize, 0, blockSize, nullptr, 0.0f);
    effect.dispatcher(&effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    effect.dispatcher(&effect, effStartProcess, 0, 0, nullptr, 0.0f);
}

void switchOff(AEffect& effect) {
    effect.dispatcher(&effect, effStopProcess, 0, 0, nullptr, 0.0f);
    effect.dispatcher(&effect, effMainsChanged, 0, 0, nullptr, 0.0f);
}

void LoadedPlugin::resume(std::int32_t blockSize, double sampleRate) {
    if (resumed) suspend();
    switchOn(effect(), sampleRate, blockSize);
    resumed = true;
}

void LoadedPlugin::suspend() {
    switchOff(effect());
    resumed = false;
}

template <typename Sample> Sample testSample(std::int32_t channel, std::int64_t frame) {
    using Limits = std::numeric_limits<Sample>;
    switch (frame % 101) {
    case 7:
        return -Sample(0);
    case 19:
        return Limits::denorm_min() * Sample(channel + 3);
    case 31:
        return Limits::max();
    case 43:
        return Limits::lowest();
    case 59:
        return channel % 2 ? -Limits::infinity() : Limits::infinity();
    case 71:
        return Limits::quiet_NaN();
    case 83:
        return Limits::min();
    default:
        break;
    }
    // A tone per channel plus a little hashed noise, so that swapped or shifted channels show.
    const double pi = 3.14159265358979323846;
    const double tone =
        0.5 * std::sin(2.0 * pi * 110.0 * (channel + 1) * static_cast<double>(frame) / 44100.0);
    std::uint64_t hash = static_cast<std::uint64_t>(frame) * 0x9E3779B97F4A7C15ull +
                         static_cast<std::uint64_t>(channel) * 0xC2B2AE3D27D4EB4Full;
    hash ^= hash >> 29;
    const double noise = static_cast<double>(hash % 2001) / 100000.0 - 0.01;
    return static_cast<Sample>(tone + noise);
}

template float testSample<float>(std::int32_t, std::int64_t);
template double testSample<double>(std::int32_t, std::int64_t);

template <typename Sample>
ProcessReport LoadedPlugin::process(std::int64_t frames, std::int32_t blockSize,
                                    double sampleRate) {
    using ProcessFunction = void(VSTCALLBACK*)(AEffect*, Sample**, Sample**, VstInt32);
    constexpr bool isDouble = std::is_same_v<Sample, double>;

    AEffect& e = effect();
    ProcessReport report;
    report.frames = frames;
    report.blockSize = blockSize;
    if (frames < 0 || blockSize <= 0) throw HostError("frames and block size must be positive");

    ProcessFunction entryFunction = nullptr;
    if constexpr (isDouble) {
        if (e.flags & effFlagsCanDoubleReplacing) entryFunction = e.processDoubleReplacing;
    } else {
        if (e.flags & effFlagsCanReplacing) entryFunction = e.processReplacing;
    }
    if (!entryFunction) return report;
    report.supported = true;

    const VstInt32 numInputs = e.numInputs;
    const VstInt32 numOutputs = e.numOutputs;
    if (numInputs < 0 || numOutputs < 0 || numInputs > kMaxChannels || numOutputs > kMaxChannels)
        throw HostError("the effect record gives impossible channel counts");
    report.channels = std::min(numInputs, numOutputs);

    const auto block = static_cast<std::size_t>(blockSize);
    std::vector<std::vector<Sample>> inputs(static_cast<std::size_t>(numInputs),
                                            std::vector<Sample>(block));
    std::vector<std::vector<Sample>> outputs(static_cast<std::size_t>(numOutputs),
                                             std::vector<Sample>(block));
    // One spare slot keeps the pointer arrays valid for a plug-in without inputs or outputs.
    std::vector<Sample*> inputPointers(static_cast<std::size_t>(numInputs) + 1, nullptr);
    std::vector<Sample*> outputPointers(static_cast<std::size_t>(numOutputs) + 1, nullptr);
    for (std::size_t c = 0; c < inputs.size(); ++c)
        inputPointers[c] = inputs[c].data();
    for (std::size_t c = 0; c < outputs.size(); ++c)
        outputPointers[c] = outputs[c].data();

    dispatch(effSetProcessPrecision, 0, isDouble ? 1 : 0);
    resume(blockSize, sampleRate);

    // A value the test signal never holds shows an output the plug-in did not write.
    const Sample untouched = static_cast<Sample>(-1234.5678);
    report.equal = true;
    for (std::int64_t start = 0; start < frames; start += blockSize) {
        const auto count = static_cast<VstInt32>(std::min<std::int64_t>(blockSize, frames - start));
        for (std::size_t c = 0; c < inputs.size(); ++c)
            for (VstInt32 i = 0; i < count; ++i)
                inputs[c][i] = testSample<Sample>(static_cast<std::int32_t>(c), start + i);
        for (auto& channel : outputs)
            std::fill(channel.begin(), channel.end(), untouched);

        entryFunction(&e, inputPointers.data(), outputPointers.data(), count);

        for (std::size_t c = 0; c < inputs.size(); ++c) {
            for (VstInt32 i = 0; i < count; ++i) {
                const Sample expected = testSample<Sample>(static_cast<std::int32_t>(c), start + i);
                if (std::memcmp(&inputs[c][i], &expected, sizeof(Sample)) != 0)
                    report.inputsIntact = false;
                if (static_cast<VstInt32>(c) >= report.channels || !report.equal) continue;
                if (std::memcmp(&outputs[c][i], &expected, sizeof(Sample)) != 0) {
                    report.equal = false;
                    report.firstMismatch = start + i;
                    report.mismatchChannel = static_cast<std::int32_t>(c);
                }
            }
        }
    }
    suspend();
    return report;
}

ProcessReport LoadedPlugin::processFloat(std::int64_t frames, std::int32_t blockSize,
                                         double sampleRate) {
    return process<float>(frames, blockSize, sampleRate);
}

ProcessReport LoadedPlugin::processDouble(std::int64_t frames, std::int32_t blockSize,
                                          double sampleRate) {
    return process<double>(frames, blockSize, sampleRate);
}

std::string fourCharText(VstInt32 code) {
    std::string text;
    const auto bits = static_cast<std::uint32_t>(code);
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<unsigned char>((bits >> shift) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return text;
}

} // namespace qrhost
