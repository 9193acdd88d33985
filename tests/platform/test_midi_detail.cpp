// Device names and short messages as the Linux MIDI service forms them.
#include <gtest/gtest.h>

#include "platform/linux/midi_detail.h"

using namespace qr::midi_detail;

namespace {

TEST(MidiDetailNames, CutKeepsWholeCharactersWithin31Bytes) {
    EXPECT_EQ(cutName("short:in", 31), "short:in");
    EXPECT_EQ(cutName(std::string(40, 'x'), 31), std::string(31, 'x'));
    // 30 ASCII bytes and a two-byte character: the character does not fit and goes whole.
    const std::string thirty(30, 'a');
    EXPECT_EQ(cutName(thirty + "\xC3\xA9z", 31), thirty);
    EXPECT_EQ(cutName(std::string(29, 'a') + "\xC3\xA9z", 31), std::string(29, 'a') + "\xC3\xA9");
    // Four-byte character straddling the limit.
    EXPECT_EQ(cutName(std::string(28, 'a') + "\xF0\x9F\x8E\xB9", 31), std::string(28, 'a'));
    // Bytes that are not UTF-8 are kept one by one.
    EXPECT_EQ(cutName(std::string(30, 'a') + "\xFF\xFF", 31), std::string(30, 'a') + "\xFF");
}

TEST(MidiDetailNames, Utf16OfTheSameText) {
    EXPECT_EQ(toUtf16("Synth:in"), u"Synth:in");
    EXPECT_EQ(toUtf16("caf\xC3\xA9 \xE2\x82\xAC"), u"caf\u00E9 \u20AC");
    EXPECT_EQ(toUtf16("\xF0\x9F\x8E\xB9"), u"\U0001F3B9");
    // Broken, overlong and surrogate encodings become replacement characters.
    EXPECT_EQ(toUtf16("a\xC3"), u"a\uFFFD");
    EXPECT_EQ(toUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(toUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
}

TEST(MidiDetailNames, OwnPortsAreRecognised) {
    EXPECT_TRUE(isOwnPort("Quorvel Remote:MIDI Out"));
    EXPECT_TRUE(isOwnPort("Quorvel Remote-01:MIDI Out"));
    EXPECT_TRUE(isOwnPort("Quorvel Remote:MIDI Out 130:0"));
    EXPECT_FALSE(isOwnPort("Quorvel Remote Sync:in"));
    EXPECT_FALSE(isOwnPort("Quorvel Remote-x:in"));
    EXPECT_FALSE(isOwnPort("Quorvel Remote"));
    EXPECT_FALSE(isOwnPort("midi-monitor:input"));
}

std::vector<unsigned char> bytes(const ShortMessage& m) {
    return {m.bytes, m.bytes + m.size};
}

TEST(MidiDetailMessages, StatusDecidesHowManyDataBytesGo) {
    unsigned char running = 0;
    using V = std::vector<unsigned char>;
    EXPECT_EQ(bytes(unpackShortMessage(0x7F18B1, running)), (V{0xB1, 0x18, 0x7F}));
    EXPECT_EQ(bytes(unpackShortMessage(0x403C90, running)), (V{0x90, 0x3C, 0x40}));
    EXPECT_EQ(bytes(unpackShortMessage(0xFF05C2, running)), (V{0xC2, 0x05}));
    EXPECT_EQ(bytes(unpackShortMessage(0xFF33D0, running)), (V{0xD0, 0x33}));
    EXPECT_EQ(bytes(unpackShortMessage(0x7F00EF, running)), (V{0xEF, 0x00, 0x7F}));
    EXPECT_EQ(bytes(unpackShortMessage(0x7F01F2, running)), (V{0xF2, 0x01, 0x7F}));
    EXPECT_EQ(bytes(unpackShortMessage(0xFFFFF8, running)), (V{0xF8}));
}

TEST(MidiDetailMessages, RunningStatusAndRefusals) {
    unsigned char running = 0;
    // No running status yet: a leading data byte is no message.
    EXPECT_EQ(unpackShortMessage(0x4018, running).size, 0u);
    unpackShortMessage(0x7F18B1, running);
    EXPECT_EQ(bytes(unpackShortMessage(0x4019, running)),
              (std::vector<unsigned char>{0xB1, 0x19, 0x40}));
    // Real-time keeps it, system common ends it.
    unpackShortMessage(0xFE, running);
    EXPECT_EQ(unpackShortMessage(0x401A, running).size, 3u);
    unpackShortMessage(0x05F3, running);
    EXPECT_EQ(unpackShortMessage(0x401A, running).size, 0u);
    // System exclusive, undefined statuses and data bytes with the top bit set never go out.
    for (std::uint32_t packed : {0xF0u, 0xF7u, 0xF4u, 0xFDu, 0x8018B1u, 0x7F80B1u, 0x80C2u})
        EXPECT_EQ(unpackShortMessage(packed, running).size, 0u) << std::hex << packed;
}

} // namespace
