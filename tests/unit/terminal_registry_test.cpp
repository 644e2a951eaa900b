#include "core/terminal_registry.h"

#include <gtest/gtest.h>

using namespace iplib;

namespace {

struct RegistryTest : ::testing::Test {
    ManualClock clock{{2026, 12, 9, 15, 20, 33, 0}};
    TerminalRegistry registry{clock};
};

}  // namespace

TEST_F(RegistryTest, AddTerminalNormalisesToSixFields) {
    struct Case { std::string in; std::string stored; };
    const Case cases[] = {
        {"0001,127.0.0.5,1024,=WAIT FOR THE ANSWER, 02:00 , Cellular ",
         "0001,127.0.0.5,1024,=WAIT FOR THE ANSWER,02:00,Cellular"},
        {"0001,127.0.0.5", "0001,127.0.0.5,,,,"},
        {"0001,a,b,c,d,e,f,g", "0001,a,b,c,d,e"},
        {" 0001 , a , b , c ,\t-02:00\t,Ethernet", " 0001 , a , b , c ,-02:00,Ethernet"},  // only 5, 6 trimmed
        {"", ",,,,,"},
    };
    for (const auto& c : cases) {
        TerminalRegistry r{clock};
        EXPECT_EQ(r.addTerminal(c.in), 0);
        EXPECT_EQ(r.line(0), c.stored) << c.in;
    }
}

TEST_F(RegistryTest, SlotsFollowTheOrderAndTheLookupsTheNumbers) {
    EXPECT_EQ(registry.addTerminal("0012,127.0.0.1,1024,=WAIT FOR THE ANSWER,0,Ethernet"), 0);
    EXPECT_EQ(registry.addTerminal("0007,127.0.0.2,1024,=WAIT FOR THE ANSWER,0,Cellular"), 1);
    EXPECT_EQ(registry.addTerminal("12345,127.0.0.3,1024,=WAIT FOR THE ANSWER,0,Ethernet"), 2);
    EXPECT_EQ(registry.addTerminal("12C,127.0.0.4,1024,=WAIT FOR THE ANSWER,0,RQ05T"), 3);
    ASSERT_EQ(registry.count(), 4u);

    EXPECT_EQ(registry.slotOf(12), 3);  // "12C" is 12 too, and came later
    EXPECT_EQ(registry.numberOf(0), 12);
    EXPECT_EQ(registry.slotOf(7), 1);
    EXPECT_EQ(registry.numberOf(1), 7);
    EXPECT_EQ(registry.numberOf(2), NO_SLOT);  // 12345 is outside the lookups
    EXPECT_EQ(registry.slotOf(12345), NO_SLOT);
    EXPECT_EQ(registry.slotOf(8), NO_SLOT);
    EXPECT_EQ(registry.slotOf(-1), NO_SLOT);
    EXPECT_EQ(registry.numberOf(9998), NO_SLOT);
    EXPECT_EQ(registry.numberOf(-5), NO_SLOT);
    for (int s = 0; s < 4; ++s) EXPECT_EQ(registry.state(s).linkState, LinkState::Loaded);
    EXPECT_TRUE(registry.isCellular(1));
    EXPECT_EQ(registry.field(3, 6), "RQ05T");
    EXPECT_EQ(registry.field(99, 1), "");
}

TEST_F(RegistryTest, TwoLinesWithTheSameNumberBothExistAndTheLaterIsFound) {
    registry.addTerminal("0005,127.0.0.1,1024,=WAIT FOR THE ANSWER,0,Ethernet");
    registry.addTerminal("0005,127.0.0.2,1024,=WAIT FOR THE ANSWER,0,Ethernet");
    ASSERT_EQ(registry.count(), 2u);
    EXPECT_EQ(registry.slotOf(5), 1);
    EXPECT_EQ(registry.field(0, 2), "127.0.0.1");
    EXPECT_EQ(registry.numberOf(0), 5);
    EXPECT_EQ(registry.numberOf(1), 5);
}

