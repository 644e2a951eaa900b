#include "network/board_reset.h"

namespace iplib {

BoardResets::BoardResets(TerminalRegistry& registry, Logs& logs) : registry_(registry), logs_(logs) {}

std::string BoardResets::datagram(const std::string& address) { return std::string("\xFE\xFF\x06", 3) + address; }

void BoardResets::sendReset(const std::string& address) {
    ++sent_;
    if (sender_ && !address.empty()) sender_->sendTo(datagram(address), address, boardPort_);
}

void BoardResets::countFailedReconnect(int slot) {
    int& count = registry_.reconnectFailureCount(slot);
    if (++count < FailuresBeforeReset) return;
    const std::string address = registry_.state(slot).socketAddress;
    for (int i = 0; i < 5; ++i) sendReset(address);
    count = 0;
    logs_.error("Reset by UDP TCP ONLY: " + address, slot);
}

}  // namespace iplib
