#include "platform/file_system.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

using namespace iplib;
using iplib::testing::TempFolder;

namespace {

struct FileSystemTest : ::testing::Test {
    TempFolder folder;
    RealFileSystem files;
};

}  // namespace

TEST_F(FileSystemTest, LinesEndWithCrLfOrLf) {
    using Lines = std::vector<std::string>;
    struct Case { const char* name; std::string content; Lines lines; };
    const Case cases[] = {
        {"mixed ends", "A\r\nB\nC", {"A", "B", "C"}},
        {"final end", "A\r\n", {"A"}},
        {"empty", "", {}},
        {"one empty line", "\r\n", {""}},
        {"blank lines kept", "A\r\n\r\nB\r\n", {"A", "", "B"}},
        {"lone CR is a byte", "A\rB\r\n", {"A\rB"}},
        {"CR at the end of the file", "A\r", {"A"}},
    };
    for (const auto& c : cases) {
        folder.write("f", c.content);
        EXPECT_EQ(files.readLines(folder / "f", {}), c.lines) << c.name;
    }
    EXPECT_FALSE(files.readLines(folder / "missing", {}));
    EXPECT_FALSE(files.readLines(folder.path(), {}));
}

TEST_F(FileSystemTest, LineLimitsBoundWhatIsKept) {
    folder.write("f", "ABCDEFGH\r\nIJ\r\nKL\r\nMN\r\n");
    LineReadLimits limits;
    limits.maxLineBytes = 4;
    EXPECT_EQ(files.readLines(folder / "f", limits), (std::vector<std::string>{"ABCD", "IJ", "KL", "MN"}));
    limits.maxLines = 2;
    EXPECT_EQ(files.readLines(folder / "f", limits), (std::vector<std::string>{"ABCD", "IJ"}));

    folder.write("g", "ABCD\r\nEF\r\n");  // the CR just past the limit is not kept
    limits = {};
    limits.maxLineBytes = 4;
    EXPECT_EQ(files.readLines(folder / "g", limits), (std::vector<std::string>{"ABCD", "EF"}));
}

TEST_F(FileSystemTest, ReadAllRefusesWhatIsTooLarge) {
    folder.write("f", std::string("a\0b", 3));
    EXPECT_EQ(files.readAll(folder / "f", 3), std::string("a\0b", 3));
    EXPECT_FALSE(files.readAll(folder / "f", 2));
    EXPECT_FALSE(files.readAll(folder / "missing", 100));
    EXPECT_EQ(files.size(folder / "f"), 3u);
    EXPECT_TRUE(files.modificationTime(folder / "f"));
    EXPECT_FALSE(files.modificationTime(folder / "missing"));
}

TEST_F(FileSystemTest, WritesAppendReplaceAndFailCleanly) {
    EXPECT_TRUE(files.append(folder / "log", "one\r\n"));
    EXPECT_TRUE(files.append(folder / "log", "two\r\n"));
    EXPECT_EQ(folder.read("log"), "one\r\ntwo\r\n");

    EXPECT_TRUE(files.writeAtomic(folder / "cfg", "old"));
    EXPECT_TRUE(files.writeAtomic(folder / "cfg", "new"));
    EXPECT_EQ(folder.read("cfg"), "new");
    EXPECT_EQ(files.list(folder.path(), "*"), (std::vector<std::string>{"cfg", "log"}));  // no temporary left

    folder.write("plain", "x");  // a file where a folder should be
    EXPECT_FALSE(files.append(folder / "plain/log", "x"));
    EXPECT_FALSE(files.writeAtomic(folder / "plain/cfg", "x"));
    EXPECT_FALSE(files.createFolder(folder / "plain"));
    EXPECT_FALSE(files.createFolder(folder / "none/sub"));
    EXPECT_TRUE(files.createFolder(folder / "sub"));
    EXPECT_TRUE(files.createFolder(folder / "sub"));
    EXPECT_TRUE(files.isFolder(folder / "sub"));

    EXPECT_TRUE(files.rename(folder / "cfg", folder / "cfg.ok"));
    EXPECT_FALSE(files.exists(folder / "cfg"));
    EXPECT_TRUE(files.copy(folder / "cfg.ok", folder / "sub/cfg"));
    EXPECT_EQ(folder.read("sub/cfg"), "new");
    EXPECT_TRUE(files.remove(folder / "cfg.ok"));
    EXPECT_FALSE(files.remove(folder / "cfg.ok"));
    EXPECT_FALSE(files.copy(folder / "cfg.ok", folder / "x"));
}

TEST_F(FileSystemTest, ListingMatchesExactNamesOfFilesOnly) {
    for (const char* name : {"A.MAC", "b.mac", "CLOCHE.1", "CLOCHE.12", "NOEXT"}) folder.write(name, "");
    folder.makeFolder("DIR.MAC");
    EXPECT_EQ(files.list(folder.path(), "*.MAC"), (std::vector<std::string>{"A.MAC"}));
    EXPECT_EQ(files.list(folder.path(), "CLOCHE.?"), (std::vector<std::string>{"CLOCHE.1"}));
    EXPECT_EQ(files.list(folder.path(), "*.*").size(), 4u);
    EXPECT_TRUE(files.list(folder / "missing", "*").empty());

    struct Case { const char* name; const char* pattern; bool match; };
    const Case cases[] = {
        {"FILE_COM.OK", "FILE_COM.OK", true}, {"FILE_COM.OK", "file_com.ok", false},
        {"ABC", "A*C", true}, {"AC", "A*C", true}, {"ABD", "A*C", false}, {"", "*", true},
        {"", "?", false}, {"AXBXC", "*X*C", true}, {"ABC", "*", true}, {"ABC", "AB", false},
    };
    for (const auto& c : cases) EXPECT_EQ(matchesPattern(c.name, c.pattern), c.match) << c.name << " " << c.pattern;
    EXPECT_EQ(joinCrLf({"A", "", "B"}), "A\r\n\r\nB\r\n");
}
