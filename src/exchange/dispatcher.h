// DISPATCH_COMMAND: every command for a terminal, whoever produces it, goes through here.
// A command line is a destination (terminal number or "*"), a comma and the command text.
// The line is translated, logged ("COM:"), added to the last-commands list, and routed:
// to the command queue of a configured terminal (queued form: STX and ETX removed, first
// comma replaced by byte 250), to slot 0 for "*", or else to the bridges and mobile
// devices with that number. Two optional customer patches fabricate packets as if the
// terminal had answered certain prompts.
//
// Fabricated packets leave through one seam, the fake-packet sink. setPacketDelivery
// points it at the packet delivery sequence (log prefix "ORVELLCO FAKE PAQ:"); a test can
// set its own sink instead and see the packets without a packet file. With neither, the
// patches keep their prompts up to date and the packets they would build are dropped.
#pragma once

#include "core/logs.h"
#include "core/terminal_registry.h"
#include "exchange/packet_delivery.h"
#include "platform/clock.h"

#include <array>
#include <functional>
#include <string>

namespace iplib {

class Dispatcher {
public:
    enum Result : int { NotFound = 0, Queued = 1, NotConnected = 2 };
    static constexpr char QueueSeparator = static_cast<char>(250);
    static constexpr int PatchPromptSlots = 21;
    // A slot's queue refuses lines beyond this many waiting entries (result NotConnected,
    // error log "COMMAND QUEUE FULL, COMMAND REFUSED").
    static constexpr std::size_t MaxQueuedCommands = 20000;

    // Hooks filled by later subsystems; empty hooks do nothing.
    struct Hooks {
        // The translator: may rewrite the line (and fabricate packets itself).
        std::function<void(std::string& line)> translate;
        // The last-commands list.
        std::function<void(const std::string& line)> addToLastCommands;
        // Bridges and mobile devices with this number: each returns true when it took the line.
        // The bridges receive the line already in their form (a text starting with byte
        // 220 or 221 wrapped in 254 248 8 2 ... ETX + three spaces); when they take it,
        // that form becomes the line the mobile devices and the caller see.
        std::function<bool(std::string& line, std::int64_t number)> toBridges;
        std::function<bool(const std::string& line, std::int64_t number)> toMobileDevices;
    };

    Dispatcher(TerminalRegistry& registry, Logs& logs, const Clock& clock);

    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }
    using FakePacketSink = std::function<void(int slot, const std::string& packet)>;
    static constexpr const char* FakePacketLogPrefix = "ORVELLCO FAKE PAQ:";
    // Fabricated packets go through the delivery sequence of a received packet.
    void setPacketDelivery(PacketDelivery* delivery) {
        delivery_ = delivery;
        fakePacketSink_ = nullptr;
        if (delivery)
            fakePacketSink_ = [delivery](int slot, const std::string& packet) {
                delivery->deliverFabricated(slot, packet, FakePacketLogPrefix);
            };
    }
    // Replaces the delivery as the destination of fabricated packets.
    void setFakePacketSink(FakePacketSink sink) { fakePacketSink_ = std::move(sink); }
    void enablePatches(bool first, bool second) { patch1_ = first; patch2_ = second; }

    // The line may be changed by the translator; callers reusing it see the new text.
    int dispatch(std::string& line);
    int dispatch(const std::string& line) { std::string copy = line; return dispatch(copy); }

    // The second patch forgets a slot's prompt when its link connects (nothing happens
    // while the second patch is off or for slots past the prompt table).
    void clearPatchPrompt(int slot);
    bool secondPatchOn() const { return patch2_; }
    // The prompt remembered for a slot ("" past the table).
    std::string patchPrompt(int slot) const;

    // The queued form of a line: STX and ETX removed, the first comma replaced by the
    // queue separator.
    static std::string queuedForm(const std::string& line);
    // The form a bridge receives (see Hooks::toBridges).
    static std::string bridgeForm(const std::string& line);

private:
    void runFirstPatch(const std::string& line, int slot);
    void runSecondPatch(const std::string& line, int slot);
    void deliverFakePacket(int slot, const std::string& answer);
    static bool promptSlot(int slot) { return slot >= 0 && slot < PatchPromptSlots; }

    TerminalRegistry& registry_;
    Logs& logs_;
    const Clock& clock_;
    PacketDelivery* delivery_ = nullptr;
    FakePacketSink fakePacketSink_;
    Hooks hooks_;
    bool patch1_ = false;
    bool patch2_ = false;
    std::array<std::string, PatchPromptSlots> patchPrompt_{};
};

}  // namespace iplib
