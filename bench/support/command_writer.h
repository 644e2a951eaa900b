// The customer's side of the command file: commands fall due on a schedule, and each
// time no "FILE_COM.OK" is waiting, every command that is due is written to
// "FILE_COM.TMP", which is then renamed to "FILE_COM.OK" for the library to take. Runs on
// a thread of its own and records when each command's batch was renamed.
#pragma once

#include "support/folder_watch.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace bench {

using SteadyClock = std::chrono::steady_clock;

// "0012,CMD00000042" + ETX: a command text that is unique by its sequence and means
// nothing to the library beyond "send this to terminal 12".
std::string commandLine(int terminalNumber, std::uint64_t sequence);
// The sequence of a command text as a terminal receives it ("CMD00000042"); empty for
// any other text (the library's own commands, such as clock settings).
std::optional<std::uint64_t> commandSequence(const std::string& text);

struct ScheduledCommand {
    int terminalNumber = 0;
    std::uint64_t sequence = 0;
    SteadyClock::time_point due;
};

struct WrittenCommand {
    ScheduledCommand command;
    std::optional<SteadyClock::time_point> renamedAt;  // empty: never written
    std::uint64_t batch = 0;    // 1, 2, ... in the order the batches were renamed
    bool lastInBatch = false;   // the batch's last line
};

class CommandWriter {
public:
    // The schedule must be sorted by due time.
    CommandWriter(std::string linkFolder, std::vector<ScheduledCommand> schedule);
    ~CommandWriter();  // stop()
    CommandWriter(const CommandWriter&) = delete;
    CommandWriter& operator=(const CommandWriter&) = delete;

    bool start(std::string* error);
    void stop();
    bool finished() const { return finished_.load(); }  // every command written

    std::vector<WrittenCommand> written() const;
    std::uint64_t batches() const { return batches_.load(); }
    std::uint64_t writeErrors() const { return writeErrors_.load(); }

private:
    void run();
    bool writeBatch(std::size_t from, std::size_t to);

    std::string folder_;
    std::unique_ptr<FolderWatch> watch_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
    std::atomic<std::uint64_t> batches_{0};
    std::atomic<std::uint64_t> writeErrors_{0};
    mutable std::mutex mutex_;
    std::vector<WrittenCommand> commands_;
};

}  // namespace bench
