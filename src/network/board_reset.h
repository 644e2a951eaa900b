// Restarting a terminal's network board whose TCP link cannot be re-established: the
// board reset datagram FE FF 06 + the board's dotted address, sent to UDP port 1024 of
// that address. The reconnect logic sends one with every failed attempt, and every 15th
// failed attempt since the last connection sends five more and logs
// "Reset by UDP TCP ONLY: " + address.
#pragma once

#include "core/logs.h"
#include "core/terminal_registry.h"
#include "platform/network.h"

#include <cstdint>
#include <string>

namespace iplib {

class BoardResets {
public:
    static constexpr int FailuresBeforeReset = 15;
    static constexpr std::uint16_t DefaultBoardPort = 1024;

    BoardResets(TerminalRegistry& registry, Logs& logs);

    // The endpoint the datagrams leave from (null: nothing is sent).
    void setSender(UdpEndpoint* sender, std::uint16_t boardPort = DefaultBoardPort) {
        sender_ = sender;
        boardPort_ = boardPort;
    }

    static std::string datagram(const std::string& address);
    // Failures are ignored: nothing is reported, nothing retried.
    void sendReset(const std::string& address);
    void countFailedReconnect(int slot);

    std::uint64_t sent() const { return sent_; }

private:
    TerminalRegistry& registry_;
    Logs& logs_;
    UdpEndpoint* sender_ = nullptr;
    std::uint16_t boardPort_ = DefaultBoardPort;
    std::uint64_t sent_ = 0;
};

}  // namespace iplib
