#include "exchange/packet_spool.h"

#include "support/link_files_fixture.h"

#include <gtest/gtest.h>

using iplib::LinkFileId;
using iplib::PacketSpool;
using iplib::testing::FailingFiles;
using iplib::testing::LinkRig;
using Op = FailingFiles::Op;

namespace {

struct SpoolRig : LinkRig {
    SpoolRig() {
        link.start();
        spool.setConfigFolder(configFolder);
    }
    // Main-cycle ticks of one millisecond, with the link poll beside them as in the
    // program.
    void run(int ms) {
        for (int i = 0; i < ms; ++i) {
            clock.advanceMilliseconds(1);
            link.pollTick(clock.now());
            spool.tick(clock.now());
        }
    }
    std::vector<std::string> packets() { return delivered("FILE_PAQ"); }
    std::size_t writeTries() { return files.calls(Op::Append, "FILE_PAQ.TMP"); }

    PacketSpool spool{link, files, logs, clock};
};

std::vector<std::string> numbered(int from, int to) {
    std::vector<std::string> v;
    for (int i = from; i <= to; ++i) v.push_back("0001,\x02PACKET " + std::to_string(i) + "\x03");
    return v;
}

}  // namespace

TEST(PacketSpool, WorkingFolderWritesAtOnceWithoutASpoolFile) {
    SpoolRig rig;
    rig.spool.deliver("0001,\x02" "CARD 1\x03");
    EXPECT_EQ(rig.packets(), std::vector<std::string>{"0001,\x02" "CARD 1\x03"});
    EXPECT_EQ(rig.spool.pending(), 0u);
    EXPECT_FALSE(rig.real.exists(rig.spool.spoolPath()));
    EXPECT_TRUE(rig.logs.errorList().empty());
}

TEST(PacketSpool, FailingFolderKeepsPacketsThenWritesEachOnceInOrder) {
    SpoolRig rig;
    rig.files.fail(Op::Append, "FILE_PAQ");
    const auto sent = numbered(1, 5);
    for (const auto& p : sent) {
        rig.spool.deliver(p);
        rig.run(3);
    }
    EXPECT_EQ(rig.spool.pending(), 5u);
    EXPECT_TRUE(rig.spool.failing());
    EXPECT_EQ(rig.lines(rig.spool.spoolPath()), sent) << "a restart now would lose nothing";
    EXPECT_TRUE(rig.packets().empty());

    // A second of failure costs one try per retry interval, not one per tick or more.
    rig.files.forgetCalls();
    rig.run(1000);
    EXPECT_LE(rig.writeTries(), 1000u / PacketSpool::RetryIntervalMs + 1);
    EXPECT_GE(rig.writeTries(), 1000u / PacketSpool::RetryIntervalMs - 1);

    rig.files.heal();
    rig.run(PacketSpool::RetryIntervalMs + 1);
    EXPECT_EQ(rig.packets(), sent);
    EXPECT_EQ(rig.spool.pending(), 0u);
    EXPECT_FALSE(rig.spool.failing());
    EXPECT_FALSE(rig.real.exists(rig.spool.spoolPath()));
    EXPECT_FALSE(rig.real.exists(rig.spool.sentPath()));

    EXPECT_EQ(rig.errorsHolding("PACKET FILE WRITE FAILED"), 1u);
    EXPECT_EQ(rig.errorsHolding("PACKET FILE WRITE WORKS AGAIN: 5 packets"), 1u);
    ASSERT_EQ(rig.op.errorDisplay().size(), 2u);
    EXPECT_NE(rig.op.errorDisplay()[0].find("PACKET FILE WRITE FAILED"), std::string::npos);
    EXPECT_NE(rig.op.errorDisplay()[1].find("WORKS AGAIN"), std::string::npos);

    // Back to writing at once.
    rig.spool.deliver("0001,AFTER");
    EXPECT_EQ(rig.packets().back(), "0001,AFTER");
}

TEST(PacketSpool, NewPacketWaitsBehindOlderOnesEvenWhenTheFolderWorksAgain) {
    SpoolRig rig;
    rig.files.fail(Op::Append, "FILE_PAQ");
    rig.spool.deliver("0001,A");
    rig.spool.deliver("0001,B");
    rig.files.heal();
    rig.spool.deliver("0001,C");  // before any tick: must not overtake A and B
    EXPECT_TRUE(rig.packets().empty());
    rig.run(PacketSpool::RetryIntervalMs + 1);
    EXPECT_EQ(rig.packets(), (std::vector<std::string>{"0001,A", "0001,B", "0001,C"}));
}

TEST(PacketSpool, EachPacketIsTransformedOnceHoweverOftenItIsTried) {
    SpoolRig rig;
    int calls = 0;
    rig.link.setPacketTransform([&](std::string& line) {
        ++calls;
        if (line.find("PUNCH") != std::string::npos) return true;  // taken elsewhere
        line += "+R";
        return false;
    });
    rig.files.fail(Op::Append, "FILE_PAQ");
    rig.spool.deliver("0001,X\r\nY");  // tried at once, fails
    rig.spool.deliver("0001,PUNCH");   // waits behind: consumed, never spooled
    rig.spool.deliver("0001,Z");
    rig.run(500);
    rig.files.heal();
    rig.run(PacketSpool::RetryIntervalMs + 1);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(rig.packets(), (std::vector<std::string>{"0001,XY+R", "0001,Z+R"}));
}

