#include "core/terminal_list_file.h"

#include "core/text.h"
#include "support/bytes.h"
#include "support/faulty_file_system.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using namespace iplib;
using iplib::testing::bytes;
using iplib::testing::FaultyFileSystem;
using iplib::testing::TempFolder;

namespace {

const std::string Header =
    "VIDE\r\n 10 \r\n"
    " 1 \r\n 0 \r\n 1 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 1 \r\n"  // selectors 0..11
    " 0 \r\n";                                                                           // SW_AUTO_IP

std::string crlfToLf(std::string s) { return text::replaceAll(s, "\r\n", "\n"); }

struct ListFileTest : ::testing::Test {
    TempFolder folder;
    FaultyFileSystem files;
    ManualClock clock;
    Operator op;
    TerminalRegistry registry{clock};
    Logs logs{files, clock, op, registry};
    TerminalListFile list{files, registry, logs};

    ListFileTest() {
        list.setConfigFolder(folder.path());
        logs.setConfigFolder(folder.path());
    }
    void writeList(const std::string& content) { folder.write("TCPIP.CFG", content); }
};

}  // namespace

TEST_F(ListFileTest, MissingFileLeavesTheRegistryEmptyWithoutMessages) {
    registry.addTerminal("0001,127.0.0.1,1024,=X,0,Ethernet");
    EXPECT_FALSE(list.load());
    EXPECT_EQ(registry.count(), 0u);
    EXPECT_TRUE(logs.errorList().empty());
    EXPECT_TRUE(op.errorDisplay().empty());
}

TEST_F(ListFileTest, LoadedLinesWaitForTheAnswer) {
    writeList(Header +
              "0001,127.0.0.5,1024,=CLOSE 12-09-2026 10:00:00,02:00,Cellular\r\n"
              "0002,127.0.0.6,1024,=IP CONNECTION OK 12-09-2026 10:00:00,-05:00,Ethernet\r\n");
    ASSERT_TRUE(list.load());
    ASSERT_EQ(registry.count(), 2u);
    EXPECT_EQ(registry.line(0), "0001,127.0.0.5,1024,=WAIT FOR THE ANSWER,02:00,Cellular");
    EXPECT_EQ(registry.line(1), "0002,127.0.0.6,1024,=WAIT FOR THE ANSWER,-05:00,Ethernet");
    EXPECT_EQ(registry.slotOf(2), 1);
    EXPECT_EQ(list.autoConfig().keptNumber, 10);
    const std::array<bool, 12> selectors{true, false, true, false, false, false,
                                         false, false, false, false, false, true};
    EXPECT_EQ(list.autoConfig().selectors, selectors);
    EXPECT_FALSE(list.autoConfig().autoIp);
}

TEST_F(ListFileTest, AtMost5000TerminalLinesAreRead) {
    std::string body;
    for (int i = 0; i < 5001; ++i)
        body += text::fourDigits(i % 10000) + ",127.0.0.1,1024,=WAIT FOR THE ANSWER,0,Ethernet\r\n";
    writeList(Header + body);
    list.load();
    EXPECT_EQ(registry.count(), 5000u);
    EXPECT_EQ(registry.field(4999, 1), "4999");
}

TEST_F(ListFileTest, AutomaticConfigurationLoadsNoTerminalButKeepsTheSelectors) {
    std::string file = Header;
    file.replace(file.rfind(" 0 \r\n"), 5, " 1 \r\n");
    writeList(file + "0001,127.0.0.5,1024,=X,0,Ethernet\r\n");
    list.load();
    EXPECT_EQ(registry.count(), 0u);
    EXPECT_TRUE(list.autoConfig().autoIp);
    EXPECT_TRUE(list.autoConfig().selectors[0]);
    EXPECT_TRUE(list.autoConfig().selectors[11]);
    EXPECT_FALSE(list.autoConfig().selectors[1]);
}

TEST_F(ListFileTest, SameNumberTwiceGivesTwoSlotsAndTheLaterIsFound) {
    writeList(Header + "0003,127.0.0.1,1024,=X,0,Ethernet\r\n0003,127.0.0.2,1024,=X,0,Ethernet\r\n");
    list.load();
    ASSERT_EQ(registry.count(), 2u);
    EXPECT_EQ(registry.slotOf(3), 1);
}

