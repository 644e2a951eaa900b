// The receive path driven through a whole library with scripted terminal links.
#include "support/library_fixture.h"

#include <gtest/gtest.h>

using namespace iplib;
using iplib::testing::LibraryFixture;

namespace {

const std::string T1 = "0001,127.0.0.5,1024,=X,0,Ethernet";
const std::string T2 = "0002,127.0.0.6,1024,=X,0,Cellular";

// A punch frame of type "M" with 19+ bytes, so its address gets rewritten.
std::string punch(const std::string& card) { return LibraryFixture::dataFrame("1M12092614300099" + card); }

class ReceivePathTest : public ::testing::Test {
protected:
    void SetUp() override {
        f.startWith({T1, T2});
        t1 = f.connect("127.0.0.5");
        ASSERT_TRUE(t1);
        // The clock commands of the connection are not what these tests look at.
        f.library->registry().state(0).commandQueue.clear();
        f.tick();
        t1->takeSent();
    }
    std::string packets() { return f.readConfig("FILE_PAQ.OK") + f.readConfig("FILE_PAQ.TMP"); }
    std::string expectedPacket(const std::string& card) {
        std::string frame = punch(card);
        frame[15] = '0';
        frame[16] = '1';
        return "0001," + frame + "\r\n";
    }

    LibraryFixture f;
    std::shared_ptr<iplib::testing::StubLinkState> t1;
};

TEST_F(ReceivePathTest, AGoodFrameIsAcknowledgedOnceAndDeliveredWithItsAddressRewritten) {
    t1->peerSends(punch("01,4711"));
    f.tick();
    EXPECT_EQ(t1->takeSent(), frames::Ack);
    EXPECT_EQ(packets(), expectedPacket("01,4711"));
    EXPECT_EQ(f.library->registry().state(0).lastPacket + "\r\n", expectedPacket("01,4711"));
}

TEST_F(ReceivePathTest, RepeatsAreAcknowledgedButNotDeliveredTwice) {
    t1->peerSends(punch("01,1"));
    t1->peerSends(punch("01,1"));
    t1->peerSends(punch("01,2"));
    t1->peerSends(punch("01,1"));
    f.tick();
    EXPECT_EQ(t1->takeSent(), std::string(4, frames::ACK));
    EXPECT_EQ(packets(), expectedPacket("01,1") + expectedPacket("01,2") + expectedPacket("01,1"));
}

TEST_F(ReceivePathTest, TwoFramesInOneArrivalGiveTwoAcksAndTwoPacketsInOrder) {
    t1->peerSends(punch("01,1") + punch("01,2"));
    f.tick();
    EXPECT_EQ(t1->takeSent(), std::string(2, frames::ACK));
    EXPECT_EQ(packets(), expectedPacket("01,1") + expectedPacket("01,2"));
}

TEST_F(ReceivePathTest, AFrameSplitAtAnyByteIsDeliveredOnceAfterItsLastPart) {
    const std::string frame = punch("01,42");
    for (std::size_t cut = 1; cut < frame.size(); ++cut) {
        f.library->registry().state(0).lastFrame.clear();
        f.removeConfig("FILE_PAQ.OK");
        f.removeConfig("FILE_PAQ.TMP");
        t1->peerSends(frame.substr(0, cut));
        f.tick();
        EXPECT_EQ(t1->takeSent(), "") << "cut at " << cut;
        t1->peerSends(frame.substr(cut));
        f.tick();
        EXPECT_EQ(t1->takeSent(), frames::Ack) << "cut at " << cut;
        EXPECT_EQ(packets(), expectedPacket("01,42")) << "cut at " << cut;
    }
}

TEST_F(ReceivePathTest, ABadChecksumIsAcknowledgedLoggedAndDropped) {
    f.library->logs().setAll(true);
    std::string bad = punch("01,9");
    bad[bad.size() - 2] = bad[bad.size() - 2] == '0' ? '1' : '0';
    t1->peerSends(bad);
    f.tick();
    EXPECT_EQ(t1->takeSent(), frames::Ack);
    EXPECT_EQ(packets(), "");
    EXPECT_NE(f.files.readAll(f.library->logs().activityPath(), 1 << 20)->find("PAQ BAD NAK:%2%1M"), std::string::npos);
}

TEST_F(ReceivePathTest, QuestionMarksAreAcceptedAsChecksum) {
    std::string frame = "\x02" "1M12092614300099" "01,5??\x03";
    t1->peerSends(frame);
    f.tick();
    EXPECT_EQ(t1->takeSent(), frames::Ack);
    EXPECT_NE(packets().find("01,5??"), std::string::npos);
}

TEST_F(ReceivePathTest, TypeSAndDFramesKeepTheirOwnAddress) {
    const std::string s = LibraryFixture::dataFrame("1S12092614300099XYZ");
    t1->peerSends(s);
    f.tick();
    EXPECT_EQ(packets(), "0001," + s + "\r\n");
}

TEST_F(ReceivePathTest, CellularKeepAliveEchoChangesOnlyTheLinkState) {
    t1->peerSends(frames::CellularKeepAlive);
    f.tick();
    EXPECT_EQ(t1->takeSent(), "");
    EXPECT_EQ(f.library->registry().state(0).receiveBuffer, "");
    EXPECT_NE(f.library->registry().line(0).find("=IP CONNECTION OK"), std::string::npos);
    // Between two frames it disappears before frames are cut.
    t1->peerSends(punch("01,1") + frames::CellularKeepAlive + punch("01,2"));
    f.tick();
    EXPECT_EQ(packets(), expectedPacket("01,1") + expectedPacket("01,2"));
}

TEST_F(ReceivePathTest, EnqWhileIdleIsRemovedAndAnsweredWithNothing) {
    t1->peerSends("\x05");
    f.tick();
    EXPECT_EQ(t1->takeSent(), "");
    EXPECT_EQ(f.library->registry().state(0).receiveBuffer, "");
}

TEST_F(ReceivePathTest, AFrameBeforeAnAckIsLostAndTheBufferKeepsWhatFollows) {
    t1->peerSends(punch("01,1") + "\x06" + "rest");
    f.tick();
    EXPECT_EQ(t1->takeSent(), "");
    EXPECT_EQ(packets(), "");
    EXPECT_EQ(f.library->registry().state(0).receiveBuffer, "rest");
}

TEST_F(ReceivePathTest, HoldByteDefersFrameCuttingToTheNextArrival) {
    t1->peerSends(punch("01,1") + "\xFB");
    f.tick();
    EXPECT_EQ(t1->takeSent(), "");
    t1->peerSends("x");
    f.tick();
    EXPECT_EQ(t1->takeSent(), frames::Ack);
    EXPECT_EQ(packets(), expectedPacket("01,1"));
}

TEST_F(ReceivePathTest, TheBufferIsEmptiedAt401Bytes) {
    t1->peerSends(std::string(400, 'x'));
    EXPECT_EQ(f.library->registry().state(0).receiveBuffer.size(), 400u);
    t1->peerSends("y");
    EXPECT_EQ(f.library->registry().state(0).receiveBuffer, "");
    // 64 KB of garbage at once never grows the buffer.
    t1->peerSends(std::string(64 * 1024, '\x02'));
    EXPECT_EQ(f.library->registry().state(0).receiveBuffer, "");
}

TEST_F(ReceivePathTest, BootErrorIsLoggedOnceButShownEachTime) {
    const auto before = f.library->logs().errorList().size();
    t1->peerSends("\xFC");
    t1->peerSends("\xFC");
    EXPECT_EQ(f.library->logs().errorList().size(), before + 1);
    const auto& display = f.library->op().errorDisplay();
    ASSERT_GE(display.size(), 2u);
    EXPECT_NE(display[display.size() - 1].find("  [1]= BOOT ERROR: CHECKSUM"), std::string::npos);
    EXPECT_NE(display[display.size() - 2].find("  [1]= BOOT ERROR: CHECKSUM"), std::string::npos);
    EXPECT_EQ(f.library->registry().state(0).linkState, LinkState::Connected);  // data arrived last
}

TEST_F(ReceivePathTest, BootDoneSendsBootInitAtOnceAndSetsTheClock) {
    t1->peerSends("\xFD");
    EXPECT_EQ(t1->takeSent(), frames::BootInit);
    const auto& queue = f.library->registry().state(0).commandQueue;
    ASSERT_EQ(queue.size(), 2u);
    EXPECT_EQ(queue[0].substr(0, 2), std::string("1\xFA\xB1", 2).substr(0, 2));
    EXPECT_EQ(queue[0][2], '\xB1');
    EXPECT_EQ(queue[1][2], '\xBD');
    // With a time command already queued only BootInit goes out.
    t1->peerSends("\xFD");
    EXPECT_EQ(t1->takeSent(), frames::BootInit);
    EXPECT_EQ(queue.size(), 2u);
}

TEST_F(ReceivePathTest, AnAbortHoldsOnlyThatTerminalsExchangeForHalfASecond) {
    auto t2 = f.connect("127.0.0.6");
    f.library->registry().state(1).commandQueue.clear();
    f.library->registry().state(1).holdSeconds = 0;
    f.tick();
    t2->takeSent();
    f.library->dispatcher().dispatch("0001,HELLO");
    f.library->dispatcher().dispatch("0002,HELLO");
    f.tick();
    f.tick();
    EXPECT_EQ(t1->takeSent(), frames::Poll);
    EXPECT_EQ(t2->takeSent(), frames::Poll);

    t1->peerSends("\xE7");
    t1->peerSends(punch("01,7"));  // arrives during the hold: kept, not lost
    // The first terminal's answer timeout passes, but it stays quiet while held...
    f.run(450);
    EXPECT_EQ(t1->takeSent(), "");
    // ...while the second terminal's exchange goes on.
    t2->peerSends("\x05");
    f.tick();
    EXPECT_NE(t2->takeSent().find("HELLO"), std::string::npos);
    // After the hold the kept frame is handled and polls resume.
    f.run(100);
    const std::string after = t1->takeSent();
    EXPECT_NE(after.find(frames::Ack), std::string::npos);
    EXPECT_NE(after.find(frames::Poll), std::string::npos);
    EXPECT_NE(packets().find("01,7"), std::string::npos);
}

}  // namespace

