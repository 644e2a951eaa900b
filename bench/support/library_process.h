// The real library program as a child process on a given drive root, with the loopback
// guard on and "-MUL" (so that it never refuses to start because another copy runs on
// this machine). Its standard output and error go to a file. The child dies with the
// benchmark even when the benchmark is killed, and is stopped when this object goes.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>

namespace bench {

class LibraryProcess {
public:
    LibraryProcess() = default;
    ~LibraryProcess();  // stop()
    LibraryProcess(const LibraryProcess&) = delete;
    LibraryProcess& operator=(const LibraryProcess&) = delete;

    // Starts `program` with IPLIB_ROOT=root and IPLIB_LOOPBACK_ONLY=1; false with a reason.
    bool start(const std::string& program, const std::string& root, const std::string& outputFile,
               std::string* error);

    pid_t pid() const { return pid_; }
    // False once the child has ended; exitText() then tells how.
    bool running();
    const std::string& exitText() const { return exitText_; }

    // SIGTERM, then SIGKILL when it has not ended within `patience`. Returns how it ended.
    std::string stop(std::chrono::milliseconds patience = std::chrono::milliseconds(5000));

    // The last lines of what the child printed, for a report when something went wrong.
    std::string outputTail(std::size_t maxLines = 20) const;

private:
    void noteExit(int status);

    pid_t pid_ = -1;
    bool ended_ = false;
    std::string exitText_;
    std::string outputFile_;
};

// The library program to run: the given path when not empty, else the one built with the
// benchmarks, else "iplib" beside or one folder above the running benchmark. Empty when
// none exists.
std::string findLibraryProgram(const std::string& given);

}  // namespace bench
