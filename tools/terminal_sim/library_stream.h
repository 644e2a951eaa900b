// Cuts the byte stream that the library sends to a terminal into its messages: polls,
// command frames, ACKs of the terminal's data frames, keep-alives and the boot init.
//
// Bytes may arrive in pieces of any size, down to one byte at a time; feeding a stream in
// pieces gives the same messages as feeding it whole, except that a run of unexpected
// bytes may be reported in several parts. The parser holds only what an unfinished
// message needs: at most `maxFrameBytes` of a command frame, and a few bytes of a fixed
// sequence. A command frame that grows beyond the bound is dropped as unexpected bytes.
//
// One ambiguity is left to the caller: a lone FE is a plain keep-alive, or the start of
// the cellular one. The next byte settles it; when none comes, the caller decides that
// the line has gone quiet and calls flushLoneKeepAlive().
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace terminal_sim {

struct LibraryMessage {
    enum class Kind {
        Poll,
        Command,            // text without STX, checksum and ETX
        Ack,                // the library acknowledges one of the terminal's data frames
        PlainKeepAlive,
        CellularKeepAlive,
        BootInit,
        Unexpected,         // bytes that belong to no message; text holds at most the first 64
    };
    Kind kind;
    std::string text;
    bool checksumOk = true;     // Command only
    std::size_t byteCount = 0;  // Unexpected only: every byte of the run, even those not kept

    bool operator==(const LibraryMessage&) const = default;
};

const char* kindName(LibraryMessage::Kind kind);

class LibraryStreamParser {
public:
    explicit LibraryStreamParser(std::size_t maxFrameBytes = 4096);

    // Appends the messages completed by these bytes, in stream order.
    void feed(std::string_view bytes, std::vector<LibraryMessage>& out);

    bool holdsLoneKeepAlive() const;
    // Reports a held lone FE as a plain keep-alive.
    void flushLoneKeepAlive(std::vector<LibraryMessage>& out);

    // Bytes held for an unfinished message.
    std::size_t heldBytes() const { return held_.size(); }
    void reset();

private:
    enum class Mode { Idle, FixedSequence, Frame };

    void consume(char byte, std::vector<LibraryMessage>& out);
    void consumeInSequence(char byte, std::vector<LibraryMessage>& out);
    void emit(LibraryMessage message, std::vector<LibraryMessage>& out);
    void noteUnexpected(std::string_view bytes);
    void flushUnexpected(std::vector<LibraryMessage>& out);

    std::size_t maxFrameBytes_;
    Mode mode_ = Mode::Idle;
    std::string held_;  // the sequence so far, or the frame after its STX
    std::string unexpectedRun_;
    std::size_t unexpectedCount_ = 0;
};

}  // namespace terminal_sim
