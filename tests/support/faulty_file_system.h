// The real file system with chosen operations made to fail, for the failure paths that a
// root-run test cannot provoke with permissions: every write under a path prefix, every
// read under a prefix, or the Nth operation from now. It also counts the calls, so a test
// can tell how many writes an operation made.
#pragma once

#include "platform/file_system.h"

#include <array>
#include <string>
#include <vector>

namespace iplib::testing {

class FaultyFileSystem final : public FileSystem {
public:
    enum class Op { Exists, IsFolder, Size, ModificationTime, ReadAll, ReadLines, Append, WriteAtomic,
                    Rename, Copy, Remove, CreateFolder, List, Count_ };

    // Appends, atomic writes, renames, copies, removals and folder creations touching a
    // path under the prefix fail and change nothing.
    void failWritesUnder(std::string prefix) { writePrefixes_.push_back(std::move(prefix)); }
    // Reads of whole files and lines under the prefix fail.
    void failReadsUnder(std::string prefix) { readPrefixes_.push_back(std::move(prefix)); }
    // The nth operation from now fails (1 = the next one), whatever it is.
    void failNthOperation(int n) { failAt_ = operations_ + n; }
    void healAll() { writePrefixes_.clear(); readPrefixes_.clear(); failAt_ = -1; }

    int count(Op op) const { return counts_[static_cast<std::size_t>(op)]; }
    int operations() const { return operations_; }

    bool exists(const std::string& p) override { return step(Op::Exists) && real_.exists(p); }
    bool isFolder(const std::string& p) override { return step(Op::IsFolder) && real_.isFolder(p); }
    std::optional<std::uint64_t> size(const std::string& p) override {
        if (!step(Op::Size)) return std::nullopt;
        return real_.size(p);
    }
    std::optional<std::int64_t> modificationTime(const std::string& p) override {
        if (!step(Op::ModificationTime)) return std::nullopt;
        return real_.modificationTime(p);
    }
    std::optional<std::string> readAll(const std::string& p, std::size_t maxBytes) override {
        if (!step(Op::ReadAll) || under(readPrefixes_, p)) return std::nullopt;
        return real_.readAll(p, maxBytes);
    }
    std::optional<std::vector<std::string>> readLines(const std::string& p, LineReadLimits limits) override {
        if (!step(Op::ReadLines) || under(readPrefixes_, p)) return std::nullopt;
        return real_.readLines(p, limits);
    }
    bool append(const std::string& p, std::string_view bytes) override {
        return step(Op::Append) && !under(writePrefixes_, p) && real_.append(p, bytes);
    }
    bool writeAtomic(const std::string& p, std::string_view bytes) override {
        return step(Op::WriteAtomic) && !under(writePrefixes_, p) && real_.writeAtomic(p, bytes);
    }
    bool rename(const std::string& from, const std::string& to) override {
        return step(Op::Rename) && !under(writePrefixes_, from) && !under(writePrefixes_, to) &&
               real_.rename(from, to);
    }
    bool copy(const std::string& from, const std::string& to) override {
        return step(Op::Copy) && !under(writePrefixes_, to) && real_.copy(from, to);
    }
    bool remove(const std::string& p) override {
        return step(Op::Remove) && !under(writePrefixes_, p) && real_.remove(p);
    }
    bool createFolder(const std::string& p) override {
        return step(Op::CreateFolder) && !under(writePrefixes_, p) && real_.createFolder(p);
    }
    std::vector<std::string> list(const std::string& folder, const std::string& pattern) override {
        if (!step(Op::List)) return {};
        return real_.list(folder, pattern);
    }

private:
    // Counts the call; false when this is the operation chosen to fail.
    bool step(Op op) {
        ++counts_[static_cast<std::size_t>(op)];
        return ++operations_ != failAt_;
    }
    static bool under(const std::vector<std::string>& prefixes, const std::string& path) {
        for (const auto& prefix : prefixes)
            if (path.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }

    RealFileSystem real_;
    std::vector<std::string> writePrefixes_;
    std::vector<std::string> readPrefixes_;
    int operations_ = 0;
    int failAt_ = -1;
    std::array<int, static_cast<std::size_t>(Op::Count_)> counts_{};
};

}  // namespace iplib::testing
