// A simulated QBX terminal: a TCP server on one loopback address that the library connects
// to, speaking the terminal's side of the frame protocol. It answers polls and command
// frames, sends data frames (punches, records, raw bytes, boot reports) and records what
// the library sent, so that tests and benchmarks can check the library from the far end of
// the wire.
//
// Threads: the terminal runs on the io_context it is given; its handlers and callbacks run
// there. Every operation may be called from any thread: it is posted to the io_context and
// takes effect when that runs. The records (counters, commands, frame timings) are guarded
// and may be read from any thread at any time.
//
// Only 127.x.x.x addresses are accepted, so a simulator can never answer on a real network.
#pragma once

#include "terminal_sim/frames.h"
#include "terminal_sim/library_stream.h"

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace terminal_sim {

using SteadyClock = std::chrono::steady_clock;

enum class BootReport : unsigned char {
    Error = 0xFC,  // start-up failed its checksum
    Done = 0xFD,   // started; the library answers with the boot init
    Empty = 0xFE,  // no program found
};

// How the terminal reacts. May be changed while it runs.
struct Behaviour {
    bool answerPolls = true;           // ENQ to each poll
    bool ackCommands = true;           // ACK to each command frame whose checksum is right
    std::chrono::milliseconds answerDelay{0};  // before each ENQ, ACK or abort
    bool abortInsteadOfAnswer = false;  // E7 in place of every ENQ and ACK it would send
    ChecksumMode dataChecksums = ChecksumMode::Correct;  // for data frames sent without a mode
    bool noiseBeforeFrames = false;    // a few bytes that form no message before each data frame
    bool holdBeforeFrames = false;     // FB before each data frame
    // Send every cellular keep-alive straight back, as the modem of a cellular terminal
    // does. A plain FE is never echoed: from a terminal it would mean "boot empty".
    bool echoCellularKeepAlives = false;
    std::optional<BootReport> bootOnConnect;  // sent as soon as a library connects
};

struct CommandRecord {
    std::string text;  // without STX, checksum and ETX
    bool checksumOk = false;
    SteadyClock::time_point receivedAt;
};

// When one of the terminal's data frames was written to the library, and when the
// library acknowledged it. ACKs are matched to frames in order, as the library sends one
// ACK per frame, good or bad.
struct FrameTiming {
    SteadyClock::time_point sentAt;
    std::optional<SteadyClock::time_point> ackedAt;
};

struct Counters {
    std::uint64_t connections = 0;
    std::uint64_t polls = 0;
    std::uint64_t commands = 0;
    std::uint64_t badCommandChecksums = 0;
    std::uint64_t acks = 0;            // matched to a data frame
    std::uint64_t unmatchedAcks = 0;   // no data frame was waiting for one
    std::uint64_t plainKeepAlives = 0;
    std::uint64_t cellularKeepAlives = 0;
    std::uint64_t bootInits = 0;
    std::uint64_t unexpectedBytes = 0;
    std::uint64_t framesSent = 0;
    std::uint64_t framesNotSent = 0;   // no link, or the library stopped reading
};

class SimulatedTerminal {
public:
    struct Options {
        std::string address = "127.0.0.2";
        std::uint16_t port = 1024;        // 0: any free port, see port()
        std::string addressDigits = "01"; // the terminal's two-digit address in its frames
        Behaviour behaviour;
        // Date and time written into records; the system clock when empty.
        std::function<TerminalClockReading()> terminalClock;
        std::size_t commandsKept = 10000;   // oldest records are dropped beyond these bounds
        std::size_t timingsKept = 1000000;
    };

    // They run on the io_context; replacing them waits for a running one to return.
    struct Callbacks {
        std::function<void(const std::string& peer)> onConnected;
        std::function<void()> onDisconnected;
        std::function<void(const LibraryMessage&)> onMessage;  // everything the library sends
        std::function<void(const CommandRecord&)> onCommand;
        std::function<void(std::uint64_t sequence, SteadyClock::duration latency)> onAck;
    };

    SimulatedTerminal(boost::asio::io_context& io, Options options);
    ~SimulatedTerminal();  // stops; no callback runs once it returns
    SimulatedTerminal(const SimulatedTerminal&) = delete;
    SimulatedTerminal& operator=(const SimulatedTerminal&) = delete;

    void setCallbacks(Callbacks callbacks);
    // Binds and listens (address reuse on); once only. False with a reason for a
    // non-loopback address or a failed bind. A new connection replaces the current one.
    bool start(std::string* error = nullptr);

    void setBehaviour(const Behaviour& behaviour);
    Behaviour behaviour() const;

    // Data frames. Each gets the next sequence number (1, 2, ...), which is returned and
    // keys its FrameTiming. A frame sent while no library is connected is counted in
    // framesNotSent and gets no timing.
    std::uint64_t sendDataFrame(const std::string& body);  // checksum as the behaviour says
    std::uint64_t sendDataFrame(const std::string& body, ChecksumMode mode);
    std::uint64_t sendRecord(char recordClass, char typeLetter, const std::string& fields);
    std::uint64_t sendPunch(const std::string& card);  // see punchBody()

    // Punches timer-driven at this rate while a library is connected, with cards
    // cardPrefix + six-digit sequence. A rate of 0 or less stops.
    void startPunching(double perSecond, std::string cardPrefix);
    void stopPunching();

    void sendBoot(BootReport report);
    void sendRaw(const std::string& bytes);

    void closeLink();      // orderly close of the current connection
    void resetLink();      // abortive close: the library sees a reset
    void stopListening();  // no further connections; the current one stays
    void stop();           // all of the above and no more punching

    const std::string& address() const;
    std::uint16_t port() const;  // the bound port once started
    bool isConnected() const;
    Counters counters() const;
    std::vector<CommandRecord> commands() const;
    std::map<std::uint64_t, FrameTiming> frameTimings() const;

private:
    class Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace terminal_sim
