#include "core/operator.h"

#include <ostream>

namespace iplib {
namespace {
constexpr std::size_t EventLimit = 2000;
const char* windowName(Window w) {
    switch (w) {
        case Window::Main: return "main";
        case Window::LinkFiles: return "link files";
        case Window::Bells: return "bells";
        case Window::ErrorList: return "error list";
        case Window::LibraryList: return "library list";
        case Window::Translator: return "translator";
        case Window::Bridges: return "bridges";
        case Window::MobileDevices: return "mobile devices";
    }
    return "?";
}
}  // namespace

Operator::Operator(std::ostream* echo) : echo_(echo), visible_(8, false) {
    visible_[static_cast<int>(Window::Main)] = true;
}

void Operator::addErrorLine(const std::string& line) {
    if (errorDisplay_.size() >= DisplayLimit) errorDisplay_.clear();
    errorDisplay_.push_back(line);
    record("error", line);
}

std::string Operator::shownError() const { return errorDisplay_.empty() ? "NO ERROR" : errorDisplay_.back(); }

void Operator::messageBox(const std::string& title, const std::string& text) { record("message", title + ": " + text); }

void Operator::beep(int count) {
    for (int i = 0; i < count; ++i) record("beep", "");
}

void Operator::info(const std::string& text) { record("info", text); }

void Operator::setVisible(Window w, bool visible) {
    auto i = static_cast<std::size_t>(w);
    if (visible_[i] == visible) return;
    visible_[i] = visible;
    record("window", std::string(windowName(w)) + (visible ? " shown" : " hidden"));
}

void Operator::setMinimised(bool minimised) {
    if (minimised_ == minimised) return;
    minimised_ = minimised;
    record("window", minimised ? "main minimised" : "main restored");
}

bool Operator::visible(Window w) const { return visible_[static_cast<std::size_t>(w)]; }

void Operator::record(std::string kind, std::string text) {
    if (echo_) *echo_ << "[" << kind << "] " << text << "\n" << std::flush;
    events_.push_back({std::move(kind), std::move(text)});
    if (events_.size() > EventLimit) events_.pop_front();
}

}  // namespace iplib
