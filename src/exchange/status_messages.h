// Status messages to the customer's software: one line "NNNN,CC-text" + ETX appended to
// the message file per event. A message that cannot be written is tried again on later
// ticks for 1.5 s without holding the event thread, then dropped with the folder error
// shown ("Error: Can not write to this folder !"); the next message written in time
// clears it. Messages keep their order: a new message waits behind older ones still
// being retried. At most MaxWaiting messages wait; one beyond that is dropped at once
// with the folder error set (a burst that large outruns the 1.5 s window anyway).
#pragma once

#include "exchange/link_files.h"
#include "platform/clock.h"

#include <deque>
#include <string>

namespace iplib {

class StatusMessages {
public:
    static constexpr std::int64_t RetryWindowMs = 1500;
    static constexpr std::size_t MaxWaiting = 10000;

    StatusMessages(LinkFiles& linkFiles, const Clock& clock);

    // ADD_DDE_MSG: the complete line including its ETX.
    void add(const std::string& line);
    // Retries waiting messages; called every main-cycle tick.
    void tick(const DateTime& now);

    bool folderError() const { return folderError_; }
    std::size_t waiting() const { return waiting_.size(); }

private:
    // Writes waiting messages oldest first; stops at the first one that fails in time.
    void flush(std::int64_t nowMs);

    struct Waiting {
        std::string line;
        std::int64_t firstTryMs;
    };
    LinkFiles& linkFiles_;
    const Clock& clock_;
    std::deque<Waiting> waiting_;
    bool folderError_ = false;
};

}  // namespace iplib
