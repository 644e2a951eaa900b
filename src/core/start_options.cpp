#include "core/start_options.h"

#include "core/text.h"

namespace iplib {
namespace {

struct Finder {
    const std::string& line;
    std::string upper;

    bool has(const char* option) const { return upper.find(option) != std::string::npos; }

    // The argument of an option ending in "["; nullopt when absent or without "]".
    std::optional<std::string> argument(const std::string& option, bool* unclosed = nullptr) const {
        const std::size_t at = upper.find(option);
        if (at == std::string::npos) return std::nullopt;
        const std::size_t start = at + option.size();
        const std::size_t close = line.find(']', start);
        if (close == std::string::npos) {
            if (unclosed) *unclosed = true;
            return std::nullopt;
        }
        return line.substr(start, close - start);
    }
};

}  // namespace

StartOptions StartOptions::parse(const std::string& commandLine) {
    Finder f{commandLine, text::toUpper(commandLine)};
    StartOptions o;
    if (auto a = f.argument("-PAUSE[")) o.pauseSeconds = text::numericValueReal(*a);
    o.bridgeEtx = f.argument("-ETX[");
    o.bridgeIso15693Only = f.has("-BRDISO15693ONLY");
    o.neverSendTwice = f.has("-PASDOUBLE");
    o.currentFolder = f.argument("/CURDIR[", &o.currentFolderUnclosed);
    o.bridgeNoEcho = f.has("/BRDNOECHO");
    o.amanoMtx10 = f.has("-AMANOMTX10");
    o.nethris = f.has("-NETHRIS") || f.has("-VUZIZUZAVE");
    o.multipleCopies = f.has("-MUL");
    o.bridgeNoTcp = f.has("/BRDNOTCP");
    o.bridgeNoUdp = f.has("/BRDNOUDP");
    o.bridgeInput1Command = f.argument("-BRDGIN01CMD[");
    o.bridgeInput2Command = f.argument("-BRDGIN02CMD[");
    return o;
}

std::string joinCommandLine(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return line;
}

}  // namespace iplib
