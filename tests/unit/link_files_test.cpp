#include "exchange/link_files.h"

#include "support/link_files_fixture.h"

#include <gtest/gtest.h>

#include <utime.h>

using iplib::LinkFileId;
using iplib::LinkFiles;
using iplib::testing::FailingFiles;
using iplib::testing::LinkRig;
using Op = FailingFiles::Op;

namespace {

const std::string Etx = "\x03";

// Sets a file's modification time, as another program's write would.
void setModified(const std::string& path, std::int64_t seconds) {
    utimbuf times{static_cast<time_t>(seconds), static_cast<time_t>(seconds)};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The folder

TEST(LinkFolder, StartTakesTheFourthLineOfLinkCfgOrTheConfigFolder) {
    struct Case {
        const char* name;
        bool writeFile;
        std::string content;
        std::string expected;  // "" = the config folder; "@" = under the scratch root
    };
    const Case cases[] = {
        {"no LINK.CFG", false, "", ""},
        {"slash appended", true, "False\r\nTrue\r\n 1 \r\n/srv/link\r\n", "/srv/link/"},
        {"slash kept", true, "False\r\nTrue\r\n 1 \r\n/srv/link/\r\n", "/srv/link/"},
        {"blanks trimmed", true, "False\r\nTrue\r\n 1 \r\n  /srv/link  \r\n", "/srv/link/"},
        {"drive form", true, "False\r\nTrue\r\n 1 \r\nD:\\DATA\\LINK\r\n", "@DATA/LINK/"},
        {"three lines only", true, "False\r\nTrue\r\n 1 \r\n", ""},
        {"blank fourth line", true, "False\r\nTrue\r\n 1 \r\n   \r\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkRig rig;
        if (c.writeFile) rig.put(rig.configFolder + "LINK.CFG", c.content);
        rig.link.start();
        std::string expected = c.expected.empty() ? rig.configFolder : c.expected;
        if (expected.front() == '@') expected = rig.root.path + expected.substr(1);
        EXPECT_EQ(rig.link.linkFolder(), expected);
        EXPECT_EQ(rig.link.basePath(LinkFileId::Packets), expected + "FILE_PAQ");
    }
}

TEST(LinkFolder, BasePathsOfTheThreeFilesAndNoneForAnUnknownId) {
    LinkRig rig;
    rig.link.start();
    EXPECT_EQ(rig.link.basePath(LinkFileId::Messages), rig.configFolder + "FILE_MSG");
    EXPECT_EQ(rig.link.basePath(LinkFileId::Commands), rig.configFolder + "FILE_COM");
    EXPECT_EQ(rig.link.basePath(static_cast<LinkFileId>(4)), "");
    EXPECT_EQ(rig.link.basePath(static_cast<LinkFileId>(0)), "");
}

TEST(LinkFolder, SavedChoiceIsReadBackAtTheNextStart) {
    LinkRig rig;
    rig.link.start();
    const std::string chosen = rig.root.path + "exchange";
    std::filesystem::create_directories(chosen);

    rig.link.pickFolder(chosen, /*windowShown=*/false);
    EXPECT_FALSE(rig.link.unsavedChoice()) << "a hidden window's pick is not an operator's choice";
    rig.link.pickFolder(chosen, /*windowShown=*/true);
    EXPECT_EQ(rig.link.linkFolder(), chosen + "/");
    EXPECT_TRUE(rig.link.unsavedChoice());

    ASSERT_TRUE(rig.link.saveConfiguration());
    EXPECT_FALSE(rig.link.unsavedChoice());
    EXPECT_EQ(rig.content(rig.configFolder + "LINK.CFG"), "False\r\nTrue\r\n 1 \r\n" + chosen + "/\r\n");

    iplib::LinkFiles again(rig.files, rig.clock, rig.logs, rig.paths);
    again.setConfigFolder(rig.configFolder);
    again.start();
    EXPECT_EQ(again.linkFolder(), chosen + "/");
}

TEST(LinkFolder, SaveFailureKeepsTheChoiceUnsaved) {
    LinkRig rig;
    rig.link.start();
    rig.link.pickFolder(rig.root.path, true);
    rig.files.fail(Op::WriteAtomic, "LINK.CFG");
    EXPECT_FALSE(rig.link.saveConfiguration());
    EXPECT_TRUE(rig.link.unsavedChoice());
}

TEST(LinkFolder, TypedFolderIsTestedByWritingAndFallsBackToTheDriveRoot) {
    LinkRig rig;
    rig.link.start();
    const std::string good = rig.root.path + "typed";
    std::filesystem::create_directories(good);

    EXPECT_TRUE(rig.link.typeFolder(good));
    EXPECT_EQ(rig.link.linkFolder(), good + "/");
    EXPECT_TRUE(rig.real.exists(good + "/TST.TST")) << "the test file stays";
    EXPECT_TRUE(rig.link.unsavedChoice());

    // A folder that exists but cannot be written (the wrapper plays the read-only disk).
    const std::string locked = rig.root.path + "locked";
    std::filesystem::create_directories(locked);
    rig.files.fail(Op::Append, locked);
    EXPECT_FALSE(rig.link.typeFolder(locked));
    EXPECT_EQ(rig.link.linkFolder(), rig.paths.toLocalFolder("C:\\"));
    EXPECT_EQ(rig.link.linkFolder(), rig.root.path);

    // A folder that does not exist at all.
    rig.link.typeFolder(good);
    EXPECT_FALSE(rig.link.typeFolder(rig.root.path + "missing/deeper"));
    EXPECT_EQ(rig.link.linkFolder(), rig.root.path);
}

// ---------------------------------------------------------------------------------------
// FILE_WRITE and promotion

TEST(FileWrite, LineLosesItsCrAndLfAndIsPromotedAtOnce) {
    LinkRig rig;
    rig.link.start();
    std::string packet = "0012,\x02" "A\r\nB\rC\n\x03";
    EXPECT_EQ(rig.link.fileWrite(LinkFileId::Packets, packet), 1);
    EXPECT_EQ(packet, "0012,\x02" "ABC\x03") << "the caller sees the written form";
    EXPECT_EQ(rig.content(rig.linkPath("FILE_PAQ.OK")), "0012,\x02" "ABC\x03\r\n");
    EXPECT_FALSE(rig.real.exists(rig.linkPath("FILE_PAQ.TMP")));
    EXPECT_TRUE(rig.link.presence()[1]);
    EXPECT_FALSE(rig.link.presence()[0]);
}

TEST(FileWrite, WorkFileUnderEightBytesWaitsForMore) {
    LinkRig rig;
    rig.link.start();
    std::string first = "AB";  // 4 bytes with CR LF
    ASSERT_EQ(rig.link.fileWrite(LinkFileId::Packets, first), 1);
    for (int i = 0; i < 3; ++i) rig.tick();
    rig.clock.advanceSeconds(1);
    rig.tick();
    EXPECT_FALSE(rig.real.exists(rig.linkPath("FILE_PAQ.OK")));
    EXPECT_EQ(rig.content(rig.linkPath("FILE_PAQ.TMP")), "AB\r\n");

    std::string second = "CD";  // now 8 bytes
    ASSERT_EQ(rig.link.fileWrite(LinkFileId::Packets, second), 1);
    EXPECT_EQ(rig.content(rig.linkPath("FILE_PAQ.OK")), "AB\r\nCD\r\n");
    EXPECT_FALSE(rig.real.exists(rig.linkPath("FILE_PAQ.TMP")));
}

TEST(FileWrite, PacketsGatherWhileTheConsumerHoldsTheReadyFile) {
    LinkRig rig;
    rig.link.start();
    rig.put(rig.linkPath("FILE_PAQ.OK"), "0001,OLD BATCH\r\n");
    for (const char* p : {"0001,FIRST", "0002,SECOND", "0003,THIRD"}) {
        std::string line = p;
        ASSERT_EQ(rig.link.fileWrite(LinkFileId::Packets, line), 1);
    }
    EXPECT_EQ(rig.lines(rig.linkPath("FILE_PAQ.TMP")), (std::vector<std::string>{"0001,FIRST", "0002,SECOND", "0003,THIRD"}));
    EXPECT_EQ(rig.content(rig.linkPath("FILE_PAQ.OK")), "0001,OLD BATCH\r\n");
    rig.tick();
    EXPECT_TRUE(rig.real.exists(rig.linkPath("FILE_PAQ.TMP"))) << "nothing moves while the ready file is there";

    // The customer takes the old batch: the very next tick hands over the three at once.
    ASSERT_TRUE(rig.real.remove(rig.linkPath("FILE_PAQ.OK")));
    rig.tick();
    EXPECT_EQ(rig.lines(rig.linkPath("FILE_PAQ.OK")), (std::vector<std::string>{"0001,FIRST", "0002,SECOND", "0003,THIRD"}));
    EXPECT_FALSE(rig.real.exists(rig.linkPath("FILE_PAQ.TMP")));
    EXPECT_FALSE(rig.link.presence()[0]);
    EXPECT_TRUE(rig.link.presence()[1]);
}

TEST(FileWrite, MessagesUseTheirOwnFilesAndSkipThePacketTransformations) {
    LinkRig rig;
    int transformed = 0;
    rig.link.setPacketTransform([&](std::string& line) {
        ++transformed;
        line += "+T";
        return false;
    });
    rig.link.start();
    std::string message = "0000,08-#OK 10:00:00" + Etx;
    ASSERT_EQ(rig.link.fileWrite(LinkFileId::Messages, message), 1);
    EXPECT_EQ(rig.lines(rig.linkPath("FILE_MSG.OK")), std::vector<std::string>{"0000,08-#OK 10:00:00" + Etx});
    EXPECT_EQ(transformed, 0);

    std::string packet = "0001,CARD";
    ASSERT_EQ(rig.link.fileWrite(LinkFileId::Packets, packet), 1);
    EXPECT_EQ(rig.lines(rig.linkPath("FILE_PAQ.OK")), std::vector<std::string>{"0001,CARD+T"});
    EXPECT_EQ(transformed, 1);
}

TEST(FileWrite, ConsumedPacketCountsAsDoneWithoutTouchingThePacketFile) {
    LinkRig rig;
    rig.link.setPacketTransform([](std::string&) { return true; });
    rig.link.start();
    rig.files.fail(Op::Append);  // would fail if it were written
    std::string packet = "0001,PUNCH";
    EXPECT_EQ(rig.link.fileWrite(LinkFileId::Packets, packet), 1);
    EXPECT_FALSE(rig.real.exists(rig.linkPath("FILE_PAQ.TMP")));
    EXPECT_FALSE(rig.real.exists(rig.linkPath("FILE_PAQ.OK")));
}

TEST(FileWrite, FailuresAndForeignIdsGiveZero) {
    LinkRig rig;
    rig.link.start();
    std::string line = "0001,LOST?";
    rig.files.fail(Op::Append, "FILE_PAQ.TMP");
    EXPECT_EQ(rig.link.fileWrite(LinkFileId::Packets, line), 0);
    EXPECT_FALSE(rig.link.presence()[0]);

    // The command file belongs to the customer; an unknown id has no file.
    std::string command = "0001,never written";
    EXPECT_EQ(rig.link.fileWrite(LinkFileId::Commands, command), 0);
    EXPECT_EQ(rig.link.fileWrite(static_cast<LinkFileId>(9), command), 0);
    EXPECT_FALSE(rig.real.exists(rig.linkPath("FILE_COM.TMP")));
    EXPECT_FALSE(rig.real.exists(rig.linkPath(".TMP")));
}

TEST(FileWrite, FailedPromotionStillCountsAsWrittenAndIsRetriedByTheTick) {
    LinkRig rig;
    rig.link.start();
    rig.files.fail(Op::Rename);
    std::string line = "0001,ONCE ONLY";
    EXPECT_EQ(rig.link.fileWrite(LinkFileId::Packets, line), 1) << "a retry would write the line twice";
    EXPECT_TRUE(rig.link.presence()[0]);
    rig.files.heal();
    rig.tick();
    EXPECT_EQ(rig.lines(rig.linkPath("FILE_PAQ.OK")), std::vector<std::string>{"0001,ONCE ONLY"});
}

TEST(FileWrite, AnotherWriterOfTheMessageWorkFileIsReportedAsASecondLibrary) {
    LinkRig rig;
    int secondCopies = 0;
    rig.link.setSecondCopyHandler([&] { ++secondCopies; });
    rig.link.start();
    const std::string work = rig.linkPath("FILE_MSG.TMP");
    // The consumer holds a ready file, so our lines stay in the work file.
    rig.put(rig.linkPath("FILE_MSG.OK"), "0000,01-CONNECT\x03\r\n");

    // A work file found at start is not ours to judge: the stamp is still empty.
    rig.put(work, "0000,02-CLOSE\x03\r\n");
    setModified(work, 1'700'000'000);
    std::string m1 = "0001,01-CONNECT" + Etx;
    ASSERT_EQ(rig.link.fileWrite(LinkFileId::Messages, m1), 1);
    // Another library appends to the same work file: its time is no longer our stamp.
    ASSERT_TRUE(rig.real.append(work, "0000,01-CONNECT\x03\r\n"));
    setModified(work, 1'700'000'100);
    std::string m2 = "0002,01-CONNECT" + Etx;
    ASSERT_EQ(rig.link.fileWrite(LinkFileId::Messages, m2), 1);
    EXPECT_EQ(secondCopies, 1);

    // Our own writes one after the other are not.
    std::string m3 = "0003,01-CONNECT" + Etx;
    std::string m4 = "0004,01-CONNECT" + Etx;
    ASSERT_EQ(rig.link.fileWrite(LinkFileId::Messages, m3), 1);
    ASSERT_EQ(rig.link.fileWrite(LinkFileId::Messages, m4), 1);
    EXPECT_EQ(secondCopies, 1);
    EXPECT_EQ(rig.errorsHolding("ERROR: Library already loaded in service"), 1u);
    EXPECT_EQ(rig.lines(work).size(), 6u) << "the writes went on regardless";
}

TEST(Presence, FlagsFollowTheFolderOnceASecond) {
    LinkRig rig;
    rig.link.start();
    rig.link.pollTick(rig.clock.now());
    rig.put(rig.linkPath("FILE_COM.TMP"), "0001,half written");
    rig.put(rig.linkPath("FILE_MSG.OK"), "0000,01-CONNECT\x03\r\n");
    rig.tick();
    EXPECT_FALSE(rig.link.presence()[4]);
    EXPECT_FALSE(rig.link.presence()[3]);

    rig.clock.advanceSeconds(1);
    rig.link.pollTick(rig.clock.now());
    EXPECT_TRUE(rig.link.presence()[4]);
    EXPECT_TRUE(rig.link.presence()[3]);
    EXPECT_EQ(rig.lines(rig.linkPath("FILE_COM.TMP")), std::vector<std::string>{"0001,half written"})
        << "the customer's work file is never read or moved";
    EXPECT_TRUE(rig.commands.empty());
}

// ---------------------------------------------------------------------------------------
// The command file

TEST(CommandFile, EachLineIsExpandedEndedTrimmedAndHandedOnInOrder) {
    struct Case {
        const char* name;
        std::string fileLine;
        std::string handed;  // "" = skipped
    };
    const Case cases[] = {
        {"plain", "0012,HELLO", "0012,HELLO" + Etx},
        {"ETX kept single", "0012,HELLO" + Etx, "0012,HELLO" + Etx},
        {"[CR] expanded", "0012,FIRST[CR]SECOND", "0012,FIRST\r\nSECOND" + Etx},
        {"leading blanks", "   0012,X", "0012,X" + Etx},
        {"blanks before ETX stay", "0012,X  ", "0012,X  " + Etx},
        {"empty", "", ""},
        {"blanks only", "     ", ""},
        {"ETX only", Etx, ""},
        {"one visible char", "?", "?" + Etx},
        {"tab is a character", "\t", "\t" + Etx},
    };
    LinkRig rig;
    rig.link.start();
    std::string file;
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        file += c.fileLine + "\r\n";
        if (!c.handed.empty()) expected.push_back(c.handed);
    }
    rig.put(rig.linkPath("FILE_COM.OK"), file);
    rig.tick();
    EXPECT_EQ(rig.commands, expected);
    EXPECT_FALSE(rig.real.exists(rig.linkPath("FILE_COM.OK")));
    EXPECT_FALSE(rig.link.presence()[5]);

    rig.tick();
    EXPECT_EQ(rig.commands.size(), expected.size()) << "read once";
}

TEST(CommandFile, LinesPastTheTenThousandthGoWithTheFile) {
    LinkRig rig;
    rig.link.start();
    std::string file;
    for (int i = 1; i <= 10001; ++i) file += "0001,LINE " + std::to_string(i) + "\r\n";
    rig.put(rig.linkPath("FILE_COM.OK"), file);
    rig.tick();
    ASSERT_EQ(rig.commands.size(), LinkFiles::MaxCommandLines);
    EXPECT_EQ(rig.commands.front(), "0001,LINE 1" + Etx);
    EXPECT_EQ(rig.commands.back(), "0001,LINE 10000" + Etx);
    EXPECT_FALSE(rig.real.exists(rig.linkPath("FILE_COM.OK")));
}

TEST(CommandFile, OverlongLineIsSkippedNeverCutAndRun) {
    LinkRig rig;
    rig.link.start();
    const std::string longest = "0001," + std::string(LinkFiles::MaxCommandLineBytes - 5, 'L');
    const std::string tooLong = "0002," + std::string(LinkFiles::MaxCommandLineBytes - 4, 'X');
    rig.put(rig.linkPath("FILE_COM.OK"), "0001,BEFORE\r\n" + longest + "\r\n" + tooLong + "\r\n0001,AFTER\r\n");
    rig.tick();
    ASSERT_EQ(rig.commands.size(), 3u);
    EXPECT_EQ(rig.commands[0], "0001,BEFORE" + Etx);
    EXPECT_EQ(rig.commands[1], longest + Etx);
    EXPECT_EQ(rig.commands[2], "0001,AFTER" + Etx);
    EXPECT_EQ(rig.errorsHolding("COMMAND LINE TOO LONG"), 1u);
}

TEST(CommandFile, UnreadableFileStaysAndIsReadOnceItCanBe) {
    LinkRig rig;
    rig.link.start();
    rig.put(rig.linkPath("FILE_COM.OK"), "0001,HELLO\r\n");
    rig.files.fail(Op::ReadLines, "FILE_COM.OK");
    rig.tick();
    rig.tick();
    EXPECT_TRUE(rig.commands.empty());
    EXPECT_TRUE(rig.link.presence()[5]);
    rig.files.heal();
    rig.tick();
    EXPECT_EQ(rig.commands, std::vector<std::string>{"0001,HELLO" + Etx});
    EXPECT_FALSE(rig.real.exists(rig.linkPath("FILE_COM.OK")));
}

TEST(CommandFile, UndeletableFileRunsOnceAndOnlyItsDeletionIsRetried) {
    LinkRig rig;
    rig.link.start();
    const std::string ready = rig.linkPath("FILE_COM.OK");
    rig.put(ready, "0001,BELL\r\n0002,BELL\r\n");
    rig.files.fail(Op::Remove, "FILE_COM.OK");
    rig.tick();
    EXPECT_EQ(rig.commands.size(), 2u);
    for (int i = 0; i < 50; ++i) rig.tick();
    for (int s = 0; s < 3; ++s) {
        rig.clock.advanceSeconds(1);
        rig.tick();  // the content is compared again at a new second
    }
    EXPECT_EQ(rig.commands.size(), 2u) << "the same file must not ring the bells again";
    EXPECT_EQ(rig.errorsHolding("Unable to delete " + ready), 1u);
    EXPECT_GT(rig.files.calls(Op::Remove, "FILE_COM.OK"), 50u) << "the deletion is what is retried";

    rig.files.heal();
    rig.tick();
    EXPECT_FALSE(rig.real.exists(ready));
    EXPECT_EQ(rig.commands.size(), 2u);
}

TEST(CommandFile, NewFileBehindAnUndeletableOneIsRunWhenItDiffers) {
    LinkRig rig;
    rig.link.start();
    const std::string ready = rig.linkPath("FILE_COM.OK");
    rig.put(ready, "0001,FIRST\r\n");
    rig.files.fail(Op::Remove, "FILE_COM.OK");
    rig.tick();
    ASSERT_EQ(rig.commands.size(), 1u);

    // Same length, same second: only the content tells them apart.
    const auto stamp = rig.real.modificationTime(ready).value();
    rig.put(ready, "0001,OTHER\r\n");
    setModified(ready, stamp);
    rig.tick();
    EXPECT_EQ(rig.commands.size(), 1u) << "content is compared once a second";
    rig.clock.advanceSeconds(1);
    rig.tick();
    EXPECT_EQ(rig.commands, (std::vector<std::string>{"0001,FIRST" + Etx, "0001,OTHER" + Etx}));
    EXPECT_EQ(rig.errorsHolding("Unable to delete"), 2u);
}

TEST(CommandFile, CommandThatRunsThePollAgainDoesNotReadTheFileTwice) {
    LinkRig rig;
    rig.link.setCommandLineHandler([&](const std::string& line) {
        rig.commands.push_back(line);
        rig.link.pollTick(rig.clock.now());  // a handler letting other work run
    });
    rig.link.start();
    rig.put(rig.linkPath("FILE_COM.OK"), "0001,A\r\n0001,B\r\n");
    rig.tick();
    EXPECT_EQ(rig.commands, (std::vector<std::string>{"0001,A" + Etx, "0001,B" + Etx}));
}

TEST(CommandFile, PacketsWrittenByACommandArePromotedBeforeTheNextLine) {
    LinkRig rig;
    std::vector<bool> readyBefore;
    rig.link.setCommandLineHandler([&](const std::string& line) {
        readyBefore.push_back(rig.real.exists(rig.linkPath("FILE_MSG.OK")));
        std::string answer = "0000,08-#OK " + line.substr(0, 1);
        rig.link.fileWrite(LinkFileId::Messages, answer);
    });
    rig.link.start();
    rig.put(rig.linkPath("FILE_COM.OK"), "#1\r\n#2\r\n");
    rig.tick();
    EXPECT_EQ(readyBefore, (std::vector<bool>{false, true}));
    EXPECT_EQ(rig.delivered("FILE_MSG"), (std::vector<std::string>{"0000,08-#OK #", "0000,08-#OK #"}));
}
