#include "exchange/dispatcher.h"

#include "core/text.h"

namespace iplib {
namespace {

constexpr char STX = 2;
constexpr char ETX = 3;
const std::string StorePrompt1 = std::string("01") + static_cast<char>(187);
const std::string ShowPrompt1 = std::string("01") + static_cast<char>(200);
const std::string StorePrompt2 = std::string("02") + static_cast<char>(187);
const std::string ShowPrompt2 = std::string("02") + static_cast<char>(200);
// The output marker that the bells and the validation list append; the RQ05T model
// does not take it.
constexpr std::string_view OutputMarker = "><T";

bool endsWith(const std::string& text, char c) { return !text.empty() && text.back() == c; }

}  // namespace

Dispatcher::Dispatcher(TerminalRegistry& registry, Logs& logs, const Clock& clock)
    : registry_(registry), logs_(logs), clock_(clock) {}

std::string Dispatcher::queuedForm(const std::string& line) {
    std::string queued = text::removeByte(text::removeByte(line, STX), ETX);
    if (auto comma = queued.find(','); comma != std::string::npos) queued[comma] = QueueSeparator;
    return queued;
}

std::string Dispatcher::bridgeForm(const std::string& line) {
    const std::string second = text::getField(line, ",", 2);
    const auto first = second.empty() ? 0u : static_cast<unsigned char>(second.front());
    if (first != 220 && first != 221) return line;
    return text::getField(line, ",", 1) + ",\xFE\xF8\x08\x02" + second + ETX + "   ";
}

int Dispatcher::dispatch(std::string& line) {
    if (hooks_.translate) hooks_.translate(line);

    const std::string destination = text::getField(line, ",", 1);
    const std::int64_t number = text::numericValue(destination);
    const bool numberInRange = number >= 0 && number <= MaxTerminalNumber;

    if (patch1_ || patch2_) {
        const int patchSlot = numberInRange ? registry_.slotOf(number) : NO_SLOT;
        if (promptSlot(patchSlot)) {
            // The patches read a copy: a fabricated packet may dispatch further lines.
            const std::string seen = line;
            if (patch1_) runFirstPatch(seen, patchSlot);
            if (patch2_) runSecondPatch(seen, patchSlot);
        }
    }

    if (logs_.activityOn()) logs_.activity("COM:" + line);
    if (hooks_.addToLastCommands) hooks_.addToLastCommands(line);

    const bool broadcast = destination == "*";
    int slot = NO_SLOT;
    if (broadcast) slot = 0;
    else if (numberInRange) slot = registry_.slotOf(number);

    std::string queued = queuedForm(line);

    if (slot != NO_SLOT) {
        if (registry_.type(slot) == terminal_types::RQ05T)
            if (auto marker = queued.find(OutputMarker); marker != std::string::npos) queued.erase(marker);
        SlotState& state = registry_.state(slot);
        if (!broadcast && state.linkState != LinkState::Connected) return NotConnected;
        if (state.commandQueue.size() >= MaxQueuedCommands) {
            // A terminal that takes nothing (or a broadcast waiting behind a dead slot 0)
            // must not make the queue grow without end: the line is refused and reported
            // to the customer like a line for a terminal that is not connected.
            logs_.error("COMMAND QUEUE FULL, COMMAND REFUSED", slot);
            return NotConnected;
        }
        state.commandQueue.push_back(std::move(queued));
        return Queued;
    }

    int result = NotFound;
    if (hooks_.toBridges) {
        std::string forBridges = bridgeForm(line);
        if (hooks_.toBridges(forBridges, number)) {
            line = std::move(forBridges);
            result = Queued;
        }
    }
    if (hooks_.toMobileDevices && hooks_.toMobileDevices(line, number)) result = Queued;
    return result;
}

void Dispatcher::runFirstPatch(const std::string& line, int slot) {
    std::string& prompt = patchPrompt_[static_cast<std::size_t>(slot)];
    if (text::contains(line, StorePrompt1)) prompt = line;
    if (text::contains(line, ShowPrompt1)) {
        std::string answer;
        if (text::contains(prompt, "-SCANNER-")) {
            answer = "01,S,FF";
            prompt.clear();
        }
        if (text::contains(prompt, "-HORODATEUR-")) {
            answer = "01,D,FF";
            prompt.clear();
        }
        if (!answer.empty()) deliverFakePacket(slot, answer);
    }
}

void Dispatcher::runSecondPatch(const std::string& line, int slot) {
    // Each step reads the prompt afresh: a fabricated packet may have dispatched more.
    auto prompt = [&]() -> std::string& { return patchPrompt_[static_cast<std::size_t>(slot)]; };
    if (text::contains(line, StorePrompt1)) prompt() = line == prompt() ? line + "2" : line;
    if (text::contains(line, ShowPrompt1)) {
        std::string answer;
        if (text::contains(prompt(), "-SCANNER-") && endsWith(prompt(), '2')) {
            answer = "01,S,FF";
            prompt().clear();
        }
        if (text::contains(prompt(), "-HORODATEUR-")) {
            answer = "01,D,FF";
            prompt().clear();
        }
        if (!answer.empty()) deliverFakePacket(slot, answer);
        prompt().clear();
    }
    if (text::contains(line, StorePrompt2) && prompt().empty()) prompt() = line;
    if (text::contains(line, ShowPrompt2)) {
        std::string answer;
        if (text::contains(prompt(), "-CHRONOMETRE-")) {
            answer = "02,O,FF";
            prompt().clear();
        }
        if (!answer.empty()) deliverFakePacket(slot, answer);
        prompt().clear();
    }
}

void Dispatcher::deliverFakePacket(int slot, const std::string& answer) {
    const int number = registry_.numberOf(slot);
    if (number == NO_SLOT || !fakePacketSink_) return;
    const std::string digits = text::fourDigits(number);
    const DateTime now = clock_.now();
    const std::string packet =
        digits + "," + STX + "9M" + now.mmddyy() + now.hhmmssCompact() + digits.substr(2) + answer + ETX;
    fakePacketSink_(slot, packet);
}

void Dispatcher::clearPatchPrompt(int slot) {
    if (patch2_ && promptSlot(slot)) patchPrompt_[static_cast<std::size_t>(slot)].clear();
}

std::string Dispatcher::patchPrompt(int slot) const {
    return promptSlot(slot) ? patchPrompt_[static_cast<std::size_t>(slot)] : std::string();
}

}  // namespace iplib
