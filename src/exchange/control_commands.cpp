#include "exchange/control_commands.h"

#include "core/text.h"

namespace iplib {
namespace {

constexpr char STX = 2;
constexpr char ETX = ControlCommands::ETX;

int slotOfNumber(const TerminalRegistry& registry, std::int64_t number) {
    return number >= 0 && number <= MaxTerminalNumber ? registry.slotOf(number) : NO_SLOT;
}

}  // namespace

ControlCommands::ControlCommands(TerminalRegistry& registry, TerminalListFile& terminalList, Dispatcher& dispatcher,
                                 const TerminalRules& rules, Operator& op, const Clock& clock, int& prioritySlot)
    : registry_(registry), terminalList_(terminalList), dispatcher_(dispatcher), rules_(rules), operator_(op),
      clock_(clock), prioritySlot_(prioritySlot) {}

void ControlCommands::post(const std::string& message) {
    if (hooks_.postStatus) hooks_.postStatus(message + ETX);
}

void ControlCommands::processLine(const std::string& raw) {
    if (raw.size() <= 1) return;
    if (hooks_.dDeBlocked && hooks_.dDeBlocked()) return;
    const std::string line = text::decodeEscapes(raw);

    // The number the answers to a terminal command carry ("*" reads as 0000).
    std::string number;
    if (const auto comma = line.find(','); comma != std::string::npos && comma >= 1)
        number = text::fourDigits(text::numericValue(line.substr(0, comma)));

    if (line.empty() || line.back() != ETX) return;

    switch (line.front()) {
        case 'A': add(line); break;
        case 'D': remove(line); break;
        case 'R': renumber(line); break;
        case '?': list(); break;
        case '#': post("0000,08-#OK " + clock_.now().hhmmss()); break;
        case 'Q':
            if (hooks_.endProcess) hooks_.endProcess();
            break;
        case '-':
            operator_.setVisible(Window::Bells, false);
            operator_.setVisible(Window::LinkFiles, false);
            operator_.setMinimised(true);
            break;
        case '+': operator_.setMinimised(false); break;
        case '<':
            operator_.setVisible(Window::Bells, false);
            operator_.setVisible(Window::LinkFiles, false);
            operator_.setVisible(Window::Main, false);
            break;
        case '>': operator_.setVisible(Window::Main, true); break;
        default: terminalCommand(line, number); break;
    }
}

void ControlCommands::add(const std::string& line) {
    const std::string fields = text::removeByte(line, ETX);
    TerminalFields candidate;
    candidate.number = text::getField(fields, ",", 2);
    candidate.address = text::getField(fields, ",", 3);
    candidate.port = text::getField(fields, ",", 4);
    candidate.zone = text::getField(fields, ",", 5);
    candidate.type = text::trim(text::getField(fields, ",", 6));
    auto answer = [&](const std::string& number, const std::string& result) {
        post("0000,10-ADD," + number + "," + candidate.address + "," + candidate.port + "," + candidate.zone + "," +
             candidate.type + "," + result);
    };

    if (!TerminalRules::isTerminalType(candidate.type)) return answer(candidate.number, "04-TYPE_ERROR");
    if (!rules_.duplicates(candidate).empty()) return answer(candidate.number, "02-EXIST");
    const auto number = TerminalRules::validNumber(candidate.number, internetCloud());
    if (!number) return;

    TerminalFields accepted = candidate;
    accepted.number = *number;
    const int slot = registry_.addTerminal(TerminalRules::terminalLine(accepted));
    answer(*number, "01-OK");
    // Down, not Loaded: the connection timer then connects it in its turn.
    registry_.state(slot).linkState = LinkState::Down;
    terminalList_.save();
}

void ControlCommands::remove(const std::string& line) {
    const std::string requested = text::getField(text::removeByte(line, ETX), ",", 2);
    const int slot = slotOfNumber(registry_, text::numericValue(requested));
    if (slot == NO_SLOT || !registry_.hasSlot(slot)) {
        post("0000,11-DEL," + requested + ",03-NOT EXIST");
        return;
    }
    if (hooks_.addIpToList) hooks_.addIpToList(registry_.field(slot, 2));
    registry_.eraseLine(slot);
    terminalList_.save();
    if (hooks_.reloadRegistry) hooks_.reloadRegistry();
    else terminalList_.load();
    post("0000,11-DEL," + requested + ",01-OK");
}

void ControlCommands::renumber(const std::string& line) {
    const std::string fields = text::removeByte(line, ETX);
    const std::int64_t oldNumber = text::numericValue(text::getField(fields, ",", 2));
    const std::int64_t newNumber = text::numericValue(text::getField(fields, ",", 3));
    const std::string oldText = text::fourDigits(oldNumber);
    const std::string newText = text::fourDigits(newNumber);
    const std::string head = "0000,07-RENAME," + oldText + "," + newText + ",";

    const int slot = slotOfNumber(registry_, oldNumber);
    if (slot == NO_SLOT || !registry_.hasSlot(slot)) {
        post(head + "03-" + oldText + " NOT EXIST");
        return;
    }
    // A number the add command would refuse cannot be given by a renumber either: the
    // registry could not find the terminal under it. Refused without an answer, like an
    // add with an invalid number.
    if (!TerminalRules::validNumber(newText, internetCloud())) return;
    for (std::size_t s = 0; s < registry_.count(); ++s) {
        if (static_cast<int>(s) != slot && text::numericValue(registry_.field(static_cast<int>(s), 1)) == newNumber) {
            post(head + "02-" + newText + " EXIST");
            return;
        }
    }
    registry_.setLine(slot, newText + "," + registry_.field(slot, 2) + ",1024,=RENAME OK !," +
                                registry_.field(slot, 5) + "," + registry_.field(slot, 6));
    terminalList_.save();
    registry_.setLookups(slot, oldNumber, newNumber);
    post(head + "01-OK");
}

void ControlCommands::list() {
    std::string states;
    for (std::size_t s = 0; s < registry_.count(); ++s) {
        const int slot = static_cast<int>(s);
        states += registry_.field(slot, 1) + (registry_.state(slot).linkState == LinkState::Connected ? "=1," : "=0,");
    }
    auto addEntries = [&](const std::vector<std::string>& entries, const char* connectedMark) {
        for (const auto& entry : entries)
            states += text::getField(entry, ",", 1) + (text::contains(entry, connectedMark) ? "=1," : "=0,");
    };
    if (hooks_.mobileEntries) addEntries(hooks_.mobileEntries(), "CONNECTED");
    if (hooks_.bridgeEntries) addEntries(hooks_.bridgeEntries(), "OK");
    post("0000,06-" + states);
}

void ControlCommands::terminalCommand(const std::string& received, const std::string& number) {
    if (hooks_.delaysCommandReceived) hooks_.delaysCommandReceived(number);

    std::string line = received;
    if (text::contains(line, "MACRO:")) {
        line = text::toUpper(text::trim(line));
        line = text::replaceAll(line, "MACRO:", "");
        line = text::removeByte(text::removeByte(line, ETX), STX);
        // Blanks before the ETX survive the trim; no macro file name ends with one.
        if (hooks_.sendMacro)
            hooks_.sendMacro(text::trim(text::getField(line, ",", 1)), text::trim(text::getField(line, ",", 2)));
        // What is left (number, macro name) is still sent on as a command: the customer's
        // software reads the usual answers for an unknown or disconnected terminal.
    }

    // Screen commands (bytes 200 and 186) go out twice unless the site's start option
    // says its terminals take them once; only the second result is answered.
    if (!pasDouble_ && (line.find(static_cast<char>(200)) != std::string::npos ||
                        line.find(static_cast<char>(186)) != std::string::npos)) {
        std::string first = line;
        dispatcher_.dispatch(first);
    }
    const int result = dispatcher_.dispatch(line);

    prioritySlot_ = number.empty() ? NO_SLOT : slotOfNumber(registry_, text::numericValue(number));

    if (result == Dispatcher::Queued) return;
    if (result == Dispatcher::NotFound) post(number + ",05-NOT_FOUND");
    else post(number + ",03-ERR[9999]:SEND COMM TO ERR QBX [VESKAL_MSG]");
}

}  // namespace iplib
