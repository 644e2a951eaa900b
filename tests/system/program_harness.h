// Running the real program from a test: a temporary drive root with its configuration
// folder, the program as a child process with its own environment and captured output,
// the customer's side of the link files, and simulated terminals on loopback addresses
// of the test's own.
//
// Every wait polls with a generous bound that is only reached when something is broken;
// nothing here measures how fast the program is.
#pragma once

#include "system/test_support.h"
#include "terminal_sim/simulator.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace iplib::test {

using namespace std::chrono_literals;

// How long a condition may take before the test gives up: long enough for a slow,
// shared machine and a sanitizer build; it is never a measure of speed.
inline constexpr std::chrono::milliseconds Patience = 10s;

inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = Patience) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

inline bool exists(const std::string& path) { return std::filesystem::exists(path); }

// The lines of a CR LF file; a last line without its CR LF counts too.
inline std::vector<std::string> crlfLines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < content.size()) {
        const std::size_t end = content.find("\r\n", from);
        if (end == std::string::npos) {
            lines.push_back(content.substr(from));
            break;
        }
        lines.push_back(content.substr(from, end - from));
        from = end + 2;
    }
    return lines;
}

inline bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline std::size_t countOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

inline constexpr char ETX = '\x03';

// A lock name, a port, a file name that no other test of this run uses.
inline std::string uniqueName(const std::string& what) {
    static std::atomic<int> counter{0};
    return "iplib-systest-" + what + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

// A UDP port free at the time of asking, for the board resets the program sends.
inline std::uint16_t freeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

// A TCP port on which nobody listens at any address for as long as this lives: it is
// bound and never listened on, so every connection to it is refused at once.
class ClosedPort {
public:
    ClosedPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot reserve a closed port");
        port_ = ntohs(address.sin_port);
    }
    ~ClosedPort() { ::close(fd_); }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    std::uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// The terminal list file as the program reads it: "VIDE", the kept number, twelve
// selectors, the automatic configuration flag, then one line per terminal.
inline std::string terminalListFile(const std::vector<std::string>& terminals, bool autoIp = false) {
    std::string content = "VIDE\r\n 10 \r\n";
    for (int i = 0; i < 12; ++i) content += " 0 \r\n";
    content += autoIp ? " 1 \r\n" : " 0 \r\n";
    for (const auto& line : terminals) content += line + "\r\n";
    return content;
}

inline std::string terminalLine(const std::string& number, const std::string& address, std::uint16_t port,
                                const std::string& zone = "0", const std::string& type = "Ethernet") {
    return number + "," + address + "," + std::to_string(port) + ",=WAIT FOR THE ANSWER," + zone + "," + type;
}

// A drive root of the test's own: the configuration folder (which is also the link folder,
// as no LINK.CFG points elsewhere) and the marker file of the logs.
class ProgramRoot {
public:
    ProgramRoot() : config_(folder_.path() + "VESKAL.CFG/TCP_LIB_IP/") {}

    const std::string& root() const { return folder_.path(); }
    const std::string& configFolder() const { return config_; }
    std::string file(const std::string& name) const { return config_ + name; }

    void writeConfigFile(const std::string& name, const std::string& content) const {
        std::filesystem::create_directories(config_);
        writeFile(file(name), content);
    }
    void writeTerminalList(const std::vector<std::string>& terminals, bool autoIp = false) const {
        writeConfigFile("TCPIP.CFG", terminalListFile(terminals, autoIp));
    }
    // The activity, error and delay logs are on from start-up.
    void logEverything() const { writeFile(root() + "LOG_ALL_VESKAL.TXT", ""); }

    // Today's log of that kind ("VSK_", "ERR_"); whichever day's file exists, so that a
    // test running over midnight still finds the one that was written.
    std::string log(const std::string& prefix) const {
        std::string all;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(config_, ignored)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(prefix, 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".LOG")
                all += readFile(entry.path().string());
        }
        return all;
    }

private:
    TempFolder folder_;
    std::string config_;
};

// The program as a child process. Standard output and error go to a file; the child
// sees the test's environment plus its own variables, and the loopback guard always.
class ProgramProcess {
public:
    struct Options {
        std::string executable = IPLIB_PROGRAM;
        std::vector<std::string> arguments = {"-MUL"};
        std::string root;      // IPLIB_ROOT
        std::string lockName;  // IPLIB_SINGLE_COPY_NAME; a fresh one when empty
        std::map<std::string, std::string> environment;  // more variables, or replacements
    };

