#include "terminal_sim/library_stream.h"

#include "terminal_sim/frames.h"

#include <array>

namespace terminal_sim {

namespace {
constexpr std::size_t kUnexpectedTextKept = 64;

struct FixedSequence {
    std::string_view bytes;
    LibraryMessage::Kind kind;
};
constexpr std::array<FixedSequence, 3> kSequences{{
    {kPoll, LibraryMessage::Kind::Poll},
    {kBootInit, LibraryMessage::Kind::BootInit},
    {kCellularKeepAlive, LibraryMessage::Kind::CellularKeepAlive},
}};

bool startsSequence(char byte) { return byte == bytes::SOH || byte == bytes::PlainKeepAlive; }

LibraryMessage commandFrom(const std::string& afterStx) {
    LibraryMessage message{LibraryMessage::Kind::Command, {}, false, 0};
    if (afterStx.size() < 2) {
        message.text = afterStx;
        return message;
    }
    message.text = afterStx.substr(0, afterStx.size() - 2);
    std::string covered(1, bytes::STX);
    covered += message.text;
    message.checksumOk = afterStx.compare(afterStx.size() - 2, 2, frameChecksum(covered)) == 0;
    return message;
}
}  // namespace

const char* kindName(LibraryMessage::Kind kind) {
    switch (kind) {
        case LibraryMessage::Kind::Poll: return "poll";
        case LibraryMessage::Kind::Command: return "command";
        case LibraryMessage::Kind::Ack: return "ack";
        case LibraryMessage::Kind::PlainKeepAlive: return "keep-alive";
        case LibraryMessage::Kind::CellularKeepAlive: return "cellular keep-alive";
        case LibraryMessage::Kind::BootInit: return "boot init";
        case LibraryMessage::Kind::Unexpected: return "unexpected";
    }
    return "?";
}

LibraryStreamParser::LibraryStreamParser(std::size_t maxFrameBytes)
    : maxFrameBytes_(maxFrameBytes < 2 ? 2 : maxFrameBytes) {}

void LibraryStreamParser::feed(std::string_view bytes, std::vector<LibraryMessage>& out) {
    for (char byte : bytes) consume(byte, out);
    flushUnexpected(out);
}

bool LibraryStreamParser::holdsLoneKeepAlive() const {
    return mode_ == Mode::FixedSequence && held_.size() == 1 && held_[0] == bytes::PlainKeepAlive;
}

void LibraryStreamParser::flushLoneKeepAlive(std::vector<LibraryMessage>& out) {
    if (!holdsLoneKeepAlive()) return;
    reset();
    out.push_back({LibraryMessage::Kind::PlainKeepAlive, {}, true, 0});
}

void LibraryStreamParser::reset() {
    mode_ = Mode::Idle;
    held_.clear();
    unexpectedRun_.clear();
    unexpectedCount_ = 0;
}

void LibraryStreamParser::consume(char byte, std::vector<LibraryMessage>& out) {
    switch (mode_) {
        case Mode::Idle:
            if (byte == bytes::STX) {
                mode_ = Mode::Frame;
            } else if (byte == bytes::ACK) {
                emit({LibraryMessage::Kind::Ack, {}, true, 0}, out);
            } else if (startsSequence(byte)) {
                mode_ = Mode::FixedSequence;
                held_.assign(1, byte);
            } else {
                noteUnexpected(std::string_view(&byte, 1));
            }
            return;
        case Mode::Frame:
            if (byte == bytes::ETX) {
                LibraryMessage command = commandFrom(held_);
                held_.clear();
                mode_ = Mode::Idle;
                emit(std::move(command), out);
            } else if (held_.size() >= maxFrameBytes_) {
                noteUnexpected(std::string(1, bytes::STX));
                noteUnexpected(held_);
                held_.clear();
                mode_ = Mode::Idle;
                consume(byte, out);
            } else {
                held_ += byte;
            }
            return;
        case Mode::FixedSequence:
            consumeInSequence(byte, out);
            return;
    }
}

void LibraryStreamParser::consumeInSequence(char byte, std::vector<LibraryMessage>& out) {
    std::string candidate = held_ + byte;
    bool isPrefix = false;
    for (const auto& sequence : kSequences) {
        if (candidate == sequence.bytes) {
            held_.clear();
            mode_ = Mode::Idle;
            emit({sequence.kind, {}, true, 0}, out);
            return;
        }
        if (sequence.bytes.starts_with(candidate)) isPrefix = true;
    }
    if (isPrefix) {
        held_ = std::move(candidate);
        return;
    }
    // No sequence goes on this way: settle the first byte and read the rest again, so
    // that a message starting inside the failed candidate is still found. The candidate
    // is never longer than the longest sequence, which bounds the re-reading.
    held_.clear();
    mode_ = Mode::Idle;
    if (candidate[0] == bytes::PlainKeepAlive)
        emit({LibraryMessage::Kind::PlainKeepAlive, {}, true, 0}, out);
    else
        noteUnexpected(std::string_view(candidate.data(), 1));
    for (std::size_t i = 1; i < candidate.size(); ++i) consume(candidate[i], out);
}

void LibraryStreamParser::emit(LibraryMessage message, std::vector<LibraryMessage>& out) {
    flushUnexpected(out);
    out.push_back(std::move(message));
}

void LibraryStreamParser::noteUnexpected(std::string_view bytes) {
    unexpectedCount_ += bytes.size();
    std::size_t room = kUnexpectedTextKept - std::min(kUnexpectedTextKept, unexpectedRun_.size());
    unexpectedRun_.append(bytes.substr(0, room));
}

void LibraryStreamParser::flushUnexpected(std::vector<LibraryMessage>& out) {
    if (unexpectedCount_ == 0) return;
    out.push_back({LibraryMessage::Kind::Unexpected, std::move(unexpectedRun_), true, unexpectedCount_});
    unexpectedRun_.clear();
    unexpectedCount_ = 0;
}

}  // namespace terminal_sim
