// The daily logs of the configuration folder and the error displays.
//  - activity log "VSK_DD-MM-YYYY.LOG": traffic and settings, control bytes escaped, each
//    day's file opening with the start-of-log block;
//  - error log "ERR_DD-MM-YYYY.LOG": link events and failures, one line per event with the
//    terminal number, time and remote address; its lines also feed the in-memory error
//    list, whether or not the file is written;
//  - delay log "DELAYS_DD-MM-YYYY.LOG": switched here, written by the delay log module.
// The three switches start off, follow the operator's one switch, and are all on from
// start-up when the marker file C:\LOG_ALL_VESKAL.TXT exists. File errors are ignored.
#pragma once

#include "core/operator.h"
#include "core/terminal_registry.h"
#include "platform/clock.h"
#include "platform/file_system.h"

#include <functional>
#include <string>
#include <vector>

namespace iplib {

class Logs {
public:
    static constexpr std::size_t ErrorListLimit = 51;
    // Lines of the start-of-log block between its first and last lines (terminals,
    // bridges, translator pairs, settings), supplied by the library.
    using StartBlockBody = std::function<std::vector<std::string>()>;

    Logs(FileSystem& files, const Clock& clock, Operator& op, const TerminalRegistry& registry);

    void setConfigFolder(std::string folder) { folder_ = std::move(folder); }
    void setStartBlockBody(StartBlockBody body) { startBlockBody_ = std::move(body); }

    bool activityOn() const { return activityOn_; }
    bool errorOn() const { return errorOn_; }
    bool delayOn() const { return delayOn_; }
    // The three switches at once (the marker file at start-up).
    void setAll(bool on);
    // The operator's switch "LOG ACTIVITY, ERROR AND DELAY": switching it on writes
    // "STR: [Start LOG ON]" and the window title to the activity log.
    void operatorSwitch(bool on);

    // LOG_ACT: one activity line "hh:mm:ss text<TAB>", CR and LF shown as [CR] and [LF],
    // other control and high bytes as %N%.
    void activity(const std::string& text);
    // LOG_ERR: "NNNN hh:mm:ss address<TAB>text<TAB>" for a slot (9998: no terminal).
    void error(const std::string& text, int slot);
    // ShowError: "hh:mm:ss :text" in the error display.
    void showError(const std::string& text);

    const std::vector<std::string>& errorList() const { return errorList_; }

    std::string activityPath() const;
    std::string errorPath() const;
    std::string delayPath() const;
    // The operator's "LOG FILES INFORMATION" text.
    std::string helpText() const;

private:
    // One reading of the clock names the file and stamps the line, so a line written
    // across midnight never lands in the other day's file.
    std::string datedPath(const char* prefix, const DateTime& now) const;
    std::string startBlock() const;

    FileSystem& files_;
    const Clock& clock_;
    Operator& operator_;
    const TerminalRegistry& registry_;
    std::string folder_;
    StartBlockBody startBlockBody_;
    bool activityOn_ = false;
    bool errorOn_ = false;
    bool delayOn_ = false;
    std::vector<std::string> errorList_;
};

}  // namespace iplib