    // With -MUL on that drive root.
    explicit ProgramProcess(const std::string& root) : ProgramProcess(onRoot(root)) {}
    static Options onRoot(const std::string& root) {
        Options options;
        options.root = root;
        return options;
    }

    explicit ProgramProcess(Options options) : outputFile_(outputPathFor("out")) {
        std::map<std::string, std::string> overrides = options.environment;
        overrides["IPLIB_LOOPBACK_ONLY"] = "1";
        overrides["IPLIB_ROOT"] = options.root;
        overrides["IPLIB_SINGLE_COPY_NAME"] = options.lockName.empty() ? uniqueName("lock") : options.lockName;
        if (!overrides.count("IPLIB_BOARD_UDP_PORT")) overrides["IPLIB_BOARD_UDP_PORT"] = std::to_string(freeUdpPort());

        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string key = entry.substr(0, entry.find('='));
            if (!overrides.count(key)) environment.push_back(entry);
        }
        for (const auto& [key, value] : overrides) environment.push_back(key + "=" + value);
        std::vector<std::string> arguments{options.executable};
        arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());

        // Everything the child needs is ready before the fork: between fork and exec a
        // process with threads may only make plain system calls.
        std::vector<char*> argv;
        for (auto& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : environment) envp.push_back(e.data());
        envp.push_back(nullptr);
        const int out = ::open(outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0) throw std::runtime_error("cannot create " + outputFile_);

        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            // The test's own sockets (simulated terminals) must not live on in the child.
            ::close_range(3, ~0U, 0);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out);
        if (pid_ < 0) throw std::runtime_error("fork failed");
    }

    ~ProgramProcess() {
        if (!ended_) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        std::error_code ignored;
        std::filesystem::remove(outputFile_, ignored);
    }
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;

    pid_t pid() const { return pid_; }

    bool running() {
        collect(WNOHANG);
        return !ended_;
    }

    // The exit code (128 + signal for a process ended by a signal), or nothing when the
    // process still runs after the timeout.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = Patience) {
        eventually([this] { return !running(); }, timeout);
        if (!ended_) return std::nullopt;
        return exitCode_;
    }

    // SIGTERM, as the system sends it when it shuts down.
    void requestEnd() {
        if (running()) ::kill(pid_, SIGTERM);
    }

    // SIGTERM, then the wait for the end: the program closes its links, lets events run
    // for 2 seconds and ends.
    std::optional<int> terminate(std::chrono::milliseconds timeout = 6s) {
        requestEnd();
        return waitForExit(timeout);
    }

    std::string output() const { return readFile(outputFile_); }
    // The end of the output, where a sanitizer or a failed start writes its report.
    std::string tail(std::size_t bytes = 4000) const {
        const std::string all = output();
        return all.size() > bytes ? all.substr(all.size() - bytes) : all;
    }

    // Waits until standard output holds the text.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout = Patience) {
        return eventually([&] { return output().find(text) != std::string::npos || !running(); }, timeout) &&
               output().find(text) != std::string::npos;
    }

    // Waits until the program has finished its start-up.
    bool waitUntilRunning() { return waitForOutput("IP library running"); }

private:
    static std::string outputPathFor(const std::string& what) {
        return (std::filesystem::temp_directory_path() / (uniqueName(what) + ".txt")).string();
    }

    void collect(int flags) {
        if (ended_) return;
        int status = 0;
        if (::waitpid(pid_, &status, flags) != pid_) return;
        ended_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string outputFile_;
    pid_t pid_ = -1;
    bool ended_ = false;
    int exitCode_ = -1;
};

// The customer's software at the link folder: it takes the ready message and packet files
// (read, then delete) and drops command files (write the work name, then rename it).
class CustomerSide {
public:
    explicit CustomerSide(std::string linkFolder) : folder_(std::move(linkFolder)) {}

    std::string path(const std::string& name) const { return folder_ + name; }

    // The status messages received so far, each with its ETX.
    const std::vector<std::string>& messages() {
        take("FILE_MSG.OK", messages_);
        return messages_;
    }
    // The packets received so far.
    const std::vector<std::string>& packets() {
        take("FILE_PAQ.OK", packets_);
        return packets_;
    }

    bool waitForMessage(const std::string& line, std::chrono::milliseconds timeout = Patience) {
        return eventually([&] { return contains(messages(), line); }, timeout);
    }
    bool waitForMessageStartingWith(const std::string& start, std::chrono::milliseconds timeout = Patience) {
        return eventually([&] { return !messagesStartingWith(start).empty(); }, timeout);
    }
    std::vector<std::string> messagesStartingWith(const std::string& start) {
        std::vector<std::string> found;
        for (const auto& m : messages())
            if (m.rfind(start, 0) == 0) found.push_back(m);
        return found;
    }
    bool waitForPacket(const std::string& line, std::chrono::milliseconds timeout = Patience) {
        return eventually([&] { return contains(packets(), line); }, timeout);
    }

