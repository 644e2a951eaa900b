#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

using iplib::DrivePaths;

TEST(DrivePaths, EveryDriveMapsUnderTheRoot) {
    const DrivePaths paths{"/r"};
    EXPECT_EQ(paths.root(), "/r/");
    struct Case { std::string text; std::string local; std::string folder; };
    const Case cases[] = {
        {"C:\\VESKAL.CFG\\TCP_LIB_IP\\", "/r/VESKAL.CFG/TCP_LIB_IP/", "/r/VESKAL.CFG/TCP_LIB_IP/"},
        {"C:\\LOG_ALL_VESKAL.TXT", "/r/LOG_ALL_VESKAL.TXT", "/r/LOG_ALL_VESKAL.TXT/"},
        {"d:/DATA", "/r/DATA", "/r/DATA/"},
        {"Z:\\", "/r/", "/r/"},
        {"C:", "/r/", "/r/"},
        {"/srv/link/", "/srv/link/", "/srv/link/"},
        {"/srv/link", "/srv/link", "/srv/link/"},
        {"LINK\\IN", "/r/LINK/IN", "/r/LINK/IN/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(paths.toLocal(c.text), c.local) << c.text;
        EXPECT_EQ(paths.toLocalFolder(c.text), c.folder) << c.text;
    }
    EXPECT_EQ(DrivePaths{"/r/"}.root(), "/r/");
    EXPECT_EQ(iplib::withTrailingSlash(""), "/");
    EXPECT_EQ(iplib::withTrailingSlash("/a/"), "/a/");
}

TEST(DrivePaths, RootComesFromTheEnvironmentFirst) {
    ::setenv("IPLIB_ROOT", "/tmp/some_root", 1);
    EXPECT_EQ(DrivePaths::defaultRoot(), "/tmp/some_root");
    ::unsetenv("IPLIB_ROOT");
    if (::geteuid() == 0) EXPECT_EQ(DrivePaths::defaultRoot(), "/var/lib/iplib");
    else EXPECT_NE(DrivePaths::defaultRoot().find("iplib"), std::string::npos);
}
