#include "terminal_link/main_cycle.h"

#include "core/text.h"

#include <algorithm>

namespace iplib {

MainCycle::MainCycle(TerminalRegistry& registry, Logs& logs, Operator& op, FileSystem& files,
                     TransmitList& transmitList, TransmitCycle& transmit, ReceivePath& receive, ClockSync& clockSync,
                     const GeneralSettings& settings)
    : registry_(registry), logs_(logs), operator_(op), files_(files), transmitList_(transmitList),
      transmit_(transmit), receive_(receive), clockSync_(clockSync), settings_(settings) {}

void MainCycle::startReference(const DateTime& now) {
    tenthReference_ = now.secondsOfDay();
    lastSecond_ = now.hhmmss();
}

void MainCycle::tick(const DateTime& now) {
    if (hooks_.bells) hooks_.bells(now);
    receive_.releaseHolds(now.epochMilliseconds());
    sendTransmitList(now);

    const double t = now.secondsOfDay();
    if (t - tenthReference_ >= 0.1 || t < tenthReference_) {
        for (std::size_t s = 0; s < std::max<std::size_t>(registry_.count(), 1); ++s)
            --registry_.state(static_cast<int>(s)).protoCountdown;
        tenthReference_ = t;
    }

    const std::string second = now.hhmmss();
    if (second != lastSecond_) onceASecond(now);

    // The priority slot (the terminal a control command was just queued for) is served
    // first, then every other slot in order in the same tick: serving it alone would
    // leave every other terminal waiting while commands keep arriving.
    const std::int64_t nowMs = now.epochMilliseconds();
    auto serve = [&](int slot) {
        SlotState& st = registry_.state(slot);
        if (st.protoCountdown > 0) return;
        // The transmit cycle's idle path, taken here without the call: it runs for every
        // idle slot at every tick.
        if (st.commandQueue.empty() || st.holdSeconds != 0) {
            st.protoCountdown = 0;
            return;
        }
        if (st.exchangeHeldUntil > nowMs) return;
        st.protoCountdown = 0;
        transmit_.proto(slot);
    };
    const int priority = prioritySlot_;
    prioritySlot_ = NoPriority;
    if (priority != NoPriority && registry_.hasSlot(priority)) serve(priority);
    for (std::size_t s = 0; s < registry_.count(); ++s)
        if (static_cast<int>(s) != priority) serve(static_cast<int>(s));
    if (hooks_.everyTick) hooks_.everyTick(now);
    lastSecond_ = second;
}

void MainCycle::sendTransmitList(const DateTime& now) {
    const std::int64_t nowMs = now.epochMilliseconds();
    int sent = 0;
    for (auto it = transmitList_.begin(); it != transmitList_.end() && sent < SendsPerTick;) {
        if (receive_.held(it->slot, nowMs)) {
            ++it;
            continue;
        }
        TransmitEntry entry = std::move(*it);
        it = transmitList_.erase(it);
        ++sent;
        if (!registry_.hasSlot(entry.slot)) continue;
        const std::string bytes = clockSync_.refreshAtSend(entry.slot, std::move(entry.bytes), now);
        if (auto& socket = registry_.state(entry.slot).socket) socket->send(bytes);
    }
}

void MainCycle::onceASecond(const DateTime& now) {
    ++secondsCounter_;
    for (std::size_t s = 0; s < registry_.count(); ++s) {
        const int slot = static_cast<int>(s);
        SlotState& st = registry_.state(slot);
        if (st.holdSeconds > 0) --st.holdSeconds;
        if (settings_.internetCloud && st.holdSeconds == 1 && text::numericValue(registry_.field(slot, 1)) > 9000 &&
            hooks_.releaseCallIn)
            hooks_.releaseCallIn(slot);
    }
    if (!configFolder_.empty()) {
        if (operator_.visible(Window::Main) && files_.exists(configFolder_ + "HIDE_LIB.TXT"))
            operator_.setVisible(Window::Main, false);
        else if (!operator_.visible(Window::Main) && files_.exists(configFolder_ + "VISIBLE_LIB.TXT"))
            operator_.setVisible(Window::Main, true);
    }
    clockSync_.resyncTick(now, secondsCounter_);
    clockSync_.everySecond(now, secondsCounter_);
    if (hooks_.everySecond) hooks_.everySecond(now);
    goToSearch();
}

void MainCycle::goTo(const std::string& textTyped, const DateTime& now) {
    searchText_ = textTyped;
    pendingSearch_ = textTyped;
    tick(now);
}

int MainCycle::findSlot(const std::string& search) const {
    const auto dots = static_cast<int>(std::count(search.begin(), search.end(), '.'));
    if (dots == 0) return registry_.slotOf(text::numericValue(search));
    if (dots > 4) return NO_SLOT;
    const int k = 4 - dots;
    for (std::size_t s = 0; s < registry_.count(); ++s) {
        const std::string address = registry_.field(static_cast<int>(s), 2);
        std::size_t start = 0;
        bool found = true;
        for (int i = 0; i < k; ++i) {
            const std::size_t p = address.find('.', i == 0 ? 0 : start + 1);
            if (p == std::string::npos) {
                found = false;
                break;
            }
            start = p;
        }
        if (found && address.substr(start) == search) return static_cast<int>(s);
    }
    return NO_SLOT;
}

void MainCycle::goToSearch() {
    if (searchText_ != pendingSearch_ || searchText_.empty() || text::numericValue(searchText_) >= 9999) {
        pendingSearch_ = searchText_;
        return;
    }
    const int slot = findSlot(searchText_);
    if (slot == NO_SLOT) operator_.beep(2);
    else viewedSlot_ = slot;
    searchText_.clear();
    pendingSearch_.clear();
}

}  // namespace iplib
