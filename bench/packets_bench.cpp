// packets_bench: how fast and how faithfully the library carries punches from many
// terminals to the customer's software. A fleet of simulated terminals punches at a
// steady rate with unique sequence numbers; a consumer takes "FILE_PAQ.OK" the moment it
// appears; every line is matched to the punch it carries. Prints the delivered rate, the
// latency from the punch leaving the terminal to its line being read, packets lost and
// duplicated, the library's processor share (busy and idle) and its peak memory.
//
// It prints figures and asserts nothing: the aims in the output are for the reader.

#include "support/bench_options.h"
#include "support/link_consumer.h"
#include "support/process_usage.h"
#include "support/site_under_test.h"
#include "support/statistics.h"
#include "support/stop_request.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using namespace bench;
using namespace std::chrono_literals;

struct Settings {
    SiteOptions site;
    std::vector<double> rates{1, 10};
    double periodSeconds = 20;
    double idleSeconds = 10;
    double drainSeconds = 10;
    bool inStep = false;
};

// One line of FILE_PAQ as the library writes it: "NNNN," then the terminal's frame with
// its address digits (frame positions 16-17) replaced by the terminal number's last two.
struct PacketLine {
    int terminalNumber = 0;
    std::uint64_t sequence = 0;  // the punch's own sequence, the last field of the frame
    bool addressDigitsRight = false;
};

std::optional<PacketLine> parsePacketLine(const std::string& line) {
    constexpr char STX = '\x02', ETX = '\x03';
    // "NNNN," + STX + class, type, date, time, address (17 bytes) + data + checksum + ETX
    if (line.size() < 5 + 18 + 3 || line[4] != ',' || line[5] != STX || line.back() != ETX) return std::nullopt;
    PacketLine p;
    for (int i = 0; i < 4; ++i) {
        if (line[i] < '0' || line[i] > '9') return std::nullopt;
        p.terminalNumber = p.terminalNumber * 10 + (line[i] - '0');
    }
    // The frame's positions 16-17 are the line's 21-22.
    p.addressDigitsRight = line.compare(20, 2, line, 2, 2) == 0;
    const std::size_t comma = line.rfind(',');
    if (comma == std::string::npos || comma < 22) return std::nullopt;
    const std::size_t end = line.size() - 3;  // two checksum characters and ETX
    if (end < comma + 1 + 6) return std::nullopt;
    for (std::size_t i = comma + 1; i < end; ++i) {
        if (line[i] < '0' || line[i] > '9') return std::nullopt;
        p.sequence = p.sequence * 10 + static_cast<std::uint64_t>(line[i] - '0');
    }
    return p;
}

struct Delivery {
    int terminalNumber;
    std::uint64_t sequence;
    SteadyClock::time_point readAt;
};

