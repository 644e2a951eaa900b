#include "core/config_folder.h"

#include "support/faulty_file_system.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace iplib;
using iplib::testing::FaultyFileSystem;
using iplib::testing::TempFolder;

namespace {

struct ConfigFolderTest : ::testing::Test {
    TempFolder work;
    std::string root = work.path() + "root/";  // the drive root does not exist yet
    DrivePaths paths{root};
    std::string program = work.makeFolder("program");
    std::string defaultFolder = root + "VESKAL.CFG/TCP_LIB_IP/";
    RealFileSystem files;

    ConfigFolderChoice settle(const std::string& commandLine) {
        return settleConfigFolder(StartOptions::parse(commandLine), paths, program, files);
    }
    void programFile(const std::string& name, const std::string& content = "x") { work.write("program/" + name, content); }
};

}  // namespace

TEST(MigratedFileNames, SecondNamePartDecidesIgnoringCase) {
    struct Case { const char* name; bool copied; };
    const Case cases[] = {
        {"TCPIP.CFG", true},   {"setup.cfg", true},  {"CLOCHE.1", true},   {"CLOCHE.7", true},
        {"CLOCHE.8", false},   {"CLOCHE.0", false},  {"LOG.vsk", true},    {"START.Mac", true},
        {"DATA.dat", true},    {"A.CFG.BAK", true},  {"A.BAK.CFG", false}, {"A.CFGX", false},
        {"A.CF", false},       {"NOEXT", false},     {"A..CFG", false},    {".CFG", true},
        {"A.", false},         {"A.11", false},      {"PROG.EXE", false},  {"A.TXT", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isMigratedFileName(c.name), c.copied) << c.name;
}

TEST_F(ConfigFolderTest, FirstRunCreatesTheFoldersAndCopiesTheOldFiles) {
    programFile("TCPIP.CFG", "VIDE\r\n");
    programFile("cloche.3", "bells");
    programFile("START.mac");
    programFile("iplib");
    programFile("README.TXT");
    programFile("OLD.CFG.BAK");
    work.makeFolder("program/SUB.CFG");

    const auto choice = settle("");
    EXPECT_TRUE(choice.firstRun);
    EXPECT_EQ(choice.folder, defaultFolder);
    EXPECT_TRUE(std::filesystem::is_directory(root + "VESKAL.CFG"));
    EXPECT_TRUE(std::filesystem::is_directory(defaultFolder));
    const std::vector<std::string> copied = {"OLD.CFG.BAK", "START.mac", "TCPIP.CFG", "cloche.3"};
    EXPECT_EQ(choice.copied, copied);
    EXPECT_EQ(work.read("root/VESKAL.CFG/TCP_LIB_IP/cloche.3"), "bells");
    EXPECT_EQ(work.read("root/VESKAL.CFG/TCP_LIB_IP/TCPIP.CFG"), "VIDE\r\n");
    EXPECT_FALSE(work.has("root/VESKAL.CFG/TCP_LIB_IP/README.TXT"));
    EXPECT_FALSE(work.has("root/VESKAL.CFG/TCP_LIB_IP/iplib"));
    EXPECT_FALSE(work.has("root/VESKAL.CFG/TCP_LIB_IP/SUB.CFG"));

    // The next start finds TCPIP.CFG and copies nothing, even newer files.
    programFile("TCPIP.CFG", "newer");
    const auto again = settle("");
    EXPECT_FALSE(again.firstRun);
    EXPECT_TRUE(again.copied.empty());
    EXPECT_EQ(work.read("root/VESKAL.CFG/TCP_LIB_IP/TCPIP.CFG"), "VIDE\r\n");
}

TEST_F(ConfigFolderTest, FirstRunWithAnEmptyProgramFolderOnlyCreatesTheFolders) {
    const auto choice = settle("");
    EXPECT_TRUE(choice.firstRun);
    EXPECT_TRUE(choice.copied.empty());
    EXPECT_TRUE(std::filesystem::is_directory(defaultFolder));
    EXPECT_TRUE(std::filesystem::is_empty(defaultFolder));
}

TEST_F(ConfigFolderTest, ExistingListMeansNoFirstRun) {
    std::filesystem::create_directories(defaultFolder);
    work.write("root/VESKAL.CFG/TCP_LIB_IP/TCPIP.CFG", "VIDE\r\n");
    programFile("SETUP.CFG");
    const auto choice = settle("");
    EXPECT_FALSE(choice.firstRun);
    EXPECT_EQ(choice.folder, defaultFolder);
    EXPECT_FALSE(work.has("root/VESKAL.CFG/TCP_LIB_IP/SETUP.CFG"));
}

TEST_F(ConfigFolderTest, CurdirNamesTheFolderAndCreatesNothing) {
    programFile("TCPIP.CFG");
    struct Case { std::string line; std::string folder; };
    const Case cases[] = {
        {"/CURDIR[D:\\DATA]", root + "DATA/"},
        {"/curdir[D:\\DATA\\]", root + "DATA/"},
        {"-MUL /CURDIR[" + work.path() + "elsewhere] -PASDOUBLE", work.path() + "elsewhere/"},
        {"/CURDIR[D:\\DATA", program},  // without "]" the program's own folder
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto choice = settle(c.line);
        EXPECT_EQ(choice.folder, c.folder);
        EXPECT_FALSE(choice.firstRun);
        EXPECT_TRUE(choice.copied.empty());
        EXPECT_FALSE(std::filesystem::exists(root));
        EXPECT_FALSE(work.has("elsewhere"));
    }
}

TEST_F(ConfigFolderTest, FolderFailuresAreIgnored) {
    // The drive root is a regular file: no folder can be made and nothing copied, but the
    // folder is still the default one.
    work.write("root", "a file");
    programFile("TCPIP.CFG");
    const auto choice = settle("");
    EXPECT_TRUE(choice.firstRun);
    EXPECT_EQ(choice.folder, defaultFolder);
    EXPECT_TRUE(choice.copied.empty());

    FaultyFileSystem faulty;
    faulty.failWritesUnder(work.path() + "root2/");
    DrivePaths otherRoot{work.path() + "root2/"};
    const auto failed = settleConfigFolder(StartOptions::parse(""), otherRoot, program, faulty);
    EXPECT_TRUE(failed.firstRun);
    EXPECT_TRUE(failed.copied.empty());
    EXPECT_FALSE(work.has("root2"));
}
