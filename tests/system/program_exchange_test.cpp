// The real program between simulated terminals and the customer's side of the link files:
// links and their status messages, packets, commands and control commands, and input
// that makes no sense.
//
// Loopback addresses of this file: 127.65.x.x (links and packets), 127.66.x.x (packet
// batches), 127.67.x.x (closed and refused links), 127.68.x.x (commands), 127.69.x.x
// (bad input). Every simulated terminal listens on a free port of its own, written into
// the terminal list.

#include "platform/socket_error_mapping.h"
#include "system/program_harness.h"
#include "terminal_sim/frames.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <mutex>
#include <random>
#include <regex>

using namespace iplib::test;
using namespace terminal_sim;

namespace {

const TerminalClockReading kRecordTime{"091226", "101500"};

std::string punch(const std::string& addressDigits, const std::string& card) {
    return recordBody('1', 'M', kRecordTime, addressDigits, "01," + card + ",000001");
}

// The commands a terminal received apart from the clock settings, which the library sends
// on its own at every connection and synchronisation.
std::vector<std::string> commandTexts(const SimulatedTerminal& terminal) {
    std::vector<std::string> texts;
    for (const auto& c : terminal.commands())
        if (!c.text.empty() && c.text[0] != '\xB1' && c.text[0] != '\xBD') texts.push_back(c.text);
    return texts;
}

// One program on a root of its own with these terminals, and the customer's side.
struct Site {
    explicit Site(const std::vector<std::string>& terminals, bool logs = false) {
        if (logs) root.logEverything();
        root.writeTerminalList(terminals);
        program = std::make_unique<ProgramProcess>(root.root());
    }
    ProgramRoot root;
    std::unique_ptr<ProgramProcess> program;
    CustomerSide customer{root.configFolder()};
};

// Everything the library sent to one terminal, in order.
class MessageLog {
public:
    explicit MessageLog(SimulatedTerminal& terminal) {
        SimulatedTerminal::Callbacks callbacks;
        callbacks.onMessage = [this](const LibraryMessage& m) {
            std::lock_guard lock(mutex_);
            messages_.push_back(m);
        };
        terminal.setCallbacks(std::move(callbacks));
    }
    std::vector<LibraryMessage> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<LibraryMessage> messages_;
};

}  // namespace

