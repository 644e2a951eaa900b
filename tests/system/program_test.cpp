// The real program on a temporary drive root: first run, the terminal list, the logs, the
// single-copy rule, and terminal lists it cannot make sense of.
//
// Loopback addresses of this file: 127.62.x.x (terminal list), 127.63.x.x (logs),
// 127.64.x.x (bad terminal lists). Every simulated terminal listens on a free port of its
// own, written into the terminal list.

#include "system/program_harness.h"
#include "terminal_sim/fleet.h"
#include "terminal_sim/frames.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <set>

using namespace iplib::test;
using namespace terminal_sim;

namespace {

std::vector<std::string> outputLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string fourDigits(std::size_t n) {
    char text[8];
    std::snprintf(text, sizeof text, "%04zu", n);
    return text;
}

// The program in a folder of the test's own, so that this folder is the program folder it
// copies old files from on a first run.
void placeProgramIn(const std::string& folder) {
    std::error_code linkError;
    std::filesystem::create_hard_link(IPLIB_PROGRAM, folder + "iplib", linkError);
    if (linkError) std::filesystem::copy_file(IPLIB_PROGRAM, folder + "iplib");
}

bool matchesAnyLine(const std::string& content, const std::regex& pattern) {
    for (const auto& line : crlfLines(content))
        if (std::regex_match(line, pattern)) return true;
    return false;
}

// A log line "hh:mm:ss " + text.
bool hasTimedLine(const std::string& content, const std::string& text) {
    static const std::regex time("\\d\\d:\\d\\d:\\d\\d ");
    for (const auto& line : crlfLines(content))
        if (line.size() == 9 + text.size() && std::regex_match(line.substr(0, 9), time) && line.substr(9) == text)
            return true;
    return false;
}

}  // namespace

TEST(ProgramStart, FirstRunCreatesTheConfigurationFolderWritesDefaultSettingsAndCopiesTheOldFiles) {
    ProgramRoot root;  // an empty drive root
    TempFolder programFolder;
    placeProgramIn(programFolder.path());
    // Name, and whether it is copied: the text between the first and the next dot counts,
    // in any case.
    const std::vector<std::pair<std::string, bool>> oldFiles = {
        {"OLD.CFG", true}, {"A.1", true},  {"B.7", true},  {"C.VSK", true},     {"D.MAC", true},
        {"E.DAT", true},   {"F.TXT", false}, {"G.8", false}, {"H.cfg.bak", true}, {"NODOT", false},
    };
    for (const auto& [name, copied] : oldFiles) writeFile(programFolder / name, "old file " + name + "\r\n");

    auto options = ProgramProcess::onRoot(root.root());
    options.executable = programFolder / "iplib";
    ProgramProcess iplib(options);
    ASSERT_TRUE(iplib.waitUntilRunning()) << iplib.output();

    ASSERT_TRUE(std::filesystem::is_directory(root.configFolder()));
    for (const auto& [name, copied] : oldFiles) {
        EXPECT_EQ(exists(root.file(name)), copied) << name;
        if (copied) {
            EXPECT_EQ(readFile(root.file(name)), "old file " + name + "\r\n") << name;
        }
    }
    EXPECT_FALSE(exists(root.file("iplib")));
    // Answer timeout 4, fingerprint switch off, no password or login, call-in port 10024,
    // no template folder, cloud flag off.
    EXPECT_EQ(readFile(root.file("SETUP.CFG")), " 4 \r\n 0 \r\n\r\n\r\n10024\r\n\r\n 0 \r\n");

    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(iplib.running()) << iplib.output();
    EXPECT_EQ(iplib.terminate(), 0) << iplib.tail();
}

