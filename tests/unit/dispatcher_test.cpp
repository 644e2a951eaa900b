#include "exchange/dispatcher.h"

#include "unit/exchange_test_support.h"

#include <gtest/gtest.h>

namespace iplib {
namespace {

using namespace iplib::testing;

const std::string B187(1, static_cast<char>(187));
const std::string B200(1, static_cast<char>(200));

TEST(Dispatcher, RoutesToTheTerminalQueueInQueuedForm) {
    ExchangeHarness h;
    h.addTerminal(1, true);
    const int twelve = h.addTerminal(12, true);
    const int rq = h.addTerminal(20, true, terminal_types::RQ05T);
    const int ether = h.addTerminal(21, true);

    struct Case { std::string line; int slot; std::string queued; };
    const Case cases[] = {
        // command text keeps its further commas; framing bytes go, wherever they stand
        {"0012,MSG,A B" + std::string(1, ETX), twelve, "0012" + std::string(1, SEP) + "MSG,A B"},
        {"12," + std::string(1, STX) + "X," + STX + "Y" + ETX, twelve, "12" + std::string(1, SEP) + "X,Y"},
        // a line without a comma is routed by its whole text's value
        {"0012" + std::string(1, ETX), twelve, "0012"},
        // the output marker is cut for the RQ05T model only
        {"0020,BELL><T1T" + std::string(1, ETX), rq, "0020" + std::string(1, SEP) + "BELL"},
        {"0021,BELL><T1T" + std::string(1, ETX), ether, "0021" + std::string(1, SEP) + "BELL><T1T"},
    };
    for (const auto& c : cases) {
        const std::size_t before = h.registry.state(c.slot).commandQueue.size();
        EXPECT_EQ(h.dispatcher.dispatch(c.line), Dispatcher::Queued) << c.line;
        ASSERT_EQ(h.registry.state(c.slot).commandQueue.size(), before + 1) << c.line;
        EXPECT_EQ(h.registry.state(c.slot).commandQueue.back(), c.queued);
    }
}

TEST(Dispatcher, BroadcastWaitsInSlotZeroAndDisconnectedTerminalsGetNothing) {
    ExchangeHarness h;
    h.addTerminal(1, false, terminal_types::RQ05T);
    const int twelve = h.addTerminal(12, false);

    EXPECT_EQ(h.dispatcher.dispatch("*,HELLO><T1" + std::string(1, ETX)), Dispatcher::Queued);
    // "*" takes slot 0's type rules too
    EXPECT_EQ(h.queue(0), std::vector<std::string>{"*" + std::string(1, SEP) + "HELLO"});

    EXPECT_EQ(h.dispatcher.dispatch("0012,HELLO"), Dispatcher::NotConnected);
    EXPECT_TRUE(h.queue(twelve).empty());
}

TEST(Dispatcher, UnknownNumbersGoToBridgesAndMobileDevices) {
    ExchangeHarness h;
    h.addTerminal(12, true);
    std::vector<std::pair<std::string, std::int64_t>> bridgeLines, mobileLines;
    std::int64_t bridgeNumber = 300, mobileNumber = 300;
    Dispatcher::Hooks hooks;
    hooks.toBridges = [&](std::string& line, std::int64_t n) {
        bridgeLines.emplace_back(line, n);
        return n == bridgeNumber;
    };
    hooks.toMobileDevices = [&](const std::string& line, std::int64_t n) {
        mobileLines.emplace_back(line, n);
        return n == mobileNumber;
    };
    h.dispatcher.setHooks(hooks);

    const std::string wrapped = std::string("0300,\xFE\xF8\x08\x02\xDC") + "OUT1" + ETX + ETX + "   ";
    std::string line = "0300,\xDCOUT1" + std::string(1, ETX);
    EXPECT_EQ(h.dispatcher.dispatch(line), Dispatcher::Queued);
    EXPECT_EQ(line, wrapped);  // the caller sees the bridge form
    ASSERT_EQ(bridgeLines.size(), 1u);
    EXPECT_EQ(bridgeLines[0].first, wrapped);
    ASSERT_EQ(mobileLines.size(), 1u);
    EXPECT_EQ(mobileLines[0].first, wrapped);

    // a text not starting with 220/221 reaches the bridges as it is, framing kept
    bridgeLines.clear();
    EXPECT_EQ(h.dispatcher.dispatch("0300,A,B" + std::string(1, ETX)), Dispatcher::Queued);
    EXPECT_EQ(bridgeLines.at(0).first, "0300,A,B" + std::string(1, ETX));
    EXPECT_EQ(Dispatcher::bridgeForm("0300,\xDD" "X,REST"), std::string("0300,\xFE\xF8\x08\x02\xDD") + "X" + ETX + "   ");

    // only a mobile device answers: still sent; the mobile device sees the line unwrapped
    bridgeNumber = -1;
    mobileLines.clear();
    line = "0300,\xDCZ";
    EXPECT_EQ(h.dispatcher.dispatch(line), Dispatcher::Queued);
    EXPECT_EQ(mobileLines.at(0).first, "0300,\xDCZ");

    // nobody: not found, whatever the number looks like
    mobileNumber = -1;
    for (const std::string bad : {"0099,X", "12345,X", "-12,X", "abc,X", ",X", "", "\xFF\xFE,\x01"}) {
        bridgeLines.clear();
        EXPECT_EQ(h.dispatcher.dispatch(bad), Dispatcher::NotFound) << bad;
        ASSERT_EQ(bridgeLines.size(), 1u);
        EXPECT_EQ(bridgeLines[0].second, text::numericValue(text::getField(bad, ",", 1)));
    }
    EXPECT_TRUE(h.queue(0).empty());
}

TEST(Dispatcher, TranslatesBeforeLoggingListingAndRouting) {
    ExchangeHarness h;
    const int twelve = h.addTerminal(12, true);
    h.logs.setAll(true);
    std::vector<std::string> lastCommands;
    Dispatcher::Hooks hooks;
    hooks.translate = [](std::string& line) { line = text::replaceAll(line, "HELLO", "BONJOUR"); };
    hooks.addToLastCommands = [&](const std::string& line) { lastCommands.push_back(line); };
    h.dispatcher.setHooks(hooks);

    std::string line = "0012,HELLO" + std::string(1, ETX);
    EXPECT_EQ(h.dispatcher.dispatch(line), Dispatcher::Queued);
    EXPECT_EQ(line, "0012,BONJOUR" + std::string(1, ETX));
    EXPECT_EQ(lastCommands, std::vector<std::string>{line});
    EXPECT_EQ(h.queue(twelve), std::vector<std::string>{"0012" + std::string(1, SEP) + "BONJOUR"});
    EXPECT_NE(h.readFile(h.logs.activityPath()).find("10:00:00 COM:0012,BONJOUR%3%\t\r\n"), std::string::npos);
}

TEST(Dispatcher, AFullQueueRefusesTheLine) {
    ExchangeHarness h;
    const int twelve = h.addTerminal(12, true);
    auto& q = h.registry.state(twelve).commandQueue;
    q.assign(Dispatcher::MaxQueuedCommands - 1, "old");
    EXPECT_EQ(h.dispatcher.dispatch("0012,LAST"), Dispatcher::Queued);
    EXPECT_EQ(h.dispatcher.dispatch("0012,TOO MANY"), Dispatcher::NotConnected);
    EXPECT_EQ(q.size(), Dispatcher::MaxQueuedCommands);
    EXPECT_EQ(q.back(), "0012" + std::string(1, SEP) + "LAST");
    ASSERT_FALSE(h.logs.errorList().empty());
    EXPECT_NE(h.logs.errorList().back().find("COMMAND QUEUE FULL"), std::string::npos);
}

// The customer patches: which fabricated packets a sequence of lines produces.
struct PatchCase {
    const char* name;
    bool first, second;
    std::vector<std::string> lines;
    std::vector<std::string> answers;  // the 7-byte answers of the packets, in order
};

void PrintTo(const PatchCase& c, std::ostream* os) { *os << c.name; }

class DispatcherPatches : public ::testing::TestWithParam<PatchCase> {};

TEST_P(DispatcherPatches, FabricateThePromptAnswers) {
    const PatchCase& c = GetParam();
    ExchangeHarness h;
    h.addTerminal(12, true);
    std::vector<std::pair<int, std::string>> packets;
    h.dispatcher.setFakePacketSink([&](int slot, const std::string& p) { packets.emplace_back(slot, p); });
    h.dispatcher.enablePatches(c.first, c.second);
    for (const auto& line : c.lines) h.dispatcher.dispatch(line);

    const std::string head = "0012," + std::string(1, STX) + "9M" + "120926" + "100000" + "12";
    ASSERT_EQ(packets.size(), c.answers.size());
    for (std::size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].first, 0);
        EXPECT_EQ(packets[i].second, head + c.answers[i] + ETX);
    }
}

