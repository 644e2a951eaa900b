#include "platform/file_system.h"

#include <gtest/gtest.h>

using iplib::matchesPattern;

TEST(FilePattern, StarAndQuestionMark) {
    struct Case { const char* name; const char* pattern; bool matches; };
    const Case cases[] = {
        {"FILE_PAQ.OK", "FILE_PAQ.OK", true},   {"FILE_PAQ.OK", "FILE_PAQ.TMP", false},
        {"CLOCHE.1", "CLOCHE.?", true},          {"CLOCHE.10", "CLOCHE.?", false},
        {"VSK_09-12-2026.TXT", "VSK_*.TXT", true}, {"VSK_.TXT", "VSK_*.TXT", true},
        {"ERR_09-12-2026.TXT", "VSK_*.TXT", false}, {"a.MAC", "*.MAC", true},
        {"a.mac", "*.MAC", false},               {"abcabcabd", "*abd", true},
        {"aaa", "a*a*a*a", false},               {"", "*", true},
        {"", "?", false},                        {"anything", "*", true},
        {"x.y.z", "*.*", true},                  {"xyz", "*.*", false},
    };
    for (const auto& c : cases) EXPECT_EQ(matchesPattern(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

TEST(FilePattern, LinesJoinWithCrLfAfterEach) {
    EXPECT_EQ(iplib::joinCrLf({"A", "", "B"}), "A\r\n\r\nB\r\n");
    EXPECT_EQ(iplib::joinCrLf({}), "");
}
