#include "terminal_link/frames.h"

#include <gtest/gtest.h>

using namespace iplib;

TEST(Frames, ChecksumIsTheByteSumInTwoUpperCaseHexDigits) {
    EXPECT_EQ(frames::checksum("\x02" "A"), "43");
    EXPECT_EQ(frames::checksum(frames::Poll), "B9");
    EXPECT_EQ(frames::checksum(std::string(2, '\xFF')), "FE");  // 0x1FE keeps its last two digits
    EXPECT_EQ(frames::checksum(std::string(1, '\x07')), "07");
}

TEST(Frames, CommandFrameReplacesOnlyTheFirstBracketByTheNumberWithoutZeros) {
    const std::string frame = frames::commandFrame("MSG[,X[", 12);
    const std::string body = "\x02MSG12,X[";
    EXPECT_EQ(frame, body + frames::checksum(body) + "\x03");
    EXPECT_EQ(frames::commandFrame("A", 7), "\x02" "A43\x03");
}

TEST(Frames, FixedFramesAreByteExact) {
    EXPECT_EQ(frames::Poll, std::string("\x01\x01\x01\x01\x01" "00T", 8));
    EXPECT_EQ(frames::keepAlive(false), std::string("\xFE", 1));
    EXPECT_EQ(frames::keepAlive(true), std::string("\xFE\xF8\x08\x02\x04\x03", 6));
    EXPECT_EQ(frames::BootInit, std::string("\x01\xFF\xFF" "A\xFA", 5));
}

TEST(Frames, ChecksumAcceptance) {
    const std::string good = "\x02" "A43\x03";
    EXPECT_TRUE(frames::checksumAccepted(good));
    EXPECT_TRUE(frames::checksumAccepted("\x02" "A??\x03"));
    EXPECT_FALSE(frames::checksumAccepted("\x02" "A44\x03"));
    EXPECT_FALSE(frames::checksumAccepted("\x02\x03"));
}

TEST(Frames, FindFrameTakesTheFirstStxAndTheFirstEtxAfterIt) {
    EXPECT_FALSE(frames::findFrame("abc\x03"));
    EXPECT_FALSE(frames::findFrame("\x03\x02" "ab"));
    const auto span = frames::findFrame("x\x03y\x02" "ab\x03\x02" "c\x03");
    ASSERT_TRUE(span);
    EXPECT_EQ(span->start, 3u);
    EXPECT_EQ(span->end, 7u);
}

TEST(Frames, AddressRewriteDependsOnLengthAndType) {
    // positions 16-17 (1-based) hold the terminal's address "99"
    const std::string eighteen = std::string("\x02") + "1M120926143000" + "99" + "\x03";
    ASSERT_EQ(eighteen.size(), 18u);
    const std::string nineteenM = std::string("\x02") + "1M120926143000" + "99" + "X\x03";
    const std::string nineteenS = std::string("\x02") + "1S120926143000" + "99" + "X\x03";
    const std::string nineteenD = std::string("\x02") + "1D120926143000" + "99" + "X\x03";
    EXPECT_EQ(frames::rewriteAddress(eighteen, "0012"), eighteen);
    EXPECT_EQ(frames::rewriteAddress(nineteenS, "0012"), nineteenS);
    EXPECT_EQ(frames::rewriteAddress(nineteenD, "0012"), nineteenD);
    EXPECT_EQ(frames::rewriteAddress(nineteenM, "0012").substr(15, 2), "12");
    EXPECT_EQ(frames::rewriteAddress(nineteenM, "0012").size(), nineteenM.size());
}
