// Files as the library uses them: single-byte text, whole operations (open, act, close),
// no file kept open between events. Logic talks to the FileSystem interface so that tests
// can make any operation fail; RealFileSystem is the operating system's.
//
// Paths are POSIX paths (the drive-root mapping of drive texts lives in platform/paths.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace iplib {

struct LineReadLimits {
    std::size_t maxLines = SIZE_MAX;      // lines after this are not read
    std::size_t maxLineBytes = 1 << 20;   // a longer line keeps its first bytes; the rest is skipped
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual bool exists(const std::string& path) = 0;
    virtual bool isFolder(const std::string& path) = 0;
    virtual std::optional<std::uint64_t> size(const std::string& path) = 0;
    // Modification time in whole seconds since the epoch.
    virtual std::optional<std::int64_t> modificationTime(const std::string& path) = 0;

    // Whole content, refused (nullopt) when larger than maxBytes or unreadable.
    virtual std::optional<std::string> readAll(const std::string& path, std::size_t maxBytes) = 0;
    // Lines ended by CR LF or LF (the line ends are not part of the lines). A last line
    // without an end is a line too. Nullopt when the file cannot be opened.
    virtual std::optional<std::vector<std::string>> readLines(const std::string& path,
                                                              LineReadLimits limits = {}) = 0;

    // Appends the bytes as they are (creating the file). One call is one write.
    virtual bool append(const std::string& path, std::string_view bytes) = 0;
    // Replaces the whole file through a temporary file in the same folder and a rename,
    // so that a crash leaves either the old or the new content.
    virtual bool writeAtomic(const std::string& path, std::string_view bytes) = 0;

    virtual bool rename(const std::string& from, const std::string& to) = 0;
    virtual bool copy(const std::string& from, const std::string& to) = 0;
    virtual bool remove(const std::string& path) = 0;
    // Creates one folder (its parent must exist); true when it exists afterwards.
    virtual bool createFolder(const std::string& path) = 0;
    // Names (not paths) of the regular files of a folder whose name matches the pattern,
    // where "*" matches any run of characters and "?" one character; sorted.
    virtual std::vector<std::string> list(const std::string& folder, const std::string& pattern) = 0;
};

class RealFileSystem final : public FileSystem {
public:
    bool exists(const std::string& path) override;
    bool isFolder(const std::string& path) override;
    std::optional<std::uint64_t> size(const std::string& path) override;
    std::optional<std::int64_t> modificationTime(const std::string& path) override;
    std::optional<std::string> readAll(const std::string& path, std::size_t maxBytes) override;
    std::optional<std::vector<std::string>> readLines(const std::string& path, LineReadLimits limits) override;
    bool append(const std::string& path, std::string_view bytes) override;
    bool writeAtomic(const std::string& path, std::string_view bytes) override;
    bool rename(const std::string& from, const std::string& to) override;
    bool copy(const std::string& from, const std::string& to) override;
    bool remove(const std::string& path) override;
    bool createFolder(const std::string& path) override;
    std::vector<std::string> list(const std::string& folder, const std::string& pattern) override;
};

// Lines joined with CR LF after each, the form every file of the library is written in.
std::string joinCrLf(const std::vector<std::string>& lines);

// Glob match of a file name against "*" / "?" patterns.
bool matchesPattern(std::string_view name, std::string_view pattern);

}  // namespace iplib