TEST_F(RegistryTest, EverySlotHasItsOwnRuntimeState) {
    registry.addTerminal("0001,127.0.0.1,1024,=X,0,Ethernet");
    registry.addTerminal("0002,127.0.0.2,1024,=X,0,Ethernet");
    registry.state(0).commandQueue.push_back("to 1");
    registry.state(1).commandQueue.push_back("to 2");
    registry.addTerminal("0003,127.0.0.3,1024,=X,0,Ethernet");
    EXPECT_EQ(registry.state(0).commandQueue.front(), "to 1");
    EXPECT_EQ(registry.state(1).commandQueue.front(), "to 2");
    EXPECT_TRUE(registry.state(2).commandQueue.empty());
    EXPECT_EQ(&registry.state(0), &registry.state(-1));  // out of range falls back on slot 0, never crashes
}

TEST_F(RegistryTest, SetStateTextRecordsStatusDateAndTime) {
    registry.addTerminal("0001,192.168.1.20,1024,=WAIT FOR THE ANSWER,-05:00,Ethernet");
    registry.setStateText(0, "IP CONNECTION OK");
    EXPECT_EQ(registry.line(0), "0001,192.168.1.20,1024,=IP CONNECTION OK 12-09-2026 15:20:33,-05:00,Ethernet");

    clock.set({2027, 1, 2, 3, 4, 5, 0});
    registry.setStateText(0, "CLOSE");
    EXPECT_EQ(registry.line(0), "0001,192.168.1.20,1024,=CLOSE 01-02-2027 03:04:05,-05:00,Ethernet");

    // A line without "=" keeps nothing before the status.
    registry.setLine(0, "0001,192.168.1.20,1024,X,02:00,Cellular");
    registry.setStateText(0, "ERROR");
    EXPECT_EQ(registry.line(0), "ERROR 01-02-2027 03:04:05,02:00,Cellular");

    registry.setStateText(7, "nothing");  // no such slot
    EXPECT_EQ(registry.count(), 1u);
}

TEST_F(RegistryTest, ReplaceTerminalMovesTheLookupsAndKeepsTheQueues) {
    registry.addTerminal("0001,127.0.0.1,1024,=X,0,Ethernet");
    registry.addTerminal("0002,127.0.0.2,1024,=X,0,Ethernet");
    registry.state(1).commandQueue.push_back("waiting");
    registry.replaceTerminal(1, "0009,127.0.0.9,1024,=X,0,Ethernet");
    EXPECT_EQ(registry.slotOf(2), NO_SLOT);
    EXPECT_EQ(registry.slotOf(9), 1);
    EXPECT_EQ(registry.numberOf(1), 9);
    EXPECT_EQ(registry.field(1, 2), "127.0.0.9");
    EXPECT_EQ(registry.state(1).commandQueue.size(), 1u);
    EXPECT_EQ(registry.slotOf(1), 0);
}

TEST_F(RegistryTest, ClearForReloadEmptiesLookupsAndKeepsOnlySlotZeroState) {
    registry.addTerminal("0001,127.0.0.1,1024,=X,0,Ethernet");
    registry.addTerminal("0002,127.0.0.2,1024,=X,0,Ethernet");
    registry.state(0).reconnectTicks = 40;
    registry.state(0).lastFrame = "kept";
    registry.state(1).lastFrame = "lost";
    registry.clearForReload();
    EXPECT_EQ(registry.count(), 0u);
    EXPECT_EQ(registry.slotOf(1), NO_SLOT);
    EXPECT_EQ(registry.numberOf(0), NO_SLOT);
    EXPECT_EQ(registry.state(0).reconnectTicks, 0);
    EXPECT_EQ(registry.state(0).lastFrame, "kept");
    registry.addTerminal("0003,127.0.0.3,1024,=X,0,Ethernet");
    registry.addTerminal("0004,127.0.0.4,1024,=X,0,Ethernet");
    EXPECT_EQ(registry.state(1).lastFrame, "");
}
