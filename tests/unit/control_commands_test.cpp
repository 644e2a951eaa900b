#include "exchange/control_commands.h"

#include "unit/exchange_test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace iplib {
namespace {

using namespace iplib::testing;

std::string etx(const std::string& text) { return text + ETX; }

struct ControlHarness : ExchangeHarness {
    TerminalListFile terminalList{files, registry, logs};
    TerminalRules rules{registry};
    int prioritySlot = -1;
    ControlCommands commands{registry, terminalList, dispatcher, rules, op, clock, prioritySlot};
    std::vector<std::string> answers;
    std::vector<std::string> offeredAddresses;
    std::vector<std::pair<std::string, std::string>> macros;
    std::vector<std::string> delays;
    bool cloud = false;
    bool blocked = false;
    int reloads = 0;
    int ends = 0;
    std::vector<std::string> mobiles, bridges;

    ControlHarness() {
        terminalList.setConfigFolder(root.path());
        ControlCommands::Hooks hooks;
        hooks.postStatus = [this](const std::string& l) { answers.push_back(l); };
        hooks.sendMacro = [this](const std::string& n, const std::string& m) { macros.emplace_back(n, m); };
        hooks.reloadRegistry = [this] {
            ++reloads;
            terminalList.load();
        };
        hooks.endProcess = [this] { ++ends; };
        hooks.internetCloud = [this] { return cloud; };
        hooks.addIpToList = [this](const std::string& a) { offeredAddresses.push_back(a); };
        hooks.delaysCommandReceived = [this](const std::string& n) { delays.push_back(n); };
        hooks.dDeBlocked = [this] { return blocked; };
        hooks.mobileEntries = [this] { return mobiles; };
        hooks.bridgeEntries = [this] { return bridges; };
        commands.setHooks(hooks);
    }
    // The answers of one line.
    std::vector<std::string> run(const std::string& line) {
        answers.clear();
        commands.processLine(line);
        return answers;
    }
    std::string savedList() { return readFile(terminalList.path()); }
};

using Answers = std::vector<std::string>;

TEST(ControlAdd, AnswersEveryCaseByteForByte) {
    struct Case {
        std::string line;
        Answers answers;
        std::string addedLine;  // "" when nothing is added
    };
    const Case cases[] = {
        {etx("A,12,127.0.1.50,1024,0,Ethernet"), {etx("0000,10-ADD,0012,127.0.1.50,1024,0,Ethernet,01-OK")},
         "0012,127.0.1.50,1024,=WAIT FOR THE ANSWER,0,Ethernet"},
        // the same number again: echoed as received
        {etx("A,12,127.0.1.50,1024,0,Ethernet"), {etx("0000,10-ADD,12,127.0.1.50,1024,0,Ethernet,02-EXIST")}, ""},
        {etx("A,0012.5,127.0.1.99,1024,0,Ethernet"), {etx("0000,10-ADD,0012.5,127.0.1.99,1024,0,Ethernet,02-EXIST")},
         ""},
        // the same address and port under another number
        {etx("A,13,127.0.1.50,01024,0,Cellular"), {etx("0000,10-ADD,13,127.0.1.50,01024,0,Cellular,02-EXIST")}, ""},
        // the same address on another port is another terminal
        {etx("A,14,127.0.1.50,1025,0,Cellular"), {etx("0000,10-ADD,0014,127.0.1.50,1025,0,Cellular,01-OK")},
         "0014,127.0.1.50,1025,=WAIT FOR THE ANSWER,0,Cellular"},
        {etx("A,15,127.0.1.51,1024,0,ethernet"), {etx("0000,10-ADD,15,127.0.1.51,1024,0,ethernet,04-TYPE_ERROR")}, ""},
        {etx("A,15,127.0.1.51,1024,0,Internet"), {etx("0000,10-ADD,15,127.0.1.51,1024,0,Internet,04-TYPE_ERROR")}, ""},
        // the type is trimmed, the zone is echoed as received and stored trimmed
        {etx("A, 7,127.0.1.7,1024, -02:00 ,  RQ05T "),
         {etx("0000,10-ADD,0007,127.0.1.7,1024, -02:00 ,RQ05T,01-OK")},
         "0007,127.0.1.7,1024,=WAIT FOR THE ANSWER,-02:00,RQ05T"},
        {etx("A,9999,127.0.1.9,1024,0,QBX-Vorlindex"),
         {etx("0000,10-ADD,9999,127.0.1.9,1024,0,QBX-Vorlindex,01-OK")},
         "9999,127.0.1.9,1024,=WAIT FOR THE ANSWER,0,QBX-Vorlindex"},
        // invalid numbers: nothing added, no answer
        {etx("A,0,127.0.1.60,1024,0,Ethernet"), {}, ""},
        {etx("A,10000,127.0.1.60,1024,0,Ethernet"), {}, ""},
        {etx("A,-5,127.0.1.60,1024,0,Ethernet"), {}, ""},
        {etx("A,abc,127.0.1.60,1024,0,Ethernet"), {}, ""},
        // fields missing
        {etx("A"), {etx("0000,10-ADD,,,,,,04-TYPE_ERROR")}, ""},
        {etx("A,16,127.0.1.16"), {etx("0000,10-ADD,16,127.0.1.16,,,,04-TYPE_ERROR")}, ""},
        // escapes are decoded first: "%65%" is "A"
        {etx("%65%,17,127.0.1.17,1024,0,Ethernet"), {etx("0000,10-ADD,0017,127.0.1.17,1024,0,Ethernet,01-OK")},
         "0017,127.0.1.17,1024,=WAIT FOR THE ANSWER,0,Ethernet"},
    };
    ControlHarness h;
    for (const auto& c : cases) {
        const std::size_t before = h.registry.count();
        EXPECT_EQ(h.run(c.line), c.answers) << c.line;
        if (c.addedLine.empty()) {
            EXPECT_EQ(h.registry.count(), before) << c.line;
            continue;
        }
        ASSERT_EQ(h.registry.count(), before + 1) << c.line;
        const int slot = static_cast<int>(before);
        EXPECT_EQ(h.registry.line(slot), c.addedLine);
        EXPECT_EQ(h.registry.slotOf(text::numericValue(c.addedLine)), slot);
        EXPECT_EQ(h.registry.state(slot).linkState, LinkState::Down);
        EXPECT_NE(h.savedList().find(c.addedLine + "\r\n"), std::string::npos);
    }
}

TEST(ControlAdd, NumberRangeFollowsTheCloudModeAndOtherDevices) {
    ControlHarness h;
    h.cloud = true;
    EXPECT_EQ(h.run(etx("A,9500,127.0.1.95,1024,0,Ethernet")), Answers{});
    EXPECT_EQ(h.run(etx("A,8999,127.0.1.89,1024,0,Ethernet")).size(), 1u);
    h.cloud = false;
    EXPECT_EQ(h.run(etx("A,9500,127.0.1.95,1024,0,Ethernet")).size(), 1u);
    EXPECT_EQ(h.registry.count(), 2u);

    // bridges and mobile devices take part in the duplicate check through their hooks
    std::vector<std::string> bridgeMessages, mobileMessages;
    h.rules.setHooks({[&](const TerminalFields&) { return bridgeMessages; },
                      [&](const TerminalFields&) { return mobileMessages; }});
    mobileMessages = {"ERROR DOUBLE ID NUMBER (Check in section: Mobile)!"};
    EXPECT_EQ(h.run(etx("A,20,127.0.1.20,1024,0,Ethernet")),
              Answers{etx("0000,10-ADD,20,127.0.1.20,1024,0,Ethernet,02-EXIST")});
    mobileMessages.clear();
    bridgeMessages = {"ERROR DOUBLE ID NUMBER (Check in section: Bridge IP)!"};
    EXPECT_EQ(h.run(etx("A,20,127.0.1.20,1024,0,Ethernet")),
              Answers{etx("0000,10-ADD,20,127.0.1.20,1024,0,Ethernet,02-EXIST")});
    EXPECT_EQ(h.registry.count(), 2u);
}

TEST(ControlDelete, RemovesReloadsAndOffersTheAddressAgain) {
    ControlHarness h;
    for (int n : {1, 2, 3}) h.addTerminal(n, true);
    h.terminalList.save();

    EXPECT_EQ(h.run(etx("D,55")), Answers{etx("0000,11-DEL,55,03-NOT EXIST")});
    EXPECT_EQ(h.run(etx("D")), Answers{etx("0000,11-DEL,,03-NOT EXIST")});
    EXPECT_EQ(h.run(etx("D,99999")), Answers{etx("0000,11-DEL,99999,03-NOT EXIST")});
    EXPECT_EQ(h.reloads, 0);

    EXPECT_EQ(h.run(etx("D,0002")), Answers{etx("0000,11-DEL,0002,01-OK")});
    EXPECT_EQ(h.offeredAddresses, std::vector<std::string>{"127.0.1.3"});
    EXPECT_EQ(h.reloads, 1);
    ASSERT_EQ(h.registry.count(), 2u);
    EXPECT_EQ(h.registry.slotOf(3), 1);
    EXPECT_EQ(h.registry.slotOf(2), NO_SLOT);
    EXPECT_EQ(h.savedList().find("0002,"), std::string::npos);
}

TEST(ControlDelete, WithoutAReloadHookTheListFileIsReloaded) {
    ControlHarness h;
    h.addTerminal(1, true);
    h.addTerminal(2, true);
    h.terminalList.save();
    ControlCommands bare{h.registry, h.terminalList, h.dispatcher, h.rules, h.op, h.clock, h.prioritySlot};
    bare.processLine(etx("D,1"));
    ASSERT_EQ(h.registry.count(), 1u);
    EXPECT_EQ(h.registry.slotOf(2), 0);
}

TEST(ControlRenumber, AnswersAndRewritesTheLine) {
    ControlHarness h;
    const int twelve = h.addTerminal(12, true, terminal_types::Cellular, "127.0.1.12", "2000");
    h.addTerminal(13, true);
    h.registry.setLine(twelve, "0012,127.0.1.12,2000,=CLOSE 12-09-2026 09:00:00,02:00,Cellular");

    struct Case { std::string line; Answers answers; };
    const Case cases[] = {
        {etx("R,12,13"), {etx("0000,07-RENAME,0012,0013,02-0013 EXIST")}},
        {etx("R,55,56"), {etx("0000,07-RENAME,0055,0056,03-0055 NOT EXIST")}},
        {etx("R"), {etx("0000,07-RENAME,0000,0000,03-0000 NOT EXIST")}},
        {etx("R,99999,1"), {etx("0000,07-RENAME,99999,0001,03-99999 NOT EXIST")}},
        // a number the registry cannot hold is refused without an answer
        {etx("R,12,10000"), {}},
        {etx("R,12,0"), {}},
    };
    for (const auto& c : cases) EXPECT_EQ(h.run(c.line), c.answers) << c.line;
    EXPECT_EQ(h.registry.line(twelve), "0012,127.0.1.12,2000,=CLOSE 12-09-2026 09:00:00,02:00,Cellular");

    EXPECT_EQ(h.run(etx("R,12,14")), Answers{etx("0000,07-RENAME,0012,0014,01-OK")});
    EXPECT_EQ(h.registry.line(twelve), "0014,127.0.1.12,1024,=RENAME OK !,02:00,Cellular");
    EXPECT_EQ(h.registry.slotOf(14), twelve);
    EXPECT_EQ(h.registry.slotOf(12), NO_SLOT);
    EXPECT_EQ(h.registry.numberOf(twelve), 14);
    EXPECT_NE(h.savedList().find("0014,127.0.1.12,1024,=RENAME OK !,02:00,Cellular\r\n"), std::string::npos);

    // renumbering a terminal to its own number is allowed
    EXPECT_EQ(h.run(etx("R,14,14")), Answers{etx("0000,07-RENAME,0014,0014,01-OK")});
}

TEST(ControlList, ListsTerminalsMobileDevicesAndBridges) {
    ControlHarness h;
    EXPECT_EQ(h.run(etx("?")), Answers{etx("0000,06-")});
    h.addTerminal(1, true);
    h.addTerminal(2, false);
    EXPECT_EQ(h.run(etx("?")), Answers{etx("0000,06-0001=1,0002=0,")});
    h.mobiles = {"0100,23,CONNECTED", "0101,24,WAIT"};
    h.bridges = {"0200,127.0.1.200,OK", "0201,127.0.1.201,DOWN"};
    EXPECT_EQ(h.run(etx("?")), Answers{etx("0000,06-0001=1,0002=0,0100=1,0101=0,0200=1,0201=0,")});
}

TEST(ControlCommandsTest, TestStopAndWindows) {
    ControlHarness h;
    h.clock.set({2026, 12, 9, 15, 20, 33, 400});
    EXPECT_EQ(h.run(etx("#")), Answers{etx("0000,08-#OK 15:20:33")});
    EXPECT_EQ(h.run(etx("Q")), Answers{});
    EXPECT_EQ(h.ends, 1);

    struct Case { char command; bool main, minimised, bells, link; };
    const Case cases[] = {
        {'-', true, true, false, false},
        {'+', true, false, false, false},
        {'<', false, false, false, false},
        {'>', true, false, false, false},
    };
    h.op.setVisible(Window::Bells, true);
    h.op.setVisible(Window::LinkFiles, true);
    for (const auto& c : cases) {
        EXPECT_EQ(h.run(etx(std::string(1, c.command))), Answers{}) << c.command;
        EXPECT_EQ(h.op.visible(Window::Main), c.main) << c.command;
        EXPECT_EQ(h.op.minimised(), c.minimised) << c.command;
        EXPECT_EQ(h.op.visible(Window::Bells), c.bells) << c.command;
        EXPECT_EQ(h.op.visible(Window::LinkFiles), c.link) << c.command;
    }
}

TEST(ControlCommandsTest, LinesThatAreNotProcessed) {
    ControlHarness h;
    h.addTerminal(12, true);
    for (const std::string& line : {std::string("#"), std::string("#OK"), std::string(1, ETX), std::string(),
                                   std::string("0012,HELLO"), etx("#") + "X"}) {
        EXPECT_EQ(h.run(line), Answers{}) << line;
    }
    h.blocked = true;
    EXPECT_EQ(h.run(etx("#")), Answers{});
    EXPECT_EQ(h.run(etx("0099,X")), Answers{});
    h.blocked = false;
    EXPECT_TRUE(h.queue(0).empty());
    EXPECT_TRUE(h.delays.empty());
    // escapes that do not decode leave the line as it is
    EXPECT_EQ(h.run(etx("#%999%")), Answers{etx("0000,08-#OK 10:00:00")});
    EXPECT_EQ(h.run(etx("#%12")), Answers{etx("0000,08-#OK 10:00:00")});
    // an escape may produce the ETX itself
    EXPECT_EQ(h.run("#%3%"), Answers{etx("0000,08-#OK 10:00:00")});
}

TEST(ControlTerminalCommand, AnswersOnlyWhatCouldNotBeSent) {
    ControlHarness h;
    const int twelve = h.addTerminal(12, true);
    const int thirteen = h.addTerminal(13, false);

    struct Case { std::string line; Answers answers; int priority; };
    const Case cases[] = {
        {etx("0012,HELLO"), {}, twelve},
        {etx("12,HELLO"), {}, twelve},
        {etx("0099,HELLO"), {etx("0099,05-NOT_FOUND")}, NO_SLOT},
        {etx("0013,HELLO"), {etx("0013,03-ERR[9999]:SEND COMM TO ERR QBX [VESKAL_MSG]")}, thirteen},
        {etx("*,HELLO"), {}, NO_SLOT},
        {etx("123456,X"), {etx("123456,05-NOT_FOUND")}, NO_SLOT},
        // no comma: no number for the answer
        {etx("0099"), {etx(",05-NOT_FOUND")}, NO_SLOT},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(h.run(c.line), c.answers) << c.line;
        EXPECT_EQ(h.prioritySlot, c.priority) << c.line;
    }
    EXPECT_EQ(h.queue(twelve), (std::vector<std::string>{"0012" + std::string(1, SEP) + "HELLO",
                                                         "12" + std::string(1, SEP) + "HELLO",
                                                         "*" + std::string(1, SEP) + "HELLO"}));
    EXPECT_TRUE(h.queue(thirteen).empty());
    EXPECT_EQ(h.delays, (std::vector<std::string>{"0012", "0012", "0099", "0013", "0000", "123456", ""}));
}

TEST(ControlTerminalCommand, ScreenCommandsAreSentTwiceUnlessPasDouble) {
    for (const char screen : {static_cast<char>(186), static_cast<char>(200)}) {
        for (bool pasDouble : {false, true}) {
            ControlHarness h;
            const int twelve = h.addTerminal(12, true);
            h.commands.setPasDouble(pasDouble);
            EXPECT_EQ(h.run(etx(std::string("0012,") + screen + "01")), Answers{});
            EXPECT_EQ(h.queue(twelve).size(), pasDouble ? 1u : 2u);
        }
    }
    ControlHarness h;
    h.addTerminal(12, false);
    // only the second result is answered: one answer for two dispatches
    EXPECT_EQ(h.run(etx("0012,\xBA" "01")), Answers{etx("0012,03-ERR[9999]:SEND COMM TO ERR QBX [VESKAL_MSG]")});
}

TEST(ControlTerminalCommand, MacroCallsSendTheMacroAndTheRestGoesOn) {
    ControlHarness h;
    const int twelve = h.addTerminal(12, true);
    EXPECT_EQ(h.run(etx(" 0012,MACRO:open door ")), Answers{});
    EXPECT_EQ(h.macros, (std::vector<std::pair<std::string, std::string>>{{"0012", "OPEN DOOR"}}));
    // the line goes on as trimmed before its ETX was removed
    EXPECT_EQ(h.queue(twelve), std::vector<std::string>{"0012" + std::string(1, SEP) + "OPEN DOOR "});

    EXPECT_EQ(h.run(etx("0099,MACRO:X")), Answers{etx("0099,05-NOT_FOUND")});
    EXPECT_EQ(h.macros.back(), (std::pair<std::string, std::string>{"0099", "X"}));
    // lower case is no macro call
    EXPECT_EQ(h.run(etx("0012,macro:x")), Answers{});
    EXPECT_EQ(h.macros.size(), 2u);
    EXPECT_EQ(h.queue(twelve).back(), "0012" + std::string(1, SEP) + "macro:x");
}

TEST(ControlCommandsTest, ArbitraryBytesNeverCrashAndGetAtMostOneAnswer) {
    ControlHarness h;
    h.addTerminal(12, true);
    h.addTerminal(13, false);
    std::mt19937 random(12345);
    const std::string alphabet = std::string("ADR?#Q-+<>0123,%*MACRO: \x02\x03\xBA\xC8\xFA\xFF");
    for (int i = 0; i < 3000; ++i) {
        std::string line;
        const int length = static_cast<int>(random() % 40);
        for (int k = 0; k < length; ++k)
            line += random() % 4 == 0 ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()];
        if (random() % 2) line += ETX;
        const auto answers = h.run(line);
        EXPECT_LE(answers.size(), 1u) << line;
        for (const auto& a : answers) EXPECT_EQ(a.back(), ETX);
    }
    EXPECT_LE(h.registry.count(), 3000u);
}

}  // namespace
}  // namespace iplib
