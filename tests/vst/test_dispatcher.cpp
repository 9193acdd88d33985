#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/plugin_fixture.h"
#include "vst/audioeffectx.h"

using testing_host::FakeHost;

TEST(EntryPoint, RefusesHostsWithoutVersion) {
    FakeHost::instance().reset(0);
    testing_midi::Recorder::instance().reset({u"Port A"});
    EXPECT_EQ(VSTPluginMain(testing_host::hostCallback), nullptr);
    EXPECT_EQ(FakeHost::instance().recorded().size(), 1u);
    EXPECT_EQ(testing_midi::Recorder::instance().calls().size(), 0u);
    EXPECT_EQ(VSTPluginMain(nullptr), nullptr);
}

TEST(EntryPoint, EachCallCreatesAnIndependentEffect) {
    FakeHost::instance().reset(2400);
    testing_midi::Recorder::instance().reset();
    AEffect* first = VSTPluginMain(testing_host::hostCallback);
    AEffect* second = VSTPluginMain(testing_host::hostCallback);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_NE(first->object, second->object);
    const auto versionCalls = FakeHost::instance().recorded(audioMasterVersion);
    ASSERT_EQ(versionCalls.size(), 2u);
    EXPECT_EQ(versionCalls[0].effect, nullptr);
    first->setParameter(first, 2, 0.25f);
    EXPECT_EQ(second->getParameter(second, 2), 0.0f);
    EXPECT_EQ(first->dispatcher(first, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(second->dispatcher(second, effClose, 0, 0, nullptr, 0.0f), 1);
}

using Record = PluginTest;

TEST_F(Record, FreshRecordFields) {
    EXPECT_EQ(record->magic, fourCharCode('V', 's', 't', 'P'));
    EXPECT_EQ(record->magic, 0x56737450);
    EXPECT_EQ(record->numPrograms, 1);
    EXPECT_EQ(record->numParams, 74);
    EXPECT_EQ(record->numInputs, 2);
    EXPECT_EQ(record->numOutputs, 2);
    // State data carries the chosen device's name beside the parameter values.
    EXPECT_EQ(record->flags & ~effFlagsHasEditor,
              effFlagsCanReplacing | effFlagsCanDoubleReplacing | effFlagsProgramChunks);
    EXPECT_EQ(record->initialDelay, 0);
    EXPECT_EQ(record->ioRatio, 1.0f);
    EXPECT_EQ(record->uniqueID, fourCharCode('Q', 'V', 'R', 'L'));
    EXPECT_EQ(record->version, 1);
    EXPECT_EQ(record->user, nullptr);
    EXPECT_EQ(record->resvd1, 0);
    EXPECT_EQ(record->resvd2, 0);
    for (char byte : record->future) EXPECT_EQ(byte, 0);
    EXPECT_NE(record->process, nullptr);
    EXPECT_NE(record->processReplacing, nullptr);
    EXPECT_NE(record->processDoubleReplacing, nullptr);
}

TEST_F(Record, IdentityAnswers) {
    EXPECT_EQ(dispatch(effIdentify), 0x4E764566);
    EXPECT_EQ(dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(dispatch(effGetVendorVersion), 1100);
    EXPECT_EQ(dispatch(effGetPlugCategory), kPlugCategEffect);
    EXPECT_EQ(text(effGetEffectName), "Quorvel Remote Control Demo");
    EXPECT_EQ(text(effGetProductString), "Quorvel Remote Control Demo");
    EXPECT_EQ(text(effGetVendorString), "Brannock");
    char buffer[80] = {};
    EXPECT_EQ(dispatch(effGetEffectName, 0, 0, buffer), 1);
    EXPECT_EQ(dispatch(effGetVendorString, 0, 0, buffer), 1);
    EXPECT_EQ(dispatch(effGetProductString, 0, 0, buffer), 1);
    char canDoText[] = "receiveVstMidiEvent";
    EXPECT_EQ(dispatch(effCanDo, 0, 0, canDoText), 0);
    char other[] = "sendVstMidiEvent";
    EXPECT_EQ(dispatch(effCanDo, 0, 0, other), 0);
}

TEST_F(Record, DefaultAnswersOfTheFramework) {
    for (VstInt32 index : {0, 1, 40, 73, 74, -1}) EXPECT_EQ(dispatch(effCanBeAutomated, index), 1);
    EXPECT_EQ(dispatch(effGetCurrentMidiProgram), -1);
    EXPECT_EQ(dispatch(effSetTotalSampleToProcess, 0, 4410), 4410);
    EXPECT_EQ(dispatch(effGetChunk), 0);
    EXPECT_EQ(dispatch(effGetTailSize), 0);
    EXPECT_EQ(dispatch(9), 0);
    EXPECT_EQ(dispatch(100), 0);
    char text[] = "12";
    EXPECT_EQ(dispatch(effString2Parameter, 2, 0, text), 0);
    EXPECT_EQ(get(2), 0.0f);

    void* input = &text;
    void* output = &text;
    EXPECT_EQ(dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), &output),
              0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);
}

TEST_F(Record, ProgramsSampleRateAndBlockSize) {
    EXPECT_EQ(dispatch(effGetProgram), 0);
    dispatch(effSetProgram, 0, 1);
    EXPECT_EQ(dispatch(effGetProgram), 0);
    dispatch(effSetProgram, 0, -1);
    EXPECT_EQ(dispatch(effGetProgram), 0);
    EXPECT_EQ(text(effGetProgramName), "Default");

    auto* effect = static_cast<AudioEffect*>(record->object);
    EXPECT_EQ(effect->getSampleRate(), 44100.0f);
    EXPECT_EQ(effect->getBlockSize(), 1024);
    dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    dispatch(effSetBlockSize, 0, 512);
    EXPECT_EQ(effect->getSampleRate(), 48000.0f);
    EXPECT_EQ(effect->getBlockSize(), 512);
}

TEST_F(Record, SwitchingOnAsksTheHostForNothing) {
    const auto before = FakeHost::instance().recorded().size();
    dispatch(effMainsChanged, 0, 1);
    dispatch(effMainsChanged, 0, 0);
    dispatch(effOpen);
    EXPECT_EQ(FakeHost::instance().recorded().size(), before);
}

TEST_F(Record, NullBuffersWriteNothing) {
    for (VstInt32 opcode : {effGetProgramName, effSetProgramName, effGetParamLabel,
                            effGetParamDisplay, effGetParamName, effEditGetRect, effGetEffectName,
                            effGetVendorString, effGetProductString, effCanDo})
        EXPECT_EQ(dispatch(opcode, 3, 0, nullptr), 0) << opcode;
    EXPECT_EQ(text(effGetProgramName), "Default");
}

TEST_F(Record, HostServicesPassTheirArguments) {
    auto* effect = static_cast<AudioEffectX*>(record->object);
    FakeHost::instance().reset();
    effect->setParameterAutomated(5, 0.5f);
    EXPECT_EQ(get(5), 0.5f);
    auto calls = FakeHost::instance().recorded();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].effect, record);
    EXPECT_EQ(calls[0].opcode, audioMasterAutomate);
    EXPECT_EQ(calls[0].index, 5);
    EXPECT_EQ(calls[0].value, 0);
    EXPECT_EQ(calls[0].ptr, nullptr);
    EXPECT_EQ(calls[0].opt, 0.5f);

    EXPECT_TRUE(effect->beginEdit(7));
    EXPECT_TRUE(effect->endEdit(7));
    FakeHost::instance().editAnswer = 0;
    EXPECT_FALSE(effect->beginEdit(7));
    calls = FakeHost::instance().recorded();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[1].opcode, audioMasterBeginEdit);
    EXPECT_EQ(calls[1].index, 7);
    EXPECT_EQ(calls[2].opcode, audioMasterEndEdit);

    effect->masterIdle();
    EXPECT_EQ(FakeHost::instance().recorded(audioMasterIdle).size(), 1u);
    EXPECT_EQ(effect->getMasterVersion(), 2400);
    FakeHost::instance().versionAnswer = 0;
    EXPECT_EQ(effect->getMasterVersion(), 1);
}

