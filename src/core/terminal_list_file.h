// "TCPIP.CFG", the terminal list of the configuration folder:
//   line 1      "VIDE" (ignored)
//   line 2      a number kept and written back (default 10)
//   lines 3-14  the twelve digit selectors of the automatic address configuration (0/1)
//   line 15     the automatic address configuration flag (0/1)
//   line 16 on  one terminal line per slot; call-in ("Internet") slots are not written.
// Numbers are written with a blank before a non-negative value and a blank after it.
#pragma once

#include "core/logs.h"
#include "core/terminal_registry.h"
#include "platform/file_system.h"

#include <array>
#include <string>

namespace iplib {

struct AutoConfigSettings {
    std::int64_t keptNumber = 10;
    std::array<bool, 12> selectors{};
    bool autoIp = false;  // SW_AUTO_IP: terminals come from discovery, none is read
};

class TerminalListFile {
public:
    static constexpr std::size_t MaxTerminalLines = 5000;
    // Terminal lines are short; a longer line keeps its first bytes.
    static constexpr std::size_t MaxLineBytes = 4096;

    TerminalListFile(FileSystem& files, TerminalRegistry& registry, Logs& logs);

    void setConfigFolder(std::string folder) { folder_ = std::move(folder); }
    std::string path() const { return folder_ + "TCPIP.CFG"; }

    // LOAD_CONFIG without the connection attempts: rebuilds the registry from the file.
    // Loaded lines get the state text "=WAIT FOR THE ANSWER". False when there is no file.
    bool load();
    // SAVE_CONFIG: replaces the file atomically; on failure writes "Unable to save the
    // configuration into folder: ..." to the error log and display. The registry is
    // never changed by a save.
    bool save();

    AutoConfigSettings& autoConfig() { return auto_; }
    const AutoConfigSettings& autoConfig() const { return auto_; }

private:
    FileSystem& files_;
    TerminalRegistry& registry_;
    Logs& logs_;
    std::string folder_;
    AutoConfigSettings auto_;
};

}  // namespace iplib
