#include "core/logs.h"

#include "support/bytes.h"
#include "support/faulty_file_system.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using namespace iplib;
using iplib::testing::bytes;
using iplib::testing::FaultyFileSystem;
using iplib::testing::TempFolder;

namespace {

// A link that is connected to a fixed far end and does nothing else.
class ConnectedLink final : public TcpLink {
public:
    explicit ConnectedLink(std::string remote) : remote_(std::move(remote)) {}
    void setHandlers(Handlers) override {}
    void connect(const std::string&, std::uint16_t) override {}
    bool send(std::string_view) override { return false; }
    void close() override {}
    SocketState state() const override { return SocketState::Connected; }
    std::string remoteAddress() const override { return remote_; }
    std::uint16_t remotePort() const override { return 1024; }
    std::string localAddress() const override { return "127.0.0.1"; }

private:
    std::string remote_;
};

// A clock that moves on by one millisecond every time it is read, as a real clock may
// between two reads of one operation.
class CreepingClock final : public Clock {
public:
    explicit CreepingClock(DateTime start) : now_(start) {}
    DateTime now() const override {
        const DateTime t = now_;
        now_ = now_.plusMilliseconds(1);
        return t;
    }

private:
    mutable DateTime now_;
};

struct LogsTest : ::testing::Test {
    TempFolder folder;
    FaultyFileSystem files;
    ManualClock clock{{2026, 12, 9, 23, 59, 58, 0}};
    Operator op;
    TerminalRegistry registry{clock};
    Logs logs{files, clock, op, registry};

    LogsTest() {
        logs.setConfigFolder(folder.path());
        op.setTitle("IP LIBRARY VERSION: 1.9A");
        registry.addTerminal("0012,127.0.0.5,1024,=WAIT FOR THE ANSWER,0,Ethernet");
        registry.addTerminal("0034,127.0.0.6,1024,=WAIT FOR THE ANSWER,02:00,Cellular");
        logs.setStartBlockBody([this] {
            std::vector<std::string> body;
            for (const auto& l : registry.lines()) body.push_back("QBX: " + l);
            body.push_back("Protocol Timeout:0.4");
            return body;
        });
    }
};

const std::string Block =
    "STR: [Start LOG]---------------IP LIBRARY VERSION: 1.9A\r\n"
    "QBX: 0012,127.0.0.5,1024,=WAIT FOR THE ANSWER,0,Ethernet\r\n"
    "QBX: 0034,127.0.0.6,1024,=WAIT FOR THE ANSWER,02:00,Cellular\r\n"
    "Protocol Timeout:0.4\r\n"
    "STR: --------------------------\r\n";

}  // namespace

TEST_F(LogsTest, SwitchesStartOffAndNothingIsWritten) {
    logs.activity("text");
    logs.error("text", 0);
    EXPECT_FALSE(logs.activityOn() || logs.errorOn() || logs.delayOn());
    EXPECT_FALSE(folder.has("VSK_09-12-2026.LOG"));
    EXPECT_FALSE(folder.has("ERR_09-12-2026.LOG"));
    EXPECT_EQ(logs.errorList().size(), 1u);  // the list is fed whether or not the file is written
}

TEST_F(LogsTest, ActivityLinesEscapeLineEndsAndControlBytes) {
    logs.setAll(true);
    logs.activity("A\r\nB");
    logs.activity(bytes("X\x02Y\xB1\0Z"));
    EXPECT_EQ(folder.read("VSK_09-12-2026.LOG"),
              Block + "23:59:58 A[CR][LF]B\t\r\n" + bytes("23:59:58 X%2%Y%177%\0Z\t\r\n"));
}

TEST_F(LogsTest, ErrorLinesKeepBytesAndCarryNumberTimeAndAddress) {
    logs.setAll(true);
    registry.state(1).socket = std::make_unique<ConnectedLink>("127.0.0.6");
    logs.error("LINK \x02 LOST", 1);
    logs.error("no slot", 0);
    logs.error("library", NO_TERMINAL_INDEX);
    const std::vector<std::string> expected = {
        "0034 23:59:58 127.0.0.6\tLINK \x02 LOST\t",
        "0012 23:59:58 \tno slot\t",
        "9999 23:59:58 \tlibrary\t",
    };
    EXPECT_EQ(logs.errorList(), expected);
    EXPECT_EQ(folder.read("ERR_09-12-2026.LOG"), expected[0] + "\r\n" + expected[1] + "\r\n" + expected[2] + "\r\n");
}

TEST_F(LogsTest, TheFirstLineOfEachDayOpensANewFileWithTheBlock) {
    logs.setAll(true);
    logs.activity("before");
    logs.activity("still the same day");
    clock.advanceSeconds(3);  // 00:00:01 on the 10th
    registry.addTerminal("0056,127.0.0.7,1024,=WAIT FOR THE ANSWER,0,RQ05T");
    logs.activity("after midnight");

    EXPECT_EQ(folder.read("VSK_09-12-2026.LOG"),
              Block + "23:59:58 before\t\r\n23:59:58 still the same day\t\r\n");
    EXPECT_EQ(folder.read("VSK_10-12-2026.LOG"),
              "STR: [Start LOG]---------------IP LIBRARY VERSION: 1.9A\r\n"
              "QBX: 0012,127.0.0.5,1024,=WAIT FOR THE ANSWER,0,Ethernet\r\n"
              "QBX: 0034,127.0.0.6,1024,=WAIT FOR THE ANSWER,02:00,Cellular\r\n"
              "QBX: 0056,127.0.0.7,1024,=WAIT FOR THE ANSWER,0,RQ05T\r\n"
              "Protocol Timeout:0.4\r\n"
              "STR: --------------------------\r\n"
              "00:00:01 after midnight\t\r\n");
}

