#include "terminal_link/transmit_cycle.h"

#include "core/text.h"
#include "terminal_link/frames.h"

#include <cmath>

namespace iplib {

TransmitCycle::TransmitCycle(TerminalRegistry& registry, Logs& logs, TransmitList& transmitList,
                             Dispatcher& dispatcher, const GeneralSettings& settings)
    : registry_(registry), logs_(logs), transmitList_(transmitList), dispatcher_(dispatcher), settings_(settings) {}

int TransmitCycle::noAnswerThreshold() const {
    const int timeout = settings_.answerTimeout > 0 ? settings_.answerTimeout : 1;
    return static_cast<int>(std::lround(80.0 / timeout));
}

void TransmitCycle::send(int slot, std::string bytes) { transmitList_.push_back({slot, std::move(bytes)}); }

void TransmitCycle::proto(int slot) {
    // Command done runs PROTO again; looping instead of recursing keeps the order of the
    // steps with a bounded stack however long the queue is.
    for (;;) {
        const Step step = protoStep(slot);
        if (step == Step::Stop) return;
        if (!removeHead(slot, step == Step::CommandDone)) return;
    }
}

void TransmitCycle::commandDone(int slot, bool confirmed) {
    if (!removeHead(slot, confirmed)) return;
    proto(slot);
}

bool TransmitCycle::removeHead(int slot, bool confirmed) {
    SlotState& s = registry_.state(slot);
    if (s.commandQueue.empty()) return false;
    if (!confirmed) s.linkState = LinkState::Down;
    s.currentCommand.clear();
    s.commandQueue.pop_front();
    s.retryCount = 0;
    s.protoCountdown = 0;
    return true;
}

TransmitCycle::Step TransmitCycle::protoStep(int slot) {
    if (!registry_.hasSlot(slot) && slot != 0) return Step::Stop;
    SlotState& s = registry_.state(slot);
    if (s.holdSeconds != 0 || s.commandQueue.empty()) {
        s.protoCountdown = 0;
        return Step::Stop;
    }
    if (!registry_.hasSlot(slot)) return Step::Stop;  // slot 0 with no terminals: entries wait

    const std::string head = s.commandQueue.front();
    const std::string destination = text::getField(head, std::string(1, Dispatcher::QueueSeparator), 1);
    const std::string commandText = text::getField(head, std::string(1, Dispatcher::QueueSeparator), 2);

    if (destination == "*") {
        for (std::size_t t = 0; t < registry_.count(); ++t) {
            const int number = static_cast<int>(text::numericValue(registry_.field(static_cast<int>(t), 1)));
            dispatcher_.dispatch(std::to_string(number) + "," + commandText);
        }
        if (hooks_.mobileDeviceNumbers)
            for (const auto& number : hooks_.mobileDeviceNumbers()) dispatcher_.dispatch(number + "," + commandText);
        return Step::CommandDone;
    }

    s.currentCommand = commandText;
    if (s.linkState != LinkState::Connected && s.linkState != LinkState::Down) return Step::CommandDropped;

    s.protoCountdown = text::contains(s.currentCommand, std::string(1, frames::LongCommand)) ? 10
                                                                                             : settings_.answerTimeout;
    s.txState = TxState::Polled;
    if (s.retryCount >= RetryWrap) {
        s.retryCount = 3;
        return Step::Stop;
    }
    ++s.retryCount;
    const int n = noAnswerThreshold();
    if (s.retryCount == n || s.retryCount == 4 * n) {
        registry_.setStateText(slot, "Reconnect QBX no answer");
        s.linkState = LinkState::Closing;
        logs_.error("Reconnect QBX no answer:" + (s.socket ? s.socket->remoteAddress() : std::string()), slot);
        s.linkState = LinkState::Down;
        s.reconnectTicks = 99;
        if (s.socket) s.socket->close();
        const bool callIn = registry_.isInternet(slot) ||
                            (settings_.internetCloud && text::numericValue(registry_.field(slot, 1)) > 9000);
        if (callIn && hooks_.releaseCallIn) hooks_.releaseCallIn(slot);
        return Step::Stop;
    }
    send(slot, frames::Poll);
    return Step::Stop;
}

}  // namespace iplib