TEST(ProgramLinks, ConnectsKeepsAliveAcknowledgesEveryFrameAndDeliversEachOnce) {
    TerminalThread simulators;
    auto ethernet = simulators.startTerminal("127.65.0.2", {}, "07");
    auto cellular = simulators.startTerminal("127.65.0.3");
    Site site({terminalLine("0001", "127.65.0.2", ethernet->port()),
               terminalLine("0002", "127.65.0.3", cellular->port(), "0", "Cellular")},
              true);
    auto& customer = site.customer;
    ASSERT_TRUE(customer.waitForMessage("0001,01-CONNECT\x03")) << site.program->output();
    ASSERT_TRUE(customer.waitForMessage("0002,01-CONNECT\x03"));

    // Each slot is visited about every 5 s while connected.
    EXPECT_TRUE(eventually([&] { return ethernet->counters().plainKeepAlives > 0; }));
    EXPECT_TRUE(eventually([&] { return cellular->counters().cellularKeepAlives > 0; }));
    EXPECT_EQ(ethernet->counters().cellularKeepAlives, 0u);
    EXPECT_EQ(cellular->counters().plainKeepAlives, 0u);

    waitForClockSettings(*ethernet);
    // The terminal writes its own address "07"; the packet carries the number's "01".
    const std::string first = dataFrame(punch("07", "4711"));
    ethernet->sendDataFrame(punch("07", "4711"));
    const std::string delivered = deliveredPacket("0001", first);
    ASSERT_EQ(delivered.substr(5 + 15, 2), "01");
    ASSERT_TRUE(customer.waitForPacket(delivered));
    EXPECT_TRUE(eventually([&] { return ethernet->counters().acks == 1; }));

    // The same frame again: acknowledged, not delivered. The next, different frame shows
    // that the repeat was dealt with.
    ethernet->sendDataFrame(punch("07", "4711"));
    EXPECT_TRUE(eventually([&] { return ethernet->counters().acks == 2; }));
    ethernet->sendDataFrame(punch("07", "4712"));
    ASSERT_TRUE(customer.waitForPacket(deliveredPacket("0001", dataFrame(punch("07", "4712")))));
    EXPECT_EQ(countOf(customer.packets(), delivered), 1u);

    // A bad checksum: acknowledged, logged, dropped.
    const std::string bad = dataFrame(punch("07", "4713"), ChecksumMode::Wrong);
    ethernet->sendDataFrame(punch("07", "4713"), ChecksumMode::Wrong);
    EXPECT_TRUE(eventually([&] { return ethernet->counters().acks == 4; }));
    EXPECT_TRUE(eventually([&] { return site.root.log("VSK_").find(asLogged("PAQ BAD NAK:" + bad)) != std::string::npos; }))
        << site.root.log("VSK_");
    ethernet->sendDataFrame(punch("07", "4714"));
    ASSERT_TRUE(customer.waitForPacket(deliveredPacket("0001", dataFrame(punch("07", "4714")))));
    for (const auto& packet : customer.packets()) EXPECT_EQ(packet.find(",4713,"), std::string::npos) << packet;
    EXPECT_EQ(customer.packets().size(), 3u);

    EXPECT_TRUE(eventually([&] { return ethernet->counters().acks == 5; }));
    EXPECT_EQ(ethernet->counters().unmatchedAcks, 0u);
    EXPECT_EQ(site.program->terminate(), 0) << site.program->tail();
}

TEST(ProgramLinks, PacketsGatherInTheWorkFileWhileTheReadyFileIsUnreadAndFollowInOneBatch) {
    TerminalThread simulators;
    auto terminal = simulators.startTerminal("127.66.0.2");
    Site site({terminalLine("0001", "127.66.0.2", terminal->port())});
    ASSERT_TRUE(site.customer.waitForMessage("0001,01-CONNECT\x03")) << site.program->output();
    const std::string ready = site.root.file("FILE_PAQ.OK");
    const std::string work = site.root.file("FILE_PAQ.TMP");
    auto packet = [](const std::string& card) { return deliveredPacket("0001", dataFrame(punch("01", card))); };
    waitForClockSettings(*terminal);

    terminal->sendDataFrame(punch("01", "1001"));
    ASSERT_TRUE(eventually([&] { return crlfLines(readFile(ready)) == std::vector{packet("1001")}; }));

    // The customer's software has not read the ready file yet.
    for (const char* card : {"1002", "1003", "1004"}) terminal->sendDataFrame(punch("01", card));
    const std::vector batch{packet("1002"), packet("1003"), packet("1004")};
    EXPECT_TRUE(eventually([&] { return crlfLines(readFile(work)) == batch; })) << readFile(work);
    EXPECT_EQ(crlfLines(readFile(ready)), std::vector{packet("1001")});

    std::filesystem::remove(ready);
    EXPECT_TRUE(eventually([&] { return crlfLines(readFile(ready)) == batch; })) << readFile(ready);
    EXPECT_FALSE(exists(work));
    EXPECT_EQ(site.program->terminate(), 0) << site.program->tail();
}

TEST(ProgramLinks, ClosedAndRefusedLinksAreReportedAndTriedAgain) {
    TerminalThread simulators;
    auto terminal = simulators.startTerminal("127.67.0.2");
    ClosedPort closed;
    Site site({terminalLine("0001", "127.67.0.2", terminal->port()),
               terminalLine("0002", "127.67.0.3", closed.port())});
    auto& customer = site.customer;
    ASSERT_TRUE(customer.waitForMessage("0001,01-CONNECT\x03")) << site.program->output();

    const auto refused = iplib::socketErrorFromErrno(ECONNREFUSED);
    ASSERT_EQ(refused.number, 10061);
    EXPECT_TRUE(customer.waitForMessage("0002,03-ERR[10061]:" + refused.description + ETX));

    terminal->closeLink();
    EXPECT_TRUE(customer.waitForMessage("0001,02-CLOSE\x03"));
    // The terminal still listens: the next visit of its slot connects again.
    EXPECT_TRUE(eventually([&] { return countOf(customer.messages(), "0001,01-CONNECT\x03") == 2; }));
    EXPECT_EQ(site.program->terminate(), 0) << site.program->tail();
}

