// commands_bench: how long a command takes from the customer's software to the terminal.
// The customer side writes one command per terminal per second through the command file
// (a batch each time the library has taken the previous one); each command text is
// unique, and the simulated terminal records the moment the command frame reaches it,
// which is when it answers ACK. Prints the latency from the rename of FILE_COM.OK to that
// moment and the commands lost, for a large fleet and for one terminal alone, and the
// floor the protocol itself sets: the two loopback round trips of poll/ENQ and
// command/ACK, timed with two plain sockets.
//
// It prints figures and asserts nothing.

#include "support/bench_options.h"
#include "support/command_writer.h"
#include "support/link_consumer.h"
#include "support/process_usage.h"
#include "support/site_under_test.h"
#include "support/statistics.h"
#include "support/stop_request.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
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
    bool alsoSingle = true;
    bool onlySingle = false;
    double periodSeconds = 20;
    double drainSeconds = 10;
    // One terminal alone at one command a second would give 20 samples; at ten a second
    // each command is still done long before the next falls due.
    double singleRate = 10;
    std::size_t roundTrips = 5000;
};

struct Receipt {
    std::size_t terminalIndex;
    std::string text;
    SteadyClock::time_point receivedAt;
};

// Every command frame any terminal received, in order.
class ReceiptLedger {
public:
    void record(std::size_t terminalIndex, const terminal_sim::CommandRecord& command) {
        std::lock_guard lock(mutex_);
        receipts_.push_back({terminalIndex, command.text, command.receivedAt});
        if (commandSequence(command.text)) ++benchCommands_;
        if (!command.checksumOk) ++badChecksums_;
    }
    std::vector<Receipt> all() const {
        std::lock_guard lock(mutex_);
        return receipts_;
    }
    std::size_t benchCommands() const {
        std::lock_guard lock(mutex_);
        return benchCommands_;
    }
    std::size_t badChecksums() const {
        std::lock_guard lock(mutex_);
        return badChecksums_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Receipt> receipts_;
    std::size_t benchCommands_ = 0;
    std::size_t badChecksums_ = 0;
};

// The last messages the library sent to each terminal, so that a slow command can be
// explained by what its terminal saw meanwhile.
class LinkTimeline {
public:
    struct Event {
        SteadyClock::time_point at;
        terminal_sim::LibraryMessage::Kind kind;
        std::string text;
    };
    explicit LinkTimeline(std::size_t terminals) : events_(terminals) {}
    void record(std::size_t terminalIndex, const terminal_sim::LibraryMessage& message) {
        std::lock_guard lock(mutex_);
        auto& events = events_[terminalIndex];
        events.push_back({SteadyClock::now(), message.kind, message.text.substr(0, 24)});
        if (events.size() > kKept) events.pop_front();
    }
    // "+0.0 poll, +0.4 command CMD00000042, ..." for the events in [from, to].
    std::string describe(std::size_t terminalIndex, SteadyClock::time_point from, SteadyClock::time_point to) const {
        std::lock_guard lock(mutex_);
        std::string text;
        for (const auto& e : events_[terminalIndex]) {
            if (e.at < from || e.at > to) continue;
            if (!text.empty()) text += ", ";
            text += format("+%.1f %s", milliseconds(e.at - from), terminal_sim::kindName(e.kind));
            if (e.kind == terminal_sim::LibraryMessage::Kind::Command) {
                text += ' ';
                text += printable(e.text);
            }
        }
        return text.empty() ? "nothing" : text;
    }

private:
    static constexpr std::size_t kKept = 400;
    static std::string printable(const std::string& bytes) {
        std::string out;
        for (unsigned char c : bytes) out += c >= 32 && c < 127 ? std::string(1, static_cast<char>(c)) : format("<%02X>", c);
        return out;
    }
    mutable std::mutex mutex_;
    std::vector<std::deque<Event>> events_;
};

// Status message lines by their code ("01-CONNECT" counts as "01").
class MessageTally {
public:
    void record(std::vector<std::string>& lines) {
        std::lock_guard lock(mutex_);
        for (const auto& line : lines) {
            const auto comma = line.find(',');
            const std::string code = comma == std::string::npos ? "?" : line.substr(comma + 1, 2);
            if (++counts_[code] == 1) examples_[code] = line;
        }
    }
    std::string describe() const {
        std::lock_guard lock(mutex_);
        std::string text;
        for (auto& [code, count] : counts_) {
            std::string example = examples_.at(code);
            if (!example.empty() && example.back() == '\x03') example.pop_back();
            text += format("    %llu x %s (e.g. \"%s\")\n", static_cast<unsigned long long>(count), code.c_str(),
                           example.c_str());
        }
        return text.empty() ? "    none\n" : text;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::uint64_t> counts_;
    std::map<std::string, std::string> examples_;
};

// `perSecond` commands per terminal per second, spread evenly over each interval so that
// the fleet's commands do not all fall due at once.
std::vector<ScheduledCommand> commandSchedule(std::size_t terminals, double perSecond, double periodSeconds,
                                              SteadyClock::time_point start) {
    std::vector<ScheduledCommand> schedule;
    const auto rounds = static_cast<std::size_t>(periodSeconds * perSecond);
    std::uint64_t sequence = 1;
    for (std::size_t j = 0; j < rounds; ++j)
        for (std::size_t k = 0; k < terminals; ++k) {
            const auto offset = std::chrono::duration<double>(
                (static_cast<double>(j) + static_cast<double>(k) / static_cast<double>(terminals)) / perSecond);
            schedule.push_back({static_cast<int>(k + 1), sequence++,
                                start + std::chrono::duration_cast<SteadyClock::duration>(offset)});
        }
    return schedule;
}

bool runFleet(const Settings& settings, std::size_t terminals, double perSecond, const StopRequest& stop) {
    SiteOptions siteOptions = settings.site;
    siteOptions.terminals = terminals;
    std::printf("\n-- %zu terminal%s, %g command%s per terminal per second for %.0f s\n", terminals,
                terminals == 1 ? "" : "s", perSecond, perSecond == 1 ? "" : "s", settings.periodSeconds);
    SiteUnderTest site(siteOptions, stop);
    ReceiptLedger receipts;
    MessageTally messages;
    std::uint64_t packetLines = 0;
    LinkConsumer consumer(site.linkFolder(),
                          {[&](std::vector<std::string>& lines, SteadyClock::time_point) { packetLines += lines.size(); },
                           [&](std::vector<std::string>& lines, SteadyClock::time_point) { messages.record(lines); }});
    std::string error;
    if (!site.prepare(&error) || !consumer.start(&error)) {
        std::printf("cannot start: %s\n", error.c_str());
        return false;
    }
    LinkTimeline timeline(terminals);
    for (std::size_t k = 0; k < terminals; ++k) {
        terminal_sim::SimulatedTerminal::Callbacks callbacks;
        callbacks.onCommand = [&receipts, k](const terminal_sim::CommandRecord& c) { receipts.record(k, c); };
        callbacks.onMessage = [&timeline, k](const terminal_sim::LibraryMessage& m) { timeline.record(k, m); };
        site.fleet()[k].setCallbacks(std::move(callbacks));
    }
    if (!site.startLibrary(&error)) {
        std::printf("cannot start: %s\n", error.c_str());
        return false;
    }
    const auto connected = site.waitForAllConnected();
    if (!connected) return false;
    std::printf("all %zu connected %.2f s after the library started\n", terminals, *connected);
    // The library sets each terminal's clock when it connects; those commands are not ours.
    if (!site.waitForStartupCommands()) return false;
    const std::size_t receiptsBefore = receipts.all().size();

    const auto start = SteadyClock::now() + 200ms;
    CommandWriter writer(site.linkFolder(), commandSchedule(terminals, perSecond, settings.periodSeconds, start));
    ProcessorShare libraryCpu(site.library().pid());
    if (!writer.start(&error)) {
        std::printf("cannot write commands: %s\n", error.c_str());
        return false;
    }
    const auto period = std::chrono::milliseconds(static_cast<long>(settings.periodSeconds * 1000));
    if (!site.pause(period + 200ms)) return false;
    const auto cpu = libraryCpu.percentOfOneCore();
    const auto drainUntil = SteadyClock::now() + std::chrono::milliseconds(static_cast<long>(settings.drainSeconds * 1000));
    bool drained = false;
    while (SteadyClock::now() < drainUntil) {
        if (writer.finished()) {
            std::size_t written = 0;
            for (auto& w : writer.written()) written += w.renamedAt ? 1 : 0;
            if (receipts.benchCommands() >= written) {
                drained = true;
                break;
            }
        }
        if (!site.pause(100ms)) return false;
    }
    writer.stop();

    // Match what the terminals received to what was written.
    const auto written = writer.written();
    std::unordered_map<std::uint64_t, std::size_t> bySequence;
    std::size_t notWritten = 0;
    std::vector<double> customerWait;
    for (std::size_t i = 0; i < written.size(); ++i) {
        bySequence[written[i].command.sequence] = i;
        if (!written[i].renamedAt)
            ++notWritten;
        else
            customerWait.push_back(milliseconds(*written[i].renamedAt - written[i].command.due));
    }
    std::vector<int> timesReceived(written.size(), 0);
    std::vector<double> latency, latencyLastLine, latencyEarlierLine;
    struct Slow {
        double ms;
        std::size_t written, receipt;
    };
    std::vector<Slow> slowest;
    std::size_t wrongTerminal = 0, unknown = 0, libraryOwn = 0;
    const auto all = receipts.all();
    for (std::size_t r = receiptsBefore; r < all.size(); ++r) {
        const auto& receipt = all[r];
        const auto sequence = commandSequence(receipt.text);
        if (!sequence) {
            ++libraryOwn;
            continue;
        }
        auto it = bySequence.find(*sequence);
        if (it == bySequence.end()) {
            ++unknown;
            continue;
        }
        const auto& w = written[it->second];
        if (static_cast<std::size_t>(w.command.terminalNumber - 1) != receipt.terminalIndex) ++wrongTerminal;
        if (timesReceived[it->second]++ == 0 && w.renamedAt) {
            latency.push_back(milliseconds(receipt.receivedAt - *w.renamedAt));
            (w.lastInBatch ? latencyLastLine : latencyEarlierLine).push_back(latency.back());
            slowest.push_back({latency.back(), it->second, r});
        }
    }
    std::size_t lost = 0, duplicated = 0;
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (written[i].renamedAt && timesReceived[i] == 0) ++lost;
        if (timesReceived[i] > 1) duplicated += static_cast<std::size_t>(timesReceived[i] - 1);
    }

