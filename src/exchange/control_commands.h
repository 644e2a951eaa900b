// PROCESS_LINK_LINE: every line the customer's software sends (a line of the command
// file, or of the DDE item) comes here. A line is processed only when it is longer than
// one character, the DDE item does not block the channel, and it ends with ETX once its
// percent escapes are decoded. Its first character then tells what it is:
//   "A" A,number,address,port,zone,type  add a terminal       -> 0000,10-ADD,...
//   "D" D,number                         delete a terminal    -> 0000,11-DEL,...
//   "R" R,old,new                        renumber a terminal  -> 0000,07-RENAME,...
//   "?"                                  list link states     -> 0000,06-0001=1,0002=0,
//   "#"                                  are you there        -> 0000,08-#OK hh:mm:ss
//   "Q"                                  end the process at once, no answer
//   "-" "+" "<" ">"                      window visibility, no answer
//   anything else: number,command or number,MACRO:name for a terminal; answered only
//   when it could not be sent (NNNN,05-NOT_FOUND or NNNN,03-ERR[9999]:...).
// Every answer is one status message line ending with ETX, handed to postStatus.
#pragma once

#include "core/operator.h"
#include "core/terminal_list_file.h"
#include "core/terminal_registry.h"
#include "exchange/dispatcher.h"
#include "exchange/terminal_rules.h"
#include "platform/clock.h"

#include <functional>
#include <string>
#include <vector>

namespace iplib {

class ControlCommands {
public:
    // What the processor needs from the rest of the library; an empty hook does nothing
    // (or answers false / no entries).
    struct Hooks {
        // ADD_DDE_MSG: one status message, ETX included.
        std::function<void(const std::string& lineWithEtx)> postStatus;
        // SEND_MACRO (terminal number as sent, upper-case macro name).
        std::function<void(const std::string& number, const std::string& name)> sendMacro;
        // LOAD_CONFIG and a connection attempt for every slot. Without it the terminal
        // list file is reloaded (no connection attempts).
        std::function<void()> reloadRegistry;
        // "Q": ends the process without the shutdown steps.
        std::function<void()> endProcess;
        // The "Internet Cloud" call-in mode narrows the numbers to 1..8999.
        std::function<bool()> internetCloud;
        // ADD_IP_LST: a deleted terminal's address is offered again to the editor.
        std::function<void(const std::string& address)> addIpToList;
        // LOG_DELAYS_1 event 1 for the four-digit number of the line (the delays log
        // itself records it only while delay logging is on).
        std::function<void(const std::string& number)> delaysCommandReceived;
        // True while the DDE item blocks the channel ("!..." or "*OK" + ETX).
        std::function<bool()> dDeBlocked;
        // Entry texts of the mobile devices and the bridges for the list command: field 1
        // is the number; a mobile entry holding "CONNECTED" and a bridge entry holding
        // "OK" count as connected.
        std::function<std::vector<std::string>()> mobileEntries;
        std::function<std::vector<std::string>()> bridgeEntries;
    };

    static constexpr char ETX = 3;

    // prioritySlot is the main cycle's PrioritySlot: set to the slot of every terminal
    // command's number (NO_SLOT when none) so that terminal is served first.
    ControlCommands(TerminalRegistry& registry, TerminalListFile& terminalList, Dispatcher& dispatcher,
                    const TerminalRules& rules, Operator& op, const Clock& clock, int& prioritySlot);

    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }
    // "-PASDOUBLE": a command holding byte 200 or 186 is sent once instead of twice.
    void setPasDouble(bool on) { pasDouble_ = on; }

    // PROCESS_LINK_LINE.
    void processLine(const std::string& line);

private:
    void add(const std::string& line);
    void remove(const std::string& line);
    void renumber(const std::string& line);
    void list();
    void terminalCommand(const std::string& line, const std::string& number);
    void post(const std::string& message);
    bool internetCloud() const { return hooks_.internetCloud && hooks_.internetCloud(); }

    TerminalRegistry& registry_;
    TerminalListFile& terminalList_;
    Dispatcher& dispatcher_;
    const TerminalRules& rules_;
    Operator& operator_;
    const Clock& clock_;
    int& prioritySlot_;
    Hooks hooks_;
    bool pasDouble_ = false;
};

}  // namespace iplib