TEST(ProgramStart, TerminalListLoadsAtMost5000LinesEachWaitingForItsAnswer) {
    ClosedPort closed;  // nothing connects: every attempt is refused at once
    const std::string port = std::to_string(closed.port());
    std::vector<std::string> lines = {
        "0001,127.62.0.5," + port + ",=CLOSE 12-09-2026 10:00:00,02:00,Cellular",
        // A call-in slot is never dialled, so its loaded line stays as loading made it.
        "0002,127.62.0.6," + port + ",=CLOSE 12-09-2026 10:00:00,0,Internet",
    };
    for (std::size_t k = lines.size(); k < 5001; ++k)
        lines.push_back(terminalLine(fourDigits(k + 1), *nthLoopbackAddress("127.62.1.1", k), closed.port()));
    ProgramRoot root;
    root.writeTerminalList(lines);
    ProgramRoot autoRoot;  // the same list with automatic configuration on
    autoRoot.writeTerminalList(lines, true);

    ProgramProcess iplib(root.root());
    ProgramProcess autoIp(autoRoot.root());
    ASSERT_TRUE(iplib.waitUntilRunning()) << iplib.output().substr(0, 2000);
    ASSERT_TRUE(autoIp.waitUntilRunning()) << autoIp.output().substr(0, 2000);

    std::vector<std::string> slots;
    for (const auto& line : outputLines(iplib.output()))
        if (line.rfind("SLOT ", 0) == 0) slots.push_back(line);
    ASSERT_EQ(slots.size(), 5000u);
    EXPECT_NE(iplib.output().find("(5000)"), std::string::npos);
    // The state field is reset at loading; the attempt to connect that loading starts
    // writes its own state at once, before the slots are printed.
    EXPECT_TRUE(std::regex_match(slots[0], std::regex("SLOT 0: 0001,127\\.62\\.0\\.5," + port +
                                                      ",=TRY TO CONNECT \\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d,"
                                                      "02:00,Cellular")))
        << slots[0];
    EXPECT_EQ(slots[1], "SLOT 1: 0002,127.62.0.6," + port + ",=WAIT FOR THE ANSWER,0,Internet");
    EXPECT_EQ(slots[4999].rfind("SLOT 4999: 5000," + *nthLoopbackAddress("127.62.1.1", 4999) + ",", 0), 0u)
        << slots[4999];
    EXPECT_EQ(iplib.output().find("5001," + *nthLoopbackAddress("127.62.1.1", 5000) + ","), std::string::npos);

    EXPECT_NE(autoIp.output().find("(0)"), std::string::npos);
    EXPECT_EQ(autoIp.output().find("SLOT "), std::string::npos);

    iplib.requestEnd();
    autoIp.requestEnd();
    EXPECT_EQ(iplib.waitForExit(6s), 0) << iplib.tail();
    EXPECT_EQ(autoIp.waitForExit(6s), 0) << autoIp.tail();
}

TEST(ProgramStart, LogMarkerSwitchesTheLogsOnFromStartUp) {
    TerminalThread simulators;
    auto terminal = simulators.startTerminal("127.63.0.2");
    ProgramRoot root;
    root.logEverything();
    root.writeTerminalList({terminalLine("0001", "127.63.0.2", terminal->port())});
    ProgramProcess iplib(root.root());
    CustomerSide customer(root.configFolder());
    ASSERT_TRUE(customer.waitForMessage("0001,01-CONNECT\x03")) << iplib.output();

    const std::regex connectLine("0001 \\d\\d:\\d\\d:\\d\\d 127\\.63\\.0\\.2\tCONNECT \t");
    EXPECT_TRUE(eventually([&] { return matchesAnyLine(root.log("ERR_"), connectLine); })) << root.log("ERR_");

    waitForClockSettings(*terminal);
    const std::string frame = dataFrame(recordBody('1', 'M', {"091226", "101500"}, "01", "01,4711,000001"));
    terminal->sendDataFrame(recordBody('1', 'M', {"091226", "101500"}, "01", "01,4711,000001"));
    ASSERT_TRUE(customer.waitForPacket("0001," + frame));
    const std::string packetText = asLogged("PAQ:0001," + frame) + "\t";
    ASSERT_TRUE(eventually([&] { return hasTimedLine(root.log("VSK_"), packetText); })) << root.log("VSK_");

    // The day's activity file starts with its block: title, one line per terminal, the
    // settings, the closing line.
    const auto activity = crlfLines(root.log("VSK_"));
    ASSERT_GE(activity.size(), 4u);
    EXPECT_EQ(activity[0], "STR: [Start LOG]---------------IP LIBRARY VERSION: 1.9A");
    EXPECT_EQ(activity[1].rfind("QBX: 0001,127.63.0.2," + std::to_string(terminal->port()) + ",=", 0), 0u)
        << activity[1];
    const auto end = std::find(activity.begin(), activity.end(), "STR: --------------------------");
    ASSERT_NE(end, activity.end());
    const std::vector<std::string> block(activity.begin() + 2, end);
    EXPECT_TRUE(contains(block, "Protocol Timeout:0.4"));
    EXPECT_TRUE(contains(block, "Automatic IP Config: OFF"));
    EXPECT_TRUE(contains(block, "EXE PRG DIR:" + root.configFolder()));
    EXPECT_TRUE(contains(block, "FILES LINK DIR: " + root.configFolder()));
    EXPECT_EQ(std::count(activity.begin(), activity.end(), activity[0]), 1);

    EXPECT_EQ(iplib.terminate(), 0) << iplib.tail();
}

