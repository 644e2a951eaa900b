#include "support/folder_watch.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace bench {

FolderWatch::FolderWatch(const std::string& folder, std::uint32_t events) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        error_ = std::string("inotify_init1: ") + std::strerror(errno);
        return;
    }
    if (inotify_add_watch(fd_, folder.c_str(), events) < 0) {
        error_ = "inotify_add_watch " + folder + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
    }
}

FolderWatch::~FolderWatch() {
    if (fd_ >= 0) ::close(fd_);
}

bool FolderWatch::wait(std::chrono::microseconds timeout) {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    // poll() counts in milliseconds; a shorter wait goes through ppoll.
    timespec limit{static_cast<time_t>(timeout.count() / 1000000), static_cast<long>(timeout.count() % 1000000) * 1000};
    if (::ppoll(&p, 1, &limit, nullptr) <= 0) return false;
    alignas(inotify_event) char buffer[16384];
    bool any = false;
    while (::read(fd_, buffer, sizeof buffer) > 0) any = true;
    return any;
}

}  // namespace bench
