#include "platform/file_system.h"

#include "system/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <filesystem>

using namespace iplib;
using iplib::test::TempFolder;

struct FileSystemFixture : ::testing::Test {
    TempFolder folder;
    RealFileSystem files;

    std::string raw(const std::string& name) { return files.readAll(folder / name, 1 << 24).value_or("<none>"); }
};

TEST_F(FileSystemFixture, AtomicReplaceLeavesOnlyTheNewContent) {
    const std::string path = folder / "TCPIP.CFG";
    ASSERT_TRUE(files.writeAtomic(path, "old\r\n"));
    ASSERT_TRUE(files.writeAtomic(path, joinCrLf({"127.0.0.1", "127.0.0.2"})));
    EXPECT_EQ(raw("TCPIP.CFG"), "127.0.0.1\r\n127.0.0.2\r\n");
    // No temporary file stays behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
    EXPECT_FALSE(files.writeAtomic(folder / "missing/TCPIP.CFG", "x"));
}

TEST_F(FileSystemFixture, ReadsCrLfAndLfLinesAlike) {
    struct Case { const char* content; std::vector<std::string> lines; };
    const Case cases[] = {
        {"A\r\nB\r\n", {"A", "B"}},
        {"A\nB\n", {"A", "B"}},
        {"A\r\nB", {"A", "B"}},
        {"A\n\r\nB\n", {"A", "", "B"}},
        {"", {}},
        {"\r\n", {""}},
        {"A\rB\r\n", {"A\rB"}},  // a lone CR is part of the line
        {"\xBA\xFA\x02\x03\r\n", {"\xBA\xFA\x02\x03"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(files.writeAtomic(folder / "LINES.TXT", c.content));
        EXPECT_EQ(files.readLines(folder / "LINES.TXT", {}), c.lines) << c.content;
    }
    EXPECT_FALSE(files.readLines(folder / "NONE.TXT", {}));
    EXPECT_FALSE(files.readLines(folder.path(), {}));
}

TEST_F(FileSystemFixture, LineLimitsCutLongLinesAndManyLines) {
    const std::string longLine(1 << 20, 'x');
    ASSERT_TRUE(files.writeAtomic(folder / "BIG.TXT", "first\r\n" + longLine + "yz\r\nthird\r\nfourth\r\n"));
    auto lines = files.readLines(folder / "BIG.TXT", {});
    ASSERT_TRUE(lines);
    ASSERT_EQ(lines->size(), 4u);
    EXPECT_EQ((*lines)[1], longLine);  // the default limit keeps the first 1 MB
    EXPECT_EQ((*lines)[2], "third");

    lines = files.readLines(folder / "BIG.TXT", {3, 4});
    ASSERT_TRUE(lines);
    EXPECT_EQ(*lines, (std::vector<std::string>{"firs", "xxxx", "thir"}));
}

TEST_F(FileSystemFixture, AppendRenameCopyRemoveAndFolders) {
    const std::string log = folder / "VSK_09-12-2026.TXT";
    ASSERT_TRUE(files.append(log, "one\r\n"));
    ASSERT_TRUE(files.append(log, "two\r\n"));
    EXPECT_EQ(raw("VSK_09-12-2026.TXT"), "one\r\ntwo\r\n");
    EXPECT_EQ(files.size(log), 10u);

    ASSERT_TRUE(files.append(folder / "FILE_PAQ.TMP", "packet\r\n"));
    ASSERT_TRUE(files.rename(folder / "FILE_PAQ.TMP", folder / "FILE_PAQ.OK"));
    EXPECT_FALSE(files.exists(folder / "FILE_PAQ.TMP"));
    EXPECT_EQ(raw("FILE_PAQ.OK"), "packet\r\n");
    EXPECT_FALSE(files.rename(folder / "FILE_PAQ.TMP", folder / "OTHER"));

    ASSERT_TRUE(files.copy(log, folder / "COPY.TXT"));
    ASSERT_TRUE(files.copy(folder / "FILE_PAQ.OK", folder / "COPY.TXT"));  // replaces
    EXPECT_EQ(raw("COPY.TXT"), "packet\r\n");
    EXPECT_FALSE(files.copy(folder / "NONE", folder / "COPY2.TXT"));

    EXPECT_TRUE(files.remove(folder / "COPY.TXT"));
    EXPECT_FALSE(files.exists(folder / "COPY.TXT"));
    EXPECT_FALSE(files.remove(folder / "COPY.TXT"));

    const std::string sub = folder / "VESKAL.CFG";
    EXPECT_TRUE(files.createFolder(sub));
    EXPECT_TRUE(files.createFolder(sub));  // already there is fine
    EXPECT_TRUE(files.isFolder(sub));
    EXPECT_FALSE(files.isFolder(log));
    EXPECT_FALSE(files.createFolder(folder / "A/B"));  // parent missing
    EXPECT_FALSE(files.size(sub));
}

TEST_F(FileSystemFixture, ModificationTimeInSeconds) {
    const std::string path = folder / "CLOCHE.1";
    ASSERT_TRUE(files.append(path, "x"));
    const utimbuf stamp{1700000000, 1700000123};
    ASSERT_EQ(::utime(path.c_str(), &stamp), 0);
    EXPECT_EQ(files.modificationTime(path), 1700000123);
    EXPECT_FALSE(files.modificationTime(folder / "NONE"));
}

TEST_F(FileSystemFixture, ListsRegularFilesByPatternSorted) {
    for (const char* name : {"CLOCHE.2", "CLOCHE.1", "CLOCHE.10", "cloche.3", "A.MAC"}) files.append(folder / name, "");
    files.createFolder(folder / "CLOCHE.4");
    EXPECT_EQ(files.list(folder.path(), "CLOCHE.?"), (std::vector<std::string>{"CLOCHE.1", "CLOCHE.2"}));
    EXPECT_EQ(files.list(folder.path(), "*.MAC"), (std::vector<std::string>{"A.MAC"}));
    EXPECT_EQ(files.list(folder.path(), "*").size(), 5u);
    EXPECT_TRUE(files.list(folder / "NONE", "*").empty());
}

TEST_F(FileSystemFixture, ReadAllRefusesWhatIsTooLarge) {
    ASSERT_TRUE(files.append(folder / "F", "12345"));
    EXPECT_EQ(files.readAll(folder / "F", 5), "12345");
    EXPECT_FALSE(files.readAll(folder / "F", 4));
    EXPECT_FALSE(files.readAll(folder.path(), 100));
}