TEST_F(ListFileTest, SaveWritesTheFileFormatAndLeavesOutCallInSlots) {
    list.autoConfig().keptNumber = 7;
    list.autoConfig().selectors[3] = true;
    list.autoConfig().autoIp = false;
    registry.addTerminal("0001,127.0.0.5,1024,=IP CONNECTION OK 12-09-2026 10:00:00,02:00,Cellular");
    registry.addTerminal("9001,127.0.0.9,1024,=WAIT FOR THE ANSWER,0,Internet");
    registry.addTerminal("0002,127.0.0.6,1024,=WAIT FOR THE ANSWER,0,Ethernet");
    ASSERT_TRUE(list.save());
    EXPECT_EQ(folder.read("TCPIP.CFG"),
              "VIDE\r\n 7 \r\n"
              " 0 \r\n 0 \r\n 0 \r\n 1 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n"
              " 0 \r\n"
              "0001,127.0.0.5,1024,=IP CONNECTION OK 12-09-2026 10:00:00,02:00,Cellular\r\n"
              "0002,127.0.0.6,1024,=WAIT FOR THE ANSWER,0,Ethernet\r\n");
    EXPECT_EQ(registry.count(), 3u);  // saving changes nothing in memory

    list.autoConfig() = {};
    list.load();
    ASSERT_EQ(registry.count(), 2u);  // the call-in slot is gone after a reload
    EXPECT_EQ(registry.line(0), "0001,127.0.0.5,1024,=WAIT FOR THE ANSWER,02:00,Cellular");
    EXPECT_EQ(registry.line(1), "0002,127.0.0.6,1024,=WAIT FOR THE ANSWER,0,Ethernet");
    EXPECT_EQ(list.autoConfig().keptNumber, 7);
    EXPECT_TRUE(list.autoConfig().selectors[3]);
}

TEST_F(ListFileTest, LinesWithEveryByteSurviveSaveAndLoad) {
    std::string address;
    for (int b = 0; b < 256; ++b)
        if (b != '\r' && b != '\n' && b != ',' && b != '=') address += static_cast<char>(b);
    registry.addTerminal("0001," + address + ",1024,=WAIT FOR THE ANSWER,0,Ethernet");
    ASSERT_TRUE(list.save());
    list.load();
    ASSERT_EQ(registry.count(), 1u);
    EXPECT_EQ(registry.field(0, 2), address);
}

TEST_F(ListFileTest, SaveFailureIsReportedAndChangesNothing) {
    writeList(Header + "0001,127.0.0.5,1024,=X,0,Ethernet\r\n");
    const std::string before = folder.read("TCPIP.CFG");
    registry.addTerminal("0001,127.0.0.5,1024,=IP CONNECTION OK 12-09-2026 10:00:00,0,Ethernet");
    registry.addTerminal("0002,127.0.0.6,1024,=WAIT FOR THE ANSWER,0,Ethernet");
    const auto linesBefore = registry.lines();
    files.failWritesUnder(folder.path());

    EXPECT_FALSE(list.save());

    const std::string message = "Unable to save the configuration into folder: " + folder.path() + "TCPIP.CFG";
    ASSERT_EQ(logs.errorList().size(), 1u);
    EXPECT_EQ(logs.errorList()[0], "9999 10:00:00 \t" + message + "\t");
    EXPECT_EQ(op.shownError(), "10:00:00 :" + message);
    EXPECT_EQ(registry.lines(), linesBefore);
    EXPECT_EQ(folder.read("TCPIP.CFG"), before);
}

TEST_F(ListFileTest, SaveIntoAFolderThatIsAFileFails) {
    folder.write("plain", "not a folder");
    list.setConfigFolder(folder.path() + "plain/");
    registry.addTerminal("0001,127.0.0.5,1024,=X,0,Ethernet");
    EXPECT_FALSE(list.save());
    ASSERT_EQ(op.errorDisplay().size(), 1u);
    EXPECT_NE(op.shownError().find(folder.path() + "plain/TCPIP.CFG"), std::string::npos);
}

