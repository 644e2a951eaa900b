#include "exchange/status_messages.h"

#include "support/link_files_fixture.h"

#include <gtest/gtest.h>

using iplib::StatusMessages;
using iplib::testing::FailingFiles;
using iplib::testing::LinkRig;
using Op = FailingFiles::Op;

namespace {

struct MessageRig : LinkRig {
    MessageRig() { link.start(); }
    void run(int ms) {
        for (int i = 0; i < ms; ++i) {
            clock.advanceMilliseconds(1);
            link.pollTick(clock.now());
            messages.tick(clock.now());
        }
    }
    std::vector<std::string> written() { return delivered("FILE_MSG"); }

    StatusMessages messages{link, clock};
};

std::string msg(const std::string& body) { return body + "\x03"; }

}  // namespace

TEST(StatusMessages, WrittenAtOnceWhenTheFolderWorks) {
    MessageRig rig;
    rig.messages.add(msg("0012,01-CONNECT"));
    EXPECT_EQ(rig.written(), std::vector<std::string>{msg("0012,01-CONNECT")});
    EXPECT_EQ(rig.messages.waiting(), 0u);
    EXPECT_FALSE(rig.messages.folderError());
}

TEST(StatusMessages, RetriedOnLaterTicksWithinTheWindow) {
    MessageRig rig;
    rig.files.fail(Op::Append, "FILE_MSG");
    rig.messages.add(msg("0012,01-CONNECT"));
    EXPECT_EQ(rig.messages.waiting(), 1u) << "add returns at once instead of holding the thread";

    rig.files.forgetCalls();
    rig.run(1000);
    EXPECT_LE(rig.files.calls(Op::Append, "FILE_MSG"), 1000u) << "one try a tick at most";
    EXPECT_FALSE(rig.messages.folderError());

    rig.files.heal();
    rig.run(1);
    EXPECT_EQ(rig.written(), std::vector<std::string>{msg("0012,01-CONNECT")});
    EXPECT_FALSE(rig.messages.folderError());
}

TEST(StatusMessages, DroppedAfterOnePointFiveSecondsWithTheFolderErrorUntilTheNextGoodWrite) {
    MessageRig rig;
    rig.files.fail(Op::Append, "FILE_MSG");
    rig.messages.add(msg("0012,01-CONNECT"));
    rig.run(1000);
    rig.messages.add(msg("0012,02-CLOSE"));  // its own window runs 1.5 s from here
    rig.run(StatusMessages::RetryWindowMs - 1000 - 1);
    EXPECT_EQ(rig.messages.waiting(), 2u);
    EXPECT_FALSE(rig.messages.folderError());

    rig.run(1);  // 1.5 s after the first one's first try
    EXPECT_EQ(rig.messages.waiting(), 1u);
    EXPECT_TRUE(rig.messages.folderError());

    rig.files.heal();
    rig.run(1);
    EXPECT_EQ(rig.written(), std::vector<std::string>{msg("0012,02-CLOSE")});
    EXPECT_FALSE(rig.messages.folderError()) << "the next message written in time clears it";
}

TEST(StatusMessages, AllExpiredMessagesGoAndTheFlagStaysWhileTheFolderFails) {
    MessageRig rig;
    rig.files.fail(Op::Append, "FILE_MSG");
    for (const char* m : {"0001,01-CONNECT", "0002,01-CONNECT", "0003,01-CONNECT"}) rig.messages.add(msg(m));
    rig.run(StatusMessages::RetryWindowMs);
    EXPECT_EQ(rig.messages.waiting(), 0u);
    EXPECT_TRUE(rig.messages.folderError());
    rig.messages.add(msg("0004,01-CONNECT"));
    EXPECT_TRUE(rig.messages.folderError()) << "not written yet: the error still shows";
    rig.files.heal();
    rig.run(1);
    EXPECT_FALSE(rig.messages.folderError());
    EXPECT_EQ(rig.written(), std::vector<std::string>{msg("0004,01-CONNECT")});
}

TEST(StatusMessages, OrderIsKeptAcrossRetries) {
    MessageRig rig;
    rig.files.fail(Op::Append, "FILE_MSG");
    rig.messages.add(msg("0012,01-CONNECT"));
    rig.messages.add(msg("0012,03-ERR[10054]:Connection reset by peer"));
    rig.run(10);
    rig.files.heal();
    // Added while two wait: written behind them, by this very call.
    rig.messages.add(msg("0012,02-CLOSE"));
    EXPECT_EQ(rig.written(), (std::vector<std::string>{msg("0012,01-CONNECT"),
                                                       msg("0012,03-ERR[10054]:Connection reset by peer"),
                                                       msg("0012,02-CLOSE")}));
    EXPECT_EQ(rig.messages.waiting(), 0u);
}

TEST(StatusMessages, ClockSetBackDoesNotHoldAMessageForTheJump) {
    MessageRig rig;
    rig.files.fail(Op::Append, "FILE_MSG");
    rig.messages.add(msg("0012,01-CONNECT"));
    rig.clock.advanceSeconds(-3600);
    rig.run(StatusMessages::RetryWindowMs + 1);  // the window starts again at the jump
    EXPECT_EQ(rig.messages.waiting(), 0u);
    EXPECT_TRUE(rig.messages.folderError());
}
