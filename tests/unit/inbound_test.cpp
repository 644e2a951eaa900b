#include "exchange/inbound.h"

#include "unit/exchange_test_support.h"

#include <gtest/gtest.h>

namespace iplib {
namespace {

using namespace iplib::testing;

// A packet from terminal 0012 dated 26 September 2012, 14:30:00, with the given values
// after the prompt number and a checksum.
std::string packet(const std::string& values, const std::string& kind = "9M") {
    return "0012," + std::string(1, STX) + kind + "092612" + "143000" + "12" + "01," + values + ",XY" + ETX;
}

struct InboundHarness : ExchangeHarness {
    DrivePaths paths{root.path()};
    PayrollPunchSettings payroll;
    InboundHandling inbound{registry, dispatcher, files, paths, clock, payroll};
    int twelve = addTerminal(12, true);

    InboundHarness() {
        files.createFolder(root.path() + "VESKAL.CFG");
        files.createFolder(root.path() + "VESKAL.CFG/TCP_LIB_IP");
    }
    // The answers sent to terminal 12, as command texts.
    std::vector<std::string> answers() {
        std::vector<std::string> texts;
        for (const auto& entry : queue(twelve)) texts.push_back(text::getField(entry, std::string(1, SEP), 2));
        return texts;
    }
    std::string imported() {
        const std::string content = readFile(inbound.importPath());
        return content == "<missing>" ? std::string() : content;
    }
};

TEST(InboundAmano, ReformatsThePacketWithoutSeparators) {
    struct Case { std::string line; std::string expected; };
    const Case cases[] = {
        {packet("  4711,1"), "12" "004711" "20" "12" "09" "26" "143000"},
        {packet("4711,1"), "12" "4711" "2012" "0926" "143000"},
        {packet(" 47 ,1"), "12" "0047" "2012" "0926" "143000"},
        {"0007" + packet("4711,1").substr(4), "07" "4711" "2012" "0926" "143000"},
        // too short to hold a date: what exists is taken, nothing more
        {"0012,", "12" "20"},
        {"", "00" "20"},
    };
    for (const auto& c : cases) {
        InboundHarness h;
        h.inbound.setAmanoMtx10(true);
        std::string line = c.line;
        EXPECT_FALSE(h.inbound.transform(line));
        EXPECT_EQ(line, c.expected) << c.line;
    }
}

TEST(InboundTransform, RunsInOrderAndHandsSensorPacketsOn) {
    InboundHarness h;
    std::vector<std::string> replaced, sensed;
    h.inbound.setTransforms({[&](std::string& line) {
                                 replaced.push_back(line);
                                 line += "+R";
                             },
                             [&](const std::string& line) { sensed.push_back(line); }});

    // without options the line only meets the replace list
    std::string line = packet("4711,1", "9N");
    EXPECT_FALSE(h.inbound.transform(line));
    EXPECT_EQ(line, packet("4711,1", "9N") + "+R");
    EXPECT_TRUE(sensed.empty());

    // the replace list sees the Amano form; the sensor monitor sees the replaced line
    h.inbound.setAmanoMtx10(true);
    h.inbound.setSensorWindow(true);
    line = packet("4711,1", "9N");
    EXPECT_FALSE(h.inbound.transform(line));
    EXPECT_EQ(replaced.back(), "12" "4711" "2012" "0926" "143000");
    EXPECT_TRUE(sensed.empty());  // the Amano form has no kind letter any more

    h.inbound.setAmanoMtx10(false);
    for (const std::string kind : {"9N", "9M", "N9"}) {
        sensed.clear();
        line = packet("4711,1", kind);
        EXPECT_FALSE(h.inbound.transform(line));  // a sensor packet is still written
        EXPECT_EQ(sensed.size(), kind == "9N" ? 1u : 0u) << kind;
    }
}

const std::string W = "\xC7" "49";
const std::string Sig = "\xB3\x07";
const std::string Err = "\xB3\xB3\xB3\x07\x07\x07";

struct NethrisCase {
    const char* name;
    std::vector<std::string> cards, employees;
    bool work, meal, pause;
    std::string values;  // card, code
    std::vector<std::string> answers;
    std::string imported;
};

void PrintTo(const NethrisCase& c, std::ostream* os) { *os << c.name; }

class InboundNethris : public ::testing::TestWithParam<NethrisCase> {};

TEST_P(InboundNethris, ChecksAnswersAndImportsThePunch) {
    const NethrisCase& c = GetParam();
    InboundHarness h;
    h.payroll.employeeCards = c.cards;
    h.payroll.employees = c.employees;
    h.payroll.workActions = c.work;
    h.payroll.mealActions = c.meal;
    h.payroll.breakActions = c.pause;
    h.inbound.setNethris(true);
    std::string line = packet(c.values);
    EXPECT_TRUE(h.inbound.transform(line));
    EXPECT_EQ(h.answers(), c.answers);
    EXPECT_EQ(h.imported(), c.imported.empty() ? "" : c.imported + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InboundNethris,
    ::testing::Values(
        NethrisCase{"WorkCodeWhileOnlyWorkIsOn", {}, {}, true, false, false, "a123,1",
                    {W + " -= Punch Recu =- " + Sig}, "26-09-2012,14:30:00,1,A123"},
        NethrisCase{"MealCodeWhileMealIsOff", {}, {}, true, false, true, "A123,3",
                    {W + Sig, Err, W + " *SAISIE INVALIDE* "}, ""},
        NethrisCase{"MealCodeWhileOnlyMealIsOn", {}, {}, false, true, false, "A123,4",
                    {W + " -= Punch Recu =- " + Sig}, "26-09-2012,14:30:00,4,A123"},
        NethrisCase{"WorkCodeWhileWorkIsOff", {}, {}, false, true, true, "A123,2",
                    {W + Sig, Err, W + " *SAISIE INVALIDE* "}, ""},
        NethrisCase{"BreakCode", {}, {}, false, false, true, "A123,6", {W + " -= Punch Recu =- " + Sig},
                    "26-09-2012,14:30:00,6,A123"},
        NethrisCase{"UnknownCardSwitchesNotConsulted", {"B1"}, {"Jean,Tremblay"}, false, false, false, "A123,1",
                    {Err, W + " No Employe non valide !       "}, ""},
        NethrisCase{"KnownCardShowsTheName", {"X9", "A123"}, {"Jean,Tremblay", " Marie , Dupont "}, false, false,
                    false, " a123 ,5", {"\x07\xB3", W + "Dupont Marie" + std::string(19, ' ')},
                    "26-09-2012,14:30:00,5,A123"},
        NethrisCase{"LongNameIsCut", {"A123"}, {"Jean-Baptiste-Alexandre,De La Fontaine-Montmorency"}, true, true,
                    true, "A123,2", {"\x07\xB3", W + "De La Fontaine-Montmorency Jean"},
                    "26-09-2012,14:30:00,2,A123"},
        NethrisCase{"CardWithoutEmployeeEntry", {"A123"}, {}, true, true, true, "A123,2",
                    {"\x07\xB3", W + std::string(31, ' ')}, "26-09-2012,14:30:00,2,A123"},
        NethrisCase{"EmptyCode", {}, {}, true, true, true, "A123,",
                    {Err, W + " *SAISIE INVALIDE* ", W + " ** Punch Recu ** " + Sig}, ""},
        NethrisCase{"EmptyCard", {}, {}, true, true, true, ",1",
                    {W + " -= Punch Recu =- " + Sig, Err, W + " *SAISIE INVALIDE* "}, ""},
        NethrisCase{"LongCode", {}, {}, true, true, true, "A123, ab",
                    {W + " ** Punch Recu ** " + Sig}, "26-09-2012,14:30:00,7,A123,AB"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InboundNethrisFile, PunchesAccumulateAndAMissingFolderLosesThemQuietly) {
    InboundHarness h;
    h.inbound.setNethris(true);
    for (const char* values : {"A1,1", "A2,2"}) {
        std::string line = packet(values);
        EXPECT_TRUE(h.inbound.transform(line));
    }
    EXPECT_EQ(h.imported(), "26-09-2012,14:30:00,1,A1\r\n26-09-2012,14:30:00,2,A2\r\n");

    InboundHarness noFolder;
    std::filesystem::remove_all(noFolder.root.path() + "VESKAL.CFG");
    noFolder.inbound.setNethris(true);
    std::string line = packet("A1,1");
    EXPECT_TRUE(noFolder.inbound.transform(line));
    EXPECT_EQ(noFolder.answers().size(), 1u);
    EXPECT_EQ(noFolder.imported(), "");
}

TEST(InboundTransform, MalformedPacketsNeverCrash) {
    InboundHarness h;
    h.inbound.setAmanoMtx10(true);
    h.inbound.setSensorWindow(true);
    h.inbound.setNethris(true);
    h.inbound.setTransforms({nullptr, [](const std::string&) {}});
    for (const std::string& bad : {std::string(), std::string(","), std::string(",,,,"), std::string("\xFF\xFE\x02\x03"),
                                  std::string(5000, ','), std::string("0012,\x02" "9N")}) {
        std::string line = bad;
        EXPECT_TRUE(h.inbound.transform(line));
    }
    EXPECT_EQ(h.imported(), "");
}

TEST(InboundReactions, RunInOrderOnTheDeliveredPacket) {
    InboundHarness h;
    std::vector<std::string> seen;
    InboundHandling::Reactions r;
    r.fingerprint = [&](int slot, const std::string& p) {
        seen.push_back("fingerprint " + p);
        // a reaction that delivers another packet to the same slot
        h.registry.state(slot).lastPacket = "other";
    };
    r.pauseTerminal = [] { return std::int64_t{12}; };
    r.bellsPause = [&] { seen.push_back("pause"); };
    r.cardValidation = [&](int, const std::string& p) { seen.push_back("validation " + p); };
    r.testTools = [&](int slot, const std::string& p) { seen.push_back("test " + std::to_string(slot) + " " + p); };
    h.inbound.setReactions(r);

    const std::string p = packet("+");
    h.registry.state(h.twelve).lastPacket = p;
    h.inbound.onLastPacket(h.twelve);
    EXPECT_EQ(seen, (std::vector<std::string>{"fingerprint " + p, "pause", "validation " + p, "test 0 " + p}));
}

TEST(InboundReactions, BellsPauseKeyCondition) {
    struct Case { std::int64_t pauseTerminal; std::string packet; bool rings; };
    const Case cases[] = {
        {12, packet("+"), true},
        {12, packet("+,X"), true},
        {0, packet("+"), false},
        {13, packet("+"), false},
        {12, packet("-"), false},
        {12, packet("++"), false},
        {12, "0012,+", false},
        {12, "", false},
    };
    for (const auto& c : cases) {
        InboundHarness h;
        int rings = 0;
        InboundHandling::Reactions r;
        r.pauseTerminal = [&] { return c.pauseTerminal; };
        r.bellsPause = [&] { ++rings; };
        h.inbound.setReactions(r);
        h.registry.state(h.twelve).lastPacket = c.packet;
        h.inbound.onLastPacket(h.twelve);
        EXPECT_EQ(rings, c.rings ? 1 : 0) << c.pauseTerminal << " " << c.packet;
    }
}

}  // namespace
}  // namespace iplib
