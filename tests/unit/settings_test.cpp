#include "core/settings.h"

#include "support/faulty_file_system.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using namespace iplib;
using iplib::testing::FaultyFileSystem;
using iplib::testing::TempFolder;

namespace {

struct SettingsTest : ::testing::Test {
    TempFolder root;
    DrivePaths paths{root.path()};
    FaultyFileSystem files;
    SettingsFile settings{files, paths};
    std::string configFolder = root.makeFolder("VESKAL.CFG/TCP_LIB_IP");
    std::string templates = root.makeFolder("TEMPLATES");

    // What the library held before a load, different from every initial value.
    GeneralSettings before{9, true, "oldpass", "oldlogin", "2000", "/old/", true};

    SettingsTest() { settings.setConfigFolder(configFolder); }
    void writeSetup(const std::string& content) { root.write("VESKAL.CFG/TCP_LIB_IP/SETUP.CFG", content); }
};

}  // namespace

TEST_F(SettingsTest, SetupLinesAreAppliedByTheirRules) {
    struct Case {
        const char* name;
        std::string content;
        GeneralSettings expected;
    };
    const Case cases[] = {
        {"all lines", " 12 \r\n 1 \r\nPASS\r\nADMIN\r\n10030\r\n" + templates + "\r\n 1 \r\n",
         {12, true, "PASS", "ADMIN", "10030", templates, true}},
        {"LF line ends", " 12 \n 0 \nPASS\nADMIN\n10030\nC:\\TEMPLATES\\\n 0 \n",
         {12, false, "PASS", "ADMIN", "10030", "C:\\TEMPLATES\\", false}},
        {"first line 0", " 0 \r\n 0 \r\n\r\n\r\n10024\r\n\r\n 0 \r\n", {3, false, "", "", "10024", "", false}},
        {"first line 2", "2\r\n0\r\n\r\n\r\n\r\n\r\n0\r\n", {3, false, "", "", "2000", "", false}},
        {"first line not a number", "abc\r\n", {3, false, "", "", "2000", "", false}},
        {"port 0", " 5 \r\n 0 \r\np\r\nl\r\n0\r\n" + templates + "\r\n 0 \r\n",
         {5, false, "p", "l", "2000", templates, false}},
        {"port empty", " 5 \r\n 0 \r\np\r\nl\r\n\r\n" + templates + "\r\n 0 \r\n",
         {5, false, "p", "l", "2000", templates, false}},
        {"only the first line", " 12 \r\n", {12, false, "", "", "2000", "", false}},
        {"empty file", "", {3, false, "", "", "2000", "", false}},
        {"template folder deleted", " 5 \r\n 0 \r\n\r\n\r\n\r\n" + root.path() + "GONE/\r\n 0 \r\n",
         {5, false, "", "", "2000", "", false}},
        {"template folder blank", " 5 \r\n 0 \r\n\r\n\r\n\r\n   \r\n 0 \r\n", {5, false, "", "", "2000", "", false}},
        {"texts kept as they are", " 5 \r\n 0 \r\n pass word \r\n\x01\xFF\r\n", {5, false, " pass word ", "\x01\xFF", "2000", "", false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeSetup(c.content);
        GeneralSettings s = before;
        PauseSettings pause;
        settings.load(s, pause);
        GeneralSettings expected = c.expected;
        if (expected.templateFolder.empty()) expected.templateFolder = configFolder;
        EXPECT_EQ(s.answerTimeout, expected.answerTimeout);
        EXPECT_EQ(s.fingerprintSync, expected.fingerprintSync);
        EXPECT_EQ(s.fingerprintPassword, expected.fingerprintPassword);
        EXPECT_EQ(s.fingerprintLogin, expected.fingerprintLogin);
        EXPECT_EQ(s.callInPort, expected.callInPort);
        EXPECT_EQ(s.templateFolder, expected.templateFolder);
        EXPECT_EQ(s.internetCloud, expected.internetCloud);
    }
}

TEST_F(SettingsTest, WithoutSetupOnlyTheAnswerTimeoutIsSet) {
    GeneralSettings s = before;
    PauseSettings pause;
    settings.load(s, pause);
    EXPECT_EQ(s.answerTimeout, 4);
    EXPECT_TRUE(s.fingerprintSync);
    EXPECT_EQ(s.fingerprintPassword, "oldpass");
    EXPECT_EQ(s.callInPort, "2000");
    EXPECT_EQ(s.templateFolder, "/old/");
    EXPECT_TRUE(s.internetCloud);
    EXPECT_FALSE(pause.present);
}

TEST_F(SettingsTest, AnUnreadableSetupLeavesEverySettingAsItWas) {
    writeSetup(" 12 \r\n 0 \r\n");
    files.failReadsUnder(configFolder);
    GeneralSettings s = before;
    PauseSettings pause;
    settings.load(s, pause);
    EXPECT_EQ(s.answerTimeout, 9);
    EXPECT_TRUE(s.fingerprintSync);
}

TEST_F(SettingsTest, SaveWritesSevenLinesThatLoadBack) {
    GeneralSettings s{25, true, "PW", "LOGIN", "10030", templates, false};
    ASSERT_TRUE(settings.save(s));
    EXPECT_EQ(root.read("VESKAL.CFG/TCP_LIB_IP/SETUP.CFG"),
              " 25 \r\n 1 \r\nPW\r\nLOGIN\r\n10030\r\n" + templates + "\r\n 0 \r\n");
    GeneralSettings back;
    PauseSettings pause;
    settings.load(back, pause);
    EXPECT_EQ(back.answerTimeout, 25);
    EXPECT_TRUE(back.fingerprintSync);
    EXPECT_EQ(back.fingerprintPassword, "PW");
    EXPECT_EQ(back.fingerprintLogin, "LOGIN");
    EXPECT_EQ(back.callInPort, "10030");
    EXPECT_EQ(back.templateFolder, templates);
    EXPECT_FALSE(back.internetCloud);
}

TEST_F(SettingsTest, SaveFailureIsIgnoredAndKeepsTheOldFile) {
    writeSetup(" 7 \r\n");
    files.failWritesUnder(configFolder);
    EXPECT_FALSE(settings.save(GeneralSettings{}));
    EXPECT_EQ(root.read("VESKAL.CFG/TCP_LIB_IP/SETUP.CFG"), " 7 \r\n");
}

TEST_F(SettingsTest, PauseFileFillsAsManyValuesAsItHasLines) {
    struct Case {
        const char* name;
        std::string content;
        PauseSettings expected;
    };
    const Case cases[] = {
        {"two lines", "0012\r\n2\r\n", {true, "0012", "2", "3", "10", "3"}},
        {"five lines and more", "0001\r\n4\r\n5\r\n6\r\n7\r\n8\r\n", {true, "0001", "4", "5", "6", "7"}},
        {"empty file", "", {true, "0000", "1", "3", "10", "3"}},
        {"LF line ends", "0003\n2\n1", {true, "0003", "2", "1", "10", "3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        root.write("VESKAL.CFG/TCP_LIB_IP/LIB_PAUSE.TXT", c.content);
        GeneralSettings s;
        PauseSettings p;
        settings.load(s, p);
        EXPECT_EQ(p.present, c.expected.present);
        EXPECT_EQ(p.terminal, c.expected.terminal);
        EXPECT_EQ(p.bell, c.expected.bell);
        EXPECT_EQ(p.delay1, c.expected.delay1);
        EXPECT_EQ(p.pause, c.expected.pause);
        EXPECT_EQ(p.delay2, c.expected.delay2);
    }
}

TEST(ConnectionTiming, DefaultsAndTheOperatorsTexts) {
    ConnectionTiming t;
    EXPECT_EQ(t.connectInterval(), 10);
    EXPECT_EQ(t.reconnectDelay(), 500);
    EXPECT_DOUBLE_EQ(t.totalSeconds(), 5.0);

    EXPECT_TRUE(t.setIntervalText("0"));  // the timer then runs every millisecond
    EXPECT_EQ(t.connectInterval(), 1);
    EXPECT_DOUBLE_EQ(t.totalSeconds(), 0.5);

    EXPECT_TRUE(t.setIntervalText("25ms"));
    EXPECT_EQ(t.connectInterval(), 25);
    EXPECT_TRUE(t.setReconnectDelayText(" 200"));
    EXPECT_EQ(t.reconnectDelay(), 200);
    EXPECT_DOUBLE_EQ(t.totalSeconds(), 5.0);

    // Values outside the timer period and the 16-bit counter keep the previous value.
    EXPECT_FALSE(t.setIntervalText("65536"));
    EXPECT_FALSE(t.setIntervalText("-1"));
    EXPECT_EQ(t.connectInterval(), 25);
    EXPECT_TRUE(t.setIntervalText("65535"));
    EXPECT_FALSE(t.setReconnectDelayText("32767"));
    EXPECT_EQ(t.reconnectDelay(), 200);
    EXPECT_TRUE(t.setReconnectDelayText("32766"));

    t.resetToDefault();
    EXPECT_EQ(t.connectInterval(), 10);
    EXPECT_EQ(t.reconnectDelay(), 500);
}

TEST(AnswerTimeoutSlider, ValuesBelowFourAreRaised) {
    EXPECT_EQ(sliderAnswerTimeout(0), 4);
    EXPECT_EQ(sliderAnswerTimeout(3), 4);
    EXPECT_EQ(sliderAnswerTimeout(4), 4);
    EXPECT_EQ(sliderAnswerTimeout(15), 15);
}