TEST(ProgramCommands, CommandLinesReachTheTerminalInOrderAfterPollAndEnquiry) {
    TerminalThread simulators;
    auto terminal = simulators.startTerminal("127.68.0.2");
    MessageLog received(*terminal);
    Site site({terminalLine("0001", "127.68.0.2", terminal->port())});
    ASSERT_TRUE(site.customer.waitForMessage("0001,01-CONNECT\x03")) << site.program->output();

    ASSERT_TRUE(site.customer.sendCommands({"0001,HELLO[", "0001,WORLD["}));
    ASSERT_TRUE(eventually([&] { return commandTexts(*terminal).size() >= 2; }));
    EXPECT_EQ(commandTexts(*terminal), (std::vector<std::string>{"HELLO1", "WORLD1"}));
    EXPECT_EQ(terminal->counters().badCommandChecksums, 0u);
    EXPECT_TRUE(site.customer.commandFileTaken());

    // Each command frame went out after a poll that the terminal answered.
    const auto messages = received.messages();
    for (const char* text : {"HELLO1", "WORLD1"}) {
        const auto frame = std::find_if(messages.begin(), messages.end(), [&](const LibraryMessage& m) {
            return m.kind == LibraryMessage::Kind::Command && m.text == text;
        });
        ASSERT_NE(frame, messages.end()) << text;
        const auto before = std::find_if(std::make_reverse_iterator(frame), messages.rend(), [](const LibraryMessage& m) {
            return m.kind == LibraryMessage::Kind::Command || m.kind == LibraryMessage::Kind::Poll;
        });
        ASSERT_NE(before, messages.rend()) << text;
        EXPECT_EQ(before->kind, LibraryMessage::Kind::Poll) << text;
    }
    EXPECT_EQ(site.program->terminate(), 0) << site.program->tail();
}

