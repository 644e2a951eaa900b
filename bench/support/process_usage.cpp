#include "support/process_usage.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace bench {

std::optional<double> processorSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(in, text);
    // The command name may hold spaces and parentheses; the fields after it are plain.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(text.substr(close + 1));
    std::string skip;
    // After the name: state(3) ppid pgrp session tty tpgid flags minflt cminflt majflt
    // cmajflt utime(14) stime(15).
    for (int field = 3; field <= 13; ++field) fields >> skip;
    unsigned long long user = 0, system = 0;
    if (!(fields >> user >> system)) return std::nullopt;
    const long ticks = sysconf(_SC_CLK_TCK);
    if (ticks <= 0) return std::nullopt;
    return static_cast<double>(user + system) / static_cast<double>(ticks);
}

std::optional<long> statusKiB(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string key = field + ":";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) != 0) continue;
        std::istringstream value(line.substr(key.size()));
        long kib = 0;
        if (value >> kib) return kib;
        return std::nullopt;
    }
    return std::nullopt;
}

ProcessorShare::ProcessorShare(pid_t pid)
    : pid_(pid), startCpu_(processorSeconds(pid)), startWall_(std::chrono::steady_clock::now()) {}

std::optional<double> ProcessorShare::processorSecondsSoFar() const {
    const auto now = processorSeconds(pid_);
    if (!now || !startCpu_) return std::nullopt;
    return *now - *startCpu_;
}

std::optional<double> ProcessorShare::percentOfOneCore() const {
    const auto used = processorSecondsSoFar();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - startWall_).count();
    if (!used || wall <= 0) return std::nullopt;
    return 100.0 * *used / wall;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

}  // namespace bench