    // One command file holding these lines (each gets its ETX unless it has one), once
    // the library has taken the previous one.
    bool sendCommands(const std::vector<std::string>& lines) {
        std::string content;
        for (const auto& line : lines) content += line + (line.empty() || line.back() != ETX ? std::string(1, ETX) : "") + "\r\n";
        return sendCommandFile(content);
    }
    bool sendCommandFile(const std::string& content) {
        if (!eventually([&] { return !exists(path("FILE_COM.OK")); })) return false;
        writeFile(path("FILE_COM.TMP"), content);
        std::filesystem::rename(path("FILE_COM.TMP"), path("FILE_COM.OK"));
        return true;
    }
    bool commandFileTaken(std::chrono::milliseconds timeout = Patience) {
        return eventually([&] { return !exists(path("FILE_COM.OK")); }, timeout);
    }

private:
    void take(const std::string& name, std::vector<std::string>& into) {
        const std::string ready = path(name);
        if (!exists(ready)) return;
        // The library only ever renames a complete file to the ready name and never
        // writes into it, so what is read here is the whole batch.
        for (auto& line : crlfLines(readFile(ready))) into.push_back(std::move(line));
        std::filesystem::remove(ready);
    }

    std::string folder_;
    std::vector<std::string> messages_;
    std::vector<std::string> packets_;
};

// An io_context on a thread of its own for the simulated terminals of a test. Declare it
// before the terminals, so that they are gone before it stops.
class TerminalThread {
public:
    TerminalThread() : guard_(boost::asio::make_work_guard(io_)), thread_([this] { io_.run(); }) {}
    ~TerminalThread() {
        guard_.reset();
        io_.stop();
        thread_.join();
    }
    TerminalThread(const TerminalThread&) = delete;
    TerminalThread& operator=(const TerminalThread&) = delete;

    boost::asio::io_context& io() { return io_; }

    // A terminal listening on the address at a free port, see port().
    std::unique_ptr<terminal_sim::SimulatedTerminal> startTerminal(const std::string& address,
                                                                   terminal_sim::Behaviour behaviour = {},
                                                                   const std::string& addressDigits = "01") {
        terminal_sim::SimulatedTerminal::Options options;
        options.address = address;
        options.port = 0;
        options.addressDigits = addressDigits;
        options.behaviour = behaviour;
        auto terminal = std::make_unique<terminal_sim::SimulatedTerminal>(io_, options);
        std::string error;
        if (!terminal->start(&error)) throw std::runtime_error("simulated terminal: " + error);
        return terminal;
    }

private:
    boost::asio::io_context io_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard_;
    std::thread thread_;
};

// Waits until the library has set the terminal's clock on connecting and at the first
// second ending in 5 after its start-up, and then has sent it nothing for a moment. A test
// that counts data frames sends them after this: the library drops the bytes in front of a
// terminal's handshake answer (ENQ, ACK) in the same arrival, a data frame among them,
// unacknowledged, as the protocol has it; a real terminal sends such a frame again, a
// simulated one does not.
inline void waitForClockSettings(const terminal_sim::SimulatedTerminal& terminal) {
    // Two commands on connecting, two more at the synchronisation; only two when the
    // synchronisation came before the link. The bound covers that case.
    eventually([&] { return terminal.counters().commands >= 4; }, 12s);
    auto exchanges = [&] {
        const auto c = terminal.counters();
        return c.polls + c.commands;
    };
    for (int i = 0; i < 20; ++i) {
        const auto before = exchanges();
        std::this_thread::sleep_for(300ms);
        if (exchanges() == before) return;
    }
}

// The frame as the packet file shows it: positions 16 and 17 (STX at 1) hold the last two
// digits of the terminal's number, for frames longer than 18 bytes not of type S or D.
inline std::string deliveredPacket(const std::string& number, std::string frame) {
    if (frame.size() > 18 && frame[2] != 'S' && frame[2] != 'D') frame.replace(15, 2, number.substr(number.size() - 2));
    return number + "," + frame;
}

// A text as the activity log shows it: bytes 1 to 31 and from 127 up as %code%.
inline std::string asLogged(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 1 && c <= 31) || c >= 127) out += "%" + std::to_string(c) + "%";
        else out += static_cast<char>(c);
    }
    return out;
}

}  // namespace iplib::test
