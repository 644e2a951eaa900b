// The simulated terminal, checked from the library's side of the wire with a plain Asio
// client, so that the library's own tests can trust their partner.

#include "terminal_sim/fleet.h"
#include "terminal_sim/simulator.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using namespace std::chrono_literals;
using namespace terminal_sim;

constexpr auto kPatience = 10s;  // only ever reached when something is broken

bool eventually(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// The library's end of one link, reduced to bytes in and bytes out.
class LibraryEnd {
public:
    explicit LibraryEnd(const SimulatedTerminal& terminal) : socket_(io_) {
        socket_.connect(tcp::endpoint(asio::ip::make_address(terminal.address()), terminal.port()));
    }

    void send(std::string_view bytes) { asio::write(socket_, asio::buffer(bytes.data(), bytes.size())); }

    void sendByteByByte(std::string_view bytes) {
        for (char byte : bytes) send(std::string_view(&byte, 1));
    }

    // Everything up to and including the next `delimiter`; empty on timeout or close.
    std::string readThrough(char delimiter) {
        auto deadline = std::chrono::steady_clock::now() + kPatience;
        for (;;) {
            auto at = buffered_.find(delimiter);
            if (at != std::string::npos) {
                std::string through = buffered_.substr(0, at + 1);
                buffered_.erase(0, at + 1);
                return through;
            }
            if (!readMore(deadline)) return {};
        }
    }

    // The error that ended reading: eof for an orderly close, connection_reset for a reset.
    boost::system::error_code waitForEnd() {
        auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (readMore(deadline)) {
        }
        return lastError_;
    }

private:
    bool readMore(std::chrono::steady_clock::time_point deadline) {
        std::array<char, 1024> chunk;
        std::size_t got = 0;
        bool done = false;
        socket_.async_read_some(asio::buffer(chunk), [&](boost::system::error_code ec, std::size_t size) {
            lastError_ = ec;
            got = size;
            done = true;
        });
        io_.restart();
        io_.run_until(deadline);
        if (!done) {
            socket_.cancel();
            io_.restart();
            io_.run();
        }
        buffered_.append(chunk.data(), got);
        return got > 0;
    }

    asio::io_context io_;
    tcp::socket socket_;
    std::string buffered_;
    boost::system::error_code lastError_;
};

// One terminal on a free port, running on a thread of its own.
struct OneTerminal {
    explicit OneTerminal(const std::string& address, Behaviour behaviour = {})
        : fleet([&] {
              Fleet::Options options;
              options.firstAddress = address;
              options.port = 0;
              options.terminal.behaviour = behaviour;
              return options;
          }()) {
        std::string error;
        started = fleet.start(&error);
        EXPECT_TRUE(started) << error;
    }
    SimulatedTerminal& terminal() { return fleet[0]; }

    Fleet fleet;
    bool started = false;
};

std::string badChecksum(std::string frame) {
    frame[frame.size() - 2] = frame[frame.size() - 2] == '0' ? '1' : '0';
    return frame;
}

bool checksumHolds(const std::string& frame) {
    return frame.size() >= 4 && frame.front() == bytes::STX && frame.back() == bytes::ETX &&
           frameChecksum(frame.substr(0, frame.size() - 3)) == frame.substr(frame.size() - 3, 2);
}

// The fields after the first comma of a punch frame: card and sequence.
std::string punchTail(const std::string& frame) {
    auto comma = frame.find(',');
    return comma == std::string::npos ? "" : frame.substr(comma + 1, frame.size() - comma - 4);
}

TEST(TerminalFrames, ChecksumsAndFrameLayout) {
    struct Case { std::string bytes; std::string checksum; };
    const Case checksums[] = {
        {"\x02" "A", "43"},
        {std::string(kPoll), "B9"},
        {"\xFF\xFF", "FE"},  // sum 0x1FE keeps its last two digits
        {"\x07", "07"},
    };
    for (const auto& c : checksums) EXPECT_EQ(frameChecksum(c.bytes), c.checksum) << escapeForDisplay(c.bytes);

    EXPECT_EQ(dataFrame("A"), "\x02" "A43\x03");
    EXPECT_EQ(dataFrame("A", ChecksumMode::Unknown), "\x02" "A??\x03");
    EXPECT_EQ(dataFrame("A", ChecksumMode::Wrong), "\x02" "A44\x03");
    EXPECT_EQ(commandFrame("MSG12,X["), "\x02MSG12,X[" + frameChecksum("\x02MSG12,X[") + "\x03");

    // Counting STX as position 1: class 2, type 3, date 4-9, time 10-15, address 16-17.
    std::string punch = dataFrame(punchBody({"120926", "143000"}, "07", "4711", 42));
    EXPECT_EQ(punch.substr(1, 16), "1M12092614300007");
    EXPECT_EQ(punchTail(punch), "4711,000042");
    EXPECT_EQ(escapeForDisplay("A\x02%\xB1"), "A%2%%37%%177%");
}

TEST(LibraryStream, SameMessagesWhateverTheSplit) {
    using Kind = LibraryMessage::Kind;
    const std::string stream = std::string("Z") + bytes::SOH + std::string(kPoll) + commandFrame("MSG12,X[") +
                               badChecksum(commandFrame("BAD")) + bytes::ACK + bytes::PlainKeepAlive +
                               std::string(kPoll) + std::string(kCellularKeepAlive) + std::string(kBootInit) +
                               commandFrame("\xB1" "123456\x01\xFE") + bytes::PlainKeepAlive;
    const std::vector<LibraryMessage> expected = {
        {Kind::Poll, "", true, 0},
        {Kind::Command, "MSG12,X[", true, 0},
        {Kind::Command, "BAD", false, 0},
        {Kind::Ack, "", true, 0},
        {Kind::PlainKeepAlive, "", true, 0},
        {Kind::Poll, "", true, 0},
        {Kind::CellularKeepAlive, "", true, 0},
        {Kind::BootInit, "", true, 0},
        {Kind::Command, "\xB1" "123456\x01\xFE", true, 0},
        {Kind::PlainKeepAlive, "", true, 0},  // the lone FE at the end, once the line is quiet
    };
    for (std::size_t piece : {stream.size(), std::size_t{1}, std::size_t{3}}) {
        LibraryStreamParser parser;
        std::vector<LibraryMessage> messages;
        for (std::size_t at = 0; at < stream.size(); at += piece)
            parser.feed(std::string_view(stream).substr(at, piece), messages);
        ASSERT_TRUE(parser.holdsLoneKeepAlive());
        parser.flushLoneKeepAlive(messages);

        std::vector<LibraryMessage> recognised;
        std::size_t unexpected = 0;
        for (const auto& message : messages) {
            if (message.kind == Kind::Unexpected)
                unexpected += message.byteCount;
            else
                recognised.push_back(message);
        }
        EXPECT_EQ(recognised, expected) << "pieces of " << piece;
        EXPECT_EQ(unexpected, 2u) << "pieces of " << piece;  // "Z" and the extra SOH
    }
}

TEST(LibraryStream, FrameWithoutEndIsBoundedAndReadingRecovers) {
    LibraryStreamParser parser(64);
    std::vector<LibraryMessage> messages;
    parser.feed(std::string(1, bytes::STX) + std::string(1000, 'x'), messages);
    EXPECT_LE(parser.heldBytes(), 64u);
    parser.feed(kPoll, messages);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().kind, LibraryMessage::Kind::Poll);
    std::size_t unexpected = 0;
    for (const auto& message : messages) unexpected += message.byteCount;
    EXPECT_EQ(unexpected, 1001u);
}

