// What happens to a packet on its way to the customer's software.
//
// A packet line is the terminal number, ",", then the frame from STX to ETX:
//   positions 1-4 number, 5 ",", 6 STX, 7-8 kind ("9M"), 9-14 MMDDYY, 15-20 HHMMSS,
//   21-22 terminal address, 23... comma-separated values, then checksum and ETX.
// Comma fields of the whole line: 1 the number, 2 from STX through the first value,
// 3 the next value (card, badge, keyed answer), 4 the one after (activity code).
//
// onLastPacket runs the reactions to a slot's new last packet, in this order, none
// stopping the others: fingerprint dialogue, bells pause key, card validation, test
// window answers. Each reaction belongs to its own subsystem and is a hook here.
//
// transform is the packet part of FILE_WRITE, in this order:
//   1 Amano MTX-10 (option): the line becomes TT BADGE CCYYMMDD HHMMSS, no separators;
//   2 the packet search-and-replace list (hook);
//   3 the sensor hand-off (window option): a packet of kind letter "N" also goes to the
//     sensor monitor, and is still written;
//   4 NETHRIS punches (option): the punch is checked, answered on the terminal and
//     appended to the import file; the packet file never sees it (returns true).
#pragma once

#include "core/terminal_registry.h"
#include "exchange/dispatcher.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/paths.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace iplib {

// The payroll export's data that the punch handling reads. Entry i of the employee list
// belongs to card i of the card list; an employee entry's field 1 and field 2 are the
// two parts of the name shown on the terminal (field 2 first).
struct PayrollPunchSettings {
    std::vector<std::string> employeeCards;
    std::vector<std::string> employees;
    bool workActions = true;   // codes 1 and 2: "1=Début Travail  2=Fin Travail"
    bool mealActions = true;   // codes 3 and 4: "3=Début Repas  4=Fin Repas"
    bool breakActions = true;  // codes 5 and 6: "5=Début Pause  6=Fin Pause"
};

class InboundHandling {
public:
    // The reactions of the other subsystems; each decides itself whether its feature is
    // on, except the bells pause key, whose condition is read here: a pause terminal is
    // configured (above 0), the packet comes from it, and the keyed value is "+".
    struct Reactions {
        std::function<void(int slot, const std::string& packet)> fingerprint;
        std::function<std::int64_t()> pauseTerminal;
        std::function<void()> bellsPause;
        std::function<void(int slot, const std::string& packet)> cardValidation;
        std::function<void(int slot, const std::string& packet)> testTools;
    };
    struct Transforms {
        // The packet search-and-replace list; rewrites the line when it has pairs.
        std::function<void(std::string& line)> searchReplace;
        // The sensor monitor's packet entry.
        std::function<void(const std::string& line)> sensorMonitor;
    };

    static constexpr const char* ImportFile = "C:\\VESKAL.CFG\\TCP_LIB_IP\\Fichier_import_Veskal.txt";

    InboundHandling(TerminalRegistry& registry, Dispatcher& dispatcher, FileSystem& files, const DrivePaths& paths,
                    const Clock& clock, const PayrollPunchSettings& payroll);

    void setReactions(Reactions reactions) { reactions_ = std::move(reactions); }
    void setTransforms(Transforms transforms) { transforms_ = std::move(transforms); }
    // "-AMANOMTX10".
    void setAmanoMtx10(bool on) { amano_ = on; }
    // "-NETHRIS" / "-VUZIZUZAVE".
    void setNethris(bool on) { nethris_ = on; }
    // The main window's sensor option; the operator may switch it at any time.
    void setSensorWindow(bool on) { sensorWindow_ = on; }

    // The reactions to the slot's new last packet.
    void onLastPacket(int slot);
    // The FILE_WRITE transformations; true when the NETHRIS handling took the packet.
    bool transform(std::string& line);

    // Where the NETHRIS punches go.
    std::string importPath() const { return paths_.toLocal(ImportFile); }

private:
    std::string amanoForm(const std::string& line) const;
    void nethrisPunch(const std::string& line);

    TerminalRegistry& registry_;
    Dispatcher& dispatcher_;
    FileSystem& files_;
    const DrivePaths& paths_;
    const Clock& clock_;
    const PayrollPunchSettings& payroll_;
    Reactions reactions_;
    Transforms transforms_;
    bool amano_ = false;
    bool nethris_ = false;
    bool sensorWindow_ = false;
};

}  // namespace iplib
