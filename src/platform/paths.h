// The drive-root mapping: every Windows drive of a site's texts maps to one folder R, so
// "C:\VESKAL.CFG\TCP_LIB_IP\" means R/VESKAL.CFG/TCP_LIB_IP/. Folder texts keep a
// trailing "/" where a Windows folder text keeps its backslash.
#pragma once

#include <string>

namespace iplib {

class DrivePaths {
public:
    explicit DrivePaths(std::string root);

    // IPLIB_ROOT, else /var/lib/iplib for root, else $XDG_DATA_HOME/iplib
    // (~/.local/share/iplib).
    static std::string defaultRoot();

    const std::string& root() const { return root_; }  // ends with "/"

    // A path text typed by a person or read from a file: drive form ("D:\DATA\" or
    // "D:/DATA") is mapped under the root, an absolute POSIX path is used as it is,
    // a relative text is taken under the root. Backslashes become "/".
    std::string toLocal(const std::string& text) const;
    // The same for a folder text, with a trailing "/".
    std::string toLocalFolder(const std::string& text) const;

private:
    std::string root_;
};

// Appends "/" when the text does not end with one.
std::string withTrailingSlash(std::string folder);

}  // namespace iplib
