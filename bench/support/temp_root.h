// A fresh drive root for one library instance, removed with everything in it when the
// object goes. The library's configuration folder (and so, by default, its link folder)
// is made inside it.
#pragma once

#include <string>

namespace bench {

class TempRoot {
public:
    TempRoot();   // under $TMPDIR or /tmp; check ok() before use
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    bool ok() const { return !root_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& root() const { return root_; }                  // no trailing "/"
    const std::string& configFolder() const { return configFolder_; }  // ends with "/"

private:
    std::string root_;
    std::string configFolder_;
    std::string error_;
};

}  // namespace bench
