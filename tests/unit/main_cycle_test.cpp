// The once-a-second work of the main cycle that the operator sees: the go-to search and
// the window markers.
#include "support/library_fixture.h"

#include <gtest/gtest.h>

using namespace iplib;
using iplib::testing::LibraryFixture;

namespace {

class MainCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        f.startWith({"0007,127.0.1.45,1024,=X,0,Ethernet", "0012,127.0.2.45,1024,=X,0,Ethernet",
                     "0013,127.1.1.45,1024,=X,0,Ethernet"});
    }
    int beeps() const {
        int n = 0;
        for (const auto& e : f.library->op().events()) n += e.kind == "beep";
        return n;
    }
    LibraryFixture f;
};

TEST_F(MainCycleTest, GoToFindsByNumberOrByTheLastPartsOfTheAddress) {
    const auto& cycle = f.library->mainCycle();
    struct Case { const char* search; int slot; };
    const Case cases[] = {{"12", 1}, {"0013", 2}, {".45", 0}, {".2.45", 1}, {".1.45", 0},
                          {"99", NO_SLOT}, {".46", NO_SLOT}, {"1.2.3.4.5", NO_SLOT}};
    for (const auto& c : cases) EXPECT_EQ(cycle.findSlot(c.search), c.slot) << c.search;
}

TEST_F(MainCycleTest, TheGoToButtonMovesTheViewAndAMissBeepsTwice) {
    f.library->mainCycle().goTo("13", f.clock.now());
    f.tick(1000);
    EXPECT_EQ(f.library->mainCycle().viewedSlot(), 2);
    f.library->mainCycle().goTo(".99", f.clock.now());
    f.tick(1000);
    EXPECT_EQ(f.library->mainCycle().viewedSlot(), 2);
    EXPECT_EQ(beeps(), 2);
}

TEST_F(MainCycleTest, TypingIsResolvedOnlyOnceTheTextStopsChanging) {
    auto& cycle = f.library->mainCycle();
    cycle.setSearchText("1");
    f.tick(1000);  // still typing: remembered only
    cycle.setSearchText("12");
    f.tick(1000);
    EXPECT_EQ(cycle.viewedSlot(), 0);
    f.tick(1000);  // unchanged for a second: resolved
    EXPECT_EQ(cycle.viewedSlot(), 1);
}

TEST_F(MainCycleTest, MarkerFilesHideAndShowTheMainWindowWithinASecond) {
    f.root.write("VESKAL.CFG/TCP_LIB_IP/HIDE_LIB.TXT", "");
    f.tick(1000);
    EXPECT_FALSE(f.library->op().visible(Window::Main));
    f.removeConfig("HIDE_LIB.TXT");
    f.root.write("VESKAL.CFG/TCP_LIB_IP/VISIBLE_LIB.TXT", "");
    f.tick(1000);
    EXPECT_TRUE(f.library->op().visible(Window::Main));
}

}  // namespace