TEST(SimulatedTerminal, RecordsWhatTheLibrarySendsAndTimesItsAcks) {
    OneTerminal sim("127.0.0.2");
    ASSERT_TRUE(sim.started);
    auto& terminal = sim.terminal();
    LibraryEnd library(terminal);
    ASSERT_TRUE(eventually([&] { return terminal.isConnected(); }));

    library.sendByteByByte(kPoll);
    EXPECT_EQ(library.readThrough(bytes::ENQ), std::string(1, bytes::ENQ));
    library.sendByteByByte(commandFrame("MSG12,X["));
    EXPECT_EQ(library.readThrough(bytes::ACK), std::string(1, bytes::ACK));

    library.send(badChecksum(commandFrame("NOPE")) + std::string(kCellularKeepAlive) + std::string(kBootInit));
    library.sendByteByByte(std::string(1, bytes::PlainKeepAlive));
    ASSERT_TRUE(eventually([&] { return terminal.counters().plainKeepAlives == 1; }));
    Counters counters = terminal.counters();
    EXPECT_EQ(counters.polls, 1u);
    EXPECT_EQ(counters.commands, 2u);
    EXPECT_EQ(counters.badCommandChecksums, 1u);
    EXPECT_EQ(counters.cellularKeepAlives, 1u);
    EXPECT_EQ(counters.bootInits, 1u);
    EXPECT_EQ(counters.unexpectedBytes, 0u);
    auto commands = terminal.commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].text, "MSG12,X[");
    EXPECT_TRUE(commands[0].checksumOk);
    EXPECT_EQ(commands[1].text, "NOPE");
    EXPECT_FALSE(commands[1].checksumOk);

    // The punch is the next thing on the wire: the bad command got no ACK.
    std::uint64_t sequence = terminal.sendPunch("4711");
    std::string frame = library.readThrough(bytes::ETX);
    EXPECT_TRUE(checksumHolds(frame)) << escapeForDisplay(frame);
    char tail[32];
    std::snprintf(tail, sizeof tail, "4711,%06llu", static_cast<unsigned long long>(sequence));
    EXPECT_EQ(punchTail(frame), tail);
    EXPECT_FALSE(terminal.frameTimings().at(sequence).ackedAt);

    library.send(std::string(1, bytes::ACK));
    ASSERT_TRUE(eventually([&] { return terminal.frameTimings().at(sequence).ackedAt.has_value(); }));
    EXPECT_EQ(terminal.counters().acks, 1u);
    EXPECT_EQ(terminal.counters().unmatchedAcks, 0u);
}

