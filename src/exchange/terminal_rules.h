// The rules a terminal must pass before it joins the terminal list, shared by the
// operator's terminal editor and the customer's add command ("A").
//  - Duplicates (CHK_DOUBLE): a terminal whose number has the same numeric value, or
//    whose address (exact text) and port (numeric value) are both the same; then the
//    bridges, then (only when no bridge matched) the mobile devices, whose own checks
//    are hooks filled by their subsystems.
//  - Number (VALIDER_CHAMPS): trimmed, read as a number and written back, it must have
//    at most four characters and lie between 1 and 9999 (8999 while the "Internet
//    Cloud" call-in mode is on, whose slots use the numbers above); it is then written
//    with four digits.
// The rules only report; beeping and showing the messages is the editor's business.
#pragma once

#include "core/terminal_registry.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace iplib {

// The editor's fields of a terminal, as typed or received.
struct TerminalFields {
    std::string number;
    std::string address;
    std::string port;
    std::string zone;
    std::string type;
};

class TerminalRules {
public:
    static constexpr std::int64_t UpperLimit = 9999;
    static constexpr std::int64_t CloudUpperLimit = 8999;
    static constexpr const char* DoubleNumber = "ERROR DOUBLE QBX ID NUMBER !";
    // Followed by the other terminal's number and ")".
    static constexpr const char* DoubleAddress = "ERROR DOUBLE IP ADDRESS ! (CHK PUNCH ";

    // Each check gives the messages of the duplicates it found, in order; the bridge
    // check stops at its first duplicate.
    using OtherCheck = std::function<std::vector<std::string>(const TerminalFields& candidate)>;
    struct Hooks {
        OtherCheck bridges;
        OtherCheck mobileDevices;
    };

    explicit TerminalRules(const TerminalRegistry& registry) : registry_(registry) {}
    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }

    // CHK_DOUBLE: the messages of every duplicate found; empty means no duplicate.
    // editedSlot is skipped (the terminal being edited is not its own duplicate);
    // NO_SLOT when adding. The terminal scan stops at the first terminal that matches,
    // after testing both its number and its address.
    std::vector<std::string> duplicates(const TerminalFields& candidate, int editedSlot = NO_SLOT) const;

    // VALIDER_CHAMPS: the number written with four digits, or nothing when invalid.
    static std::optional<std::string> validNumber(const std::string& number, bool internetCloud);
    // The four types of the editor's list, matched exactly ("Internet" is not offered).
    static bool isTerminalType(const std::string& type);
    // The terminal line written to the registry for the fields (number taken as given):
    // number,address,port,=WAIT FOR THE ANSWER,zone trimmed,type.
    static std::string terminalLine(const TerminalFields& fields);

private:
    const TerminalRegistry& registry_;
    Hooks hooks_;
};

}  // namespace iplib
