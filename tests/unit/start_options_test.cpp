#include "core/start_options.h"

#include <gtest/gtest.h>

using iplib::StartOptions;

TEST(StartOptions, OptionsAreFoundInUpperCaseAnywhere) {
    const auto o = StartOptions::parse("iplib.exe -pause[2] x-mULy /brdnotcp-PASDOUBLE/BrdNoUdp -amanomtx10");
    ASSERT_TRUE(o.pauseSeconds);
    EXPECT_DOUBLE_EQ(*o.pauseSeconds, 2.0);
    EXPECT_TRUE(o.multipleCopies);
    EXPECT_TRUE(o.bridgeNoTcp);
    EXPECT_TRUE(o.neverSendTwice);
    EXPECT_TRUE(o.bridgeNoUdp);
    EXPECT_TRUE(o.amanoMtx10);
    EXPECT_FALSE(o.bridgeNoEcho);
    EXPECT_FALSE(o.nethris);
    EXPECT_FALSE(o.bridgeIso15693Only);
    EXPECT_FALSE(o.currentFolder);
    EXPECT_FALSE(o.currentFolderUnclosed);

    const auto none = StartOptions::parse("");
    EXPECT_FALSE(none.pauseSeconds || none.multipleCopies || none.nethris || none.bridgeEtx);
}

TEST(StartOptions, ArgumentsRunToTheNextBracketWithLettersAsTyped) {
    struct Case {
        std::string line;
        std::optional<std::string> folder;
        bool unclosed;
        std::optional<std::string> etx;
        std::optional<std::string> input1;
        std::optional<std::string> input2;
    };
    const Case cases[] = {
        {"/curdir[d:\\Data\\Site] -ETX[\x03x]", "d:\\Data\\Site", false, "\x03x", {}, {}},
        {"/CURDIR[D:\\DATA", {}, true, {}, {}, {}},
        {"/CURDIR[] -etx[", "", false, {}, {}, {}},
        {"-BRDGIN01CMD[0012,Open door]-brdgin02cmd[*,x]]", {}, false, {}, "0012,Open door", "*,x"},
        {"-BRDGIN01CMD[a -BRDGIN02CMD[b]", {}, false, {}, "a -BRDGIN02CMD[b", "b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto o = StartOptions::parse(c.line);
        EXPECT_EQ(o.currentFolder, c.folder);
        EXPECT_EQ(o.currentFolderUnclosed, c.unclosed);
        EXPECT_EQ(o.bridgeEtx, c.etx);
        EXPECT_EQ(o.bridgeInput1Command, c.input1);
        EXPECT_EQ(o.bridgeInput2Command, c.input2);
    }
}

TEST(StartOptions, PauseTakesFractionsAndNeedsItsBracket) {
    struct Case { std::string line; std::optional<double> seconds; };
    const Case cases[] = {
        {"-PAUSE[0.5]", 0.5}, {"-Pause[ 3 ]", 3.0}, {"-PAUSE[abc]", 0.0}, {"-PAUSE[2", {}}, {"-PAUSE2]", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(StartOptions::parse(c.line).pauseSeconds, c.seconds) << c.line;
}

TEST(StartOptions, EitherPayrollOptionSwitchesThePayrollEdition) {
    EXPECT_TRUE(StartOptions::parse("-nethris").nethris);
    EXPECT_TRUE(StartOptions::parse("-VuzizuzavE").nethris);
    EXPECT_TRUE(StartOptions::parse("/BRDNOECHO -BRDISO15693ONLY").bridgeNoEcho);
    EXPECT_TRUE(StartOptions::parse("/BRDNOECHO -BRDISO15693ONLY").bridgeIso15693Only);
}

TEST(StartOptions, JoinCommandLineSkipsTheProgramName) {
    char prog[] = "iplib", a[] = "-MUL", b[] = "/CURDIR[/tmp/x]";
    char* argv[] = {prog, a, b};
    EXPECT_EQ(iplib::joinCommandLine(3, argv), "-MUL /CURDIR[/tmp/x]");
    EXPECT_EQ(iplib::joinCommandLine(1, argv), "");
}
