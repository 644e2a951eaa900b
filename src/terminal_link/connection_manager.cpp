#include "terminal_link/connection_manager.h"

#include "core/text.h"
#include "terminal_link/frames.h"

namespace iplib {

ConnectionManager::ConnectionManager(TerminalRegistry& registry, Logs& logs, const Clock& clock, Network& network,
                                     const ConnectionTiming& timing, const GeneralSettings& settings,
                                     ReceivePath& receive, ClockSync& clockSync, Dispatcher& dispatcher,
                                     BoardResets& boardResets)
    : registry_(registry), logs_(logs), clock_(clock), network_(network), timing_(timing), settings_(settings),
      receive_(receive), clockSync_(clockSync), dispatcher_(dispatcher), boardResets_(boardResets) {}

void ConnectionManager::connectionTimerTick() {
    const int count = static_cast<int>(registry_.count());
    if (pointer_ >= count) pointer_ = 0;
    for (int s = 0; s < count; ++s) ++registry_.state(s).reconnectTicks;
    if (count > 0 && registry_.state(pointer_).reconnectTicks >= timing_.reconnectDelay()) {
        const int slot = pointer_;
        timReconnect(slot);
        if (registry_.hasSlot(slot)) registry_.state(slot).reconnectTicks = 0;
    }
    ++pointer_;
}

void ConnectionManager::reconnectAll() {
    for (int s = 0; s < static_cast<int>(registry_.count()); ++s) timReconnect(s);
}

void ConnectionManager::timReconnect(int slot) {
    if (registry_.empty() || !registry_.hasSlot(slot)) return;
    SlotState& s = registry_.state(slot);
    if (s.linkState == LinkState::Connected) {
        if (s.socket) s.socket->send(frames::keepAlive(registry_.isCellular(slot)));
        return;
    }
    if (registry_.isInternet(slot)) return;
    if (s.socket && s.socket->state() != SocketState::Closed) {
        s.socket->close();
        boardResets_.sendReset(s.socketAddress);
        registry_.setStateText(slot, "TRY TO CLOSE");
        s.linkState = LinkState::Closing;
        boardResets_.countFailedReconnect(slot);
        return;
    }
    // A fresh link object per attempt: the old one has delivered its last event.
    s.socket = network_.makeTcpLink();
    attachHandlers(slot, *s.socket);
    s.socketAddress = registry_.field(slot, 2);
    const auto port = text::numericValue(registry_.field(slot, 3));
    s.socket->connect(s.socketAddress, static_cast<std::uint16_t>(port > 0 && port < 65536 ? port : 0));
    registry_.setStateText(slot, "TRY TO CONNECT");
    s.linkState = LinkState::Down;
}

void ConnectionManager::attachHandlers(int slot, TcpLink& link) {
    TcpLink::Handlers h;
    h.connected = [this, slot] { onConnected(slot); };
    h.data = [this, slot](std::string_view bytes) { receive_.onData(slot, bytes); };
    h.closedByPeer = [this, slot] { onClosedByPeer(slot); };
    h.error = [this, slot](const SocketError& e) { onError(slot, e); };
    link.setHandlers(std::move(h));
}

void ConnectionManager::adoptAccepted(int slot, std::unique_ptr<TcpLink> link) {
    if (!registry_.hasSlot(slot)) return;
    SlotState& s = registry_.state(slot);
    if (s.socket) s.socket->close();
    s.socket = std::move(link);
    s.socketAddress = s.socket->remoteAddress();
    attachHandlers(slot, *s.socket);
    onConnected(slot);
}

bool ConnectionManager::cloudCallIn(int slot) const {
    return settings_.internetCloud && text::numericValue(registry_.field(slot, 1)) > 8999;
}

void ConnectionManager::post(int slot, const std::string& message) {
    if (hooks_.postStatus) hooks_.postStatus(text::fourDigits(text::numericValue(registry_.field(slot, 1))) + "," + message + frames::ETX);
}

void ConnectionManager::onConnected(int slot) {
    if (!registry_.hasSlot(slot)) return;
    logs_.error("CONNECT ", slot);
    if (dispatcher_.secondPatchOn()) dispatcher_.clearPatchPrompt(slot);
    registry_.reconnectFailureCount(slot) = 0;
    SlotState& s = registry_.state(slot);
    s.linkState = LinkState::Connected;
    registry_.setStateText(slot, "IP CONNECTION OK");
    if (registry_.isCellular(slot)) s.holdSeconds = 2;
    if (cloudCallIn(slot)) return;
    clockSync_.queueClockCommandsForSlot(slot, clock_.now());
    if (hooks_.sendConnectMacros) hooks_.sendConnectMacros(slot);
    post(slot, "01-CONNECT");
}

void ConnectionManager::onClosedByPeer(int slot) {
    if (!registry_.hasSlot(slot)) return;
    SlotState& s = registry_.state(slot);
    s.linkState = LinkState::Down;
    registry_.setStateText(slot, "CLOSE");
    if (s.socket) s.socket->close();
    post(slot, "02-CLOSE");
    logs_.error("CLOSE IP", slot);
    if (registry_.isInternet(slot) && hooks_.releaseCallIn) hooks_.releaseCallIn(slot);
}

void ConnectionManager::onError(int slot, const SocketError& error) {
    if (!registry_.hasSlot(slot)) return;
    logs_.error("ERROR IP:" + error.description, slot);
    SlotState& s = registry_.state(slot);
    s.linkState = LinkState::Down;
    registry_.setStateText(slot, error.description);
    logs_.showError(registry_.field(slot, 1) + "- " + error.description);
    if (registry_.isInternet(slot)) {
        if (hooks_.releaseCallIn) hooks_.releaseCallIn(slot);
    } else {
        if (s.socket) s.socket->close();
        boardResets_.sendReset(s.socketAddress);
        if (error.number == socket_errors::ConnectionRefused) s.reconnectTicks = 9;
        boardResets_.countFailedReconnect(slot);
    }
    post(slot, "03-ERR[" + std::to_string(error.number) + "]:" + error.description);
}

}  // namespace iplib
