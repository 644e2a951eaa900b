// qbxsim: simulated QBX terminals for trying the library by hand or in scripts. Starts a
// fleet on consecutive loopback addresses, prints what the library does to each terminal
// and runs until SIGINT or SIGTERM.

#include "terminal_sim/fleet.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace terminal_sim;

constexpr int kUsageError = 2;

const char* kUsage =
    "usage: qbxsim [options]\n"
    "  --count N              terminals to simulate (default 1)\n"
    "  --first ADDRESS        address of the first terminal, 127.x.x.x only (default 127.0.0.2)\n"
    "  --port P               port of every terminal (default 1024)\n"
    "  --punch-rate R         punches per second per terminal while connected (default 0)\n"
    "  --card-prefix TEXT     cards of those punches: TEXT + six-digit sequence (default C)\n"
    "  --boot error|done|empty  boot report sent to each library that connects\n"
    "  --no-enq               never answer a poll\n"
    "  --no-ack               never acknowledge a command frame\n"
    "  --delay MS             wait before every answer (default 0)\n"
    "  --abort                answer E7 in place of every ENQ and ACK\n"
    "  --bad-checksum         send data frames with a wrong checksum\n"
    "  --unknown-checksum     send data frames with the checksum \"??\"\n"
    "  --noise                send a few stray bytes before each data frame\n"
    "  --hold                 send FB before each data frame\n"
    "  --echo-keepalive       send every cellular keep-alive straight back\n"
    "  --quiet                print nothing but errors\n"
    "  --help                 this text\n";

struct Settings {
    Fleet::Options fleet;
    double punchRate = 0;
    std::string cardPrefix = "C";
    bool quiet = false;
};

