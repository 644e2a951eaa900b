// The terminal list file the library reads at start-up, written for a fleet of simulated
// terminals: terminal k of the fleet (from 0) gets the number k + 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct TerminalEntry {
    int number = 0;        // 1..9999, written with four digits
    std::string address;   // 127.x.x.x
    std::uint16_t port = 1024;
};

// The whole file: the fifteen header lines, then one line per terminal, CR LF line ends.
std::string terminalListText(const std::vector<TerminalEntry>& terminals);

// Writes TCPIP.CFG into the configuration folder; false with a reason when it cannot.
bool writeTerminalList(const std::string& configFolder, const std::vector<TerminalEntry>& terminals,
                       std::string* error);

// "0012" for 12.
std::string fourDigits(int number);

}  // namespace bench