namespace {

// Random bytes, endless data without ETX, frames cut anywhere and a peer that goes away
// mid-frame: the buffer stays bounded, nothing crashes, and a good frame afterwards is
// delivered exactly once.
TEST_F(ReceivePathTest, RandomBytesNeverGrowTheBufferAndAGoodFrameStillGetsThrough) {
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<char>(seed >> 24);
    };
    for (int arrival = 0; arrival < 2000; ++arrival) {
        std::string bytes(1 + (static_cast<unsigned char>(next()) % 300), '\0');
        for (auto& b : bytes) b = next();
        t1->peerSends(bytes);
        EXPECT_LT(f.library->registry().state(0).receiveBuffer.size(), ReceivePath::BufferLimit);
        if (arrival % 50 == 0) f.tick();
        if (f.library->receivePath().held(0, f.clock.now().epochMilliseconds())) f.run(501);
    }
    for (int i = 0; i < 100; ++i) t1->peerSends(std::string(100, 'x'));  // endless data, no ETX
    EXPECT_LT(f.library->registry().state(0).receiveBuffer.size(), ReceivePath::BufferLimit);

    f.run(600);
    f.library->registry().state(0).receiveBuffer.clear();
    f.library->registry().state(0).lastFrame.clear();
    f.removeConfig("FILE_PAQ.OK");
    f.removeConfig("FILE_PAQ.TMP");
    t1->takeSent();
    const std::string good = punch("01,777");
    t1->peerSends(good.substr(0, 9));
    t1->peerCloses();  // the terminal goes away mid-frame
    t1->peerSends(good.substr(9));
    f.tick();
    EXPECT_EQ(packets(), expectedPacket("01,777"));
}

}  // namespace
