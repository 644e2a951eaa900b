#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace iplib {
namespace fs = std::filesystem;

namespace {

// Writes all bytes to an open descriptor, resuming after short writes.
bool writeAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string folderOf(const std::string& path) {
    auto pos = path.find_last_of('/');
    return pos == std::string::npos ? std::string(".") : path.substr(0, pos + 1);
}

}  // namespace

std::string joinCrLf(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

bool matchesPattern(std::string_view name, std::string_view pattern) {
    // Iterative glob with backtracking on the last "*".
    std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool RealFileSystem::exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool RealFileSystem::isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::uint64_t> RealFileSystem::size(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::int64_t> RealFileSystem::modificationTime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::int64_t>(st.st_mtime);
}

std::optional<std::string> RealFileSystem::readAll(const std::string& path, std::size_t maxBytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return std::nullopt;
    }
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        if (out.size() + static_cast<std::size_t>(n) > maxBytes) {
            ::close(fd);
            return std::nullopt;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

std::optional<std::vector<std::string>> RealFileSystem::readLines(const std::string& path,
                                                                  LineReadLimits limits) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<std::string> lines;
    std::string current;
    bool truncated = false;  // the current line passed maxLineBytes
    bool any = false;        // bytes seen since the last line end
    char buf[65536];
    auto endLine = [&] {
        if (!current.empty() && current.back() == '\r' && !truncated) current.pop_back();
        lines.push_back(std::move(current));
        current.clear();
        truncated = false;
        any = false;
    };
    while (lines.size() < limits.maxLines) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        for (ssize_t i = 0; i < n && lines.size() < limits.maxLines; ++i) {
            char c = buf[i];
            if (c == '\n') {
                endLine();
                continue;
            }
            any = true;
            if (current.size() < limits.maxLineBytes) current += c;
            else truncated = true;
        }
    }
    if (any && lines.size() < limits.maxLines) {
        if (!current.empty() && current.back() == '\r' && !truncated) current.pop_back();
        lines.push_back(std::move(current));
    }
    ::close(fd);
    return lines;
}

bool RealFileSystem::append(const std::string& path, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes);
    if (::close(fd) != 0) ok = false;
    return ok;
}

bool RealFileSystem::writeAtomic(const std::string& path, std::string_view bytes) {
    const std::string tmp = folderOf(path) + "." + fs::path(path).filename().string() + ".new";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(tmp.c_str(), path.c_str()) == 0) return true;
    ::unlink(tmp.c_str());
    return false;
}

bool RealFileSystem::rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RealFileSystem::copy(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

bool RealFileSystem::remove(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RealFileSystem::createFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) == 0) return true;
    return isFolder(path);
}

std::vector<std::string> RealFileSystem::list(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code tec;
        if (!it->is_regular_file(tec)) continue;
        std::string name = it->path().filename().string();
        if (matchesPattern(name, pattern)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace iplib