const std::string Scanner187 = "0012,01" + B187 + "-SCANNER-";
const std::string Horodateur187 = "0012,01" + B187 + "-HORODATEUR-";
const std::string Show200 = "0012,01" + B200 + "01";
const std::string Chrono187 = "0012,02" + B187 + "-CHRONOMETRE-";
const std::string Other187 = "0012,02" + B187 + "-OTHER-";
const std::string Show200b = "0012,02" + B200 + "01";

INSTANTIATE_TEST_SUITE_P(
    Cases, DispatcherPatches,
    ::testing::Values(
        PatchCase{"FirstScannerOnceOnly", true, false, {Scanner187, Show200, Show200}, {"01,S,FF"}},
        PatchCase{"FirstTimeClock", true, false, {Horodateur187, Show200}, {"01,D,FF"}},
        PatchCase{"FirstOffNothing", false, false, {Scanner187, Show200}, {}},
        PatchCase{"FirstIgnoresOtherTerminals", true, false, {"0013,01" + B187 + "-SCANNER-", Show200}, {}},
        PatchCase{"SecondNeedsThePromptTwice", false, true, {Scanner187, Show200}, {}},
        PatchCase{"SecondScannerSentTwice", false, true, {Scanner187, Scanner187, Show200, Show200}, {"01,S,FF"}},
        PatchCase{"SecondThirdSendingStartsOver", false, true, {Scanner187, Scanner187, Scanner187, Show200}, {}},
        PatchCase{"SecondTimeClockOnce", false, true, {Horodateur187, Show200}, {"01,D,FF"}},
        PatchCase{"SecondStopwatch", false, true, {Chrono187, Show200b}, {"02,O,FF"}},
        PatchCase{"SecondStopwatchKeepsEarlierPrompt", false, true, {Other187, Chrono187, Show200b}, {}},
        PatchCase{"BothFirstRunsFirst", true, true, {Scanner187, Show200}, {"01,S,FF"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Dispatcher, PatchesCoverSlotsZeroToTwentyOnly) {
    ExchangeHarness h;
    for (int n = 1; n <= 22; ++n) h.addTerminal(n, true);
    int packets = 0;
    h.dispatcher.setFakePacketSink([&](int, const std::string&) { ++packets; });
    h.dispatcher.enablePatches(true, false);
    for (int n : {21, 22}) {  // slots 20 and 21
        const std::string number = text::fourDigits(n);
        h.dispatcher.dispatch(number + ",01" + B187 + "-SCANNER-");
        h.dispatcher.dispatch(number + ",01" + B200);
    }
    EXPECT_EQ(packets, 1);
    EXPECT_EQ(h.dispatcher.patchPrompt(21), "");
}

TEST(Dispatcher, SecondPatchForgetsThePromptWhenTheLinkConnects) {
    ExchangeHarness h;
    h.addTerminal(12, true);
    int packets = 0;
    h.dispatcher.setFakePacketSink([&](int, const std::string&) { ++packets; });
    h.dispatcher.enablePatches(false, true);
    h.dispatcher.dispatch(Scanner187);
    h.dispatcher.clearPatchPrompt(0);
    h.dispatcher.clearPatchPrompt(500);  // past the table: nothing
    h.dispatcher.dispatch(Scanner187);
    h.dispatcher.dispatch(Show200);
    EXPECT_EQ(packets, 0);
}

TEST(Dispatcher, AFabricatedPacketMayDispatchAgain) {
    // The delivery runs the inbound reactions, which may answer the terminal at once.
    ExchangeHarness h;
    const int twelve = h.addTerminal(12, true);
    h.dispatcher.enablePatches(true, true);
    h.dispatcher.setFakePacketSink([&](int, const std::string&) { h.dispatcher.dispatch(Scanner187); });
    h.dispatcher.dispatch(Scanner187);
    h.dispatcher.dispatch(Show200);
    // the outer two lines and one nested line per fabricated packet (one per patch)
    EXPECT_EQ(h.queue(twelve).size(), 4u);
    // the second patch empties the prompt after its delivery, whatever the nested line set
    EXPECT_EQ(h.dispatcher.patchPrompt(0), "");
}

}  // namespace
}  // namespace iplib