TEST(PacketSpool, PacketWithLineEndsTakesOneSpoolLine) {
    SpoolRig rig;
    rig.files.fail(Op::Append, "FILE_PAQ");
    rig.spool.deliver("0001,A");
    rig.spool.deliver("0002,B\rC\nD");  // waits behind A, so not through FILE_WRITE yet
    EXPECT_EQ(rig.lines(rig.spool.spoolPath()), (std::vector<std::string>{"0001,A", "0002,BCD"}));
}

TEST(PacketSpool, RestartTakesBackWhatWasNotWrittenAndNothingElse) {
    struct Case {
        const char* name;
        int packets;
        int ticksBeforeStop;  // ticks with a working folder before the "restart"
    };
    // MaxWritesPerTick (1000) per tick: 1500 stops half way through; 2500 also drops the
    // written lines from the spool file.
    const Case cases[] = {
        {"nothing written", 7, 0},
        {"one tick of a long backlog", 1500, 1},
        {"two ticks of a longer one", 2500, 2},
        {"all written", 20, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SpoolRig rig;
        rig.files.fail(Op::Append, "FILE_PAQ");
        const auto sent = numbered(1, c.packets);
        for (const auto& p : sent) rig.spool.deliver(p);
        rig.files.heal();
        rig.clock.advanceMilliseconds(PacketSpool::RetryIntervalMs);
        for (int t = 0; t < c.ticksBeforeStop; ++t) rig.run(1);

        // The library stops and starts again over the same folders.
        iplib::LinkFiles link(rig.files, rig.clock, rig.logs, rig.paths);
        link.setConfigFolder(rig.configFolder);
        link.start();
        PacketSpool again(link, rig.files, rig.logs, rig.clock);
        again.setConfigFolder(rig.configFolder);
        again.restore();
        again.deliver("0001,NEW AFTER RESTART");
        for (int t = 0; t < 5; ++t) {
            rig.clock.advanceMilliseconds(1);
            link.pollTick(rig.clock.now());
            again.tick(rig.clock.now());
        }
        auto expected = sent;
        expected.push_back("0001,NEW AFTER RESTART");
        EXPECT_EQ(rig.packets(), expected);
        EXPECT_EQ(again.pending(), 0u);
        EXPECT_FALSE(rig.real.exists(again.spoolPath()));
    }
}

TEST(PacketSpool, CountFromAnotherSpoolFileIsNotTrusted) {
    SpoolRig rig;
    rig.put(rig.spool.spoolPath(), "0001,A\r\n0001,B\r\n0001,C\r\n");
    rig.put(rig.spool.sentPath(), "2 deadbeef\r\n");
    rig.spool.restore();
    EXPECT_EQ(rig.spool.pending(), 3u);
    rig.run(1);
    EXPECT_EQ(rig.packets(), (std::vector<std::string>{"0001,A", "0001,B", "0001,C"}));
}

TEST(PacketSpool, SpoolFileTroubleKeepsPacketsInMemory) {
    SpoolRig rig;
    rig.files.fail(Op::Append);  // the packet file and the spool file alike
    const auto sent = numbered(1, 4);
    for (const auto& p : sent) rig.spool.deliver(p);
    EXPECT_EQ(rig.spool.pending(), 4u);
    EXPECT_EQ(rig.errorsHolding("PACKET SPOOL FILE WRITE FAILED"), 1u);
    rig.files.heal();
    rig.run(PacketSpool::RetryIntervalMs + 1);
    EXPECT_EQ(rig.packets(), sent);
    EXPECT_FALSE(rig.real.exists(rig.spool.spoolPath()));
}

TEST(PacketSpool, SpoolFileIsRewrittenWhenAnAppendToItWasMissed) {
    SpoolRig rig;
    rig.files.fail(Op::Append, "FILE_PAQ");
    rig.files.fail(Op::Append, "PAQ_SPOOL");
    rig.spool.deliver("0001,A");
    rig.files.heal(Op::Append);
    rig.files.fail(Op::Append, "FILE_PAQ");
    rig.spool.deliver("0001,B");
    rig.run(1000);
    EXPECT_EQ(rig.lines(rig.spool.spoolPath()), (std::vector<std::string>{"0001,A", "0001,B"}));
}

TEST(PacketSpool, BeyondTheBoundAPacketIsDroppedWithALogLine) {
    LinkRig rig;
    rig.link.start();
    PacketSpool spool(rig.link, rig.files, rig.logs, rig.clock);  // memory only: no folder
    rig.files.fail(Op::Append, "FILE_PAQ");
    for (std::size_t i = 0; i < PacketSpool::MaxWaiting; ++i) spool.deliver("0001,P");
    EXPECT_EQ(spool.pending(), PacketSpool::MaxWaiting);
    spool.deliver("0001,ONE TOO MANY");
    EXPECT_EQ(spool.pending(), PacketSpool::MaxWaiting);
    EXPECT_EQ(rig.errorsHolding("PACKET DROPPED, SPOOL FULL"), 1u);
    EXPECT_EQ(rig.errorsHolding("0001,ONE TOO MANY"), 1u);
}
