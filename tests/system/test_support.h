// Helpers for tests that run a real event loop, sockets and folders.
#pragma once

#include "platform/event_loop.h"

#include <boost/asio/executor_work_guard.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace iplib::test {

// Runs the loop's handlers until the condition holds; false when it still does not after
// the timeout. The timeout only guards against a hang: it is generous and never measured.
inline bool runUntil(EventLoop& loop, const std::function<bool()>& done,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    auto& io = loop.context();
    auto guard = boost::asio::make_work_guard(io);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        io.run_one_for(std::chrono::milliseconds(20));
        if (io.stopped()) io.restart();
    }
    return true;
}

// Runs whatever is ready now, without waiting for anything new.
inline void runReady(EventLoop& loop) {
    loop.context().poll();
    if (loop.context().stopped()) loop.context().restart();
}

// A fresh folder under the system's temporary folder, removed with its content at the end.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "iplib-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern + "/";
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder, with a trailing "/".
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

}  // namespace iplib::test
