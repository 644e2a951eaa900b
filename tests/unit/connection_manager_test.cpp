// Opening, keeping and re-opening the terminal links, with their state texts, error-log
// lines and status messages.
#include "support/library_fixture.h"

#include <gtest/gtest.h>

using namespace iplib;
using iplib::testing::LibraryFixture;

namespace {

std::string messages(LibraryFixture& f) { return f.readConfig("FILE_MSG.OK") + f.readConfig("FILE_MSG.TMP"); }

TEST(ConnectionManager, LoadingConnectsEveryTerminalAndAConnectionIsReported) {
    LibraryFixture f;
    f.startWith({"0001,127.0.0.5,1024,=X,0,Ethernet", "0002,127.0.0.6,1025,=X,0,Cellular"});
    ASSERT_EQ(f.network.links.size(), 2u);
    EXPECT_EQ(f.network.links[1]->port, 1025);
    EXPECT_NE(f.library->registry().line(0).find("=TRY TO CONNECT 12-09-2026 10:00:00"), std::string::npos);
    f.connect("127.0.0.5");
    f.tick();
    EXPECT_EQ(messages(f), "0001,01-CONNECT\x03\r\n");
    EXPECT_EQ(f.library->registry().state(0).linkState, LinkState::Connected);
    EXPECT_NE(f.library->registry().line(0).find("=IP CONNECTION OK"), std::string::npos);
    EXPECT_NE(f.library->logs().errorList().back().find("CONNECT "), std::string::npos);
}

TEST(ConnectionManager, KeepAliveIsSentOnEachVisitOfAConnectedTerminal) {
    LibraryFixture f;
    f.startWith({"0001,127.0.0.5,1024,=X,0,Ethernet", "0002,127.0.0.6,1024,=X,0,Cellular"});
    auto plain = f.connect("127.0.0.5");
    auto cellular = f.connect("127.0.0.6");
    plain->takeSent();
    cellular->takeSent();
    for (int i = 0; i < 1001; ++i) f.library->connectionTimerTick();
    EXPECT_EQ(plain->takeSent(), frames::PlainKeepAlive + frames::PlainKeepAlive);
    EXPECT_EQ(cellular->takeSent(), frames::CellularKeepAlive + frames::CellularKeepAlive);
}

TEST(ConnectionManager, ARefusedConnectionIsReportedAndRetriedNineTicksEarly) {
    LibraryFixture f;
    f.startWith({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    f.library->logs().setAll(true);
    f.link("127.0.0.5")->fail(10061, "Connection is forcefully rejected");
    f.tick();
    EXPECT_EQ(messages(f), "0001,03-ERR[10061]:Connection is forcefully rejected\x03\r\n");
    EXPECT_NE(f.library->registry().line(0).find("=Connection is forcefully rejected "), std::string::npos);
    EXPECT_NE(f.library->op().shownError().find("0001- Connection is forcefully rejected"), std::string::npos);
    ASSERT_EQ(f.network.datagrams.size(), 1u);  // the board reset
    EXPECT_EQ(f.network.datagrams[0].bytes, std::string("\xFE\xFF\x06") + "127.0.0.5");
    EXPECT_EQ(f.network.datagrams[0].port, 1024);
    const std::size_t before = f.network.links.size();
    int ticks = 0;
    while (f.network.links.size() == before && ticks < 1000) {
        f.library->connectionTimerTick();
        ++ticks;
    }
    EXPECT_EQ(ticks, 500 - 9);
}

TEST(ConnectionManager, APeerThatClosesIsReportedAndReconnectedLater) {
    LibraryFixture f;
    f.startWith({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    auto t = f.connect("127.0.0.5");
    t->peerCloses();
    f.tick();
    EXPECT_EQ(messages(f), "0001,01-CONNECT\x03\r\n0001,02-CLOSE\x03\r\n");
    EXPECT_EQ(f.library->registry().state(0).linkState, LinkState::Down);
    EXPECT_EQ(t->state, SocketState::Closed);
    const std::size_t before = f.network.links.size();
    for (int i = 0; i < 500; ++i) f.library->connectionTimerTick();
    EXPECT_EQ(f.network.links.size(), before + 1);
}

TEST(ConnectionManager, APendingAttemptIsClosedOnOneVisitAndReopenedOnTheNext) {
    LibraryFixture f;
    f.startWith({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    for (int i = 0; i < 500; ++i) f.library->connectionTimerTick();
    EXPECT_EQ(f.network.links.size(), 1u);
    EXPECT_EQ(f.network.links[0]->state, SocketState::Closed);
    EXPECT_NE(f.library->registry().line(0).find("=TRY TO CLOSE"), std::string::npos);
    EXPECT_EQ(f.library->registry().state(0).linkState, LinkState::Closing);
    for (int i = 0; i < 500; ++i) f.library->connectionTimerTick();
    EXPECT_EQ(f.network.links.size(), 2u);
}

TEST(ConnectionManager, FifteenFailedReconnectsResetTheBoardFiveTimes) {
    LibraryFixture f;
    f.startWith({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    for (int attempt = 1; attempt <= 15; ++attempt) {
        f.network.links.back()->fail(10060, "Connection timed out");
        const std::size_t before = f.network.links.size();
        while (f.network.links.size() == before) f.library->connectionTimerTick();
    }
    // One reset per failure, and five more at the fifteenth.
    EXPECT_EQ(f.network.datagrams.size(), 15u + 5u);
    EXPECT_NE(f.library->logs().errorList().back().find("Reset by UDP TCP ONLY: 127.0.0.5"), std::string::npos);
    EXPECT_EQ(f.library->registry().reconnectFailureCount(0), 0);
}

TEST(ConnectionManager, AnInternetSlotIsNeverDialledButIsKeptAlive) {
    LibraryFixture f;
    f.startWith({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    const int slot = f.library->registry().addTerminal("9001,0.0.0.0,0,=X,0,Internet");
    const std::size_t before = f.network.links.size();
    for (int i = 0; i < 2000; ++i) f.library->connectionTimerTick();
    for (std::size_t i = before; i < f.network.links.size(); ++i)
        EXPECT_NE(f.network.links[i]->address, "0.0.0.0");
    EXPECT_EQ(f.library->registry().state(slot).socket, nullptr);
}

}  // namespace
