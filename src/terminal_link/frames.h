// The QBX frame protocol, carried over one TCP stream per terminal. Frames are found by
// their control bytes; there is no length prefix.
//   library -> terminal: Poll, CommandFrame (02 text checksum 03), ACK, KeepAlive, BootInit
//   terminal -> library: ENQ (ready for a command), ACK, DataFrame (02 body checksum 03),
//                        E7 abort, FB hold, FC/FD/FE boot reports
// The checksum of a run of bytes is their sum modulo 256 as two upper-case hex digits; a
// received checksum of "??" is accepted whatever the bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace iplib::frames {

inline constexpr char SOH = 0x01;
inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;
inline constexpr char ENQ = 0x05;
inline constexpr char ACK = 0x06;
inline constexpr char Abort = static_cast<char>(0xE7);
inline constexpr char Hold = static_cast<char>(0xFB);
inline constexpr char BootError = static_cast<char>(0xFC);
inline constexpr char BootDone = static_cast<char>(0xFD);
inline constexpr char BootEmpty = static_cast<char>(0xFE);
inline constexpr char SetTime = static_cast<char>(0xB1);
inline constexpr char SetDate = static_cast<char>(0xBD);
inline constexpr char LongCommand = static_cast<char>(0xCD);

// 01 01 01 01 01 "0" "0" "T": no checksum, no ETX.
inline const std::string Poll("\x01\x01\x01\x01\x01" "00T", 8);
inline const std::string Ack(1, ACK);
inline const std::string PlainKeepAlive(1, BootEmpty);
inline const std::string CellularKeepAlive("\xFE\xF8\x08\x02\x04\x03", 6);
inline const std::string BootInit("\x01\xFF\xFF" "A\xFA", 5);

// CHECKSUM_CALC: the two-character checksum of the whole text.
std::string checksum(std::string_view bytes);

// 02 + text with its first "[" replaced by the terminal number without leading zeros
// + checksum + 03.
std::string commandFrame(std::string_view commandText, int terminalNumber);

const std::string& keepAlive(bool cellular);

// The first complete frame of a buffer: from its first STX to the first ETX after it.
struct FrameSpan {
    std::size_t start;  // position of STX
    std::size_t end;    // one past ETX
};
std::optional<FrameSpan> findFrame(std::string_view buffer);

// Whether a frame (STX .. ETX) carries a checksum that matches, or "??".
bool checksumAccepted(std::string_view frame);

// The address rewrite before delivery: a frame longer than 18 bytes whose type letter
// (position 3) is neither "S" nor "D" gets the last two characters of the terminal's
// number field at positions 16 and 17. The checksum is not recomputed.
std::string rewriteAddress(std::string frame, std::string_view numberField);

}  // namespace iplib::frames