TEST_F(ListFileTest, BadFilesNeverCrashAndLoadWhatTheLinesSay) {
    struct Case { const char* name; std::string content; std::vector<std::string> lines; };
    const Case cases[] = {
        {"empty file", "", {}},
        {"header only", Header, {}},
        {"header cut short", "VIDE\r\n 10 \r\n 1 ", {}},
        {"LF line ends", crlfToLf(Header + "0001,127.0.0.5,1024,=X,0,Ethernet\r\n"),
         {"0001,127.0.0.5,1024,=WAIT FOR THE ANSWER,0,Ethernet"}},
        {"last line without an end", Header + "0001,127.0.0.5,1024,=X,0,Ethernet",
         {"0001,127.0.0.5,1024,=WAIT FOR THE ANSWER,0,Ethernet"}},
        {"missing fields", Header + "0001,127.0.0.5,1024,=X\r\n",
         {"0001,127.0.0.5,1024,=WAIT FOR THE ANSWER,,"}},
        {"extra fields", Header + "0001,127.0.0.5,1024,=X,0,Ethernet,more,fields\r\n",
         {"0001,127.0.0.5,1024,=WAIT FOR THE ANSWER,0,Ethernet"}},
        {"no state text", Header + "0001,127.0.0.5,1024\r\n", {"WAIT FOR THE ANSWER,,,,,"}},
        {"binary bytes", Header + bytes("0001,\x00\x01\xFF\x80,1024,=\x02\x03,0,Cellular\r\n"),
         {bytes("0001,\x00\x01\xFF\x80,1024,=WAIT FOR THE ANSWER,0,Cellular")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeList(c.content);
        list.load();
        EXPECT_EQ(registry.lines(), c.lines);
    }
}

TEST_F(ListFileTest, AHugeLineLoadsAsOneBoundedSlotAndTheNextLineIsIntact) {
    const std::string huge = "0001,127.0.0.1,1024,=" + std::string(1 << 20, 'X') + ",02:00,Ethernet\r\n";
    writeList(Header + huge + "0002,127.0.0.2,1024,=X,0,Ethernet\r\n");
    list.load();
    ASSERT_EQ(registry.count(), 2u);
    EXPECT_EQ(registry.slotOf(1), 0);
    EXPECT_EQ(registry.field(0, 2), "127.0.0.1");
    EXPECT_EQ(registry.field(0, 4), "=WAIT FOR THE ANSWER");
    EXPECT_LT(registry.line(0).size(), 1000u);  // the stored status is never kept
    EXPECT_EQ(registry.line(1), "0002,127.0.0.2,1024,=WAIT FOR THE ANSWER,0,Ethernet");
}

TEST_F(ListFileTest, EveryTruncationLoadsAPrefixOfTheFile) {
    const std::vector<std::string> stored = {
        "0001,127.0.0.5,1024,=CLOSE 12-09-2026 10:00:00,02:00,Cellular",
        "0002,127.0.0.6,1024,=WAIT FOR THE ANSWER,0,Ethernet",
        "0003,127.0.0.7,1024,=ERROR 12-09-2026 10:00:00,-01:00,RQ05T",
    };
    const std::vector<std::string> loaded = {
        "0001,127.0.0.5,1024,=WAIT FOR THE ANSWER,02:00,Cellular",
        "0002,127.0.0.6,1024,=WAIT FOR THE ANSWER,0,Ethernet",
        "0003,127.0.0.7,1024,=WAIT FOR THE ANSWER,-01:00,RQ05T",
    };
    for (const std::string end : {"\r\n", "\n"}) {
        std::string full = text::replaceAll(Header, "\r\n", end);
        std::vector<std::size_t> lineEnds;  // offset just past each terminal line's end
        for (const auto& l : stored) {
            full += l + end;
            lineEnds.push_back(full.size());
        }
        for (std::size_t cut = 0; cut <= full.size(); ++cut) {
            SCOPED_TRACE("line end " + std::to_string(end.size()) + " bytes, cut at " + std::to_string(cut));
            writeList(full.substr(0, cut));
            list.autoConfig() = {};
            list.load();
            std::size_t complete = 0;
            while (complete < lineEnds.size() && lineEnds[complete] <= cut) ++complete;
            ASSERT_GE(registry.count(), complete);
            ASSERT_LE(registry.count(), complete + 1);  // at most one more, the cut line
            for (std::size_t s = 0; s < complete; ++s) EXPECT_EQ(registry.line(static_cast<int>(s)), loaded[s]);
            if (cut == full.size()) {
                EXPECT_EQ(registry.lines(), loaded);
                EXPECT_TRUE(list.autoConfig().selectors[0]);
                EXPECT_TRUE(list.autoConfig().selectors[11]);
            }
        }
    }
}

TEST_F(ListFileTest, ReloadSetsEverySlotIdleAndDropsItsRuntimeState) {
    writeList(Header + "0001,127.0.0.1,1024,=X,0,Ethernet\r\n0002,127.0.0.2,1024,=X,0,Ethernet\r\n");
    list.load();
    registry.state(0).txState = TxState::Polled;
    registry.state(1).txState = TxState::CommandSent;
    registry.state(1).commandQueue.push_back("0002\xFA" "command");
    registry.state(1).linkState = LinkState::Connected;
    list.load();
    EXPECT_EQ(registry.state(0).txState, TxState::Idle);
    EXPECT_EQ(registry.state(1).txState, TxState::Idle);
    EXPECT_TRUE(registry.state(1).commandQueue.empty());
    EXPECT_EQ(registry.state(1).linkState, LinkState::Loaded);
}
