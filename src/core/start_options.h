// The command-line options. The command line is searched as a whole, in upper case, for
// each option text anywhere in it (order and separators do not matter). An option ending
// in "[" takes as argument the text, letters as typed, up to the next "]"; without that
// "]" the option is ignored, except "/CURDIR[", which then leaves the configuration folder
// at the program's own folder.
#pragma once

#include <optional>
#include <string>

namespace iplib {

struct StartOptions {
    std::optional<double> pauseSeconds;       // -PAUSE[s]
    std::optional<std::string> bridgeEtx;     // -ETX[text]
    bool bridgeIso15693Only = false;          // -BRDISO15693ONLY
    bool neverSendTwice = false;              // -PASDOUBLE
    std::optional<std::string> currentFolder; // /CURDIR[folder]
    bool currentFolderUnclosed = false;       // /CURDIR[ without "]"
    bool bridgeNoEcho = false;                // /BRDNOECHO
    bool amanoMtx10 = false;                  // -AMANOMTX10
    bool nethris = false;                     // -NETHRIS or -VUZIZUZAVE
    bool multipleCopies = false;              // -MUL
    bool bridgeNoTcp = false;                 // /BRDNOTCP
    bool bridgeNoUdp = false;                 // /BRDNOUDP
    std::optional<std::string> bridgeInput1Command;  // -BRDGIN01CMD[text]
    std::optional<std::string> bridgeInput2Command;  // -BRDGIN02CMD[text]

    static StartOptions parse(const std::string& commandLine);
};

// The program's arguments joined by blanks, as one command-line text.
std::string joinCommandLine(int argc, char** argv);

}  // namespace iplib
