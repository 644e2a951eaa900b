#include "support/site_under_test.h"

#include "support/statistics.h"
#include "support/terminal_list.h"

#include <boost/asio/ip/address_v4.hpp>

#include <cstdio>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace bench {

namespace {
constexpr auto kWaitSlice = std::chrono::milliseconds(50);
}

std::uint64_t raiseOpenFilesLimit(std::uint64_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = std::min<rlim_t>(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur;
}

bool isLoopbackAddress(const std::string& address) {
    boost::system::error_code ec;
    const auto parsed = boost::asio::ip::make_address_v4(address, ec);
    return !ec && (parsed.to_uint() >> 24) == 127;
}

SiteUnderTest::SiteUnderTest(SiteOptions options, const StopRequest& stop) : options_(std::move(options)), stop_(stop) {}

SiteUnderTest::~SiteUnderTest() {
    library_.stop();
    fleet_.reset();
}

bool SiteUnderTest::prepare(std::string* error) {
    auto fail = [&](const std::string& reason) {
        if (error) *error = reason;
        return false;
    };
    if (!isLoopbackAddress(options_.firstAddress))
        return fail("refused: " + options_.firstAddress + " is not a 127.x.x.x address");
    if (!root_.ok()) return fail(root_.error());
    options_.program = findLibraryProgram(options_.program);
    if (options_.program.empty()) return fail("no library program found (build the iplib target, or give --iplib PATH)");

    // A listener and an accepted socket per terminal, plus the benchmark's own files.
    const std::uint64_t wanted = 2 * options_.terminals + 256;
    const std::uint64_t limit = raiseOpenFilesLimit(wanted);
    if (limit < wanted) return fail(format("open-files limit %llu is below the %llu needed", (unsigned long long)limit,
                                           (unsigned long long)wanted));

    std::vector<TerminalEntry> entries;
    for (std::size_t k = 0; k < options_.terminals; ++k) {
        auto address = terminal_sim::nthLoopbackAddress(options_.firstAddress, k);
        if (!address || !isLoopbackAddress(*address)) return fail("the loopback range runs out before terminal " + std::to_string(k + 1));
        entries.push_back({static_cast<int>(k + 1), *address, options_.port});
    }
    if (!writeTerminalList(root_.configFolder(), entries, error)) return false;

    terminal_sim::Fleet::Options fleetOptions;
    fleetOptions.count = options_.terminals;
    fleetOptions.firstAddress = options_.firstAddress;
    fleetOptions.port = options_.port;
    fleet_ = std::make_unique<terminal_sim::Fleet>(fleetOptions);
    std::string why;
    if (!fleet_->start(&why)) {
        fleet_.reset();
        return fail("simulated terminals: " + why + " (another run on the same addresses? try --port)");
    }
    return true;
}

bool SiteUnderTest::startLibrary(std::string* error) {
    libraryStartedAt_ = std::chrono::steady_clock::now();
    return library_.start(options_.program, root_.root(), root_.root() + "/iplib-output.txt", error);
}

bool SiteUnderTest::healthy() {
    if (stop_.requested()) {
        if (!healthReported_) std::printf("  interrupted: stopping\n");
        healthReported_ = true;
        return false;
    }
    if (!library_.running()) {
        if (!healthReported_)
            std::printf("  the library ended during the run: %s\n  its last output:\n%s", library_.exitText().c_str(),
                        library_.outputTail().c_str());
        healthReported_ = true;
        return false;
    }
    return true;
}

bool SiteUnderTest::pause(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until) {
        if (!healthy()) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            kWaitSlice, until - std::chrono::steady_clock::now()));
    }
    return healthy();
}

FleetTotals SiteUnderTest::fleetTotals() {
    FleetTotals totals;
    for (std::size_t k = 0; k < fleet_->size(); ++k) {
        auto& t = (*fleet_)[k];
        if (t.isConnected()) ++totals.connected;
        const auto c = t.counters();
        auto& s = totals.counters;
        s.connections += c.connections;
        s.polls += c.polls;
        s.commands += c.commands;
        s.badCommandChecksums += c.badCommandChecksums;
        s.acks += c.acks;
        s.unmatchedAcks += c.unmatchedAcks;
        s.plainKeepAlives += c.plainKeepAlives;
        s.cellularKeepAlives += c.cellularKeepAlives;
        s.bootInits += c.bootInits;
        s.unexpectedBytes += c.unexpectedBytes;
        s.framesSent += c.framesSent;
        s.framesNotSent += c.framesNotSent;
    }
    return totals;
}

std::optional<double> SiteUnderTest::waitForAllConnected() {
    const double limitSeconds = options_.connectTimeoutSeconds > 0 ? options_.connectTimeoutSeconds
                                                                   : 30.0 + 0.05 * static_cast<double>(options_.terminals);
    const auto deadline = libraryStartedAt_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                  std::chrono::duration<double>(limitSeconds));
    std::size_t connected = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!healthy()) return std::nullopt;
        connected = 0;
        for (std::size_t k = 0; k < fleet_->size(); ++k) connected += (*fleet_)[k].isConnected() ? 1 : 0;
        if (connected == fleet_->size())
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - libraryStartedAt_).count();
        std::this_thread::sleep_for(kWaitSlice);
    }
    std::printf("  only %zu of %zu terminals connected within %.0f s\n", connected, fleet_->size(), limitSeconds);
    return std::nullopt;
}

bool SiteUnderTest::waitForStartupCommands() {
    const auto notBefore = libraryStartedAt_ + std::chrono::seconds(11);
    const auto limit = libraryStartedAt_ + std::chrono::seconds(60);
    constexpr auto quiet = std::chrono::seconds(2);
    auto lastChange = std::chrono::steady_clock::now();
    std::uint64_t last = fleetTotals().counters.commands;
    for (;;) {
        if (!pause(std::chrono::milliseconds(100))) return false;
        const auto now = std::chrono::steady_clock::now();
        const std::uint64_t commands = fleetTotals().counters.commands;
        if (commands != last) {
            last = commands;
            lastChange = now;
        } else if (now >= notBefore && now - lastChange >= quiet) {
            return true;
        }
        if (now >= limit) {
            std::printf("  the library was still sending its own commands a minute after it started; going on\n");
            return true;
        }
    }
}

void SiteUnderTest::stopLibrary() {
    if (library_.pid() <= 0) return;
    const bool wasRunning = library_.running();
    const std::string how = library_.stop();
    if (wasRunning) std::printf("library stopped: %s\n", how.c_str());
}

}  // namespace bench
