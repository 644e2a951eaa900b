// The bytes of the terminal frame protocol as a terminal sees them: control bytes, the
// frame checksum, and the data frames a terminal sends. Pure functions, no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace terminal_sim {

namespace bytes {
inline constexpr char SOH = '\x01';
inline constexpr char STX = '\x02';
inline constexpr char ETX = '\x03';
inline constexpr char ENQ = '\x05';
inline constexpr char ACK = '\x06';
inline constexpr char Abort = '\xE7';
inline constexpr char Hold = '\xFB';
inline constexpr char BootError = '\xFC';
inline constexpr char BootDone = '\xFD';
inline constexpr char BootEmpty = '\xFE';
inline constexpr char PlainKeepAlive = '\xFE';
}  // namespace bytes

// What the library sends, byte for byte.
inline constexpr std::string_view kPoll{"\x01\x01\x01\x01\x01" "00T", 8};
inline constexpr std::string_view kBootInit{"\x01\xFF\xFF" "A\xFA", 5};
inline constexpr std::string_view kCellularKeepAlive{"\xFE\xF8\x08\x02\x04\x03", 6};

// Sum of the byte codes modulo 256 as two upper-case hex digits ("07", "FE").
std::string frameChecksum(std::string_view bytes);

enum class ChecksumMode {
    Correct,
    Unknown,  // "??", which the library accepts whatever the bytes
    Wrong,    // the correct sum plus one, so it never matches
};

// 02 + body + checksum of (02 + body) + 03.
std::string dataFrame(std::string_view body, ChecksumMode mode = ChecksumMode::Correct);

// 02 + text + checksum + 03, the frame the library sends after an ENQ.
std::string commandFrame(std::string_view text);

// Date and time at the terminal as the frames carry them.
struct TerminalClockReading {
    std::string mmddyy;
    std::string hhmmss;
};

// Body of a record: class, type letter, mmddyy, hhmmss, two-digit address, data fields.
std::string recordBody(char recordClass, char typeLetter, const TerminalClockReading& when,
                       std::string_view addressDigits, std::string_view fields);

// Body of a card punch: class "1", type "M", then the fields "01," card "," sequence. The
// sequence (at least six digits) makes every punch unique even for the same card within
// one second, so the library's repeat filter never swallows one, and lets a consumer of
// the packets detect loss and duplicates.
std::string punchBody(const TerminalClockReading& when, std::string_view addressDigits,
                      std::string_view card, std::uint64_t sequence);

// Printable form for logs: bytes outside 32..126 and "%" become "%" + decimal code + "%".
std::string escapeForDisplay(std::string_view bytes);

}  // namespace terminal_sim
