#include "app/library.h"

#include "core/config_folder.h"
#include "core/text.h"
#include "platform/host.h"
#include "terminal_link/frames.h"

#include <chrono>
#include <cstdlib>
#include <ostream>
#include <sstream>
#include <thread>

namespace iplib {
namespace {

std::uint16_t portFromEnvironment(const char* name, std::uint16_t fallback) {
    const char* v = std::getenv(name);
    if (!v || !*v) return fallback;
    const auto n = text::numericValue(v);
    return n > 0 && n < 65536 ? static_cast<std::uint16_t>(n) : fallback;
}

// The answer timeout as the operator sees it, in seconds ("0.4", "1", "1.5").
std::string secondsShown(int tenths) {
    std::ostringstream s;
    s << tenths / 10.0;
    return s.str();
}

}  // namespace

Library::Library(LibraryEnvironment env)
    : env_(std::move(env)),
      operator_(env_.out),
      registry_(env_.clock),
      logs_(env_.files, env_.clock, operator_, registry_),
      terminalList_(env_.files, registry_, logs_),
      settingsFile_(env_.files, env_.paths),
      linkFiles_(env_.files, env_.clock, logs_, env_.paths),
      spool_(linkFiles_, env_.files, logs_, env_.clock),
      status_(linkFiles_, env_.clock),
      dispatcher_(registry_, logs_, env_.clock),
      delivery_(registry_, logs_, spool_),
      transmit_(registry_, logs_, transmitList_, dispatcher_, settings_),
      clockSync_(registry_, logs_, dispatcher_),
      receive_(registry_, logs_, env_.clock, transmit_, clockSync_, delivery_, settings_),
      boardResets_(registry_, logs_),
      connections_(registry_, logs_, env_.clock, env_.network, timing_, settings_, receive_, clockSync_, dispatcher_,
                   boardResets_),
      mainCycle_(registry_, logs_, operator_, env_.files, transmitList_, transmit_, receive_, clockSync_, settings_),
      rules_(registry_),
      control_(registry_, terminalList_, dispatcher_, rules_, operator_, env_.clock, mainCycle_.prioritySlot()),
      inbound_(registry_, dispatcher_, env_.files, env_.paths, env_.clock, payroll_) {
    wire();
}

Library::~Library() = default;

void Library::wire() {
    operator_.setTitle(LibraryTitle);
    logs_.setStartBlockBody([this] { return startBlockBody(); });
    dispatcher_.setPacketDelivery(&delivery_);
    delivery_.setReactions([this](int slot) { inbound_.onLastPacket(slot); });
    linkFiles_.setPacketTransform([this](std::string& line) { return inbound_.transform(line); });
    control_.setHooks({.postStatus = [this](const std::string& line) { status_.add(line); },
                       .sendMacro = {},
                       .reloadRegistry = [this] { loadConfig(); },
                       .endProcess = [this] { endRequested_ = true; },
                       .internetCloud = [this] { return settings_.internetCloud; },
                       .addIpToList = {},
                       .delaysCommandReceived = {},
                       .dDeBlocked = {},
                       .mobileEntries = {},
                       .bridgeEntries = {}});
    delivery_.setFingerprintSync(&settings_.fingerprintSync);
    linkFiles_.setCommandLineHandler([this](const std::string& line) { processCommandLine(line); });
    linkFiles_.setSecondCopyHandler([this] {
        if (onSecondCopySeen) onSecondCopySeen();
        else reportSecondCopy();
    });
    clockSync_.setBoardConfigOff([this] { boardConfigEnable_ = false; });
    receive_.setHooks({.identifyCallIn = {},
                       .commandAcknowledged = {},
                       .sendNow = [this](int slot, const std::string& bytes) {
                           if (auto& s = registry_.state(slot).socket) s->send(bytes);
                       }});
    connections_.setHooks({.postStatus = [this](const std::string& line) { status_.add(line); },
                           .sendConnectMacros = {},
                           .releaseCallIn = {}});
    mainCycle_.setHooks({.bells = {},
                         .releaseCallIn = {},
                         .everyTick =
                             [this](const DateTime& now) {
                                 spool_.tick(now);
                                 status_.tick(now);
                             },
                         .everySecond = {}});
}

void Library::processCommandLine(const std::string& line) { control_.processLine(line); }

Library::StartResult Library::start(const StartOptions& options, const std::function<bool()>& otherCopyRunning) {
    options_ = options;
    const DateTime now = env_.clock.now();

    // 1. Wait before anything else, without handling events.
    if (options_.pauseSeconds && *options_.pauseSeconds > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(*options_.pauseSeconds));

    // 2. Options of the bridge (read where they are used) and of the doubled commands.
    control_.setPasDouble(options_.neverSendTwice);

    // 3. The clock-jump reference; the connection timing starts from its defaults.
    clockSync_.setReference(now);
    timing_.resetToDefault();

    // 4. The configuration folder; on a first run the old files are copied in.
    const ConfigFolderChoice choice = settleConfigFolder(options_, env_.paths, env_.programFolder, env_.files);
    configFolder_ = choice.folder;
    applyConfigFolder();
    if (choice.firstRun) {
        settingsFile_.load(settings_, pause_);
        if (withTrailingSlash(env_.paths.toLocal(settings_.templateFolder)) == env_.programFolder)
            settings_.templateFolder = configFolder_;
        settingsFile_.save(settings_);
    }

    // 5. The link files: LINK.CFG and the poll.
    linkFiles_.start();

    // 6. Marker files and the options that change the editions.
    readMarkerFiles();

    // 7. One copy per computer unless "-MUL".
    if (!options_.multipleCopies && otherCopyRunning && otherCopyRunning()) return StartResult::SecondCopy;

    // 8. From here on a failing step switches "BoardConfig ENABLE" on and start-up goes on.
    const char* senderAddress = "0.0.0.0";
    udpSender_ = env_.network.makeUdpEndpoint();
    if (!udpSender_->bind(senderAddress, 0, {})) {
        boardConfigEnable_ = true;
        udpSender_.reset();
    }
    boardResets_.setSender(udpSender_.get(), portFromEnvironment("IPLIB_BOARD_UDP_PORT", BoardResets::DefaultBoardPort));
    //   8.1 the terminal list, with a connection attempt for every terminal;
    loadConfig();
    printSlots();
    //   8.2 the general settings;
    settingsFile_.load(settings_, pause_);
    //   8.3 the error list, library list and translator windows (hidden);
    //   8.4 the logs, when the marker file asks for them;
    if (env_.files.exists(env_.paths.toLocal("C:\\LOG_ALL_VESKAL.TXT"))) logs_.setAll(true);
    //   8.5 the call-in listener; 8.6 the UDP receive socket; 8.7 the broadcast sender;
    //   8.8 the discovery broadcast: added with the network services.

    // 9. The first terminal in the operator's view; the bridge and mobile windows.
    // 10. The main cycle's tenth-second reference.
    mainCycle_.startReference(env_.clock.now());
    // 11. The validation and packet search-and-replace lists: added with automation.
    // 12. Bridge relay options: read where they are used.

    // Packets a previous run could not write go out first.
    spool_.restore();
    return StartResult::Running;
}

void Library::applyConfigFolder() {
    logs_.setConfigFolder(configFolder_);
    terminalList_.setConfigFolder(configFolder_);
    settingsFile_.setConfigFolder(configFolder_);
    linkFiles_.setConfigFolder(configFolder_);
    spool_.setConfigFolder(configFolder_);
    mainCycle_.setConfigFolder(configFolder_);
}

void Library::readMarkerFiles() {
    auto present = [this](const char* name) { return env_.files.exists(configFolder_ + name); };
    if (present("HIDE_LIB.TXT")) operator_.setVisible(Window::Main, false);
    patch1_ = present("ORVELLCOPATCH.TXT");
    patch2_ = present("ORVELLCOPATCH2.TXT");
    dispatcher_.enablePatches(patch1_, patch2_);
    inbound_.setAmanoMtx10(options_.amanoMtx10);
    validationEdition_ = present("VeskalLibVal.txt");
    inbound_.setNethris(options_.nethris);
    operator_.setTitle(windowTitle());
}

std::string Library::windowTitle() const {
    std::string title = LibraryTitle;
    if (options_.nethris) title = text::replaceAll(title, "VERSION", "VERSION CGI PAIE");
    else if (validationEdition_) title = text::replaceAll(title, "VERSION", "VERSION WITH VALIDATION");
    if (patch1_) title += "   [ORVELLCO PATCH MENU]";
    if (patch2_) title += "   [ORVELLCO2 PATCH MENU]";
    return title;
}

void Library::printSlots() {
    if (!env_.out) return;
    *env_.out << "(" << registry_.count() << ")\n";
    for (std::size_t s = 0; s < registry_.count(); ++s)
        *env_.out << "SLOT " << s << ": " << registry_.line(static_cast<int>(s)) << "\n";
    *env_.out << std::flush;
}

std::vector<std::string> Library::startBlockBody() const {
    std::vector<std::string> lines;
    for (const auto& l : registry_.lines()) lines.push_back("QBX: " + l);
    lines.push_back("Protocol Timeout:" + secondsShown(settings_.answerTimeout));
    lines.push_back("PC IP:" + localIpv4Address());
    const auto& autoConfig = terminalList_.autoConfig();
    if (!autoConfig.autoIp) {
        lines.push_back("Automatic IP Config: OFF");
    } else {
        std::string marks;
        for (bool on : autoConfig.selectors) marks += on ? 'X' : 'O';
        lines.push_back("Automatic IP Config: ON =[" + marks + "]");
    }
    lines.push_back("EXE PRG DIR:" + configFolder_);
    lines.push_back("FILES LINK DIR: " + linkFiles_.linkFolder());
    lines.push_back(std::string("Bridge Bell TCP: ") + (options_.bridgeNoTcp ? " 0" : " 1"));
    lines.push_back(std::string("Bridge Bell UDP: ") + (options_.bridgeNoUdp ? " 0" : " 1"));
    return lines;
}

void Library::loadConfig() {
    terminalList_.load();
    connections_.reconnectAll();
}

void Library::mainCycleTick() { mainCycle_.tick(env_.clock.now()); }
void Library::connectionTimerTick() { connections_.connectionTimerTick(); }
void Library::linkPollTick() { linkFiles_.pollTick(env_.clock.now()); }

void Library::reportSecondCopy() {
    const DateTime now = env_.clock.now();
    status_.add("0000,09-Library already loaded in service " + now.ddmmyyyy() + " " + now.hhmmss() + frames::ETX);
    logs_.showError("ERROR: Library already loaded in service");
}

void Library::closeLinks() {
    operator_.setVisible(Window::Main, false);
    for (std::size_t s = 0; s < registry_.count(); ++s) {
        auto& socket = registry_.state(static_cast<int>(s)).socket;
        if (socket && socket->state() != SocketState::Closed) socket->close();
    }
}

}  // namespace iplib
