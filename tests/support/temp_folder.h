// A fresh folder under /tmp, removed with its content at the end of the test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace iplib::testing {

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/iplib-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path_ = std::string(made ? made : "/tmp/iplib-test-fallback") + "/";
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

    void write(const std::string& name, const std::string& content) const {
        std::filesystem::create_directories(std::filesystem::path(path_ + name).parent_path());
        std::ofstream(path_ + name, std::ios::binary) << content;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path_ + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(path_ + name); }

private:
    std::string path_;
};

}  // namespace iplib::testing
