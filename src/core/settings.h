// The general settings: "SETUP.CFG" (seven lines), the hand-made "LIB_PAUSE.TXT" of the
// bells' break feature, and the connection timing, which is not stored and starts from
// its defaults at every start.
//
// SETUP.CFG lines: 1 answer timeout (tenths of a second, below 3 read as 3);
// 2 fingerprint synchronisation 0/1; 3 fingerprint administrator password; 4 its login;
// 5 call-in listen port (kept only when above 0); 6 fingerprint template folder (the
// configuration folder when empty or missing); 7 "Internet Cloud" flag 0/1.
#pragma once

#include "platform/file_system.h"
#include "platform/paths.h"

#include <string>

namespace iplib {

struct GeneralSettings {
    int answerTimeout = 4;  // tenths of a second
    bool fingerprintSync = false;
    std::string fingerprintPassword;
    std::string fingerprintLogin;
    std::string callInPort = "10024";
    std::string templateFolder;  // as typed (drive form or POSIX)
    bool internetCloud = false;
};

struct PauseSettings {
    bool present = false;  // the bells window shows its break section
    std::string terminal = "0000";
    std::string bell = "1";
    std::string delay1 = "3";
    std::string pause = "10";
    std::string delay2 = "3";
};

class SettingsFile {
public:
    SettingsFile(FileSystem& files, const DrivePaths& paths) : files_(files), paths_(paths) {}

    void setConfigFolder(std::string folder) { folder_ = std::move(folder); }
    std::string setupPath() const { return folder_ + "SETUP.CFG"; }
    std::string pausePath() const { return folder_ + "LIB_PAUSE.TXT"; }

    // LOAD_CFG_G: SETUP.CFG then LIB_PAUSE.TXT. Without SETUP.CFG only the answer timeout
    // is set (to 4). Unreadable files leave the settings as they were.
    void load(GeneralSettings& settings, PauseSettings& pause) const;
    // SAVE_CFG_G: replaces SETUP.CFG; a failure is ignored (false returned).
    bool save(const GeneralSettings& settings) const;

private:
    FileSystem& files_;
    const DrivePaths& paths_;
    std::string folder_;
};

// The pace of the connection timer. Out-of-range texts are refused and the previous value
// kept: the interval is a timer period of 1 to 65535 ms (0 is raised to 1), the reconnect
// delay a count of timer ticks from 1 to 32766 (it is compared with a 16-bit counter).
class ConnectionTiming {
public:
    static constexpr int DefaultInterval = 10;
    static constexpr int DefaultReconnectDelay = 500;

    int connectInterval() const { return interval_; }
    int reconnectDelay() const { return reconnectDelay_; }
    // "Total delay to recconect a QBX:" in seconds.
    double totalSeconds() const { return interval_ * static_cast<double>(reconnectDelay_) / 1000.0; }

    // The operator's texts; false when refused.
    bool setIntervalText(const std::string& text);
    bool setReconnectDelayText(const std::string& text);
    void resetToDefault();

private:
    int interval_ = DefaultInterval;
    int reconnectDelay_ = DefaultReconnectDelay;
};

// The answer-timeout slider: values below 4 are raised to 4 when it is moved, at most 20.
int sliderAnswerTimeout(int value);

}  // namespace iplib
