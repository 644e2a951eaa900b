// Everything the library shows its operator goes through this one interface: message
// boxes, the error display, beeps, window visibility, the count displays. It records the
// events for the console and for tests, and echoes them to standard output.
#pragma once

#include <deque>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace iplib {

enum class Window {
    Main,
    LinkFiles,
    Bells,
    ErrorList,
    LibraryList,
    Translator,
    Bridges,
    MobileDevices,
};

class Operator {
public:
    static constexpr std::size_t DisplayLimit = 51;

    struct Event {
        std::string kind;  // "message", "error", "beep", "window", "info"
        std::string text;
    };

    // echo: where events are printed (standard output in the program, null in tests).
    explicit Operator(std::ostream* echo = nullptr);

    // The error display of the main window: "NO ERROR" at first; emptied when it would
    // pass its limit. The newest line is the shown one.
    void addErrorLine(const std::string& line);
    const std::vector<std::string>& errorDisplay() const { return errorDisplay_; }
    std::string shownError() const;

    void messageBox(const std::string& title, const std::string& text);
    void beep(int count = 1);
    void info(const std::string& text);

    void setVisible(Window w, bool visible);
    void setMinimised(bool minimised);
    bool visible(Window w) const;
    bool minimised() const { return minimised_; }

    std::string title() const { return title_; }
    void setTitle(std::string t) { title_ = std::move(t); }

    // The last events, oldest first (bounded).
    const std::deque<Event>& events() const { return events_; }
    void clearEvents() { events_.clear(); }

private:
    void record(std::string kind, std::string text);

    std::ostream* echo_;
    std::vector<std::string> errorDisplay_;
    std::deque<Event> events_;
    std::vector<bool> visible_;
    bool minimised_ = false;
    std::string title_;
};

}  // namespace iplib
