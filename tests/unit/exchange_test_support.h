// A small library for the exchange tests: a temporary root (removed afterwards), a
// manual clock, real files, a recording operator, the registry, the logs and the
// dispatcher, with helpers to add terminals.
#pragma once

#include "core/logs.h"
#include "core/operator.h"
#include "core/terminal_registry.h"
#include "core/text.h"
#include "exchange/dispatcher.h"
#include "platform/clock.h"
#include "platform/file_system.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace iplib::testing {

inline constexpr char STX = 2;
inline constexpr char ETX = 3;
inline constexpr char SEP = static_cast<char>(250);

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "iplib_exchange_XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern + "/" : std::string();
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct ExchangeHarness {
    TempFolder root;
    ManualClock clock{DateTime{2026, 12, 9, 10, 0, 0, 0}};
    RealFileSystem files;
    Operator op;
    TerminalRegistry registry{clock};
    Logs logs{files, clock, op, registry};
    Dispatcher dispatcher{registry, logs, clock};

    ExchangeHarness() { logs.setConfigFolder(root.path()); }

    // A terminal "NNNN,127.0.1.N,1024,=WAIT FOR THE ANSWER,0,type" in the next slot.
    int addTerminal(int number, bool connected, const std::string& type = terminal_types::Ethernet,
                    const std::string& address = {}, const std::string& port = "1024") {
        const std::string addr = address.empty() ? "127.0.1." + std::to_string(number % 250 + 1) : address;
        const int slot = registry.addTerminal(text::fourDigits(number) + "," + addr + "," + port +
                                              ",=WAIT FOR THE ANSWER,0," + type);
        registry.state(slot).linkState = connected ? LinkState::Connected : LinkState::Down;
        return slot;
    }
    std::vector<std::string> queue(int slot) const {
        const auto& q = registry.state(slot).commandQueue;
        return {q.begin(), q.end()};
    }
    std::string readFile(const std::string& path) {
        return files.readAll(path, 1 << 20).value_or("<missing>");
    }
};

}  // namespace iplib::testing
