// Every arrival of bytes on a terminal link goes through here: the cellular keep-alive
// echo is removed, the handshake bytes move the transmit cycle forward (ENQ sends the
// command frame, ACK confirms it, E7 aborts), data frames are cut, checked, acknowledged,
// filtered for repeats and delivered as packets, and boot reports (FC, FD, FE) are handled.
//
// An abort (E7) holds that terminal's exchange for half a second: nothing is sent to it,
// its transmit cycle waits and its arrivals are kept, while every other link goes on.
#pragma once

#include "core/logs.h"
#include "core/settings.h"
#include "core/terminal_registry.h"
#include "exchange/packet_delivery.h"
#include "platform/clock.h"
#include "terminal_link/clock_sync.h"
#include "terminal_link/transmit_cycle.h"

#include <functional>
#include <string_view>

namespace iplib {

class ReceivePath {
public:
    static constexpr std::size_t BufferLimit = 401;
    static constexpr std::int64_t AbortHoldMs = 500;
    static constexpr std::size_t HeldInputLimit = 64 * 1024;

    struct Hooks {
        // Identification of a call-in terminal on its buffer (may renumber the slot).
        std::function<void(int slot)> identifyCallIn;
        // The delay log's record of an acknowledged command (number without zeros).
        std::function<void(const std::string& number)> commandAcknowledged;
        // Bytes that go out on the slot's socket at once (BootInit).
        std::function<void(int slot, const std::string& bytes)> sendNow;
    };

    ReceivePath(TerminalRegistry& registry, Logs& logs, const Clock& clock, TransmitCycle& transmit,
                ClockSync& clockSync, PacketDelivery& delivery, const GeneralSettings& settings);

    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }

    // Data arrival on a slot's link.
    void onData(int slot, std::string_view bytes);
    // Whether the slot's exchange is held by an abort at this time.
    bool held(int slot, std::int64_t nowMs) const;
    // Ends the holds that have run out, handing their kept bytes on as one arrival.
    void releaseHolds(std::int64_t nowMs);

private:
    void process(int slot, std::string bytes);
    bool handleHandshake(int slot);
    void handleFrames(int slot);
    void handleBootByte(int slot);

    TerminalRegistry& registry_;
    Logs& logs_;
    const Clock& clock_;
    TransmitCycle& transmit_;
    ClockSync& clockSync_;
    PacketDelivery& delivery_;
    const GeneralSettings& settings_;
    Hooks hooks_;
    std::vector<int> heldSlots_;
    bool bootErrorShown_ = false;  // for the arrival being handled
};

}  // namespace iplib
