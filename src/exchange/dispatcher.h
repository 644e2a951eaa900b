// DISPATCH_COMMAND: every command for a terminal, whoever produces it, goes through here.
// A command line is a destination (terminal number or "*"), a comma and the command text.
// The line is translated, logged ("COM:"), added to the last-commands list, and routed:
// to the command queue of a configured terminal (queued form: STX and ETX removed, first
// comma replaced by byte 250), to slot 0 for "*", or else to the bridges and mobile
// devices with that number. Two optional customer patches fabricate packets as if the
// terminal had answered certain prompts.
#pragma once

#include "core/logs.h"
#include "core/terminal_registry.h"
#include "platform/clock.h"

#include <array>
#include <functional>
#include <string>

namespace iplib {

class PacketDelivery;

class Dispatcher {
public:
    enum Result : int { NotFound = 0, Queued = 1, NotConnected = 2 };
    static constexpr char QueueSeparator = static_cast<char>(250);
    static constexpr int PatchPromptSlots = 21;

    // Hooks filled by later subsystems; empty hooks do nothing.
    struct Hooks {
        // The translator: may rewrite the line (and fabricate packets itself).
        std::function<void(std::string& line)> translate;
        // The last-commands list.
        std::function<void(const std::string& line)> addToLastCommands;
        // Bridges and mobile devices with this number: each returns true when it took the line.
        std::function<bool(std::string& line, std::int64_t number)> toBridges;
        std::function<bool(const std::string& line, std::int64_t number)> toMobileDevices;
    };

    Dispatcher(TerminalRegistry& registry, Logs& logs, const Clock& clock);

    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }
    void setPacketDelivery(PacketDelivery* delivery) { delivery_ = delivery; }
    void enablePatches(bool first, bool second) { patch1_ = first; patch2_ = second; }

    // The line may be changed by the translator; callers reusing it see the new text.
    int dispatch(std::string& line);
    int dispatch(const std::string& line) { std::string copy = line; return dispatch(copy); }

    // The second patch forgets a slot's prompt when its link connects.
    void clearPatchPrompt(int slot);
    bool secondPatchOn() const { return patch2_; }

private:
    void runFirstPatch(const std::string& line, int slot);
    void runSecondPatch(const std::string& line, int slot);
    void deliverFakePacket(int slot, const std::string& answer);

    TerminalRegistry& registry_;
    Logs& logs_;
    const Clock& clock_;
    PacketDelivery* delivery_ = nullptr;
    Hooks hooks_;
    bool patch1_ = false;
    bool patch2_ = false;
    std::array<std::string, PatchPromptSlots> patchPrompt_{};
};

}  // namespace iplib
