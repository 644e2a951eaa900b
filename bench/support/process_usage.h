// What a process has used, read from /proc: processor time (user + system, all threads)
// and memory. Any process of this machine, the benchmark itself included.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>

namespace bench {

// utime + stime of /proc/<pid>/stat in seconds (clock-tick resolution, usually 10 ms).
std::optional<double> processorSeconds(pid_t pid);

// A field of /proc/<pid>/status in KiB: "VmHWM" (peak resident), "VmRSS".
std::optional<long> statusKiB(pid_t pid, const std::string& field);

// Processor time of one process over a stretch of wall time, as a share of one core.
class ProcessorShare {
public:
    explicit ProcessorShare(pid_t pid);  // starts the stretch now
    // Percent of one core since construction; empty when /proc could not be read.
    std::optional<double> percentOfOneCore() const;
    std::optional<double> processorSecondsSoFar() const;

private:
    pid_t pid_;
    std::optional<double> startCpu_;
    std::chrono::steady_clock::time_point startWall_;
};

// The first three fields of /proc/loadavg, to show how busy the shared machine was.
std::string loadAverage();

}  // namespace bench
