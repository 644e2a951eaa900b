#include "terminal_sim/frames.h"

#include <cstdio>

namespace terminal_sim {

namespace {
std::string twoHexDigits(unsigned value) {
    static constexpr char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

unsigned byteSum(std::string_view text) {
    unsigned sum = 0;
    for (unsigned char c : text) sum += c;
    return sum & 0xFF;
}

std::string framed(std::string_view text, ChecksumMode mode) {
    std::string frame;
    frame.reserve(text.size() + 4);
    frame += bytes::STX;
    frame += text;
    switch (mode) {
        case ChecksumMode::Correct: frame += twoHexDigits(byteSum(frame)); break;
        case ChecksumMode::Unknown: frame += "??"; break;
        case ChecksumMode::Wrong: frame += twoHexDigits(byteSum(frame) + 1); break;
    }
    frame += bytes::ETX;
    return frame;
}
}  // namespace

std::string frameChecksum(std::string_view bytes) { return twoHexDigits(byteSum(bytes)); }

std::string dataFrame(std::string_view body, ChecksumMode mode) { return framed(body, mode); }

std::string commandFrame(std::string_view text) { return framed(text, ChecksumMode::Correct); }

std::string recordBody(char recordClass, char typeLetter, const TerminalClockReading& when,
                       std::string_view addressDigits, std::string_view fields) {
    std::string body;
    body += recordClass;
    body += typeLetter;
    body += when.mmddyy;
    body += when.hhmmss;
    body += addressDigits;
    body += fields;
    return body;
}

std::string punchBody(const TerminalClockReading& when, std::string_view addressDigits,
                      std::string_view card, std::uint64_t sequence) {
    char number[24];
    std::snprintf(number, sizeof number, "%06llu", static_cast<unsigned long long>(sequence));
    std::string fields = "01,";
    fields += card;
    fields += ',';
    fields += number;
    return recordBody('1', 'M', when, addressDigits, fields);
}

std::string escapeForDisplay(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c >= 32 && c <= 126 && c != '%') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += std::to_string(c);
            out += '%';
        }
    }
    return out;
}

}  // namespace terminal_sim
