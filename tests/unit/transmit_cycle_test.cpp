// The command exchange (poll, ENQ, command frame, ACK) and the silent-terminal rule,
// driven through a whole library with scripted terminal links.
#include "support/library_fixture.h"

#include <gtest/gtest.h>

using namespace iplib;
using iplib::testing::LibraryFixture;

namespace {

class TransmitCycleTest : public ::testing::Test {
protected:
    void start(std::vector<std::string> lines) {
        f.startWith(lines);
        for (std::size_t s = 0; s < lines.size(); ++s) {
            auto l = f.connect(f.library->registry().field(static_cast<int>(s), 2));
            f.library->registry().state(static_cast<int>(s)).commandQueue.clear();
            f.library->registry().state(static_cast<int>(s)).holdSeconds = 0;
            links.push_back(l);
        }
        f.tick();
        for (auto& l : links) l->takeSent();
    }
    SlotState& slot(int s) { return f.library->registry().state(s); }

    LibraryFixture f;
    std::vector<std::shared_ptr<iplib::testing::StubLinkState>> links;
};

TEST_F(TransmitCycleTest, PollEnqCommandAckThenTheNextCommandAtOnce) {
    start({"0012,127.0.0.5,1024,=X,0,Ethernet"});
    auto& t = *links[0];
    f.library->dispatcher().dispatch("0012,MSG[,X[\x03");
    f.library->dispatcher().dispatch("0012,SECOND");
    f.tick();  // the transmit cycle queues the poll...
    f.tick();  // ...which leaves at the next tick
    EXPECT_EQ(t.takeSent(), frames::Poll);
    EXPECT_EQ(slot(0).txState, TxState::Polled);
    t.peerSends("\x05");
    f.tick();
    EXPECT_EQ(t.takeSent(), frames::commandFrame("MSG[,X[", 12));
    EXPECT_EQ(slot(0).txState, TxState::CommandSent);
    t.peerSends("\x06");
    f.tick();
    EXPECT_EQ(t.takeSent(), frames::Poll);  // the second command is polled at once
    EXPECT_EQ(slot(0).commandQueue.size(), 1u);
    EXPECT_EQ(slot(0).currentCommand, "SECOND");
}

TEST_F(TransmitCycleTest, NoAnswerRepollsAfterTheTimeoutAndTheNthPollDropsTheLink) {
    start({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    auto& t = *links[0];
    ASSERT_EQ(f.library->settings().answerTimeout, 4);
    ASSERT_EQ(f.library->transmitCycle().noAnswerThreshold(), 20);
    f.library->dispatcher().dispatch("0001,HELLO");
    int polls = 0;
    for (int ms = 0; ms < 9000 && t.state == SocketState::Connected; ++ms) {
        f.tick();
        std::string sent = t.takeSent();
        for (std::size_t p = sent.find(frames::Poll); p != std::string::npos; p = sent.find(frames::Poll, p + 1)) ++polls;
    }
    EXPECT_EQ(polls, 19);  // the 20th is not sent: the link is dropped instead
    EXPECT_EQ(t.state, SocketState::Closed);
    EXPECT_NE(f.library->registry().line(0).find("=Reconnect QBX no answer"), std::string::npos);
    EXPECT_NE(f.library->logs().errorList().back().find("Reconnect QBX no answer:127.0.0.5"), std::string::npos);
    EXPECT_EQ(slot(0).commandQueue.front(), "0001\xFAHELLO");  // the command waits for the new link

    // The connection timer reconnects soon (ticks preset to 99), and the command goes out.
    const std::size_t linksBefore = f.network.links.size();
    int timerTicks = 0;
    while (f.network.links.size() == linksBefore && timerTicks < 1000) {
        f.library->connectionTimerTick();
        ++timerTicks;
    }
    EXPECT_EQ(timerTicks, 500 - 99);
    auto again = f.network.links.back();
    again->accept();
    f.library->registry().state(0).holdSeconds = 0;
    f.tick(1000);
    again->takeSent();
    // A poll is due again after its countdown; answer it this time.
    for (int i = 0; i < 1000 && again->sent.find(frames::Poll) == std::string::npos; ++i) f.tick();
    again->takeSent();
    again->peerSends("\x05");
    f.tick();
    EXPECT_NE(again->takeSent().find("HELLO"), std::string::npos);
}

TEST_F(TransmitCycleTest, ALongCommandIsPolledEverySecond) {
    start({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    f.library->settings().answerTimeout = 20;
    f.library->dispatcher().dispatch(std::string("0001,LONG\xCD"));
    f.tick();
    EXPECT_EQ(slot(0).protoCountdown, 10);
}

TEST_F(TransmitCycleTest, BroadcastExpandsIntoOneLinePerTerminalInSlotOrder) {
    start({"0001,127.0.0.5,1024,=X,0,Ethernet", "0002,127.0.0.6,1024,=X,0,Ethernet",
           "0005,127.0.0.7,1024,=X,0,Ethernet"});
    f.library->dispatcher().dispatch("*,TEST");
    ASSERT_EQ(slot(0).commandQueue.size(), 1u);
    f.library->transmitCycle().proto(0);
    // Slot 0 held the broadcast; after it come the expanded lines for 1, 2 and 5.
    ASSERT_EQ(slot(0).commandQueue.size(), 1u);
    EXPECT_EQ(slot(0).commandQueue[0], "1\xFATEST");
    EXPECT_EQ(slot(1).commandQueue.front(), "2\xFATEST");
    EXPECT_EQ(slot(2).commandQueue.front(), "5\xFATEST");
}

TEST_F(TransmitCycleTest, ACommandReachingAClosingLinkIsDroppedAndTheNextPolledAtOnce) {
    start({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    f.library->dispatcher().dispatch("0001,FIRST");
    f.library->dispatcher().dispatch("0001,SECOND");
    slot(0).linkState = LinkState::Closing;
    f.tick();
    f.tick();
    EXPECT_EQ(slot(0).commandQueue.size(), 1u);
    EXPECT_EQ(slot(0).currentCommand, "SECOND");
    EXPECT_EQ(slot(0).linkState, LinkState::Down);
    EXPECT_EQ(links[0]->takeSent(), frames::Poll);
}

TEST_F(TransmitCycleTest, TwentyFiveQueuedSendsTakeTwoTicks) {
    start({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    for (int i = 0; i < 25; ++i) f.library->transmitList().push_back({0, "x"});
    f.tick();
    EXPECT_EQ(links[0]->takeSent(), std::string(20, 'x'));
    f.tick();
    EXPECT_EQ(links[0]->takeSent(), std::string(5, 'x'));
}

TEST_F(TransmitCycleTest, ACellularTerminalIsNotPolledDuringItsFirstTwoSeconds) {
    f.startWith({"0001,127.0.0.5,1024,=X,0,Cellular"});
    auto t = f.connect("127.0.0.5");
    int firstPollMs = -1;
    for (int ms = 0; ms < 3500 && firstPollMs < 0; ++ms) {
        f.tick();
        if (t->sent.find(frames::Poll) != std::string::npos) firstPollMs = ms;
    }
    EXPECT_GE(firstPollMs, 1000);  // at least one whole second boundary, at most two
    EXPECT_LE(firstPollMs, 2100);
}

TEST_F(TransmitCycleTest, TheNoAnswerThresholdIsRoundedForEveryTimeout) {
    start({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    const std::pair<int, int> cases[] = {{4, 20}, {5, 16}, {8, 10}, {10, 8}, {16, 5}, {20, 4}, {3, 27}, {6, 13}, {7, 11}};
    for (auto [timeout, n] : cases) {
        f.library->settings().answerTimeout = timeout;
        EXPECT_EQ(f.library->transmitCycle().noAnswerThreshold(), n) << timeout;
    }
}

}  // namespace

namespace {

TEST_F(TransmitCycleTest, ThePrioritySlotIsServedFirstAndTheOthersInTheSameTick) {
    start({"0001,127.0.0.5,1024,=X,0,Ethernet", "0002,127.0.0.6,1024,=X,0,Ethernet"});
    f.library->dispatcher().dispatch("0001,A");
    f.library->dispatcher().dispatch("0002,B");
    f.library->mainCycle().prioritySlot() = 1;
    f.tick();
    EXPECT_EQ(f.library->transmitList().size(), 2u);
    EXPECT_EQ(f.library->transmitList().front().slot, 1);
    EXPECT_EQ(f.library->mainCycle().prioritySlot(), MainCycle::NoPriority);
}

}  // namespace
