// The customer's side of the two files the library writes: it takes "FILE_PAQ.OK" and
// "FILE_MSG.OK" as soon as each appears, reads it whole, deletes it and hands its lines
// to the handlers, on a thread of its own. The time given with the lines is the moment
// they were read, on the steady clock the simulators use.
#pragma once

#include "support/folder_watch.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace bench {

using SteadyClock = std::chrono::steady_clock;
using LinesHandler = std::function<void(std::vector<std::string>& lines, SteadyClock::time_point readAt)>;

// Lines of a link file: CR LF (or LF alone) ends a line; a last line without an end is
// kept. Empty lines are dropped.
std::vector<std::string> splitLinkLines(const std::string& content);

class LinkConsumer {
public:
    struct Handlers {
        LinesHandler packets;   // lines of FILE_PAQ.OK
        LinesHandler messages;  // lines of FILE_MSG.OK
    };
    struct Totals {
        std::uint64_t packetFiles = 0;
        std::uint64_t packetLines = 0;
        std::uint64_t messageFiles = 0;
        std::uint64_t messageLines = 0;
        std::uint64_t failedDeletes = 0;
    };

    LinkConsumer(std::string linkFolder, Handlers handlers);
    ~LinkConsumer();  // stop()
    LinkConsumer(const LinkConsumer&) = delete;
    LinkConsumer& operator=(const LinkConsumer&) = delete;

    bool start(std::string* error);
    void stop();
    Totals totals() const;

private:
    void run();
    void takeFile(const std::string& name, bool packets);

    std::string folder_;
    Handlers handlers_;
    std::unique_ptr<FolderWatch> watch_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::atomic<std::uint64_t> packetFiles_{0}, packetLines_{0}, messageFiles_{0}, messageLines_{0},
        failedDeletes_{0};
};

}  // namespace bench
