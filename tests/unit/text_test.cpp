#include "core/text.h"

#include <gtest/gtest.h>

#include <string>

namespace text = iplib::text;
using namespace std::string_literals;

namespace {

const std::string Sep = "\xFA";  // the queue separator, byte 250

struct FieldCase {
    std::string text;
    std::string delimiter;
    int n;
    std::string value;  // empty: a get
    std::string expected;
};

}  // namespace

TEST(TextField, GetAndSetFollowTheFieldRules) {
    const FieldCase cases[] = {
        // get
        {"A,,C", ",", 2, "", ""},
        {"A,,C", ",", 3, "", "C"},
        {"A,,C", ",", 4, "", ""},
        {"A,B,C", ",", 1, "", "A"},
        {"A,B,C", ",", 0, "", "A"},
        {"A,B,C", ",", -3, "", "A"},
        {"A,B,C,D", ",", 3, "", "C"},
        {"A,B,C", ",", 2, "", "B"},
        {"A,", ",", 2, "", ""},
        {",A", ",", 1, "", ""},
        {"", ",", 1, "", ""},
        {"", ",", 5, "", ""},
        {" A , B ", ",", 2, "", " B "},
        {"0001" + Sep + "X,Y", Sep, 2, "", "X,Y"},
        {"0001" + Sep + "X,Y", Sep, 1, "", "0001"},
        {"A::B::C", "::", 2, "", "B"},
        {"A::B::C", "::", 3, "", "C"},
        {"A:B", "::", 2, "", ""},
        {"A:B", "::", 1, "", "A:B"},
        {"A,B", "", 1, "", ""},
        {"A,B", "", 2, "", ""},
        // set
        {"A,B", ",", 1, "Z", "Z,B"},
        {"A,B,C", ",", 2, "XY", "A,XY,C"},
        {"A,B,C", ",", 3, "Z", "A,B,Z"},
        {"A,B,C", ",", 0, "Z", "Z,B,C"},
        {"A", ",", 3, "X", "A,,X"},
        {"A,", ",", 3, "X", "A,,X"},
        {"A,", ",", 2, "X", "A,X"},
        {"", ",", 2, "X", ",X"},
        {"A", "::", 3, "X", "A::::X"},
        {"A::B::C", "::", 2, "Q", "A::Q::C"},
        {"0001" + Sep + "X", Sep, 2, "Y,Z", "0001" + Sep + "Y,Z"},
        {"A,B", "", 1, "X", "XA,B"},
        {"A,B", "", 3, "X", "XA,B"},
        {"", "", 1, "X", "X"},
        // an empty value is a get: a field cannot be emptied
        {"A,B", ",", 2, "", "B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("text [" + c.text + "] delimiter [" + c.delimiter + "] n " + std::to_string(c.n) +
                     " value [" + c.value + "]");
        EXPECT_EQ(text::textField(c.text, c.delimiter, c.n, c.value), c.expected);
        if (c.value.empty()) EXPECT_EQ(text::getField(c.text, c.delimiter, c.n), c.expected);
        else EXPECT_EQ(text::setField(c.text, c.delimiter, c.n, c.value), c.expected);
    }
}

TEST(TextField, SetWithAnEmptyValueIsAGetThroughEitherEntry) {
    // Callers that rebuild a line with setField get the same rule as textField.
    EXPECT_EQ(text::setField("A,B,C", ",", 2, ""), "B");
    EXPECT_EQ(text::setField("A,B,C", ",", 5, ""), "");
}

TEST(TextField, ControlAndHighBytesAreOrdinaryCharacters) {
    const std::string line = "0012"s + Sep + "\x02" + "ABC\0DEF"s + "\x03," + "\xFF";
    EXPECT_EQ(text::getField(line, ",", 2), "\xFF");
    EXPECT_EQ(text::getField(line, Sep, 2), "\x02" + "ABC\0DEF"s + "\x03,\xFF");
    EXPECT_EQ(text::setField(line, ",", 2, "\xBA"), "0012"s + Sep + "\x02" + "ABC\0DEF"s + "\x03,\xBA");
}

