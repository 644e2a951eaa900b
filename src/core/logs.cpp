#include "core/logs.h"

#include "core/text.h"

namespace iplib {

Logs::Logs(FileSystem& files, const Clock& clock, Operator& op, const TerminalRegistry& registry)
    : files_(files), clock_(clock), operator_(op), registry_(registry) {}

void Logs::setAll(bool on) {
    activityOn_ = errorOn_ = delayOn_ = on;
}

void Logs::operatorSwitch(bool on) {
    if (on) {
        activityOn_ = true;
        activity("STR: [Start LOG ON]" + operator_.title());
    }
    setAll(on);
}

std::string Logs::datedPath(const char* prefix, const DateTime& now) const {
    return folder_ + prefix + now.ddmmyyyy() + ".LOG";
}
std::string Logs::activityPath() const { return datedPath("VSK_", clock_.now()); }
std::string Logs::errorPath() const { return datedPath("ERR_", clock_.now()); }
std::string Logs::delayPath() const { return datedPath("DELAYS_", clock_.now()); }

std::string Logs::startBlock() const {
    std::string block = "STR: [Start LOG]---------------" + operator_.title() + "\r\n";
    if (startBlockBody_)
        for (const auto& l : startBlockBody_()) block += l + "\r\n";
    block += "STR: --------------------------\r\n";
    return block;
}

void Logs::activity(const std::string& message) {
    if (!activityOn_) return;
    std::string shown = text::replaceAll(text::replaceAll(message, "\r", "[CR]"), "\n", "[LF]");
    shown = text::encodeEscapes(shown);
    const DateTime now = clock_.now();
    const std::string path = datedPath("VSK_", now);
    std::string write;
    if (!files_.exists(path)) write = startBlock();
    write += now.hhmmss() + " " + shown + "\t\r\n";
    files_.append(path, write);
}

void Logs::error(const std::string& message, int slot) {
    std::string address;
    if (registry_.hasSlot(slot)) {
        const auto& socket = registry_.state(slot).socket;
        if (socket) address = socket->remoteAddress();
    }
    const int number = registry_.numberOf(slot);
    const DateTime now = clock_.now();
    const std::string line = text::fourDigits(number == NO_SLOT ? 9999 : number) + " " + now.hhmmss() +
                             " " + address + "\t" + message + "\t";
    if (errorOn_) files_.append(datedPath("ERR_", now), line + "\r\n");
    if (errorList_.size() >= ErrorListLimit) errorList_.clear();
    errorList_.push_back(line);
}

void Logs::showError(const std::string& message) {
    operator_.addErrorLine(clock_.now().hhmmss() + " :" + message);
}

std::string Logs::helpText() const {
    return "If the file C:\\LOG_ALL_VESKAL.TXT exist then all log activate at startup\r\n\r\n"
           "LOG ACTIVITY = " + activityPath() + "\r\nLOG ERRORS = " + errorPath() +
           "\r\nLOG DELAYSTIES = " + delayPath();
}

}  // namespace iplib
