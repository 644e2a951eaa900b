#include "support/link_consumer.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace bench {

namespace {
// Also the fallback when an event is missed; short enough not to distort a latency much.
constexpr std::chrono::microseconds kWatchSlice{5000};

bool readWhole(const std::string& path, std::string& content) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    ::close(fd);
    return true;
}
}  // namespace

std::vector<std::string> splitLinkLines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        const bool terminated = end != std::string::npos;
        if (!terminated) end = content.size();
        std::size_t stop = end;
        if (stop > start && content[stop - 1] == '\r') --stop;
        if (stop > start) lines.emplace_back(content, start, stop - start);
        start = terminated ? end + 1 : end;
    }
    return lines;
}

LinkConsumer::LinkConsumer(std::string linkFolder, Handlers handlers)
    : folder_(std::move(linkFolder)), handlers_(std::move(handlers)) {
    if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

LinkConsumer::~LinkConsumer() { stop(); }

bool LinkConsumer::start(std::string* error) {
    // The ready names are made by rename; IN_CREATE covers a writer that makes them
    // directly.
    watch_ = std::make_unique<FolderWatch>(folder_, IN_MOVED_TO | IN_CREATE);
    if (!watch_->ok()) {
        if (error) *error = watch_->error();
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void LinkConsumer::stop() {
    stopping_.store(true);
    if (thread_.joinable()) thread_.join();
}

void LinkConsumer::run() {
    while (!stopping_.load()) {
        takeFile("FILE_PAQ.OK", true);
        takeFile("FILE_MSG.OK", false);
        watch_->wait(kWatchSlice);
    }
}

void LinkConsumer::takeFile(const std::string& name, bool packets) {
    const std::string path = folder_ + name;
    std::string content;
    if (!readWhole(path, content)) return;
    const auto readAt = SteadyClock::now();
    if (::unlink(path.c_str()) != 0) ++failedDeletes_;
    auto lines = splitLinkLines(content);
    if (packets) {
        ++packetFiles_;
        packetLines_ += lines.size();
        if (handlers_.packets) handlers_.packets(lines, readAt);
    } else {
        ++messageFiles_;
        messageLines_ += lines.size();
        if (handlers_.messages) handlers_.messages(lines, readAt);
    }
}

LinkConsumer::Totals LinkConsumer::totals() const {
    return {packetFiles_.load(), packetLines_.load(), messageFiles_.load(), messageLines_.load(),
            failedDeletes_.load()};
}

}  // namespace bench
