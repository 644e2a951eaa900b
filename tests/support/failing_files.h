// A file system for tests that makes chosen operations fail: it passes everything on to
// a real one, except the operations told to fail on paths holding a given text. It also
// counts the calls, so a test can see how often a write was tried.
#pragma once

#include "platform/file_system.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace iplib::testing {

class FailingFiles final : public FileSystem {
public:
    enum class Op { Exists, IsFolder, Size, ModificationTime, ReadAll, ReadLines, Append, WriteAtomic, Rename, Copy, Remove, CreateFolder, List };

    explicit FailingFiles(FileSystem& real) : real_(real) {}

    // From now on, `op` fails on every path that holds `pathPart` ("" = every path).
    void fail(Op op, std::string pathPart = {}) { rules_.emplace_back(op, std::move(pathPart)); }
    void heal() { rules_.clear(); }
    void heal(Op op) {
        rules_.erase(std::remove_if(rules_.begin(), rules_.end(), [op](const auto& r) { return r.first == op; }),
                     rules_.end());
    }

    // Calls of `op` so far on paths holding `pathPart`, failed or not.
    std::size_t calls(Op op, const std::string& pathPart = {}) const {
        return static_cast<std::size_t>(std::count_if(calls_.begin(), calls_.end(), [&](const auto& c) {
            return c.first == op && c.second.find(pathPart) != std::string::npos;
        }));
    }
    void forgetCalls() { calls_.clear(); }

    bool exists(const std::string& p) override { return !fails(Op::Exists, p) && real_.exists(p); }
    bool isFolder(const std::string& p) override { return !fails(Op::IsFolder, p) && real_.isFolder(p); }
    std::optional<std::uint64_t> size(const std::string& p) override {
        if (fails(Op::Size, p)) return std::nullopt;
        return real_.size(p);
    }
    std::optional<std::int64_t> modificationTime(const std::string& p) override {
        if (fails(Op::ModificationTime, p)) return std::nullopt;
        return real_.modificationTime(p);
    }
    std::optional<std::string> readAll(const std::string& p, std::size_t maxBytes) override {
        if (fails(Op::ReadAll, p)) return std::nullopt;
        return real_.readAll(p, maxBytes);
    }
    std::optional<std::vector<std::string>> readLines(const std::string& p, LineReadLimits limits) override {
        if (fails(Op::ReadLines, p)) return std::nullopt;
        return real_.readLines(p, limits);
    }
    bool append(const std::string& p, std::string_view bytes) override {
        return !fails(Op::Append, p) && real_.append(p, bytes);
    }
    bool writeAtomic(const std::string& p, std::string_view bytes) override {
        return !fails(Op::WriteAtomic, p) && real_.writeAtomic(p, bytes);
    }
    bool rename(const std::string& from, const std::string& to) override {
        return !fails(Op::Rename, from) && real_.rename(from, to);
    }
    bool copy(const std::string& from, const std::string& to) override {
        return !fails(Op::Copy, from) && real_.copy(from, to);
    }
    bool remove(const std::string& p) override { return !fails(Op::Remove, p) && real_.remove(p); }
    bool createFolder(const std::string& p) override {
        return !fails(Op::CreateFolder, p) && real_.createFolder(p);
    }
    std::vector<std::string> list(const std::string& folder, const std::string& pattern) override {
        if (fails(Op::List, folder)) return {};
        return real_.list(folder, pattern);
    }

private:
    bool fails(Op op, const std::string& path) {
        calls_.emplace_back(op, path);
        return std::any_of(rules_.begin(), rules_.end(), [&](const auto& r) {
            return r.first == op && path.find(r.second) != std::string::npos;
        });
    }

    FileSystem& real_;
    std::vector<std::pair<Op, std::string>> rules_;
    std::vector<std::pair<Op, std::string>> calls_;
};

}  // namespace iplib::testing
