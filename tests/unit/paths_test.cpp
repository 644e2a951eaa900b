#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

using iplib::DrivePaths;

TEST(DrivePaths, DriveTextsMapUnderTheRootAndPosixPathsStay) {
    const DrivePaths paths("/srv/site");
    EXPECT_EQ(paths.root(), "/srv/site/");
    struct Case { const char* text; const char* local; };
    const Case cases[] = {
        {"C:\\VESKAL.CFG\\TCP_LIB_IP\\", "/srv/site/VESKAL.CFG/TCP_LIB_IP/"},
        {"C:\\LOG_ALL_VESKAL.TXT", "/srv/site/LOG_ALL_VESKAL.TXT"},
        {"d:/DATA/IN", "/srv/site/DATA/IN"},
        {"E:", "/srv/site/"},
        {"Z:DATA", "/srv/site/DATA"},
        {"/var/spool/in", "/var/spool/in"},
        {"DATA\\IN.TXT", "/srv/site/DATA/IN.TXT"},
        {"", "/srv/site/"},
    };
    for (const auto& c : cases) EXPECT_EQ(paths.toLocal(c.text), c.local) << c.text;
}

TEST(DrivePaths, FolderTextsEndWithASlash) {
    const DrivePaths paths("/srv/site/");
    EXPECT_EQ(paths.toLocalFolder("D:\\DATA"), "/srv/site/DATA/");
    EXPECT_EQ(paths.toLocalFolder("D:\\DATA\\"), "/srv/site/DATA/");
    EXPECT_EQ(paths.toLocalFolder("/tmp/x"), "/tmp/x/");
    EXPECT_EQ(iplib::withTrailingSlash(""), "/");
}

TEST(DrivePaths, DefaultRootComesFromTheEnvironment) {
    ::setenv("IPLIB_ROOT", "/srv/other", 1);
    EXPECT_EQ(DrivePaths::defaultRoot(), "/srv/other");
    ::unsetenv("IPLIB_ROOT");
    if (::geteuid() != 0) {
        ::setenv("XDG_DATA_HOME", "/home/u/.data", 1);
        EXPECT_EQ(DrivePaths::defaultRoot(), "/home/u/.data/iplib");
    } else {
        EXPECT_EQ(DrivePaths::defaultRoot(), "/var/lib/iplib");
    }
}
