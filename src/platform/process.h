// What the library needs from its process: the single-copy check, signals that ask for
// the shutdown, the program's folder, and enough file descriptors for 1000+ links.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace iplib {

class EventLoop;

// Holds the computer-wide single-copy lock while alive. The lock does not depend on the
// drive root: two copies on different roots still see each other. Its name can be moved
// with IPLIB_SINGLE_COPY_NAME so that tests can run side by side.
class SingleCopyLock {
public:
    // Null when another copy already holds the lock.
    static std::unique_ptr<SingleCopyLock> acquire();
    ~SingleCopyLock();
    SingleCopyLock(const SingleCopyLock&) = delete;
    SingleCopyLock& operator=(const SingleCopyLock&) = delete;

private:
    explicit SingleCopyLock(int fd) : fd_(fd) {}
    int fd_;
};

// Calls the handler on the event thread when SIGTERM or SIGINT arrives.
class ShutdownSignals {
public:
    ShutdownSignals(EventLoop& loop, std::function<void()> onSignal);
    ~ShutdownSignals();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Folder of the running executable, with a trailing "/".
std::string programFolder();

// Raises the soft limit of open files to the hard limit (at least `wanted` when allowed);
// returns the soft limit in force afterwards.
long raiseOpenFilesLimit(long wanted);

}  // namespace iplib
