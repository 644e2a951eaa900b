#include "exchange/terminal_rules.h"

#include "core/text.h"

namespace iplib {

std::vector<std::string> TerminalRules::duplicates(const TerminalFields& candidate, int editedSlot) const {
    std::vector<std::string> found;
    const std::int64_t number = text::numericValue(candidate.number);
    const std::int64_t port = text::numericValue(candidate.port);
    for (std::size_t s = 0; s < registry_.count(); ++s) {
        const int slot = static_cast<int>(s);
        if (slot == editedSlot) continue;
        const std::string other = registry_.field(slot, 1);
        const bool sameNumber = text::numericValue(other) == number;
        const bool sameAddress =
            registry_.field(slot, 2) == candidate.address && text::numericValue(registry_.field(slot, 3)) == port;
        if (sameNumber) found.emplace_back(DoubleNumber);
        if (sameAddress) found.push_back(DoubleAddress + other + ")");
        if (sameNumber || sameAddress) break;
    }
    std::vector<std::string> bridges;
    if (hooks_.bridges) bridges = hooks_.bridges(candidate);
    if (!bridges.empty()) {
        found.push_back(bridges.front());
    } else if (hooks_.mobileDevices) {
        for (auto& message : hooks_.mobileDevices(candidate)) found.push_back(std::move(message));
    }
    return found;
}

std::optional<std::string> TerminalRules::validNumber(const std::string& number, bool internetCloud) {
    const std::int64_t value = text::numericValue(text::trim(number));
    const std::string written = std::to_string(value);
    const std::int64_t limit = internetCloud ? CloudUpperLimit : UpperLimit;
    if (written.size() > 4 || value < 1 || value > limit) return std::nullopt;
    return text::fourDigits(value);
}

bool TerminalRules::isTerminalType(const std::string& type) {
    return type == terminal_types::Ethernet || type == terminal_types::Cellular ||
           type == terminal_types::Vorlindex || type == terminal_types::RQ05T;
}

std::string TerminalRules::terminalLine(const TerminalFields& fields) {
    return fields.number + "," + fields.address + "," + fields.port + ",=WAIT FOR THE ANSWER," +
           text::trim(fields.zone) + "," + fields.type;
}

}  // namespace iplib
