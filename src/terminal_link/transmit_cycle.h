// The transmit cycle of a slot: commands wait in the slot's queue and go out one at a
// time with poll / ENQ / command frame / ACK. PROTO decides whether to poll, how long to
// wait for the answer (the answer timeout, or one second for a command holding byte CD),
// and when a silent terminal is dropped; it expands broadcast ("*") entries into one line
// per terminal and per mobile device. "Command done" removes the head once acknowledged
// (or dropped) and starts the next one at once.
//
// A terminal is declared silent when the polls for one command reach N or 4N, where N is
// the number of polls that fit in 8 seconds (80 / answer timeout), rounded to the nearest
// whole number so that every timeout setting has a threshold.
#pragma once

#include "core/logs.h"
#include "core/settings.h"
#include "core/terminal_registry.h"
#include "exchange/dispatcher.h"
#include "terminal_link/transmit_list.h"

#include <functional>
#include <string>
#include <vector>

namespace iplib {

class TransmitCycle {
public:
    static constexpr int RetryWrap = 500;

    struct Hooks {
        // First field of every mobile device entry, for broadcast copies.
        std::function<std::vector<std::string>()> mobileDeviceNumbers;
        // Releases a call-in slot.
        std::function<void(int slot)> releaseCallIn;
    };

    TransmitCycle(TerminalRegistry& registry, Logs& logs, TransmitList& transmitList, Dispatcher& dispatcher,
                  const GeneralSettings& settings);

    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }

    // PROTO: run when the slot's countdown has run out.
    void proto(int slot);
    // Removes the head of the queue (confirmed by an ACK, or dropped) and runs PROTO.
    void commandDone(int slot, bool confirmed);
    // TCP_SEND: queues bytes for the slot on the transmit list.
    void send(int slot, std::string bytes);

    int noAnswerThreshold() const;

private:
    enum class Step { Stop, CommandDone, CommandDropped };
    Step protoStep(int slot);
    // Removes the head; false when the queue was empty.
    bool removeHead(int slot, bool confirmed);

    TerminalRegistry& registry_;
    Logs& logs_;
    TransmitList& transmitList_;
    Dispatcher& dispatcher_;
    const GeneralSettings& settings_;
    Hooks hooks_;
};

}  // namespace iplib