TEST(ProgramCommands, ControlCommandsAnswerInTheMessageFile) {
    TerminalThread simulators;
    auto terminal = simulators.startTerminal("127.68.1.2");
    ClosedPort closed;  // terminals added below never connect
    const std::string port = std::to_string(closed.port());
    Site site({terminalLine("0001", "127.68.1.2", terminal->port())});
    auto& customer = site.customer;
    ASSERT_TRUE(customer.waitForMessage("0001,01-CONNECT\x03")) << site.program->output();

    // In file order; each line's answer follows the previous one's.
    const std::vector<std::pair<std::string, std::string>> table = {
        {"A,12,127.68.1.50," + port + ",0,Ethernet", "0000,10-ADD,0012,127.68.1.50," + port + ",0,Ethernet,01-OK"},
        {"A,12,127.68.1.50," + port + ",0,Ethernet", "0000,10-ADD,12,127.68.1.50," + port + ",0,Ethernet,02-EXIST"},
        {"A,14,127.68.1.51," + port + ",0,ethernet", "0000,10-ADD,14,127.68.1.51," + port + ",0,ethernet,04-TYPE_ERROR"},
        {"A,13,127.68.1.52," + port + ",0,Ethernet", "0000,10-ADD,0013,127.68.1.52," + port + ",0,Ethernet,01-OK"},
        {"?", "0000,06-0001=1,0012=0,0013=0,"},
        {"R,12,13", "0000,07-RENAME,0012,0013,02-0013 EXIST"},
        {"D,55", "0000,11-DEL,55,03-NOT EXIST"},
        {"0099,X", "0099,05-NOT_FOUND"},
        {"0012,HELLO", "0012,03-ERR[9999]:SEND COMM TO ERR QBX [VESKAL_MSG]"},
        {"D,12", "0000,11-DEL,12,01-OK"},
        {"R,12,13", "0000,07-RENAME,0012,0013,03-0012 NOT EXIST"},
    };
    std::vector<std::string> lines{"#"};
    for (const auto& [line, answer] : table) lines.push_back(line);
    ASSERT_TRUE(customer.sendCommands(lines));
    ASSERT_TRUE(customer.waitForMessage(table.back().second + ETX)) << ::testing::PrintToString(customer.messages());

    // Other messages (the links of the added terminals) may come in between.
    const auto& messages = customer.messages();
    auto at = std::find_if(messages.begin(), messages.end(), [](const std::string& m) {
        return std::regex_match(m, std::regex("0000,08-#OK \\d\\d:\\d\\d:\\d\\d\x03"));
    });
    ASSERT_NE(at, messages.end()) << ::testing::PrintToString(messages);
    for (const auto& [line, answer] : table) {
        const auto found = std::find(at, messages.end(), answer + ETX);
        EXPECT_NE(found, messages.end()) << line << " should answer " << answer;
        if (found != messages.end()) at = found;
        EXPECT_EQ(countOf(messages, answer + ETX), 1u) << answer;
    }

    // Added, deleted and kept terminals are in the saved list.
    const auto saved = crlfLines(readFile(site.root.file("TCPIP.CFG")));
    ASSERT_EQ(saved.size(), 17u) << readFile(site.root.file("TCPIP.CFG"));
    EXPECT_EQ(saved[15].rfind("0001,127.68.1.2,", 0), 0u);
    EXPECT_EQ(saved[16].rfind("0013,127.68.1.52," + port + ",=", 0), 0u);

    // "Q" ends the library at once.
    ASSERT_TRUE(customer.sendCommands({"Q"}));
    EXPECT_EQ(site.program->waitForExit(6s), 0) << site.program->tail();
}

TEST(ProgramCommands, TerminalInAnotherTimeZoneGetsItsTimeOnConnecting) {
    TerminalThread simulators;
    auto terminal = simulators.startTerminal("127.68.2.2");
    Site site({terminalLine("0001", "127.68.2.2", terminal->port(), "-05:00")});
    std::optional<CommandRecord> timeSet;
    ASSERT_TRUE(eventually([&] {
        for (const auto& c : terminal->commands())
            if (!c.text.empty() && c.text[0] == '\xB1') timeSet = c;
        return timeSet.has_value();
    })) << site.program->output();
    const std::time_t now = std::time(nullptr);

    EXPECT_TRUE(timeSet->checksumOk);
    ASSERT_EQ(timeSet->text.size(), 7u);
    ASSERT_TRUE(std::regex_match(timeSet->text.substr(1), std::regex("\\d{6}"))) << timeSet->text;
    const int sent = std::stoi(timeSet->text.substr(1, 2)) * 3600 + std::stoi(timeSet->text.substr(3, 2)) * 60 +
                     std::stoi(timeSet->text.substr(5, 2));
    std::tm local{};
    const std::time_t shifted = now - 5 * 3600;
    localtime_r(&shifted, &local);
    const int expected = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    // Compared on the 24-hour circle, so that midnight makes no difference.
    int difference = (sent - expected) % 86400;
    if (difference > 43200) difference -= 86400;
    if (difference < -43200) difference += 86400;
    EXPECT_LE(std::abs(difference), 3) << "sent " << timeSet->text.substr(1) << " at local time " << std::ctime(&now);
    EXPECT_EQ(site.program->terminate(), 0) << site.program->tail();
}

