#include "core/terminal_registry.h"

#include "core/text.h"

namespace iplib {

TerminalRegistry::TerminalRegistry(const Clock& clock)
    : clock_(clock), slotOf_(MaxTerminalNumber + 1, NO_SLOT), numberOf_(MaxTerminalNumber + 1, NO_SLOT),
      failures_(MaxTerminalNumber + 1, 0) {
    states_.push_back(std::make_unique<SlotState>());
}

std::string TerminalRegistry::field(int slot, int n) const {
    if (!hasSlot(slot)) return {};
    return text::getField(lines_[static_cast<std::size_t>(slot)], ",", n);
}

bool TerminalRegistry::isCellular(int slot) const { return type(slot) == terminal_types::Cellular; }
bool TerminalRegistry::isInternet(int slot) const { return type(slot) == terminal_types::Internet; }

int TerminalRegistry::slotOf(std::int64_t number) const {
    if (number < 0 || number > MaxTerminalNumber) return NO_SLOT;
    return slotOf_[static_cast<std::size_t>(number)];
}

int TerminalRegistry::numberOf(int slot) const {
    if (slot < 0 || static_cast<std::size_t>(slot) >= numberOf_.size()) return NO_SLOT;
    return numberOf_[static_cast<std::size_t>(slot)];
}

int& TerminalRegistry::reconnectFailureCount(int slot) {
    static_assert(NO_SLOT < MaxTerminalNumber + 1);
    if (slot < 0) slot = 0;
    if (static_cast<std::size_t>(slot) >= failures_.size()) failures_.resize(static_cast<std::size_t>(slot) + 1, 0);
    return failures_[static_cast<std::size_t>(slot)];
}

int TerminalRegistry::addTerminal(const std::string& raw) {
    std::string normalised;
    for (int f = 1; f <= 6; ++f) {
        std::string v = text::getField(raw, ",", f);
        if (f >= 5) v = text::trim(v);
        if (f > 1) normalised += ',';
        normalised += v;
    }
    const int slot = static_cast<int>(lines_.size());
    lines_.push_back(std::move(normalised));
    if (slot > 0) states_.push_back(std::make_unique<SlotState>());
    state(slot).linkState = LinkState::Loaded;
    if (numberOf_.size() <= static_cast<std::size_t>(slot)) numberOf_.resize(static_cast<std::size_t>(slot) + 1, NO_SLOT);
    if (failures_.size() <= static_cast<std::size_t>(slot)) failures_.resize(static_cast<std::size_t>(slot) + 1, 0);
    const std::int64_t n = text::numericValue(text::getField(lines_.back(), ",", 1));
    if (n >= 0 && n <= MaxTerminalNumber) {
        slotOf_[static_cast<std::size_t>(n)] = slot;
        numberOf_[static_cast<std::size_t>(slot)] = static_cast<int>(n);
    }
    return slot;
}

void TerminalRegistry::setLookups(int slot, std::int64_t oldNumber, std::int64_t newNumber) {
    if (oldNumber >= 0 && oldNumber <= MaxTerminalNumber && slotOf_[static_cast<std::size_t>(oldNumber)] == slot)
        slotOf_[static_cast<std::size_t>(oldNumber)] = NO_SLOT;
    if (newNumber >= 0 && newNumber <= MaxTerminalNumber) {
        slotOf_[static_cast<std::size_t>(newNumber)] = slot;
        numberOf_[static_cast<std::size_t>(slot)] = static_cast<int>(newNumber);
    } else {
        numberOf_[static_cast<std::size_t>(slot)] = NO_SLOT;
    }
}

void TerminalRegistry::replaceTerminal(int slot, const std::string& newLine) {
    if (!hasSlot(slot)) return;
    const std::int64_t oldNumber = text::numericValue(field(slot, 1));
    if (oldNumber >= 0 && oldNumber <= MaxTerminalNumber) slotOf_[static_cast<std::size_t>(oldNumber)] = NO_SLOT;
    lines_[static_cast<std::size_t>(slot)] = newLine;
    setLookups(slot, -1, text::numericValue(text::getField(newLine, ",", 1)));
}

void TerminalRegistry::setStateText(int slot, const std::string& status) {
    if (!hasSlot(slot)) return;
    const std::string& old = lines_[static_cast<std::size_t>(slot)];
    const std::size_t eq = old.find('=');
    const DateTime now = clock_.now();
    std::string updated = eq == std::string::npos ? std::string() : old.substr(0, eq + 1);
    updated += status + " " + now.mmddyyyy() + " " + now.hhmmss() + "," + text::trim(text::getField(old, ",", 5)) +
               "," + text::trim(text::getField(old, ",", 6));
    lines_[static_cast<std::size_t>(slot)] = std::move(updated);
}

void TerminalRegistry::clearForReload() {
    std::fill(slotOf_.begin(), slotOf_.end(), NO_SLOT);
    std::fill(numberOf_.begin(), numberOf_.end(), NO_SLOT);
    states_.resize(1);
    states_[0]->reconnectTicks = 0;
    lines_.clear();
}

void TerminalRegistry::eraseLine(int slot) {
    if (!hasSlot(slot)) return;
    lines_.erase(lines_.begin() + slot);
}

}  // namespace iplib
