#include "terminal_link/receive_path.h"

#include "core/text.h"
#include "terminal_link/frames.h"

#include <algorithm>

namespace iplib {
namespace {

// Drops the bytes before the first `byte` and removes every `byte`.
void dropThroughAll(std::string& buffer, char byte) {
    const std::size_t first = buffer.find(byte);
    if (first == std::string::npos) return;
    buffer.erase(0, first);
    std::erase(buffer, byte);
}

}  // namespace

ReceivePath::ReceivePath(TerminalRegistry& registry, Logs& logs, const Clock& clock, TransmitCycle& transmit,
                         ClockSync& clockSync, PacketDelivery& delivery, const GeneralSettings& settings)
    : registry_(registry), logs_(logs), clock_(clock), transmit_(transmit), clockSync_(clockSync),
      delivery_(delivery), settings_(settings) {}

bool ReceivePath::held(int slot, std::int64_t nowMs) const {
    return registry_.hasSlot(slot) && registry_.state(slot).exchangeHeldUntil > nowMs;
}

void ReceivePath::releaseHolds(std::int64_t nowMs) {
    if (heldSlots_.empty()) return;
    std::vector<int> due;
    std::erase_if(heldSlots_, [&](int slot) {
        if (!registry_.hasSlot(slot)) return true;
        if (registry_.state(slot).exchangeHeldUntil > nowMs) return false;
        due.push_back(slot);
        return true;
    });
    for (int slot : due) {
        SlotState& s = registry_.state(slot);
        s.exchangeHeldUntil = 0;
        std::string kept = std::move(s.heldInput);
        s.heldInput.clear();
        if (!kept.empty()) process(slot, std::move(kept));
    }
}

void ReceivePath::onData(int slot, std::string_view bytes) {
    if (!registry_.hasSlot(slot)) return;
    SlotState& s = registry_.state(slot);
    if (s.exchangeHeldUntil > clock_.now().epochMilliseconds()) {
        registry_.setStateText(slot, "IP CONNECTION OK");
        s.linkState = LinkState::Connected;
        const std::size_t room = HeldInputLimit - std::min(HeldInputLimit, s.heldInput.size());
        s.heldInput.append(bytes.substr(0, room));
        return;
    }
    process(slot, std::string(bytes));
}

void ReceivePath::process(int slot, std::string bytes) {
    if (!registry_.hasSlot(slot)) return;
    SlotState& s = registry_.state(slot);
    // A boot error already shown is not logged again when the terminal repeats it.
    bootErrorShown_ = text::contains(registry_.field(slot, 4), "BOOT ERROR: CHECKSUM");
    registry_.setStateText(slot, "IP CONNECTION OK");
    s.linkState = LinkState::Connected;

    bytes = text::replaceAll(bytes, frames::CellularKeepAlive, "");
    if (bytes.empty()) return;

    s.receiveBuffer += bytes;
    if (s.receiveBuffer.size() >= BufferLimit) {
        s.receiveBuffer.clear();
        s.txState = TxState::Idle;
    }
    if (s.receiveBuffer.find(frames::Hold) != std::string::npos) {
        std::erase(s.receiveBuffer, frames::Hold);
        return;
    }
    if (settings_.internetCloud && text::numericValue(registry_.field(slot, 1)) >= 9000 && hooks_.identifyCallIn)
        hooks_.identifyCallIn(slot);
    if (!registry_.hasSlot(slot)) return;
    if (handleHandshake(slot)) return;
    handleFrames(slot);
}

bool ReceivePath::handleHandshake(int slot) {
    SlotState& s = registry_.state(slot);
    std::string& buffer = s.receiveBuffer;
    if (buffer.find(frames::ENQ) != std::string::npos) {
        if (s.txState == TxState::Polled) {
            s.txState = TxState::CommandSent;
            const int number = static_cast<int>(text::numericValue(registry_.field(slot, 1)));
            transmit_.send(slot, frames::commandFrame(s.currentCommand, number));
            if (registry_.isCellular(slot)) s.protoCountdown = settings_.answerTimeout;
        }
        dropThroughAll(buffer, frames::ENQ);
        return true;
    }
    if (buffer.find(frames::ACK) != std::string::npos) {
        if (s.txState == TxState::CommandSent) {
            s.txState = TxState::Idle;
            transmit_.commandDone(slot, true);
            if (!registry_.hasSlot(slot)) return true;
            if (logs_.delayOn() && hooks_.commandAcknowledged)
                hooks_.commandAcknowledged(std::to_string(text::numericValue(registry_.field(slot, 1))));
        }
        SlotState& after = registry_.state(slot);
        dropThroughAll(after.receiveBuffer, frames::ACK);
        if (registry_.isCellular(slot) && after.receiveBuffer.find(frames::ETX) != std::string::npos)
            after.holdSeconds = 2;
        return true;
    }
    if (buffer.find(frames::Abort) != std::string::npos) {
        s.txState = TxState::Idle;
        s.exchangeHeldUntil = clock_.now().epochMilliseconds() + AbortHoldMs;
        if (std::find(heldSlots_.begin(), heldSlots_.end(), slot) == heldSlots_.end()) heldSlots_.push_back(slot);
        dropThroughAll(buffer, frames::Abort);
        return true;
    }
    return false;
}

void ReceivePath::handleFrames(int slot) {
    const std::size_t etxCount =
        std::max<std::size_t>(1, std::count(registry_.state(slot).receiveBuffer.begin(),
                                            registry_.state(slot).receiveBuffer.end(), frames::ETX));
    for (std::size_t i = 0; i < etxCount; ++i) {
        if (!registry_.hasSlot(slot)) return;
        SlotState& s = registry_.state(slot);
        s.txState = TxState::Idle;
        const auto span = frames::findFrame(s.receiveBuffer);
        if (!span) {
            handleBootByte(slot);
            continue;
        }
        const std::string frame = s.receiveBuffer.substr(span->start, span->end - span->start);
        auto dropFirstFrame = [&] {
            SlotState& now = registry_.state(slot);
            const std::size_t etx = now.receiveBuffer.find(frames::ETX);
            if (etx != std::string::npos) now.receiveBuffer.erase(0, etx + 1);
        };
        if (!frames::checksumAccepted(frame)) {
            dropFirstFrame();
            transmit_.send(slot, frames::Ack);
            logs_.activity("PAQ BAD NAK:" + frame);
            return;
        }
        transmit_.send(slot, frames::Ack);
        if (registry_.isCellular(slot) && s.holdSeconds > 0) s.holdSeconds = 2;
        if (frame != s.lastFrame) {
            s.lastFrame = frame;
            const std::string number = registry_.field(slot, 1);
            delivery_.deliverReceived(slot, number + "," + frames::rewriteAddress(frame, number));
        }
        dropFirstFrame();
    }
}

void ReceivePath::handleBootByte(int slot) {
    SlotState& s = registry_.state(slot);
    std::string& buffer = s.receiveBuffer;
    if (buffer.empty()) return;
    const std::string number = std::to_string(text::numericValue(registry_.field(slot, 1)));
    switch (buffer.front()) {
        case frames::BootError:
            if (!bootErrorShown_ && !text::contains(registry_.field(slot, 4), "BOOT ERROR: CHECKSUM")) {
                logs_.error("BOOT ERROR: CHECKSUM", slot);
                registry_.setStateText(slot, "BOOT ERROR: CHECKSUM");
                s.linkState = LinkState::Down;
            }
            logs_.showError("  [" + number + "]= BOOT ERROR: CHECKSUM");
            dropThroughAll(buffer, frames::BootError);
            break;
        case frames::BootDone: {
            logs_.error("BOOT OK: FULL ... GO TERM ...", slot);
            const bool timeQueued = std::any_of(s.commandQueue.begin(), s.commandQueue.end(), [](const std::string& e) {
                return e.find(frames::SetTime) != std::string::npos;
            });
            if (hooks_.sendNow) hooks_.sendNow(slot, frames::BootInit);
            if (!timeQueued) clockSync_.queueClockCommandsForSlot(slot, clock_.now());
            dropThroughAll(registry_.state(slot).receiveBuffer, frames::BootDone);
            break;
        }
        case frames::BootEmpty:
            registry_.setStateText(slot, "BOOT ERROR: EMPTY");
            logs_.error("BOOT ERROR: EMPTY", slot);
            dropThroughAll(buffer, frames::BootEmpty);
            s.linkState = LinkState::Down;
            break;
        default:
            break;
    }
}

}  // namespace iplib