TEST(SimulatedTerminal, BehaviourDecidesTheAnswer) {
    Behaviour silent;
    silent.answerPolls = false;
    silent.ackCommands = false;
    Behaviour aborting;
    aborting.abortInsteadOfAnswer = true;
    Behaviour echoing;
    echoing.echoCellularKeepAlives = true;
    const std::string poll(kPoll);
    const std::string command = commandFrame("\x07");
    const std::string keepAlive(kCellularKeepAlive);

    struct Case { const char* name; Behaviour behaviour; std::string stimulus; std::string answer; };
    const Case cases[] = {
        {"poll", {}, poll, "\x05"},
        {"command", {}, command, "\x06"},
        {"command with bad checksum", {}, badChecksum(command), ""},
        {"keep-alive", {}, keepAlive, ""},
        {"silent poll", silent, poll, ""},
        {"silent command", silent, command, ""},
        {"abort poll", aborting, poll, "\xE7"},
        {"abort command", aborting, command, "\xE7"},
        {"echoed keep-alive", echoing, keepAlive, keepAlive},
    };

    OneTerminal sim("127.0.0.3");
    ASSERT_TRUE(sim.started);
    auto& terminal = sim.terminal();
    LibraryEnd library(terminal);
    auto heard = [&] {
        Counters c = terminal.counters();
        return c.polls + c.commands + c.cellularKeepAlives;
    };
    for (const auto& c : cases) {
        terminal.setBehaviour(c.behaviour);
        auto before = heard();
        library.send(c.stimulus);
        ASSERT_TRUE(eventually([&] { return heard() == before + 1; })) << c.name;
        // The terminal answers as it reads, so an answer would be on the wire before this.
        terminal.sendRaw("#");
        EXPECT_EQ(library.readThrough('#'), c.answer + "#") << c.name;
    }
}

TEST(SimulatedTerminal, NewConnectionReplacesTheOldAndLinksCanBeReset) {
    OneTerminal sim("127.0.0.4");
    ASSERT_TRUE(sim.started);
    auto& terminal = sim.terminal();
    auto first = std::make_unique<LibraryEnd>(terminal);
    ASSERT_TRUE(eventually([&] { return terminal.counters().connections == 1; }));
    LibraryEnd second(terminal);
    EXPECT_EQ(first->waitForEnd(), asio::error::eof);
    EXPECT_TRUE(eventually([&] { return terminal.counters().connections == 2 && terminal.isConnected(); }));

    terminal.resetLink();
    EXPECT_EQ(second.waitForEnd(), asio::error::connection_reset);
    EXPECT_FALSE(terminal.isConnected());

    terminal.stopListening();
    EXPECT_TRUE(eventually([&] {
        try {
            LibraryEnd refused(terminal);
            return false;
        } catch (const boost::system::system_error&) {
            return true;
        }
    }));
}

TEST(Fleet, ConsecutiveLoopbackAddresses) {
    struct Case { std::string first; std::size_t k; std::optional<std::string> address; };
    const Case cases[] = {
        {"127.0.0.2", 0, "127.0.0.2"},
        {"127.0.0.2", 252, "127.0.0.254"},
        {"127.0.0.2", 253, "127.0.1.1"},
        {"127.0.0.2", 254 + 252, "127.0.1.254"},
        {"127.255.255.254", 1, std::nullopt},
        {"10.0.0.1", 0, std::nullopt},
        {"not an address", 0, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(nthLoopbackAddress(c.first, c.k), c.address) << c.first << " + " << c.k;
}

TEST(Fleet, EveryTerminalPunchesInUnbrokenSequence) {
    Fleet::Options options;
    options.count = 3;
    options.firstAddress = "127.0.0.5";
    options.port = 0;
    Fleet fleet(options);
    std::string error;
    ASSERT_TRUE(fleet.start(&error)) << error;

    constexpr int kPunches = 20;
    for (std::size_t i = 0; i < fleet.size(); ++i) {
        EXPECT_EQ(fleet[i].address(), "127.0.0." + std::to_string(5 + i));
        LibraryEnd library(fleet[i]);
        ASSERT_TRUE(eventually([&] { return fleet[i].isConnected(); }));
        fleet[i].startPunching(500, "K");
        for (int n = 1; n <= kPunches; ++n) {
            std::string frame = library.readThrough(bytes::ETX);
            ASSERT_TRUE(checksumHolds(frame)) << escapeForDisplay(frame);
            EXPECT_EQ(frame.substr(15, 2), "0" + std::to_string(i + 1));
            char expected[32];
            std::snprintf(expected, sizeof expected, "K%06d,%06d", n, n);
            EXPECT_EQ(punchTail(frame), expected);
            library.send(std::string(1, bytes::ACK));
        }
        fleet[i].stopPunching();
        EXPECT_TRUE(eventually([&] { return fleet[i].counters().acks == kPunches; }));
    }
}

}  // namespace
