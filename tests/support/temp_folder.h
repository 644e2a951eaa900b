// A real folder of its own under /tmp for one test, removed with everything in it when
// the test ends, so tests can run side by side.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace iplib::testing {

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/iplib_test_XXXXXX";
        if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        path_ = std::string(pattern) + "/";
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder, with a trailing "/".
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

    // Writes bytes exactly as given (no line-end translation), creating the folders of
    // the name; returns the full path.
    std::string write(const std::string& name, const std::string& bytes) const {
        const std::string full = path_ + name;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary | std::ios::trunc) << bytes;
        return full;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path_ + name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool has(const std::string& name) const { return std::filesystem::exists(path_ + name); }
    std::string makeFolder(const std::string& name) const {
        std::filesystem::create_directories(path_ + name);
        return path_ + name + "/";
    }

private:
    std::string path_;
};

}  // namespace iplib::testing