TEST(ProgramCommands, SilentTerminalIsDroppedAfterTwentyPollsAndGetsTheCommandOnceBack) {
    TerminalThread simulators;
    auto terminal = simulators.startTerminal("127.68.3.2");
    Site site({terminalLine("0001", "127.68.3.2", terminal->port())}, true);
    ASSERT_TRUE(site.customer.waitForMessage("0001,01-CONNECT\x03")) << site.program->output();
    // The clock settings sent on connecting are through.
    ASSERT_TRUE(eventually([&] { return terminal->counters().commands >= 2; }));

    Behaviour silent;
    silent.answerPolls = false;
    terminal->setBehaviour(silent);
    const auto pollsBefore = terminal->counters().polls;
    ASSERT_TRUE(site.customer.sendCommands({"0001,WAIT["}));
    // Answer timeout 4 tenths: 20 polls fit in 8 seconds. The 20th turn without an answer
    // drops the link in place of its poll.
    ASSERT_TRUE(eventually([&] { return site.root.log("ERR_").find("\tReconnect QBX no answer:127.68.3.2\t") !=
                                        std::string::npos; },
                           20s))
        << site.root.log("ERR_");
    // One more when a poll that was answered crossed the change of behaviour.
    const auto unanswered = terminal->counters().polls - pollsBefore;
    EXPECT_GE(unanswered, 19u);
    EXPECT_LE(unanswered, 20u);
    EXPECT_TRUE(commandTexts(*terminal).empty());

    terminal->setBehaviour({});
    EXPECT_TRUE(eventually([&] { return commandTexts(*terminal) == std::vector<std::string>{"WAIT1"}; }, 20s));
    EXPECT_GE(terminal->counters().connections, 2u);
    EXPECT_EQ(site.program->terminate(), 0) << site.program->tail();
}

TEST(ProgramBadInput, NoiseAndEndlessBytesFromATerminalLeaveTheNextGoodFrameDeliveredOnce) {
    TerminalThread simulators;
    auto terminal = simulators.startTerminal("127.69.0.2");
    Site site({terminalLine("0001", "127.69.0.2", terminal->port())});
    ASSERT_TRUE(site.customer.waitForMessage("0001,01-CONNECT\x03")) << site.program->output();

    std::mt19937 random(4711);
    std::string noise(64 * 1024, '\0');
    for (char& c : noise) c = static_cast<char>(random() & 0xFF);
    terminal->sendRaw(noise);
    for (int i = 0; i < 20; ++i) terminal->sendRaw(std::string(10 * 1024, 'A'));  // never an ETX

    // What the noise leaves in the receive buffer may swallow a frame (an overfull buffer
    // is emptied), and the noise may even make the library drop the link: the frame is
    // sent again until it arrives. A repeat is never delivered twice.
    const std::string packet = deliveredPacket("0001", dataFrame(punch("01", "9999")));
    ASSERT_TRUE(eventually(
        [&] {
            if (terminal->isConnected()) terminal->sendDataFrame(punch("01", "9999"));
            return site.customer.waitForPacket(packet, 1s);
        },
        30s))
        << site.program->output().substr(0, 4000);
    EXPECT_TRUE(site.program->running());
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(countOf(site.customer.packets(), packet), 1u);
    EXPECT_EQ(site.program->terminate(), 0) << site.program->tail();
}

TEST(ProgramBadInput, CommandFileOf10001LinesRunsTheFirst10000AndIsDeleted) {
    Site site({});
    ASSERT_TRUE(site.program->waitUntilRunning()) << site.program->output();
    std::string content;
    for (int i = 0; i < 10001; ++i) content += "#\x03\r\n";
    ASSERT_TRUE(site.customer.sendCommandFile(content));
    ASSERT_TRUE(site.customer.commandFileTaken(30s));
    // A later command's answer comes after every answer of the big file.
    ASSERT_TRUE(site.customer.sendCommands({"D,77"}));
    ASSERT_TRUE(site.customer.waitForMessage("0000,11-DEL,77,03-NOT EXIST\x03", 30s));
    EXPECT_EQ(site.customer.messagesStartingWith("0000,08-#OK ").size(), 10000u);
    EXPECT_EQ(site.program->terminate(), 0) << site.program->tail();
}