template <class Number>
bool parseNumber(std::string_view text, Number& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool parseDecimal(std::string_view text, double& value) {
    char* end = nullptr;
    std::string copy(text);
    value = std::strtod(copy.c_str(), &end);
    return !copy.empty() && end == copy.c_str() + copy.size() && value >= 0;
}

// Parses the command line into settings, or gives the message that explains why not.
std::optional<std::string> parse(int argc, char** argv, Settings& settings) {
    Behaviour& behaviour = settings.fleet.terminal.behaviour;
    const std::map<std::string_view, std::function<void()>> flags = {
        {"--no-enq", [&] { behaviour.answerPolls = false; }},
        {"--no-ack", [&] { behaviour.ackCommands = false; }},
        {"--abort", [&] { behaviour.abortInsteadOfAnswer = true; }},
        {"--bad-checksum", [&] { behaviour.dataChecksums = ChecksumMode::Wrong; }},
        {"--unknown-checksum", [&] { behaviour.dataChecksums = ChecksumMode::Unknown; }},
        {"--noise", [&] { behaviour.noiseBeforeFrames = true; }},
        {"--hold", [&] { behaviour.holdBeforeFrames = true; }},
        {"--echo-keepalive", [&] { behaviour.echoCellularKeepAlives = true; }},
        {"--quiet", [&] { settings.quiet = true; }},
    };
    const std::map<std::string_view, std::function<bool(std::string_view)>> options = {
        {"--count", [&](std::string_view v) { return parseNumber(v, settings.fleet.count) && settings.fleet.count > 0; }},
        {"--first", [&](std::string_view v) { settings.fleet.firstAddress = v; return true; }},
        {"--port", [&](std::string_view v) { return parseNumber(v, settings.fleet.port) && settings.fleet.port > 0; }},
        {"--punch-rate", [&](std::string_view v) { return parseDecimal(v, settings.punchRate); }},
        {"--card-prefix", [&](std::string_view v) { settings.cardPrefix = v; return true; }},
        {"--delay", [&](std::string_view v) {
             unsigned ms = 0;
             if (!parseNumber(v, ms)) return false;
             behaviour.answerDelay = std::chrono::milliseconds(ms);
             return true;
         }},
        {"--boot", [&](std::string_view v) {
             static const std::map<std::string_view, BootReport> reports = {
                 {"error", BootReport::Error}, {"done", BootReport::Done}, {"empty", BootReport::Empty}};
             auto found = reports.find(v);
             if (found == reports.end()) return false;
             behaviour.bootOnConnect = found->second;
             return true;
         }},
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") return std::string(kUsage);
        if (auto flag = flags.find(arg); flag != flags.end()) {
            flag->second();
            continue;
        }
        auto option = options.find(arg);
        if (option == options.end()) return "unknown option " + std::string(arg) + "\n" + kUsage;
        if (i + 1 >= argc) return "missing value after " + std::string(arg);
        std::string_view value = argv[++i];
        if (!option->second(value)) return "bad value for " + std::string(arg) + ": " + std::string(value);
    }
    auto last = nthLoopbackAddress(settings.fleet.firstAddress, settings.fleet.count - 1);
    if (!last)
        return "refusing " + settings.fleet.firstAddress +
               " with --count " + std::to_string(settings.fleet.count) +
               ": terminals are simulated on 127.x.x.x loopback addresses only";
    return std::nullopt;
}

void printLine(const std::string& who, const std::string& what) {
    std::cout << who << ' ' << what << '\n' << std::flush;
}

void attachPrinter(SimulatedTerminal& terminal) {
    std::string who = terminal.address() + ":" + std::to_string(terminal.port());
    SimulatedTerminal::Callbacks callbacks;
    callbacks.onConnected = [who](const std::string& peer) { printLine(who, "connected from " + peer); };
    callbacks.onDisconnected = [who] { printLine(who, "disconnected"); };
    callbacks.onMessage = [who](const LibraryMessage& message) {
        using Kind = LibraryMessage::Kind;
        switch (message.kind) {
            case Kind::Command:
                printLine(who, std::string("command ") + escapeForDisplay(message.text) +
                                   (message.checksumOk ? "" : " (bad checksum)"));
                break;
            case Kind::Ack: break;  // printed with its latency by onAck
            case Kind::Unexpected:
                printLine(who, "unexpected " + std::to_string(message.byteCount) + " bytes " +
                                   escapeForDisplay(message.text));
                break;
            default: printLine(who, kindName(message.kind)); break;
        }
    };
    callbacks.onAck = [who](std::uint64_t sequence, SteadyClock::duration latency) {
        auto micros = std::chrono::duration_cast<std::chrono::microseconds>(latency).count();
        char text[64];
        std::snprintf(text, sizeof text, "ack %llu after %.3f ms", static_cast<unsigned long long>(sequence),
                      micros / 1000.0);
        printLine(who, text);
    };
    terminal.setCallbacks(std::move(callbacks));
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (auto problem = parse(argc, argv, settings)) {
        bool help = *problem == kUsage;
        (help ? std::cout : std::cerr) << *problem << (help ? "" : "\n");
        return help ? 0 : kUsageError;
    }

    boost::asio::io_context io;
    Fleet fleet(io, settings.fleet);
    std::string error;
    if (!fleet.start(&error)) {
        std::cerr << "qbxsim: " << error << '\n';
        return 1;
    }
    for (std::size_t i = 0; i < fleet.size(); ++i) {
        if (!settings.quiet) attachPrinter(fleet[i]);
        if (settings.punchRate > 0) fleet[i].startPunching(settings.punchRate, settings.cardPrefix);
    }
    std::cerr << "qbxsim: " << fleet.size() << " terminal(s) from " << fleet[0].address() << " port "
              << fleet[0].port() << "\n";

    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code&, int) {
        for (std::size_t i = 0; i < fleet.size(); ++i) fleet[i].stop();
        // Queued behind the stops, so that the links close before the loop ends.
        boost::asio::post(io, [&] { io.stop(); });
    });
    io.run();
    return 0;
}
