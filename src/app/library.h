// The owner of every subsystem of one library instance, wired together: a test builds a
// whole library on a temporary root with a manual clock and stub transports, and the
// program drives one with real timers. Nothing here waits: the timers call the tick
// functions, which are plain functions of the clock's "now".
#pragma once

#include "core/logs.h"
#include "core/operator.h"
#include "core/settings.h"
#include "core/start_options.h"
#include "core/terminal_list_file.h"
#include "core/terminal_registry.h"
#include "exchange/control_commands.h"
#include "exchange/dispatcher.h"
#include "exchange/inbound.h"
#include "exchange/link_files.h"
#include "exchange/packet_delivery.h"
#include "exchange/packet_spool.h"
#include "exchange/status_messages.h"
#include "exchange/terminal_rules.h"
#include "network/board_reset.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/network.h"
#include "platform/paths.h"
#include "terminal_link/clock_sync.h"
#include "terminal_link/connection_manager.h"
#include "terminal_link/main_cycle.h"
#include "terminal_link/receive_path.h"
#include "terminal_link/transmit_cycle.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

namespace iplib {

inline constexpr const char* LibraryTitle = "IP LIBRARY VERSION: 1.9A";

struct LibraryEnvironment {
    const Clock& clock;
    FileSystem& files;
    Network& network;
    DrivePaths paths;
    std::string programFolder;  // with a trailing "/"
    std::ostream* out = nullptr;  // standard output of the program; null in tests
};

class Library {
public:
    enum class StartResult { Running, SecondCopy };

    explicit Library(LibraryEnvironment env);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // The start-up sequence. otherCopyRunning is asked unless "-MUL" is given.
    StartResult start(const StartOptions& options, const std::function<bool()>& otherCopyRunning);

    // Timer entry points.
    void mainCycleTick();
    void connectionTimerTick();
    void linkPollTick();
    // The service-detection timer (100 ms after another instance was seen).
    void reportSecondCopy();

    // LOAD_CONFIG: the registry rebuilt from the terminal list, then a connection attempt
    // for every slot.
    void loadConfig();
    // The shutdown's first steps: the main window hidden, every open link closed. The
    // program then lets events run for 2 seconds and ends.
    void closeLinks();

    // Asked by the program after each event: the library control command "Q".
    bool endRequested() const { return endRequested_; }
    // Set by the link files when another instance writes the message file; the program
    // starts the 100 ms timer that calls reportSecondCopy().
    std::function<void()> onSecondCopySeen;

    const std::string& configFolder() const { return configFolder_; }
    const StartOptions& options() const { return options_; }
    const ConnectionTiming& timing() const { return timing_; }
    ConnectionTiming& timing() { return timing_; }
    GeneralSettings& settings() { return settings_; }

    TerminalRegistry& registry() { return registry_; }
    Logs& logs() { return logs_; }
    Operator& op() { return operator_; }
    TerminalListFile& terminalList() { return terminalList_; }
    LinkFiles& linkFiles() { return linkFiles_; }
    PacketSpool& spool() { return spool_; }
    StatusMessages& statusMessages() { return status_; }
    Dispatcher& dispatcher() { return dispatcher_; }
    TransmitList& transmitList() { return transmitList_; }
    TransmitCycle& transmitCycle() { return transmit_; }
    ReceivePath& receivePath() { return receive_; }
    ConnectionManager& connections() { return connections_; }
    MainCycle& mainCycle() { return mainCycle_; }
    ClockSync& clockSync() { return clockSync_; }
    BoardResets& boardResets() { return boardResets_; }
    ControlCommands& controlCommands() { return control_; }
    InboundHandling& inbound() { return inbound_; }
    PayrollPunchSettings& payrollPunches() { return payroll_; }

    // Where a line of FILE_COM.OK goes.
    void processCommandLine(const std::string& line);

private:
    void applyConfigFolder();
    void readMarkerFiles();
    void printSlots();
    std::vector<std::string> startBlockBody() const;
    std::string windowTitle() const;
    void wire();

    LibraryEnvironment env_;
    StartOptions options_;
    std::string configFolder_;
    bool endRequested_ = false;
    bool boardConfigEnable_ = false;  // SW_UDP_RX_OFF
    bool patch1_ = false;
    bool patch2_ = false;
    bool validationEdition_ = false;

    Operator operator_;
    TerminalRegistry registry_;
    Logs logs_;
    TerminalListFile terminalList_;
    SettingsFile settingsFile_;
    GeneralSettings settings_;
    PauseSettings pause_;
    ConnectionTiming timing_;
    LinkFiles linkFiles_;
    PacketSpool spool_;
    StatusMessages status_;
    Dispatcher dispatcher_;
    PacketDelivery delivery_;
    TransmitList transmitList_;
    TransmitCycle transmit_;
    ClockSync clockSync_;
    ReceivePath receive_;
    BoardResets boardResets_;
    ConnectionManager connections_;
    MainCycle mainCycle_;
    TerminalRules rules_;
    ControlCommands control_;
    PayrollPunchSettings payroll_;
    InboundHandling inbound_;
    std::unique_ptr<UdpEndpoint> udpSender_;
};

}  // namespace iplib