TEST(PadLeft, PadsKeepsTheTailAndNeverGoesNegative) {
    struct Case { std::string text; int width; std::string pad; std::string expected; };
    const Case cases[] = {
        {"7", 2, "0", "07"},
        {"1A3", 2, "0", "A3"},
        {"1FE", 2, "0", "FE"},
        {"", 3, "0", "000"},
        {"abcd", 4, " ", "abcd"},
        {"abc", 0, "0", ""},
        {"abc", -2, "0", ""},
        {"5", 4, "ab", "ababab5"},  // width - length copies of a longer pad
        {"x", 3, "", "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("[" + c.text + "] " + std::to_string(c.width) + " [" + c.pad + "]");
        EXPECT_EQ(text::padLeft(c.text, c.width, c.pad), c.expected);
    }
}

TEST(DecodeEscapes, StateMachineCases) {
    struct Case { std::string in; std::string out; };
    const Case cases[] = {
        {"BEEP%7%%7%", "BEEP\x07\x07"},
        {"%177%", "\xB1"},
        {"%1%", "\x01"},
        {"%255%", "\xFF"},
        {"%007%", "\x07"},
        {"A%13%%10%B", "A\r\nB"},
        {"%0%", "%0%"},
        {"%0%7%", "%0%7%"},  // the "%" that ends a failed escape opens no new one
        {"%000%", "%000%"},
        {"%%", "%%"},
        {"%%7%", "%%7%"},
        {"%1234%", "%1234%"},
        {"50%", "50%"},
        {"100%%", "100%%"},
        {"ABC%12", "ABC%12"},
        {"ABC%", "ABC%"},
        {"%", "%"},
        {"%A%7%", "%A\x07"},
        {"%12A%", "%12A%"},
        {"%-1%", "%-1%"},
        {"%7%%", "\x07%"},
        {"", ""},
        // a number from 256 to 999 has no byte: the whole text comes back unchanged
        {"%256%", "%256%"},
        {"%999%", "%999%"},
        {"A%7%B%300%C%13%", "A%7%B%300%C%13%"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("[" + c.in + "]");
        EXPECT_EQ(text::decodeEscapes(c.in), c.out);
    }
}

TEST(EncodeEscapes, ControlAndHighBytesBecomeDecimalEscapes) {
    EXPECT_EQ(text::encodeEscapes("A\rB"), "A%13%B");
    EXPECT_EQ(text::encodeEscapes("\x01\x1F\x7F\x80\xFF"), "%1%%31%%127%%128%%255%");
    EXPECT_EQ(text::encodeEscapes(" ~AZaz09"), " ~AZaz09");
    EXPECT_EQ(text::encodeEscapes("50%\0!"s), "50%\0!"s);  // byte 0 and "%" stay
}

TEST(EncodeEscapes, DecodeIsItsInverseWithoutPercentDigits) {
    std::string every;
    for (int b = 0; b < 256; ++b)
        if (b != '%') every += static_cast<char>(b);
    EXPECT_EQ(text::decodeEscapes(text::encodeEscapes(every)), every);

    const std::string withPercent = "50% off\x02 100% done%";
    EXPECT_EQ(text::decodeEscapes(text::encodeEscapes(withPercent)), withPercent);
}

TEST(Bases, ToBaseAndFromBase) {
    struct To { std::uint64_t v; int base; std::string digits; };
    const To to[] = {
        {0, 2, "0"}, {0, 16, "0"}, {5, 2, "101"}, {255, 16, "FF"}, {510, 16, "1FE"},
        {35, 36, "Z"}, {36, 36, "10"}, {1295, 36, "ZZ"}, {9, 10, "9"},
        {UINT64_MAX, 16, "FFFFFFFFFFFFFFFF"},
    };
    for (const auto& c : to) EXPECT_EQ(text::toBase(c.v, c.base), c.digits) << c.v << " base " << c.base;
    EXPECT_EQ(text::toBase(UINT64_MAX, 2), std::string(64, '1'));

    struct From { std::string digits; int base; std::int64_t v; };
    const From from[] = {
        {"FF", 16, 255}, {"G", 16, 0}, {"", 16, 0}, {"ff", 16, 0}, {"1FE", 16, 510},
        {"Z", 36, 35}, {"ZZ", 36, 1295}, {"101", 2, 5}, {"102", 2, 0}, {"0", 10, 0},
        {"12345", 10, 12345}, {"1A", 10, 0},
        {"/", 10, -1},   // below "0": a negative digit, added like any other
        {"1/", 10, 9},
        {"1:", 10, 13},  // ":" counts 10, less 7
    };
    for (const auto& c : from) EXPECT_EQ(text::fromBase(c.digits, c.base), c.v) << c.digits << " base " << c.base;
}

TEST(Bases, LongDigitTextsAreSafe) {
    // Leading zeros do not change the value, however many there are.
    EXPECT_EQ(text::fromBase(std::string(100, '0') + "FF", 16), 255);
    EXPECT_EQ(text::fromBase(std::string(80, '0') + "101", 2), 5);
    // A value past 64 bits has no meaning but must not be a fault.
    (void)text::fromBase(std::string(200, 'Z'), 36);
    for (std::uint64_t v : {0ull, 1ull, 1234567ull, 0xDEADBEEFull})
        for (int base : {2, 8, 10, 16, 36}) EXPECT_EQ(text::fromBase(text::toBase(v, base), base), static_cast<std::int64_t>(v));
}

TEST(ConvFullIp, EveryOctetGetsThreeDigits) {
    struct Case { std::string in; bool dots; std::string out; };
    const Case cases[] = {
        {"192.168.1.45", true, "192.168.001.045"},
        {"192.168.1.45", false, "192168001045"},
        {"10.1.2.3", false, "010001002003"},
        {"127.0.0.5", true, "127.000.000.005"},
        {"1.x.3.4", true, "001.000.003.004"},
        {"1234.1.1.1", true, "1234.001.001.001"},
        {"1..2", true, "001.000.002"},
        {" 7.8", true, "007.008"},
        {"", true, "000"},
    };
    for (const auto& c : cases) EXPECT_EQ(text::convFullIp(c.in, c.dots), c.out) << c.in;
}

TEST(Numbers, NumericValueReadsTheLeadingNumber) {
    struct Case { std::string in; std::int64_t v; };
    const Case cases[] = {
        {"12345C", 12345}, {"0012", 12}, {"  42", 42}, {" 1 ", 1}, {"-3 ", -3},
        {"abc", 0}, {"", 0}, {"  ", 0}, {"1 2", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(text::numericValue(c.in), c.v) << "[" << c.in << "]";
    EXPECT_GT(text::numericValue(std::string(40, '9')), 0);  // saturates, never wraps
    EXPECT_LT(text::numericValue("-" + std::string(40, '9')), 0);

    EXPECT_DOUBLE_EQ(text::numericValueReal("0.5"), 0.5);
    EXPECT_DOUBLE_EQ(text::numericValueReal(" 2"), 2.0);
    EXPECT_DOUBLE_EQ(text::numericValueReal("1.25s"), 1.25);
    EXPECT_DOUBLE_EQ(text::numericValueReal("x"), 0.0);
}

TEST(Numbers, PrintedFormsOfFilesAndTerminalNumbers) {
    EXPECT_EQ(text::printedNumber(1), " 1 ");
    EXPECT_EQ(text::printedNumber(0), " 0 ");
    EXPECT_EQ(text::printedNumber(-3), "-3 ");
    EXPECT_EQ(text::numericValue(text::printedNumber(10)), 10);
    EXPECT_EQ(text::fourDigits(12), "0012");
    EXPECT_EQ(text::fourDigits(0), "0000");
    EXPECT_EQ(text::fourDigits(9999), "9999");
    EXPECT_EQ(text::fourDigits(12345), "12345");
}
