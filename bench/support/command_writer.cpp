#include "support/command_writer.h"

#include "support/terminal_list.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace bench {

namespace {
constexpr char kEtx = '\x03';
constexpr std::chrono::microseconds kLongestNap{2000};

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}
}  // namespace

std::string commandLine(int terminalNumber, std::uint64_t sequence) {
    char text[32];
    std::snprintf(text, sizeof text, "CMD%08llu", static_cast<unsigned long long>(sequence));
    return fourDigits(terminalNumber) + "," + text + kEtx;
}

std::optional<std::uint64_t> commandSequence(const std::string& text) {
    if (text.size() != 11 || text.compare(0, 3, "CMD") != 0) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 3; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    return value;
}

CommandWriter::CommandWriter(std::string linkFolder, std::vector<ScheduledCommand> schedule)
    : folder_(std::move(linkFolder)) {
    if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
    commands_.reserve(schedule.size());
    for (auto& c : schedule) commands_.push_back({c, std::nullopt});
}

CommandWriter::~CommandWriter() { stop(); }

bool CommandWriter::start(std::string* error) {
    watch_ = std::make_unique<FolderWatch>(folder_, IN_DELETE | IN_MOVED_FROM);
    if (!watch_->ok()) {
        if (error) *error = watch_->error();
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void CommandWriter::stop() {
    stopping_.store(true);
    if (thread_.joinable()) thread_.join();
}

std::vector<WrittenCommand> CommandWriter::written() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

void CommandWriter::run() {
    const std::string ready = folder_ + "FILE_COM.OK";
    std::size_t next = 0;
    const std::size_t total = commands_.size();  // fixed: only renamedAt changes later
    while (!stopping_.load() && next < total) {
        const auto now = SteadyClock::now();
        SteadyClock::time_point due;
        {
            std::lock_guard lock(mutex_);
            due = commands_[next].command.due;
        }
        if (due > now) {
            const auto nap = std::chrono::duration_cast<std::chrono::microseconds>(due - now);
            watch_->wait(std::min(nap, kLongestNap));
            continue;
        }
        if (::access(ready.c_str(), F_OK) == 0) {
            // The library has not taken the previous batch yet.
            watch_->wait(kLongestNap);
            continue;
        }
        std::size_t end = next;
        {
            std::lock_guard lock(mutex_);
            while (end < total && commands_[end].command.due <= now) ++end;
        }
        if (writeBatch(next, end)) {
            next = end;
        } else {
            ++writeErrors_;
            watch_->wait(kLongestNap);
        }
    }
    finished_.store(next >= total);
}

bool CommandWriter::writeBatch(std::size_t from, std::size_t to) {
    std::string bytes;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = from; i < to; ++i)
            bytes += commandLine(commands_[i].command.terminalNumber, commands_[i].command.sequence) + "\r\n";
    }
    const std::string work = folder_ + "FILE_COM.TMP";
    const int fd = ::open(work.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool wrote = writeAll(fd, bytes);
    if (::close(fd) != 0 || !wrote) return false;
    if (::rename(work.c_str(), (folder_ + "FILE_COM.OK").c_str()) != 0) return false;
    const auto renamedAt = SteadyClock::now();
    const std::uint64_t batch = ++batches_;
    std::lock_guard lock(mutex_);
    for (std::size_t i = from; i < to; ++i) {
        commands_[i].renamedAt = renamedAt;
        commands_[i].batch = batch;
        commands_[i].lastInBatch = i + 1 == to;
    }
    return true;
}

}  // namespace bench
