// Wakes a thread as soon as something happens to the names of one folder (inotify), so
// that the customer side of the link files reacts within microseconds without spinning.
// Only a wake-up: the caller looks at the files itself, and should do so also after a
// timeout, as a file may have appeared before the watch began.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace bench {

class FolderWatch {
public:
    // `events`: inotify event bits, for example IN_MOVED_TO | IN_CREATE.
    FolderWatch(const std::string& folder, std::uint32_t events);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }

    // Returns when at least one event arrived (true, all pending events consumed) or the
    // timeout passed (false).
    bool wait(std::chrono::microseconds timeout);

private:
    int fd_ = -1;
    std::string error_;
};

}  // namespace bench
