// A whole library on a temporary drive root, with a manual clock and scripted links:
// the test plays the terminals and the customer's software and drives the timers by hand.
#pragma once

#include "app/library.h"
#include "core/text.h"
#include "support/stub_network.h"
#include "support/temp_folder.h"
#include "terminal_link/frames.h"

#include <memory>
#include <string>
#include <vector>

namespace iplib::testing {

class LibraryFixture {
public:
    explicit LibraryFixture(DateTime start = {2026, 12, 9, 10, 0, 0, 0}) : clock(start) {}

    // Writes a terminal list with these terminal lines and starts the library on it.
    void startWith(const std::vector<std::string>& terminalLines, const std::string& commandLine = "-MUL") {
        std::string list = "VIDE\r\n 10 \r\n";
        for (int i = 0; i < 12; ++i) list += " 0 \r\n";
        list += " 0 \r\n";
        for (const auto& l : terminalLines) list += l + "\r\n";
        root.write("VESKAL.CFG/TCP_LIB_IP/TCPIP.CFG", list);
        library = std::make_unique<Library>(
            LibraryEnvironment{clock, files, network, DrivePaths(root.path()), root.path() + "program/", nullptr});
        library->start(StartOptions::parse(commandLine), {});
    }

    std::string configFolder() const { return root.path() + "VESKAL.CFG/TCP_LIB_IP/"; }
    std::string readConfig(const std::string& name) const { return root.read("VESKAL.CFG/TCP_LIB_IP/" + name); }
    bool configExists(const std::string& name) const { return root.has("VESKAL.CFG/TCP_LIB_IP/" + name); }
    void removeConfig(const std::string& name) const { std::filesystem::remove(configFolder() + name); }

    // One main-cycle tick after the clock moved on by ms.
    void tick(int ms = 1) {
        clock.advanceMilliseconds(ms);
        library->linkPollTick();
        library->mainCycleTick();
    }
    // Runs ticks of 1 ms for the given time.
    void run(int ms) {
        for (int i = 0; i < ms; ++i) tick(1);
    }

    std::shared_ptr<StubLinkState> link(const std::string& address) const { return network.linkTo(address); }
    // Connects the slot's pending link (the terminal accepts).
    std::shared_ptr<StubLinkState> connect(const std::string& address) {
        auto l = link(address);
        if (l) l->accept();
        return l;
    }

    static std::string dataFrame(const std::string& body) {
        std::string f = std::string(1, frames::STX) + body;
        f += frames::checksum(f);
        f += frames::ETX;
        return f;
    }

    TempFolder root;
    ManualClock clock;
    RealFileSystem files;
    StubNetwork network;
    std::unique_ptr<Library> library;
};

}  // namespace iplib::testing
