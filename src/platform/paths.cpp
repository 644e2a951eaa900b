#include "platform/paths.h"

#include <cstdlib>
#include <unistd.h>

namespace iplib {

std::string withTrailingSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

DrivePaths::DrivePaths(std::string root) : root_(withTrailingSlash(std::move(root))) {}

std::string DrivePaths::defaultRoot() {
    if (const char* r = std::getenv("IPLIB_ROOT"); r && *r) return r;
    if (::geteuid() == 0) return "/var/lib/iplib";
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return std::string(x) + "/iplib";
    if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.local/share/iplib";
    return "/tmp/iplib";
}

std::string DrivePaths::toLocal(const std::string& text) const {
    std::string t = text;
    for (char& c : t)
        if (c == '\\') c = '/';
    if (t.size() >= 2 && t[1] == ':' &&
        ((t[0] >= 'A' && t[0] <= 'Z') || (t[0] >= 'a' && t[0] <= 'z'))) {
        std::string rest = t.substr(2);
        while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
        return root_ + rest;
    }
    if (!t.empty() && t.front() == '/') return t;
    return root_ + t;
}

std::string DrivePaths::toLocalFolder(const std::string& text) const {
    return withTrailingSlash(toLocal(text));
}

}  // namespace iplib
