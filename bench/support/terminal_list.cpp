#include "support/terminal_list.h"

#include <cstdio>
#include <fstream>

namespace bench {

std::string fourDigits(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", number);
    return text;
}

std::string terminalListText(const std::vector<TerminalEntry>& terminals) {
    const std::string crlf = "\r\n";
    std::string text = "VIDE" + crlf + " 10 " + crlf;
    // Twelve digit selectors and the automatic-configuration flag, all off: the list below
    // is the whole configuration.
    for (int i = 0; i < 13; ++i) text += " 0 " + crlf;
    for (const auto& t : terminals)
        text += fourDigits(t.number) + "," + t.address + "," + std::to_string(t.port) +
                ",=WAIT FOR THE ANSWER,0,Ethernet" + crlf;
    return text;
}

bool writeTerminalList(const std::string& configFolder, const std::vector<TerminalEntry>& terminals,
                       std::string* error) {
    const std::string path = configFolder + "TCPIP.CFG";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << terminalListText(terminals);
    out.close();
    if (!out) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace bench
