// What both benchmarks stand on: a fleet of simulated terminals on loopback addresses, a
// fresh drive root whose terminal list names them, and the real library program started
// on that root, connecting out to every terminal. Everything it starts is stopped and
// removed when it goes, whichever way the benchmark ends.
#pragma once

#include "support/library_process.h"
#include "support/stop_request.h"
#include "support/temp_root.h"

#include "terminal_sim/fleet.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace bench {

struct SiteOptions {
    std::size_t terminals = 1000;
    std::string firstAddress = "127.0.0.2";  // 127.x.x.x only
    std::uint16_t port = 1024;
    std::string program;                     // the library program; found when empty
    double connectTimeoutSeconds = 0;        // 0: 30 s + 50 ms per terminal
};

struct FleetTotals {
    std::size_t connected = 0;
    terminal_sim::Counters counters;  // summed over the terminals
};

class SiteUnderTest {
public:
    SiteUnderTest(SiteOptions options, const StopRequest& stop);
    ~SiteUnderTest();  // the library stopped, then the fleet, then the root removed
    SiteUnderTest(const SiteUnderTest&) = delete;
    SiteUnderTest& operator=(const SiteUnderTest&) = delete;

    // Root, terminal list and listening fleet; the library is not started yet, so that
    // the caller's consumers can be in place first. False with a reason.
    bool prepare(std::string* error);
    bool startLibrary(std::string* error);

    // Waits until every terminal has a link from the library. Returns the seconds since
    // the library started, or empty when the wait ended otherwise (the reason is printed).
    std::optional<double> waitForAllConnected();
    // Waits until the library's own start-up commands are through: it sets each
    // terminal's clock when the link comes up, and every terminal's again at the first
    // second ending in 5 after it started (its daily setting). So: at least 11 s after
    // the start, then until no terminal got a command for 2 s, at most 60 s in all.
    // False when stopped.
    bool waitForStartupCommands();

    // Sleeps, but returns false early when the benchmark was interrupted or the library
    // ended (and says which).
    bool pause(std::chrono::milliseconds duration);
    // The library still runs and nobody asked the benchmark to stop; prints why not.
    bool healthy();

    FleetTotals fleetTotals();
    terminal_sim::Fleet& fleet() { return *fleet_; }
    LibraryProcess& library() { return library_; }
    const std::string& linkFolder() const { return root_.configFolder(); }
    const SiteOptions& options() const { return options_; }
    const StopRequest& stopRequest() const { return stop_; }

    // Stops the library now and prints how it ended and how long the stop took.
    void stopLibrary();

private:
    SiteOptions options_;
    const StopRequest& stop_;
    TempRoot root_;
    std::unique_ptr<terminal_sim::Fleet> fleet_;
    LibraryProcess library_;
    std::chrono::steady_clock::time_point libraryStartedAt_;
    bool healthReported_ = false;
};

// Raises this process's open-files limit as far as `wanted` (or the hard limit); returns
// the soft limit in force afterwards.
std::uint64_t raiseOpenFilesLimit(std::uint64_t wanted);

// True for a dotted 127.x.x.x address.
bool isLoopbackAddress(const std::string& address);

}  // namespace bench