TEST(HostServices, WithoutAHostCallbackNothingIsCalled) {
    testing_midi::Recorder::instance().reset({u"Port A"});
    AudioEffect* created = createEffectInstance(nullptr);
    ASSERT_NE(created, nullptr);
    auto* effect = static_cast<AudioEffectX*>(created);
    effect->setParameterAutomated(3, 0.75f);
    EXPECT_EQ(effect->getParameter(3), 0.75f);
    EXPECT_FALSE(effect->beginEdit(3));
    EXPECT_FALSE(effect->endEdit(3));
    EXPECT_EQ(effect->getMasterVersion(), 1);
    effect->masterIdle();
    delete effect;
}

namespace {
// The framework alone: an effect that keeps every default.
class BareEffect : public AudioEffectX {
public:
    BareEffect() : AudioEffectX(testing_host::hostCallback, 3, 5) {}
    void processReplacing(float**, float**, VstInt32) override {}
    VstIntPtr call(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr) {
        return getAeffect()->dispatcher(getAeffect(), opcode, index, value, ptr, 0.0f);
    }
};
} // namespace

TEST(Framework, DefaultsOfABareEffect) {
    FakeHost::instance().reset();
    auto* effect = new BareEffect;
    AEffect* record = effect->getAeffect();
    EXPECT_EQ(record->uniqueID, fourCharCode('N', 'o', 'E', 'f'));
    EXPECT_EQ(record->numInputs, 1);
    EXPECT_EQ(record->numOutputs, 2);
    EXPECT_EQ(record->flags, effFlagsCanReplacing);
    EXPECT_EQ(record->object, effect);
    EXPECT_EQ(effect->call(effGetPlugCategory), kPlugCategUnknown);
    EXPECT_EQ(effect->call(effGetVendorVersion), 0);
    char text[80] = "untouched";
    EXPECT_EQ(effect->call(effGetEffectName, 0, 0, text), 0);
    effect->call(effGetParamName, 2, 0, text);
    EXPECT_STREQ(text, "");
    effect->call(effSetProgram, 0, 2);
    EXPECT_EQ(effect->call(effGetProgram), 2);
    effect->call(effSetProgram, 0, 3);
    EXPECT_EQ(effect->call(effGetProgram), 2);

    // Without an editor every editor request is answered 0.
    ERect* rect = reinterpret_cast<ERect*>(0x1);
    EXPECT_EQ(effect->call(effEditGetRect, 0, 0, &rect), 0);
    EXPECT_EQ(effect->call(effEditOpen), 0);
    EXPECT_EQ(effect->call(effEditKeyDown, 65), 0);
    EXPECT_EQ(effect->call(effEditKeyUp, 65), 0);
    EXPECT_EQ(effect->call(effSetEditKnobMode, 0, 2), 0);
    EXPECT_EQ(effect->call(effEditClose), 0);
    EXPECT_EQ(effect->call(effEditIdle), 0);

    // A synthesizer asks for MIDI when it is switched on; a plain effect does not.
    effect->call(effMainsChanged, 0, 1);
    EXPECT_TRUE(FakeHost::instance().recorded(audioMasterWantMidi).empty());
    effect->isSynth();
    EXPECT_EQ(record->flags, effFlagsCanReplacing | effFlagsIsSynth);
    EXPECT_EQ(effect->call(effGetPlugCategory), kPlugCategSynth);
    effect->call(effMainsChanged, 0, 1);
    const auto wanted = FakeHost::instance().recorded(audioMasterWantMidi);
    ASSERT_EQ(wanted.size(), 1u);
    EXPECT_EQ(wanted[0].value, 1);
    effect->isSynth(false);
    effect->noTail();
    EXPECT_EQ(record->flags, effFlagsCanReplacing | effFlagsNoSoundInStop);
    EXPECT_EQ(effect->call(effClose), 1);
}