TEST(ProgramStart, SecondCopyWithoutMulEndsAtOnceAndTheFirstGoesOn) {
    const std::string lock = uniqueName("single-copy");
    ProgramRoot firstRoot, secondRoot, thirdRoot;
    for (auto* root : {&firstRoot, &secondRoot, &thirdRoot}) root->writeTerminalList({});

    // Without -MUL, under the same lock name, each on a drive root of its own.
    auto copyOn = [&](const ProgramRoot& root, std::vector<std::string> arguments) {
        auto options = ProgramProcess::onRoot(root.root());
        options.arguments = std::move(arguments);
        options.lockName = lock;
        return options;
    };
    ProgramProcess first(copyOn(firstRoot, {}));
    ASSERT_TRUE(first.waitUntilRunning()) << first.output();

    ProgramProcess second(copyOn(secondRoot, {}));
    EXPECT_EQ(second.waitForExit(6s), 0) << second.output();
    EXPECT_EQ(second.output().find("IP library running"), std::string::npos) << second.output();

    // With -MUL a copy runs beside it.
    ProgramProcess third(copyOn(thirdRoot, {"-MUL"}));
    ASSERT_TRUE(third.waitUntilRunning()) << third.output();

    EXPECT_TRUE(first.running());
    CustomerSide customer(firstRoot.configFolder());
    ASSERT_TRUE(customer.sendCommands({"#"}));
    EXPECT_TRUE(customer.waitForMessageStartingWith("0000,08-#OK "));

    first.requestEnd();
    third.requestEnd();
    EXPECT_EQ(first.waitForExit(6s), 0) << first.tail();
    EXPECT_EQ(third.waitForExit(6s), 0) << third.tail();
}

TEST(ProgramStart, TerminalListsItCannotReadLeaveItRunning) {
    ClosedPort closed;
    const std::string good = terminalLine("0001", "127.64.0.2", closed.port());
    std::mt19937 random(20260912);
    std::string binary(4096, '\0');
    for (char& c : binary) c = static_cast<char>(random() & 0xFF);
    std::string lfOnly = terminalListFile({good});
    lfOnly = std::regex_replace(lfOnly, std::regex("\r\n"), "\n");

    const std::vector<std::pair<std::string, std::string>> lists = {
        {"empty", ""},
        {"binary", binary},
        {"1 MB line", terminalListFile({std::string(1 << 20, '9'), good})},
        {"LF line ends", lfOnly},
    };
    std::vector<std::unique_ptr<ProgramRoot>> roots;
    std::vector<std::unique_ptr<ProgramProcess>> programs;
    for (const auto& [name, content] : lists) {
        roots.push_back(std::make_unique<ProgramRoot>());
        roots.back()->writeConfigFile("TCPIP.CFG", content);
        programs.push_back(std::make_unique<ProgramProcess>(roots.back()->root()));
    }
    for (std::size_t i = 0; i < lists.size(); ++i)
        ASSERT_TRUE(programs[i]->waitUntilRunning()) << lists[i].first << ": " << programs[i]->output().substr(0, 2000);
    std::this_thread::sleep_for(1s);
    for (std::size_t i = 0; i < lists.size(); ++i) EXPECT_TRUE(programs[i]->running()) << lists[i].first;

    // Lines ended by LF alone read as well as CR LF ones.
    EXPECT_NE(programs[3]->output().find("SLOT 0: 0001,127.64.0.2," + std::to_string(closed.port()) + ",="),
              std::string::npos)
        << programs[3]->output();

    for (auto& program : programs) program->requestEnd();
    for (std::size_t i = 0; i < lists.size(); ++i)
        EXPECT_EQ(programs[i]->waitForExit(6s), 0) << lists[i].first << ": " << programs[i]->tail();
}
