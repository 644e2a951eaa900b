#include "support/temp_root.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace bench {

TempRoot::TempRoot() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/iplib-bench-XXXXXX";
    std::vector<char> text(pattern.begin(), pattern.end());
    text.push_back('\0');
    if (!mkdtemp(text.data())) {
        error_ = "cannot make a temporary root from " + pattern + ": " + std::strerror(errno);
        return;
    }
    root_ = text.data();
    configFolder_ = root_ + "/VESKAL.CFG/TCP_LIB_IP/";
    std::error_code ec;
    std::filesystem::create_directories(configFolder_, ec);
    if (ec) {
        error_ = "cannot make " + configFolder_ + ": " + ec.message();
        std::filesystem::remove_all(root_, ec);
        root_.clear();
    }
}

TempRoot::~TempRoot() {
    if (root_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

}  // namespace bench
