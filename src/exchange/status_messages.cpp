#include "exchange/status_messages.h"

namespace iplib {

StatusMessages::StatusMessages(LinkFiles& linkFiles, const Clock& clock) : linkFiles_(linkFiles), clock_(clock) {}

void StatusMessages::add(const std::string& line) {
    const std::int64_t nowMs = clock_.now().epochMilliseconds();
    if (waiting_.size() >= MaxWaiting) {
        folderError_ = true;
        return;
    }
    waiting_.push_back({line, nowMs});
    flush(nowMs);
}

void StatusMessages::tick(const DateTime& now) {
    if (!waiting_.empty()) flush(now.epochMilliseconds());
}

void StatusMessages::flush(std::int64_t nowMs) {
    while (!waiting_.empty()) {
        Waiting& first = waiting_.front();
        // A clock set back starts the window again rather than holding the message for
        // as long as it jumped.
        if (nowMs < first.firstTryMs) first.firstTryMs = nowMs;
        if (nowMs - first.firstTryMs >= RetryWindowMs) {
            waiting_.pop_front();
            folderError_ = true;
            continue;
        }
        std::string line = first.line;
        if (linkFiles_.fileWrite(LinkFileId::Messages, line) != 1) return;  // again at the next tick
        waiting_.pop_front();
        folderError_ = false;
    }
}

}  // namespace iplib
