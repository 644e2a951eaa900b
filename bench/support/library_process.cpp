#include "support/library_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace bench {

namespace {
std::vector<std::string> childEnvironment(const std::string& root) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry(*e);
        if (entry.starts_with("IPLIB_ROOT=") || entry.starts_with("IPLIB_LOOPBACK_ONLY=")) continue;
        env.emplace_back(entry);
    }
    env.push_back("IPLIB_ROOT=" + root);
    env.push_back("IPLIB_LOOPBACK_ONLY=1");
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}
}  // namespace

bool LibraryProcess::start(const std::string& program, const std::string& root, const std::string& outputFile,
                           std::string* error) {
    auto fail = [&](const std::string& reason) {
        if (error) *error = reason;
        return false;
    };
    if (pid_ > 0) return fail("already started");
    std::vector<std::string> args{program, "-MUL"};
    std::vector<std::string> env = childEnvironment(root);
    auto argv = pointers(args);
    auto envp = pointers(env);
    const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) return fail("cannot open " + outputFile + ": " + std::strerror(errno));
    const pid_t parent = ::getpid();

    const pid_t child = ::fork();
    if (child < 0) {
        ::close(out);
        return fail(std::string("fork: ") + std::strerror(errno));
    }
    if (child == 0) {
        // Only async-signal-safe calls from here to exec. The benchmark blocks its stop
        // signals; the library must get them.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) _exit(127);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ::close(out);
    pid_ = child;
    outputFile_ = outputFile;
    return true;
}

void LibraryProcess::noteExit(int status) {
    ended_ = true;
    if (WIFEXITED(status))
        exitText_ = "exited with code " + std::to_string(WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        exitText_ = std::string("ended by signal ") + std::to_string(WTERMSIG(status)) + " (" +
                    strsignal(WTERMSIG(status)) + ")";
    else
        exitText_ = "ended";
}

bool LibraryProcess::running() {
    if (pid_ <= 0 || ended_) return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) noteExit(status);
    return !ended_;
}

std::string LibraryProcess::stop(std::chrono::milliseconds patience) {
    if (pid_ <= 0) return "not started";
    if (!running()) return exitText_;
    ::kill(pid_, SIGTERM);
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + patience;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!running()) {
            const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            char text[64];
            std::snprintf(text, sizeof text, " %.1f s after SIGTERM", took);
            return exitText_ + text;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    noteExit(status);
    exitText_ = "did not end within " + std::to_string(patience.count()) + " ms of SIGTERM; killed";
    return exitText_;
}

LibraryProcess::~LibraryProcess() { stop(); }

std::string LibraryProcess::outputTail(std::size_t maxLines) const {
    std::ifstream in(outputFile_, std::ios::binary);
    std::deque<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
        if (lines.size() > maxLines) lines.pop_front();
    }
    std::string text;
    for (auto& l : lines) text += "    | " + l + "\n";
    return text;
}

std::string findLibraryProgram(const std::string& given) {
    namespace fs = std::filesystem;
    auto usable = [](const fs::path& p) { return !p.empty() && ::access(p.c_str(), X_OK) == 0 && fs::is_regular_file(p); };
    if (!given.empty()) return usable(given) ? given : std::string();
#ifdef IPLIB_PROGRAM_PATH
    if (usable(IPLIB_PROGRAM_PATH)) return IPLIB_PROGRAM_PATH;
#endif
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    for (const fs::path& candidate : {self.parent_path() / "iplib", self.parent_path().parent_path() / "iplib"})
        if (usable(candidate)) return candidate.string();
    return {};
}

}  // namespace bench
