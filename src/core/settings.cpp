#include "core/settings.h"

#include "core/text.h"

#include <algorithm>

namespace iplib {

void SettingsFile::load(GeneralSettings& s, PauseSettings& pause) const {
    if (files_.exists(setupPath())) {
        LineReadLimits limits;
        limits.maxLines = 7;
        limits.maxLineBytes = 4096;
        if (auto lines = files_.readLines(setupPath(), limits)) {
            auto at = [&](std::size_t i, const char* missing) -> std::string {
                return i < lines->size() ? (*lines)[i] : std::string(missing);
            };
            s.answerTimeout = static_cast<int>(std::clamp<std::int64_t>(text::numericValue(at(0, "")), 3, 32767));
            s.fingerprintSync = text::numericValue(at(1, "0")) != 0;
            s.fingerprintPassword = at(2, "");
            s.fingerprintLogin = at(3, "");
            const std::string port = at(4, "");
            if (text::numericValue(port) > 0) s.callInPort = port;
            const std::string folder = at(5, "");
            const std::string trimmed = text::trim(folder);
            if (trimmed.empty() || !files_.isFolder(paths_.toLocalFolder(trimmed))) s.templateFolder = folder_;
            else s.templateFolder = folder;
            s.internetCloud = text::numericValue(at(6, "0")) != 0;
        }
    } else {
        s.answerTimeout = 4;
    }

    if (files_.exists(pausePath())) {
        pause.present = true;
        LineReadLimits limits;
        limits.maxLines = 5;
        limits.maxLineBytes = 4096;
        if (auto lines = files_.readLines(pausePath(), limits)) {
            std::string* targets[] = {&pause.terminal, &pause.bell, &pause.delay1, &pause.pause, &pause.delay2};
            for (std::size_t i = 0; i < lines->size() && i < 5; ++i) *targets[i] = (*lines)[i];
        }
    }
}

bool SettingsFile::save(const GeneralSettings& s) const {
    std::vector<std::string> lines = {
        text::printedNumber(s.answerTimeout),
        text::printedNumber(s.fingerprintSync ? 1 : 0),
        s.fingerprintPassword,
        s.fingerprintLogin,
        s.callInPort,
        s.templateFolder,
        text::printedNumber(s.internetCloud ? 1 : 0),
    };
    return files_.writeAtomic(setupPath(), joinCrLf(lines));
}

bool ConnectionTiming::setIntervalText(const std::string& t) {
    const std::int64_t v = text::numericValue(t);
    if (v < 0 || v > 65535) return false;
    interval_ = v == 0 ? 1 : static_cast<int>(v);
    return true;
}

bool ConnectionTiming::setReconnectDelayText(const std::string& t) {
    const std::int64_t v = text::numericValue(t);
    if (v < 1 || v > 32766) return false;
    reconnectDelay_ = static_cast<int>(v);
    return true;
}

void ConnectionTiming::resetToDefault() {
    interval_ = DefaultInterval;
    reconnectDelay_ = DefaultReconnectDelay;
}

int sliderAnswerTimeout(int value) { return std::clamp(value, 4, 20); }

}  // namespace iplib
