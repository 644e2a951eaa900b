// A link folder on a real temporary root for the link-file tests: real files under a
// failing wrapper, a manual clock, the logs, and the command lines the poll hands on.
#pragma once

#include "core/logs.h"
#include "core/operator.h"
#include "core/terminal_registry.h"
#include "exchange/link_files.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "support/failing_files.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace iplib::testing {

// A fresh folder under /tmp, removed with everything in it.
struct ScratchFolder {
    ScratchFolder() {
        char name[] = "/tmp/iplib-link-XXXXXX";
        if (!::mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
        path = std::string(name) + "/";
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::string path;
};

struct LinkRig {
    LinkRig() {
        std::filesystem::create_directories(configFolder);
        link.setConfigFolder(configFolder);
        link.setCommandLineHandler([this](const std::string& line) { commands.push_back(line); });
    }

    // Lines of a file as the consumer reads them; empty when the file is absent.
    std::vector<std::string> lines(const std::string& path) {
        return real.readLines(path, {}).value_or(std::vector<std::string>{});
    }
    std::string content(const std::string& path) { return real.readAll(path, 1 << 30).value_or(""); }
    void put(const std::string& path, const std::string& bytes) { real.writeAtomic(path, bytes); }
    std::string linkPath(const std::string& name) const { return link.linkFolder() + name; }
    // What the customer has received and will receive, in order: the ready file, then the
    // work file still gathering.
    std::vector<std::string> delivered(const std::string& base) {
        auto all = lines(linkPath(base + ".OK"));
        for (auto& l : lines(linkPath(base + ".TMP"))) all.push_back(l);
        return all;
    }
    // The poll tick one millisecond later.
    void tick() {
        clock.advanceMilliseconds(1);
        link.pollTick(clock.now());
    }
    std::size_t errorsHolding(const std::string& part) const {
        std::size_t n = 0;
        for (const auto& l : logs.errorList())
            if (l.find(part) != std::string::npos) ++n;
        return n;
    }

    ScratchFolder root;
    std::string configFolder = root.path + "VESKAL.CFG/TCP_LIB_IP/";
    RealFileSystem real;
    FailingFiles files{real};
    ManualClock clock{DateTime{2026, 12, 9, 10, 0, 0, 0}};
    Operator op;
    TerminalRegistry registry{clock};
    Logs logs{files, clock, op, registry};
    DrivePaths paths{root.path};
    LinkFiles link{files, clock, logs, paths};
    std::vector<std::string> commands;
};

}  // namespace iplib::testing