// Every packet line the consumer read, in order, with the moment it was read.
class DeliveryLedger {
public:
    void record(std::vector<std::string>& lines, SteadyClock::time_point readAt) {
        std::lock_guard lock(mutex_);
        ++files_;
        for (const auto& line : lines) {
            auto p = parsePacketLine(line);
            if (!p) {
                ++malformed_;
                if (malformedExample_.empty()) malformedExample_ = line;
                continue;
            }
            if (!p->addressDigitsRight) ++wrongAddressDigits_;
            deliveries_.push_back({p->terminalNumber, p->sequence, readAt});
        }
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return deliveries_.size();
    }
    std::vector<Delivery> since(std::size_t index) const {
        std::lock_guard lock(mutex_);
        if (index >= deliveries_.size()) return {};
        return {deliveries_.begin() + static_cast<std::ptrdiff_t>(index), deliveries_.end()};
    }
    std::uint64_t files() const {
        std::lock_guard lock(mutex_);
        return files_;
    }
    std::uint64_t malformed() const {
        std::lock_guard lock(mutex_);
        return malformed_;
    }
    std::string malformedExample() const {
        std::lock_guard lock(mutex_);
        return malformedExample_;
    }
    std::uint64_t wrongAddressDigits() const {
        std::lock_guard lock(mutex_);
        return wrongAddressDigits_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Delivery> deliveries_;
    std::uint64_t files_ = 0;
    std::uint64_t malformed_ = 0;
    std::uint64_t wrongAddressDigits_ = 0;
    std::string malformedExample_;
};

// The stretch of one rate: punching from `begin` to `stop`, draining until `end`. Every
// frame sent in [begin, end) belongs to it, as nothing punches outside the stretches.
struct Stretch {
    double rate = 0;
    SteadyClock::time_point begin, stop, end;
    std::size_t firstDelivery = 0;
    std::uint64_t filesBefore = 0, filesAfter = 0;
    std::uint64_t framesNotSent = 0;
    std::optional<double> libraryCpu, benchCpu;
    bool drained = false;
};

void report(SiteUnderTest& site, const DeliveryLedger& ledger, const Stretch& s) {
    const double period = std::chrono::duration<double>(s.stop - s.begin).count();
    const std::size_t n = site.fleet().size();
    std::vector<Delivery> deliveries = ledger.since(s.firstDelivery);

    // (terminal index, sequence) -> times delivered, for every frame sent in the stretch.
    std::vector<std::unordered_map<std::uint64_t, int>> delivered(n);
    std::vector<std::map<std::uint64_t, terminal_sim::FrameTiming>> timings(n);
    std::size_t sent = 0, sentInPeriod = 0, notAcked = 0;
    std::vector<double> ackLatency;
    for (std::size_t k = 0; k < n; ++k) {
        for (auto& [sequence, timing] : site.fleet()[k].frameTimings()) {
            if (timing.sentAt < s.begin || timing.sentAt >= s.end) continue;
            timings[k].emplace(sequence, timing);
            delivered[k].emplace(sequence, 0);
            ++sent;
            if (timing.sentAt < s.stop) ++sentInPeriod;
            if (timing.ackedAt)
                ackLatency.push_back(milliseconds(*timing.ackedAt - timing.sentAt));
            else
                ++notAcked;
        }
    }

    std::vector<double> latency;
    std::size_t unknown = 0, readInPeriod = 0;
    for (const auto& d : deliveries) {
        const auto k = static_cast<std::size_t>(d.terminalNumber - 1);
        if (d.terminalNumber < 1 || k >= n) {
            ++unknown;
            continue;
        }
        auto it = delivered[k].find(d.sequence);
        if (it == delivered[k].end()) {
            ++unknown;  // not a frame of this stretch
            continue;
        }
        if (d.readAt <= s.stop) ++readInPeriod;
        if (it->second++ == 0) latency.push_back(milliseconds(d.readAt - timings[k].at(d.sequence).sentAt));
    }
    std::size_t lost = 0, lostAfterAck = 0, duplicated = 0;
    for (std::size_t k = 0; k < n; ++k)
        for (auto& [sequence, times] : delivered[k]) {
            if (times == 0) {
                ++lost;
                if (timings[k].at(sequence).ackedAt) ++lostAfterAck;
            }
            if (times > 1) duplicated += static_cast<std::size_t>(times - 1);
        }

    const double offered = s.rate * static_cast<double>(n);
    std::printf("\nrate %g punches/s per terminal (offered %.0f packets/s), %.1f s measured:\n", s.rate, offered, period);
    std::printf("  sent by the terminals   %.1f packets/s (%zu in the period, %zu with the drain)\n",
                static_cast<double>(sentInPeriod) / period, sentInPeriod, sent);
    std::printf("  delivered               %.1f packets/s read from FILE_PAQ.OK during the period\n",
                static_cast<double>(readInPeriod) / period);
    std::printf("  latency sent->read      %s\n", describeMilliseconds(summarize(latency)).c_str());
    if (offered >= 999 && offered <= 1001) std::printf("                          (aim at 1000 packets/s: p99 under 5 ms)\n");
    std::printf("  library ACK after       %s\n", describeMilliseconds(summarize(ackLatency)).c_str());
    if (notAcked) std::printf("  frames still without the library's ACK at the end of the drain: %zu\n", notAcked);
    std::printf("  lost                    %zu (of which ACKed by the library: %zu)%s\n", lost, lostAfterAck,
                s.drained ? "" : "  [drain period ended before everything arrived]");
    std::printf("  duplicated              %zu\n", duplicated);
    if (unknown) std::printf("  lines matching no frame of this rate: %zu\n", unknown);
    if (s.framesNotSent) std::printf("  frames the terminals could not send (no link or stalled): %llu\n",
                                     static_cast<unsigned long long>(s.framesNotSent));
    const auto files = s.filesAfter - s.filesBefore;
    if (files) std::printf("  FILE_PAQ.OK files read   %llu (%.1f lines each on average)\n",
                           static_cast<unsigned long long>(files),
                           static_cast<double>(deliveries.size()) / static_cast<double>(files));
    std::printf("  library CPU             %s of one core%s\n",
                s.libraryCpu ? format("%.1f %%", *s.libraryCpu).c_str() : "unknown",
                offered >= 999 && offered <= 1001 ? "   (aim at 1000 packets/s: under 10 %)" : "");
    if (s.benchCpu) std::printf("  benchmark process CPU   %.1f %% of one core (terminals and consumer)\n", *s.benchCpu);
}

int run(const Settings& settings, const StopRequest& stop) {
    const std::size_t n = settings.site.terminals;
    std::printf("== packets_bench: %zu simulated terminals from %s port %u; rates", n,
                settings.site.firstAddress.c_str(), settings.site.port);
    for (double r : settings.rates) std::printf(" %g", r);
    std::printf(" punches/s per terminal (%s), %.0f s each; idle %.0f s\n",
                settings.inStep ? "all in step" : "spread evenly", settings.periodSeconds, settings.idleSeconds);
    std::printf("machine: %u cores, load average %s\n", std::thread::hardware_concurrency(), loadAverage().c_str());

    SiteUnderTest site(settings.site, stop);
    DeliveryLedger ledger;
    std::uint64_t messageLines = 0;
    LinkConsumer consumer(site.linkFolder(),
                          {[&](std::vector<std::string>& lines, SteadyClock::time_point at) { ledger.record(lines, at); },
                           [&](std::vector<std::string>& lines, SteadyClock::time_point) { messageLines += lines.size(); }});
    std::string error;
    if (!site.prepare(&error) || !consumer.start(&error) || !site.startLibrary(&error)) {
        std::printf("cannot start: %s\n", error.c_str());
        return 1;
    }
    std::printf("library: %s (pid %d)\n", site.options().program.c_str(), site.library().pid());

    const auto connected = site.waitForAllConnected();
    if (!connected) return 1;
    std::printf("all %zu terminals connected %.2f s after the library started\n", n, *connected);
    if (!site.waitForStartupCommands()) return 1;

    const pid_t pid = site.library().pid();
    {
        ProcessorShare idle(pid);
        if (!site.pause(std::chrono::milliseconds(static_cast<long>(settings.idleSeconds * 1000)))) return 1;
        const auto share = idle.percentOfOneCore();
        std::printf("idle: %zu links, no punches, %.0f s: library CPU %s of one core   (aim: under 2 %%)\n", n,
                    settings.idleSeconds, share ? format("%.2f %%", *share).c_str() : "unknown");
    }

    for (double rate : settings.rates) {
        Stretch s;
        s.rate = rate;
        s.firstDelivery = ledger.count();
        s.filesBefore = ledger.files();
        const auto before = site.fleetTotals().counters;
        s.begin = SteadyClock::now();
        ProcessorShare libraryCpu(pid);
        ProcessorShare benchCpu(getpid());
        // Spread over one punch interval, the terminals punch one after the other as a
        // steady stream; in step, they all punch at the same moments.
        const auto spacing = std::chrono::duration_cast<SteadyClock::duration>(
            std::chrono::duration<double>(settings.inStep ? 0.0 : 1.0 / (rate * static_cast<double>(n))));
        for (std::size_t k = 0; k < n; ++k) {
            std::this_thread::sleep_until(s.begin + spacing * static_cast<long>(k));
            site.fleet()[k].startPunching(rate, "C");
        }
        const auto periodEnd = s.begin + std::chrono::milliseconds(static_cast<long>(settings.periodSeconds * 1000));
        const bool ran = site.pause(std::chrono::duration_cast<std::chrono::milliseconds>(periodEnd - SteadyClock::now()));
        for (std::size_t k = 0; k < n; ++k) site.fleet()[k].stopPunching();
        s.stop = SteadyClock::now();
        s.libraryCpu = libraryCpu.percentOfOneCore();
        s.benchCpu = benchCpu.percentOfOneCore();
        if (!ran) return 1;

        // Drain: until every frame sent has been read once, or the drain period is over.
        const auto drainUntil = s.stop + std::chrono::milliseconds(static_cast<long>(settings.drainSeconds * 1000));
        std::this_thread::sleep_for(50ms);  // the stop reaches the terminals' thread
        while (SteadyClock::now() < drainUntil) {
            const auto now = site.fleetTotals().counters;
            if (ledger.count() - s.firstDelivery >= now.framesSent - before.framesSent) {
                s.drained = true;
                break;
            }
            if (!site.pause(100ms)) return 1;
        }
        s.end = SteadyClock::now();
        s.filesAfter = ledger.files();
        s.framesNotSent = site.fleetTotals().counters.framesNotSent - before.framesNotSent;
        report(site, ledger, s);
    }

    if (ledger.malformed())
        std::printf("\nlines of FILE_PAQ that are no packet line: %llu, for example \"%s\"\n",
                    static_cast<unsigned long long>(ledger.malformed()), ledger.malformedExample().c_str());
    std::printf("\npackets whose address digits are not the terminal number's last two: %llu\n",
                static_cast<unsigned long long>(ledger.wrongAddressDigits()));
    const auto hwm = statusKiB(pid, "VmHWM");
    const auto rss = statusKiB(pid, "VmRSS");
    std::printf("library memory: peak %s, now %s\n", hwm ? format("%.1f MiB", *hwm / 1024.0).c_str() : "unknown",
                rss ? format("%.1f MiB", *rss / 1024.0).c_str() : "unknown");
    const auto totals = site.fleetTotals();
    std::printf("links: %zu of %zu connected at the end, %llu connections made in all\n", totals.connected, n,
                static_cast<unsigned long long>(totals.counters.connections));
    site.stopLibrary();
    consumer.stop();
    std::printf("status message lines read from FILE_MSG.OK: %llu\n", static_cast<unsigned long long>(messageLines));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    StopRequest stop;  // first: every later thread inherits its blocked signals
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows through a pipe too
    Settings settings;
    std::size_t port = settings.site.port;
    const std::vector<OptionSpec> specs = {
        {"--terminals", "N", "simulated terminals (default 1000)", wholeNumber(settings.site.terminals, 1, 1000)},
        {"--rates", "R1,R2", "punches per second per terminal, one run each (default 1,10)", positiveNumbers(settings.rates)},
        {"--period", "S", "seconds measured at each rate (default 20)", seconds(settings.periodSeconds, 1, 600)},
        {"--idle", "S", "seconds of idle measurement (default 10)", seconds(settings.idleSeconds, 1, 600)},
        {"--drain", "S", "longest wait for the last packets after each rate (default 10)", seconds(settings.drainSeconds, 0.5, 600)},
        {"--in-step", "", "all terminals punch at the same moments (default: spread evenly)", flag(settings.inStep, true)},
        {"--iplib", "PATH", "library program (default: the one built beside the benchmark)", text(settings.site.program)},
        {"--first-address", "A", "address of the first terminal, 127.x.x.x (default 127.0.0.2)", text(settings.site.firstAddress)},
        {"--port", "P", "port of every terminal (default 1024)", wholeNumber(port, 1, 65535)},
        {"--connect-timeout", "S", "longest wait for all links (default 30 s + 50 ms per terminal)",
         seconds(settings.site.connectTimeoutSeconds, 1, 3600)},
    };
    switch (parseOptions(argc, argv, "Delivered packets per second, latency, loss and processor share of the library.", specs)) {
        case ParseOutcome::Help: return 0;
        case ParseOutcome::Error: return 2;
        case ParseOutcome::Run: break;
    }
    settings.site.port = static_cast<std::uint16_t>(port);
    try {
        return run(settings, stop);
    } catch (const std::exception& e) {
        std::printf("failed: %s\n", e.what());
        return 1;
    }
}