TEST_F(LogsTest, BlockLinesAreWrittenAsTheyAre) {
    logs.setStartBlockBody([] { return std::vector<std::string>{"Search[\x02] Replace by[\xBA\r]"}; });
    logs.setAll(true);
    logs.activity("\x02");
    EXPECT_EQ(folder.read("VSK_09-12-2026.LOG"),
              "STR: [Start LOG]---------------IP LIBRARY VERSION: 1.9A\r\n"
              "Search[\x02] Replace by[\xBA\r]\r\n"
              "STR: --------------------------\r\n"
              "23:59:58 %2%\t\r\n");
}

TEST_F(LogsTest, TheBlockAndTheLineAreOneWrite) {
    logs.setAll(true);
    logs.activity("first");
    EXPECT_EQ(files.count(FaultyFileSystem::Op::Append), 1);
}

TEST_F(LogsTest, ErrorListAndDisplayStartAgainAfter51Entries) {
    for (int i = 1; i <= 51; ++i) {
        logs.error("line " + std::to_string(i), NO_TERMINAL_INDEX);
        logs.showError("problem " + std::to_string(i));
    }
    EXPECT_EQ(logs.errorList().size(), 51u);
    EXPECT_EQ(op.errorDisplay().size(), 51u);
    logs.error("line 52", NO_TERMINAL_INDEX);
    logs.showError("problem 52");
    ASSERT_EQ(logs.errorList().size(), 1u);
    EXPECT_EQ(logs.errorList()[0], "9999 23:59:58 \tline 52\t");
    ASSERT_EQ(op.errorDisplay().size(), 1u);
    EXPECT_EQ(op.shownError(), "23:59:58 :problem 52");
}

TEST_F(LogsTest, ErrorDisplayShowsNoErrorUntilTheFirstOne) {
    EXPECT_EQ(op.shownError(), "NO ERROR");
    logs.showError("ERROR: Library already loaded in service");
    EXPECT_EQ(op.shownError(), "23:59:58 :ERROR: Library already loaded in service");
}

TEST_F(LogsTest, FileFailuresLoseTheLineButNotTheLists) {
    logs.setAll(true);
    files.failWritesUnder(folder.path());
    logs.activity("lost");
    logs.error("listed", 0);
    logs.showError("shown");
    EXPECT_FALSE(folder.has("VSK_09-12-2026.LOG"));
    EXPECT_FALSE(folder.has("ERR_09-12-2026.LOG"));
    EXPECT_EQ(logs.errorList().size(), 1u);
    EXPECT_EQ(op.shownError(), "23:59:58 :shown");

    // The day's first successful write still carries the block.
    files.healAll();
    logs.activity("kept");
    EXPECT_EQ(folder.read("VSK_09-12-2026.LOG"), Block + "23:59:58 kept\t\r\n");
}

TEST_F(LogsTest, OperatorSwitchWritesTheStartLineAndMovesAllSwitches) {
    logs.operatorSwitch(true);
    EXPECT_TRUE(logs.activityOn() && logs.errorOn() && logs.delayOn());
    EXPECT_EQ(folder.read("VSK_09-12-2026.LOG"), Block + "23:59:58 STR: [Start LOG ON]IP LIBRARY VERSION: 1.9A\t\r\n");

    logs.operatorSwitch(false);
    EXPECT_FALSE(logs.activityOn() || logs.errorOn() || logs.delayOn());
    logs.activity("not written");
    EXPECT_EQ(folder.read("VSK_09-12-2026.LOG").find("not written"), std::string::npos);
}

TEST_F(LogsTest, HelpTextNamesTodaysFiles) {
    EXPECT_EQ(logs.helpText(),
              "If the file C:\\LOG_ALL_VESKAL.TXT exist then all log activate at startup\r\n\r\n"
              "LOG ACTIVITY = " + folder.path() + "VSK_09-12-2026.LOG\r\n"
              "LOG ERRORS = " + folder.path() + "ERR_09-12-2026.LOG\r\n"
              "LOG DELAYSTIES = " + folder.path() + "DELAYS_09-12-2026.LOG");
}

TEST(LogsAtMidnight, ALineCarriesTheTimeOfTheFileItIsWrittenTo) {
    for (const bool activity : {true, false}) {
        SCOPED_TRACE(activity ? "activity" : "error");
        TempFolder folder;
        RealFileSystem files;
        CreepingClock clock{{2026, 12, 9, 23, 59, 59, 999}};
        Operator op;
        TerminalRegistry registry{clock};
        Logs logs{files, clock, op, registry};
        logs.setConfigFolder(folder.path());
        logs.setAll(true);
        if (activity) logs.activity("line");
        else logs.error("line", NO_TERMINAL_INDEX);
        const std::string prefix = activity ? "VSK_" : "ERR_";
        EXPECT_EQ(folder.read(prefix + "09-12-2026.LOG").find("00:00:00"), std::string::npos);
        EXPECT_EQ(folder.read(prefix + "10-12-2026.LOG").find("23:59:59"), std::string::npos);
    }
}
