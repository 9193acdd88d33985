#pragma once
// Pure helpers of the Linux MIDI output service: device names as the Windows calls report them,
// recognising our own ports, and turning a packed short message into the bytes on the wire.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qr::midi_detail {

// The client name receivers see; enumeration skips ports of clients with this name, including
// the "-NN" suffix a JACK server adds when the name is taken.
inline constexpr std::string_view kClientName = "Quorvel Remote";

inline bool isOwnPort(std::string_view portName) {
    if (portName.substr(0, kClientName.size()) != kClientName) return false;
    std::string_view rest = portName.substr(kClientName.size());
    if (!rest.empty() && rest.front() == '-') {
        std::size_t digits = 1;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
            ++digits;
        if (digits == 1) return false;
        rest.remove_prefix(digits);
    }
    return !rest.empty() && rest.front() == ':';
}

// Length in bytes of the well-formed UTF-8 sequence starting at `text[i]`, or 0 if none does.
inline std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, minimum = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, minimum = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, minimum = 0x10000;
    else
        return 0;
    if (i + length > text.size()) return 0;
    std::uint32_t code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(i + k) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

// The name cut to at most `maxBytes` bytes without splitting a UTF-8 character, so the text in
// a 32-byte name field never ends in half a character. Bytes that are not UTF-8 count singly.
inline std::string cutName(std::string_view name, std::size_t maxBytes) {
    std::size_t end = 0;
    while (end < name.size()) {
        const std::size_t length = std::max<std::size_t>(1, utf8SequenceLength(name, end));
        if (end + length > maxBytes) break;
        end += length;
    }
    return std::string(name.substr(0, end));
}

// UTF-16 of a UTF-8 text; a byte that starts no valid sequence becomes U+FFFD.
inline std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        std::uint32_t code = static_cast<unsigned char>(text[i]) & (0xFF >> (length + 1));
        if (length == 1) code = static_cast<unsigned char>(text[i]);
        for (std::size_t k = 1; k < length; ++k)
            code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

// Data bytes that follow a status byte in a short message; -1 for bytes that cannot start one
// (data bytes, system exclusive and the undefined system statuses).
inline int dataByteCount(unsigned status) {
    if (status < 0x80) return -1;
    if (status < 0xC0) return 2;
    if (status < 0xE0) return 1;
    if (status < 0xF0) return 2;
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 1;
    case 0xF2:
        return 2;
    case 0xF6:
    case 0xF8:
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFE:
    case 0xFF:
        return 0;
    default:
        return -1;
    }
}

struct ShortMessage {
    unsigned char bytes[3] = {};
    std::size_t size = 0; // 0: not a valid short message
};

// Unpacks a short message, low byte first. As on Windows, a message whose first byte is a data
// byte reuses the last channel status (running status). A data byte with its top bit set is
// refused: the receiver would read it as a new status.
inline ShortMessage unpackShortMessage(std::uint32_t packed, unsigned char& runningStatus) {
    unsigned char in[3] = {static_cast<unsigned char>(packed),
                           static_cast<unsigned char>(packed >> 8),
                           static_cast<unsigned char>(packed >> 16)};
    ShortMessage message;
    unsigned status = in[0];
    const unsigned char* data = in + 1;
    if (status < 0x80) {
        if (runningStatus == 0) return message;
        status = runningStatus;
        data = in;
    }
    const int count = dataByteCount(status);
    if (count < 0) return message;
    for (int k = 0; k < count; ++k)
        if (data[k] & 0x80) return message;
    message.bytes[0] = static_cast<unsigned char>(status);
    for (int k = 0; k < count; ++k)
        message.bytes[k + 1] = data[k];
    message.size = static_cast<std::size_t>(count) + 1;
    // Channel messages set the running status, system common messages clear it and real-time
    // messages leave it alone.
    if (status < 0xF0)
        runningStatus = static_cast<unsigned char>(status);
    else if (status < 0xF8)
        runningStatus = 0;
    return message;
}

} // namespace qr::midi_detail
