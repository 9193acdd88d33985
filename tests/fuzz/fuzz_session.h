#pragma once
// The record fuzzers' session: a careless but not malicious host drives one effect through its
// record. Each input is a script (see tests/fuzz/make_corpus.py for the byte format): opcodes
// with any index, value and opt; text buffers that are null, short or unterminated; parameters
// with any float; audio with small frame counts; and, where the target allows it, the window
// opened offscreen, idled, painted, clicked and closed. Every pointer the plug-in receives is
// one a host could give for that opcode, sized from the input, so that anything the sanitizers
// report is the plug-in's fault.
//
// Besides crashes, leaks and undefined behaviour, three answers are checked: every MIDI message
// is a well-formed Control Change, every text the plug-in writes ends within its bound, and
// audio passes through bit for bit.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "editor/midiremoteeditor.h"
#include "tests/support/fake_host.h"
#include "tests/support/recording_midi.h"
#include "toolkit/offscreen.h"
#include "vst/aeffect.h"
#include "vst/audioeffect.h"

namespace fuzz {

// Reads the script front to back; an exhausted input reads as zeros.
class Script {
  public:
    Script(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

    bool done() const { return position >= size; }
    std::uint8_t byte() { return position < size ? data[position++] : 0; }
    template <typename T> T raw() {
        unsigned char bytes[sizeof(T)] = {};
        for (auto& b : bytes)
            b = byte();
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    // A small signed number, or with the escape byte 0x7f any 32-bit number.
    std::int32_t int32() {
        const auto b = static_cast<std::int8_t>(byte());
        return b == 0x7f ? raw<std::int32_t>() : b;
    }
    VstIntPtr intptr() {
        const auto b = static_cast<std::int8_t>(byte());
        return b == 0x7f ? raw<VstIntPtr>() : b;
    }
    float number() {
        const std::uint8_t kind = byte();
        switch (kind) {
        case 0:
            return 0.0f;
        case 1:
            return std::numeric_limits<float>::quiet_NaN();
        case 2:
            return std::numeric_limits<float>::infinity();
        case 3:
            return -std::numeric_limits<float>::infinity();
        case 4:
            return raw<float>();
        case 5:
            return std::numeric_limits<float>::max();
        case 6:
            return std::numeric_limits<float>::denorm_min();
        case 7:
            return 1.0f;
        default:
            return static_cast<float>(kind - 136) / 64.0f; // -2 .. +1.86
        }
    }
    // `count` bytes of the input (fewer at its end).
    std::vector<char> bytes(std::size_t count) {
        std::vector<char> out;
        while (out.size() < count && !done())
            out.push_back(static_cast<char>(byte()));
        return out;
    }

  private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

[[noreturn]] inline void finding(const char* what, VstInt32 opcode, VstInt32 index) {
    std::fprintf(stderr, "fuzz: %s (opcode %d, index %d)\n", what, opcode, index);
    std::abort();
}

// A heap block of exactly `size` bytes, so that AddressSanitizer sees one byte too far.
struct Block {
    explicit Block(std::size_t size, char fill = 0)
        : storage(std::make_unique<char[]>(size ? size : 1)), size(size) {
        std::memset(storage.get(), fill, size ? size : 1);
    }
    char* data() { return storage.get(); }
    std::unique_ptr<char[]> storage;
    std::size_t size;
};

// The bound (characters, without the terminator) of a text the plug-in writes, or -1.
inline int outputTextBound(VstInt32 opcode) {
    switch (opcode) {
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
        return kVstMaxParamStrLen;
    case effGetProgramName:
    case effGetProgramNameIndexed:
        return kVstMaxProgNameLen;
    case effGetEffectName:
        return kVstMaxEffectNameLen;
    case effGetVendorString:
        return kVstMaxVendorStrLen;
    case effGetProductString:
        return kVstMaxProductStrLen;
    case effShellGetNextPlugin:
        return kVstMaxEffectNameLen;
    default:
        return -1;
    }
}

// Texts the host hands in; the bound, where there is one, is what the plug-in may read.
inline int inputTextBound(VstInt32 opcode) {
    switch (opcode) {
    case effSetProgramName:
        return kVstMaxProgNameLen;
    case effCanDo:
    case effString2Parameter:
        return 0; // terminated, any length
    default:
        return -1;
    }
}

// Opcodes whose ptr is a structure the host fills or provides. A zeroed block larger than any
// of them stands in (zero also reads as an empty list or count).
inline bool takesStructure(VstInt32 opcode) {
    switch (opcode) {
    case effProcessEvents:
    case effGetInputProperties:
    case effGetOutputProperties:
    case effOfflineNotify:
    case effOfflinePrepare:
    case effOfflineRun:
    case effProcessVarIo:
    case effGetParameterProperties:
    case effGetMidiProgramName:
    case effGetCurrentMidiProgram:
    case effGetMidiProgramCategory:
    case effGetMidiKeyName:
    case effBeginLoadBank:
    case effBeginLoadProgram:
        return true;
    default:
        return false;
    }
}

class Session {
  public:
    // Without the window, its actions are read and left out.
    Session(AEffect* record, bool withWindow) : record(record), withWindow(withWindow) {}

    void run(Script& script) {
        int steps = 0;
        while (!script.done() && ++steps <= kMaxSteps) {
            switch (script.byte() % 8) {
            case 0:
            case 1:
                dispatch(script);
                break;
            case 2: {
                const VstInt32 index = script.int32();
                record->setParameter(record, index, script.number());
                break;
            }
            case 3:
                (void)record->getParameter(record, script.int32());
                break;
            case 4:
                audio<float>(script, record->processReplacing, true);
                break;
            case 5:
                audio<double>(script, record->processDoubleReplacing, true);
                break;
            case 6:
                audio<float>(script, record->process, false);
                break;
            case 7:
                if (withWindow)
                    window(script);
                else
                    script.byte();
                break;
            }
            checkMidi();
        }
    }

  private:
    static constexpr int kMaxSteps = 200;
    static constexpr int kMaxWindowOpens = 4; // decoding the window's bitmaps is slow
    static constexpr int kMaxRenders = 4;

    VstIntPtr call(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
        return record->dispatcher(record, opcode, index, value, ptr, opt);
    }

    void dispatch(Script& script) {
        const std::uint8_t selector = script.byte();
        VstInt32 opcode = selector == 0xff ? script.raw<VstInt32>() : selector % 82;
        const VstInt32 index = script.int32();
        const VstIntPtr value = script.intptr();
        const float opt = script.number();
        const std::uint8_t shape = script.byte();

        // effClose ends the effect; the session closes it once, at the end.
        if (opcode == effClose) opcode = effOpen;
        if (opcode == effEditOpen) {
            if (!withWindow || opens >= kMaxWindowOpens) return;
            ++opens;
            call(effEditOpen, index, value, nullptr, opt);
            return;
        }

        if (const int bound = outputTextBound(opcode); bound >= 0) {
            // Null, or exactly the documented size, filled with garbage.
            if (shape % 4 == 0) {
                call(opcode, index, value, nullptr, opt);
                return;
            }
            Block text(static_cast<std::size_t>(bound) + 1, static_cast<char>(0xA5));
            const VstIntPtr answer = call(opcode, index, value, text.data(), opt);
            // The answer tells whether a text was written; the opcodes answering nothing always
            // write one, except names of indexes outside the set, which stay untouched.
            bool written = answer != 0;
            if (opcode == effGetParamLabel || opcode == effGetParamDisplay ||
                opcode == effGetProgramName)
                written = true;
            if (opcode == effGetParamName) written = index >= 0 && index < record->numParams;
            if (written && !std::memchr(text.data(), 0, text.size))
                finding("text not terminated within its bound", opcode, index);
            return;
        }

        if (const int bound = inputTextBound(opcode); bound >= 0) {
            const std::size_t length = script.byte();
            std::vector<char> chars = script.bytes(length);
            if (shape % 4 == 0) {
                call(opcode, index, value, nullptr, opt);
            } else if (shape % 4 == 1 && bound > 0) {
                // Unterminated: every byte non-zero, as long as the bound.
                Block text(static_cast<std::size_t>(bound), 'x');
                for (std::size_t i = 0; i < chars.size() && i < text.size; ++i)
                    if (chars[i] != 0) text.data()[i] = chars[i];
                call(opcode, index, value, text.data(), opt);
            } else {
                // Terminated, short or long, any bytes before the end.
                Block text(chars.size() + 1);
                if (!chars.empty()) std::memcpy(text.data(), chars.data(), chars.size());
                call(opcode, index, value, text.data(), opt);
            }
            return;
        }

        switch (opcode) {
        case effEditGetRect: {
            ERect* rect = reinterpret_cast<ERect*>(std::uintptr_t{0x1}); // must be replaced
            if (shape % 3 == 0) {
                call(opcode, index, value, nullptr, opt);
            } else if (call(opcode, index, value, &rect, opt) != 0) {
                if (!rect) finding("effEditGetRect answered 1 without a rectangle", opcode, index);
                volatile VstInt16 bottom = rect->bottom; // must be readable
                (void)bottom;
            }
            return;
        }
        case effGetChunk: {
            void* chunk = nullptr;
            const VstIntPtr size = call(opcode, index, value, shape % 3 ? &chunk : nullptr, opt);
            if (size > 0 && chunk) {
                volatile char last = static_cast<char*>(chunk)[size - 1];
                (void)last;
            }
            return;
        }
        case effSetChunk: {
            std::vector<char> bytes = script.bytes(script.byte());
            Block chunk(bytes.size());
            if (!bytes.empty()) std::memcpy(chunk.data(), bytes.data(), bytes.size());
            const bool none = shape % 3 == 0;
            call(opcode, index, none ? 0 : static_cast<VstIntPtr>(bytes.size()),
                 none ? nullptr : chunk.data(), opt);
            return;
        }
        case effGetSpeakerArrangement:
        case effSetSpeakerArrangement: {
            // value and ptr are both pointers: slots to fill, or arrangements to read.
            void* input = nullptr;
            void* output = nullptr;
            Block inArrangement(512);
            Block outArrangement(512);
            const bool get = opcode == effGetSpeakerArrangement;
            void* first = get ? static_cast<void*>(&input) : inArrangement.data();
            void* second = get ? static_cast<void*>(&output) : outArrangement.data();
            call(opcode, index, shape & 1 ? reinterpret_cast<VstIntPtr>(first) : 0,
                 shape & 2 ? second : nullptr, opt);
            return;
        }
        default:
            break;
        }

        if (takesStructure(opcode)) {
            Block structure(512);
            call(opcode, index, value, shape % 3 ? structure.data() : nullptr, opt);
            return;
        }
        if (opcode >= 0 && opcode <= effGetNumMidiOutputChannels) {
            // ptr unused by the interface: hosts pass null or whatever they have at hand.
            Block scratch(64);
            call(opcode, index, value, shape & 1 ? scratch.data() : nullptr, opt);
            return;
        }
        // Unknown opcode (vendor extensions of other hosts): any bytes, any size.
        std::vector<char> bytes = script.bytes(script.byte());
        Block unknown(bytes.size());
        if (!bytes.empty()) std::memcpy(unknown.data(), bytes.data(), bytes.size());
        call(opcode, index, value, shape & 1 ? unknown.data() : nullptr, opt);
    }

    template <typename Sample, typename Entry>
    void audio(Script& script, Entry entry, bool replacing) {
        if (!entry) return;
        // Small blocks, including none and negative counts; buffers are exactly that long.
        const int frames = static_cast<std::int8_t>(script.byte()) % 65;
        const std::uint8_t shape = script.byte();
        const float seed = script.number();
        const std::size_t length = frames > 0 ? static_cast<std::size_t>(frames) : 0;
        std::vector<std::unique_ptr<Sample[]>> in, out;
        for (int c = 0; c < 2; ++c) {
            in.push_back(std::make_unique<Sample[]>(length ? length : 1));
            out.push_back(std::make_unique<Sample[]>(length ? length : 1));
            for (std::size_t i = 0; i < length; ++i) {
                in[c][i] =
                    static_cast<Sample>(seed) * static_cast<Sample>(i + 1) - static_cast<Sample>(c);
                out[c][i] = static_cast<Sample>(0.5);
            }
        }
        Sample* inputs[2] = {in[0].get(), in[1].get()};
        Sample* outputs[2] = {out[0].get(), out[1].get()};
        const bool inPlace = shape % 8 == 4;
        if (inPlace) {
            outputs[0] = inputs[0];
            outputs[1] = inputs[1];
        }
        std::vector<Sample> expected[2];
        for (int c = 0; c < 2; ++c)
            expected[c].assign(inputs[c], inputs[c] + length);
        switch (shape % 8) {
        case 1:
            entry(record, nullptr, outputs, frames);
            return;
        case 2:
            entry(record, inputs, nullptr, frames);
            return;
        case 3:
            inputs[1] = nullptr;
            entry(record, inputs, outputs, frames);
            return;
        case 5:
            outputs[0] = nullptr;
            entry(record, inputs, outputs, frames);
            return;
        default:
            break;
        }
        entry(record, inputs, outputs, frames);
        if (!replacing) return;
        for (int c = 0; c < 2; ++c)
            if (length && std::memcmp(outputs[c], expected[c].data(), length * sizeof(Sample)))
                finding("audio did not pass through unchanged", -1, c);
    }

    void window(Script& script) {
        switch (script.byte() % 8) {
        case 0:
            if (opens < kMaxWindowOpens) {
                ++opens;
                call(effEditOpen, 0, 0, nullptr, 0.0f);
            }
            break;
        case 1:
            call(effEditIdle, 0, 0, nullptr, 0.0f);
            break;
        case 2:
            call(effEditClose, 0, 0, nullptr, 0.0f);
            break;
        case 3:
            if (opens < kMaxWindowOpens) {
                ++opens;
                call(effEditOpen, 0, 0, nullptr, 0.0f);
                call(effEditIdle, 0, 0, nullptr, 0.0f);
                call(effEditClose, 0, 0, nullptr, 0.0f);
            }
            break;
        case 4: {
            const VstInt32 character = script.int32();
            const VstIntPtr virt = script.intptr();
            call(script.byte() & 1 ? effEditKeyUp : effEditKeyDown, character, virt, nullptr,
                 script.number());
            break;
        }
        case 5:
            call(effSetEditKnobMode, 0, script.intptr(), nullptr, 0.0f);
            break;
        case 6:
            // A picture of the window, as a host without a display asks for one.
            if (CFrame* frame = openFrame(); frame && renders < kMaxRenders) {
                ++renders;
                toolkit::OffscreenSurface surface(frame->getWidth(), frame->getHeight());
                frame->render(surface.context());
            }
            break;
        default:
            mouse(script);
            break;
        }
    }

    // The window's frame while it is open, or null.
    CFrame* openFrame() {
        auto* effect = static_cast<AudioEffect*>(record->object);
        auto* editor = dynamic_cast<MidiRemoteEditor*>(effect->getEditor());
        return editor ? editor->getFrame() : nullptr;
    }

    // A user's gesture in the open window: press, moves, then release, loss of the mouse or a
    // wheel turn. Popup menus answer with a position from the input.
    void mouse(Script& script) {
        const int x = script.raw<std::uint16_t>() % 600 - 10;
        const int y = script.raw<std::uint16_t>() % 420 - 10;
        const long buttons = script.byte() & 0x3f;
        const int moves = script.byte() % 8;
        const int choice = static_cast<std::int8_t>(script.byte());
        CFrame* frame = openFrame();
        if (!frame) return;
        frame->setPopupChooser([choice](const COptionMenu&) { return choice; });
        CPoint where(x, y);
        frame->onMouseDown(where, buttons);
        for (int i = 0; i < moves; ++i) {
            where.x += static_cast<std::int8_t>(script.byte());
            where.y += static_cast<std::int8_t>(script.byte());
            frame->onMouseMoved(where, buttons);
        }
        switch (script.byte() % 3) {
        case 0:
            frame->onMouseUp(where, buttons);
            break;
        case 1:
            frame->onMouseCancel();
            break;
        default:
            frame->onWheel(where, script.number(), buttons);
            break;
        }
    }

    void checkMidi() {
        const auto sent = testing_midi::Recorder::instance().messages();
        for (std::size_t i = checkedMessages; i < sent.size(); ++i) {
            const testing_midi::SentMessage& m = sent[i];
            if (m.status() < 0xB1 || m.status() > 0xB6 || m.controller() < 24 ||
                m.controller() > 31 || m.value() > 127 || (m.message >> 24) != 0)
                finding("malformed MIDI message", -1, static_cast<VstInt32>(m.message));
        }
        checkedMessages = sent.size();
    }

    AEffect* record;
    bool withWindow;
    int opens = 0;
    int renders = 0;
    std::size_t checkedMessages = 0;
};

// One input from end to end: the header (how many MIDI devices the system lists, whether the
// host answers its version), an effect from the entry point, the session, effClose.
inline int runSession(const std::uint8_t* data, std::size_t size, bool withWindow) {
    Script script(data, size);
    const std::uint8_t devices = script.byte() % 5;
    const bool hostAnswers = script.byte() != 0xff;

    static const std::vector<std::u16string> kNames = {u"Port A", u"Port B \u00e9", u"",
                                                       u"A port name longer than thirty-one"};
    testing_midi::Recorder::instance().reset(
        std::vector<std::u16string>(kNames.begin(), kNames.begin() + devices));
    testing_host::FakeHost::instance().reset(hostAnswers ? 2400 : 0);
    // Half the hosts follow the window's size on request (which half matters little).
    testing_host::FakeHost::instance().canSizeWindow = devices % 2 == 1;

    AEffect* record = VSTPluginMain(testing_host::hostCallback);
    if (!record) {
        if (hostAnswers) finding("no effect for a host that answers its version", -1, -1);
        return 0;
    }
    if (record->magic != kEffectMagic || !record->dispatcher || record->numParams != 74)
        finding("the record is not filled in", -1, -1);

    Session session(record, withWindow);
    session.run(script);
    record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);

    if (testing_midi::Recorder::instance().openHandles() != 0)
        finding("a MIDI port stayed open after effClose", effClose, 0);
    return 0;
}

} // namespace fuzz