    const auto batches = writer.batches();
    std::printf("  commands written        %zu in %llu batches (%.1f lines each on average)%s\n",
                written.size() - notWritten, static_cast<unsigned long long>(batches),
                batches ? static_cast<double>(written.size() - notWritten) / static_cast<double>(batches) : 0.0,
                notWritten ? format("; %zu never written: FILE_COM.OK was not taken in time", notWritten).c_str() : "");
    const auto latencySummary = summarize(latency);
    std::printf("  latency rename->frame   %s\n", describeMilliseconds(latencySummary).c_str());
    const double bounds[] = {5, 20, 100, 500, 1500};
    std::size_t buckets[6] = {};
    for (double ms : latency) {
        std::size_t b = 0;
        while (b < 5 && ms > bounds[b]) ++b;
        ++buckets[b];
    }
    std::printf("  latency spread          <=5 ms %zu, <=20 ms %zu, <=100 ms %zu, <=500 ms %zu, <=1.5 s %zu, more %zu\n",
                buckets[0], buckets[1], buckets[2], buckets[3], buckets[4], buckets[5]);
    std::printf("    last line of a batch  %s\n", describeMilliseconds(summarize(latencyLastLine)).c_str());
    std::printf("    earlier lines         %s\n", describeMilliseconds(summarize(latencyEarlierLine)).c_str());
    std::sort(slowest.begin(), slowest.end(), [](const Slow& a, const Slow& b) { return a.ms > b.ms; });
    if (!slowest.empty() && slowest.front().ms > 100) {
        std::printf("  slowest commands and what their terminal got from the library after the rename (ms):\n");
        for (std::size_t i = 0; i < slowest.size() && i < 3; ++i) {
            const auto& w = written[slowest[i].written];
            const auto& receipt = all[slowest[i].receipt];
            std::printf("    %.1f ms, terminal %d: %s\n", slowest[i].ms, w.command.terminalNumber,
                        timeline.describe(receipt.terminalIndex, *w.renamedAt, receipt.receivedAt + 1ms).c_str());
        }
    }
    std::printf("  customer wait due->rename (FILE_COM.OK not yet taken): %s\n",
                describeMilliseconds(summarize(customerWait)).c_str());
    std::printf("  lost                    %zu%s\n", lost, drained ? "" : "  [drain period ended before everything arrived]");
    std::printf("  received more than once %zu\n", duplicated);
    if (wrongTerminal) std::printf("  received by the wrong terminal: %zu\n", wrongTerminal);
    if (unknown) std::printf("  received but never written: %zu\n", unknown);
    if (libraryOwn) std::printf("  the library's own commands meanwhile: %zu\n", libraryOwn);
    if (receipts.badChecksums()) std::printf("  command frames with a wrong checksum: %zu\n", receipts.badChecksums());
    std::printf("  library CPU             %s of one core\n", cpu ? format("%.1f %%", *cpu).c_str() : "unknown");
    const auto hwm = statusKiB(site.library().pid(), "VmHWM");
    if (hwm) std::printf("  library peak memory     %.1f MiB\n", *hwm / 1024.0);
    site.stopLibrary();
    consumer.stop();
    std::printf("  status messages read:\n%s", messages.describe().c_str());
    if (packetLines) std::printf("  packet lines read: %llu\n", static_cast<unsigned long long>(packetLines));
    return true;
}

// ---- the protocol's floor ----

bool writeExactly(int fd, const char* data, std::size_t size) {
    while (size) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readExactly(int fd, char* data, std::size_t size) {
    while (size) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The two exchanges of one command: an 8-byte poll answered by one byte, then a command
// frame answered by one byte, between two sockets on 127.0.0.1 with Nagle off.
void measureRoundTrips(std::size_t samples) {
    std::printf("\n-- protocol floor: poll/ENQ + command/ACK on plain loopback sockets, %zu samples\n", samples);
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // 127.0.0.1, never anything else
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::printf("  cannot listen on 127.0.0.1\n");
        if (listener >= 0) ::close(listener);
        return;
    }
    const std::string poll("\x01\x01\x01\x01\x01" "00T", 8);
    const std::string frame = "\x02" "CMD00000001" "7A" "\x03";
    const int one = 1;
    std::thread terminal([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) return;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::vector<char> in(frame.size());
        for (;;) {
            if (!readExactly(fd, in.data(), poll.size()) || !writeExactly(fd, "\x05", 1)) break;
            if (!readExactly(fd, in.data(), frame.size()) || !writeExactly(fd, "\x06", 1)) break;
        }
        ::close(fd);
    });
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::vector<double> times;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char answer = 0;
        const std::size_t warmUp = 100;
        for (std::size_t i = 0; i < samples + warmUp; ++i) {
            const auto t0 = SteadyClock::now();
            if (!writeExactly(fd, poll.data(), poll.size()) || !readExactly(fd, &answer, 1) ||
                !writeExactly(fd, frame.data(), frame.size()) || !readExactly(fd, &answer, 1))
                break;
            if (i >= warmUp) times.push_back(milliseconds(SteadyClock::now() - t0));
        }
    }
    if (fd >= 0) ::close(fd);  // ends the terminal thread's loop
    terminal.join();
    ::close(listener);
    std::printf("  two round trips         %s\n", describeMilliseconds(summarize(times)).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    StopRequest stop;  // first: every later thread inherits its blocked signals
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows through a pipe too
    Settings settings;
    std::size_t port = settings.site.port;
    const std::vector<OptionSpec> specs = {
        {"--terminals", "N", "terminals of the large fleet (default 1000)", wholeNumber(settings.site.terminals, 1, 1000)},
        {"--no-single", "", "skip the run with one terminal alone", flag(settings.alsoSingle, false)},
        {"--only-single", "", "only the run with one terminal alone", flag(settings.onlySingle, true)},
        {"--single-rate", "R", "commands per second for the terminal alone (default 10)",
         seconds(settings.singleRate, 0.1, 100)},
        {"--period", "S", "seconds of commands in each run (default 20)", seconds(settings.periodSeconds, 1, 600)},
        {"--drain", "S", "longest wait for the last commands (default 10)", seconds(settings.drainSeconds, 0.5, 600)},
        {"--round-trips", "N", "samples of the protocol floor (default 5000)", wholeNumber(settings.roundTrips, 10, 1000000)},
        {"--iplib", "PATH", "library program (default: the one built beside the benchmark)", text(settings.site.program)},
        {"--first-address", "A", "address of the first terminal, 127.x.x.x (default 127.0.0.2)", text(settings.site.firstAddress)},
        {"--port", "P", "port of every terminal (default 1024)", wholeNumber(port, 1, 65535)},
        {"--connect-timeout", "S", "longest wait for all links (default 30 s + 50 ms per terminal)",
         seconds(settings.site.connectTimeoutSeconds, 1, 3600)},
    };
    switch (parseOptions(argc, argv, "Latency and loss of commands from the command file to the terminals.", specs)) {
        case ParseOutcome::Help: return 0;
        case ParseOutcome::Error: return 2;
        case ParseOutcome::Run: break;
    }
    settings.site.port = static_cast<std::uint16_t>(port);
    std::printf("== commands_bench\nmachine: %u cores, load average %s\n", std::thread::hardware_concurrency(),
                loadAverage().c_str());
    try {
        bool ok = true;
        if (!settings.onlySingle) ok = runFleet(settings, settings.site.terminals, 1, stop) && ok;
        if ((settings.alsoSingle || settings.onlySingle) && !stop.requested() &&
            (settings.onlySingle || settings.site.terminals != 1))
            ok = runFleet(settings, 1, settings.singleRate, stop) && ok;
        if (!stop.requested()) measureRoundTrips(settings.roundTrips);
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::printf("failed: %s\n", e.what());
        return 1;
    }
}
