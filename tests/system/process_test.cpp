#include "platform/process.h"

#include "platform/event_loop.h"
#include "system/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace iplib;
using iplib::test::runUntil;

namespace {

// A lock name of this test run only, so that parallel runs and a real library on the
// same computer never meet.
void useOwnLockName(const char* test) {
    const std::string name = std::string("iplib-test-") + test + "-" + std::to_string(::getpid());
    ::setenv("IPLIB_SINGLE_COPY_NAME", name.c_str(), 1);
}

// Runs fn in a child process and returns its exit status.
int inChild(const std::function<int()>& fn) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(fn());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(SingleCopyLock, OnlyOneHolderAcrossProcessesAndFreedWhenTheHolderEnds) {
    useOwnLockName("lock");
    auto held = SingleCopyLock::acquire();
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(SingleCopyLock::acquire(), nullptr);
    EXPECT_EQ(inChild([] { return SingleCopyLock::acquire() ? 1 : 0; }), 0);
    held.reset();

    // A holder that ends without cleaning up (as in a crash) leaves nothing behind.
    EXPECT_EQ(inChild([] {
                  auto lock = SingleCopyLock::acquire();
                  if (!lock) return 2;
                  ::_exit(0);  // no destructor runs
              }),
              0);
    EXPECT_NE(SingleCopyLock::acquire(), nullptr);
}

TEST(SingleCopyLock, NameChoosesTheLock) {
    useOwnLockName("first");
    auto first = SingleCopyLock::acquire();
    ASSERT_NE(first, nullptr);
    useOwnLockName("second");
    EXPECT_NE(SingleCopyLock::acquire(), nullptr);
}

TEST(ShutdownSignals, TermAndIntReachTheHandlerOnTheEventThread) {
    EventLoop loop;
    int signals = 0;
    auto shutdown = std::make_unique<ShutdownSignals>(loop, [&] { ++signals; });
    ::kill(::getpid(), SIGTERM);
    ASSERT_TRUE(runUntil(loop, [&] { return signals == 1; }));
    ::kill(::getpid(), SIGINT);
    ASSERT_TRUE(runUntil(loop, [&] { return signals == 2; }));
    shutdown.reset();
}

TEST(Process, ProgramFolderHoldsTheRunningProgram) {
    const std::string folder = programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(folder + "system_tests"));
}

TEST(Process, OpenFilesLimitIsRaisedToWhatIsAllowed) {
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    const long soft = raiseOpenFilesLimit(4096);
    rlimit after{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &after), 0);
    EXPECT_EQ(static_cast<rlim_t>(soft), after.rlim_cur);
    EXPECT_GE(after.rlim_cur, before.rlim_cur);
    if (before.rlim_max == RLIM_INFINITY || before.rlim_max >= 4096) {
        EXPECT_GE(soft, 4096);
    }
}
