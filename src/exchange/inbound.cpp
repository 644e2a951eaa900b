#include "exchange/inbound.h"

#include "core/text.h"

namespace iplib {
namespace {

// The answers write at display position 49 (byte 199 + "49"); bytes 179 and 7 are the
// terminal's signal codes, three of each being the error signal.
const std::string WriteLine = "\xC7" "49";
const std::string ErrorSignal = "\xB3\xB3\xB3\x07\x07\x07";
const std::string Signal = "\xB3\x07";
constexpr std::size_t NameWidth = 31;

// Characters from a 1-based position, as many as there are.
std::string mid(const std::string& text, std::size_t position, std::size_t length) {
    if (position < 1 || position > text.size()) return {};
    return text.substr(position - 1, length);
}

std::string centuryOf(const DateTime& now) { return text::fourDigits(now.year).substr(0, 2); }

}  // namespace

InboundHandling::InboundHandling(TerminalRegistry& registry, Dispatcher& dispatcher, FileSystem& files,
                                 const DrivePaths& paths, const Clock& clock, const PayrollPunchSettings& payroll)
    : registry_(registry), dispatcher_(dispatcher), files_(files), paths_(paths), clock_(clock), payroll_(payroll) {}

void InboundHandling::onLastPacket(int slot) {
    // A reaction may dispatch commands that fabricate packets for this same slot; every
    // reaction still sees the packet that started the chain.
    const std::string packet = registry_.state(slot).lastPacket;

    if (reactions_.fingerprint) reactions_.fingerprint(slot, packet);

    if (reactions_.bellsPause && reactions_.pauseTerminal) {
        const std::int64_t pauseTerminal = reactions_.pauseTerminal();
        const std::string keyed = packet.size() > 9 ? text::getField(packet.substr(9), ",", 2) : std::string();
        if (pauseTerminal > 0 && keyed == "+" && text::numericValue(text::getField(packet, ",", 1)) == pauseTerminal)
            reactions_.bellsPause();
    }

    if (reactions_.cardValidation) reactions_.cardValidation(slot, packet);
    if (reactions_.testTools) reactions_.testTools(slot, packet);
}

bool InboundHandling::transform(std::string& line) {
    if (amano_) line = amanoForm(line);
    if (transforms_.searchReplace) transforms_.searchReplace(line);
    if (sensorWindow_ && transforms_.sensorMonitor && mid(text::getField(line, ",", 2), 3, 1) == "N")
        transforms_.sensorMonitor(line);
    if (!nethris_) return false;
    nethrisPunch(line);
    return true;
}

std::string InboundHandling::amanoForm(const std::string& line) const {
    const std::string terminal = text::fourDigits(text::numericValue(text::getField(line, ",", 1)));
    // The badge keeps its width: every space trimmed off becomes a leading zero.
    const std::string badge = text::getField(line, ",", 3);
    std::size_t first = badge.find_first_not_of(' ');
    std::string trimmed;
    if (first != std::string::npos) trimmed = badge.substr(first, badge.find_last_not_of(' ') - first + 1);
    const std::string zeroFilled = std::string(badge.size() - trimmed.size(), '0') + trimmed;
    return terminal.substr(terminal.size() - 2) + zeroFilled + centuryOf(clock_.now()) + mid(line, 13, 2) +
           mid(line, 9, 2) + mid(line, 11, 2) + mid(line, 15, 6);
}

void InboundHandling::nethrisPunch(const std::string& line) {
    const std::string number = text::toUpper(text::trim(text::getField(line, ",", 1)));
    const std::string card = text::toUpper(text::trim(text::getField(line, ",", 3)));
    std::string code = text::toUpper(text::getField(line, ",", 4));
    auto answer = [&](const std::string& shown) { dispatcher_.dispatch(number + "," + shown); };

    bool keep = true;
    if (code.size() == 1 && !payroll_.employeeCards.empty()) {
        const auto& cards = payroll_.employeeCards;
        std::size_t i = 0;
        while (i < cards.size() && cards[i] != card) ++i;
        if (i == cards.size()) {
            answer(ErrorSignal);
            answer(WriteLine + " No Employe non valide !       ");
            keep = false;
        } else {
            answer("\x07\xB3");
            const std::string employee = i < payroll_.employees.size() ? payroll_.employees[i] : std::string();
            std::string name = text::trim(text::getField(employee, ",", 2)) + " " +
                               text::trim(text::getField(employee, ",", 1));
            name.resize(NameWidth, ' ');
            answer(WriteLine + name);
        }
    } else if (code.size() == 1) {
        std::string allowed;
        if (payroll_.workActions) allowed += "12";
        if (payroll_.mealActions) allowed += "34";
        if (payroll_.breakActions) allowed += "56";
        if (allowed.find(code[0]) != std::string::npos) {
            answer(WriteLine + " -= Punch Recu =- " + Signal);
        } else {
            code = " ";
            answer(WriteLine + Signal);
        }
    }

    if (text::trim(code).empty() || card.empty()) {
        answer(ErrorSignal);
        answer(WriteLine + " *SAISIE INVALIDE* ");
        keep = false;
    }

    std::string punch = mid(line, 11, 2) + "-" + mid(line, 9, 2) + "-" + centuryOf(clock_.now()) + mid(line, 13, 2) +
                        "," + mid(line, 15, 2) + ":" + mid(line, 17, 2) + ":" + mid(line, 19, 2);
    if (code.size() == 1) {
        punch += "," + text::trim(code) + "," + card;
    } else {
        punch += ",7," + card + "," + text::trim(code);
        answer(WriteLine + " ** Punch Recu ** " + Signal);
    }

    // A punch that cannot be appended is lost; the packet is taken all the same, so the
    // terminal is not answered a second time by a retried write.
    if (keep) files_.append(importPath(), punch + "\r\n");
}

}  // namespace iplib
