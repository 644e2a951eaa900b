// One TCP link per terminal slot, kept open for as long as the library runs. The
// connection timer visits one slot per tick (every "Delay between 2 QBX" ms); a slot
// whose tick count reaches the reconnect delay is handled by TIM_RECONNECT: a connected
// link gets its keep-alive, a pending attempt is closed, a closed link is opened again.
// Link events update the slot's state text, the error log and the status messages:
// number + ",01-CONNECT", ",02-CLOSE", ",03-ERR[n]:description".
// "Internet" slots called in and are never dialled or closed here.
#pragma once

#include "core/logs.h"
#include "core/settings.h"
#include "core/terminal_registry.h"
#include "exchange/dispatcher.h"
#include "network/board_reset.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "terminal_link/clock_sync.h"
#include "terminal_link/receive_path.h"

#include <functional>
#include <string>

namespace iplib {

class ConnectionManager {
public:
    struct Hooks {
        std::function<void(const std::string& line)> postStatus;  // with ETX
        std::function<void(int slot)> sendConnectMacros;
        std::function<void(int slot)> releaseCallIn;
    };

    ConnectionManager(TerminalRegistry& registry, Logs& logs, const Clock& clock, Network& network,
                      const ConnectionTiming& timing, const GeneralSettings& settings, ReceivePath& receive,
                      ClockSync& clockSync, Dispatcher& dispatcher, BoardResets& boardResets);

    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }

    // The connection timer's tick.
    void connectionTimerTick();
    // Reconnect or keep alive one slot.
    void timReconnect(int slot);
    // A connection attempt for every slot at once (after the terminal list is loaded).
    void reconnectAll();
    // A caller accepted onto a slot (call-in server): takes the link and runs the
    // connected handling.
    void adoptAccepted(int slot, std::unique_ptr<TcpLink> link);

    void onConnected(int slot);
    void onClosedByPeer(int slot);
    void onError(int slot, const SocketError& error);

    int pointer() const { return pointer_; }

private:
    void attachHandlers(int slot, TcpLink& link);
    void post(int slot, const std::string& text);
    bool cloudCallIn(int slot) const;

    TerminalRegistry& registry_;
    Logs& logs_;
    const Clock& clock_;
    Network& network_;
    const ConnectionTiming& timing_;
    const GeneralSettings& settings_;
    ReceivePath& receive_;
    ClockSync& clockSync_;
    Dispatcher& dispatcher_;
    BoardResets& boardResets_;
    Hooks hooks_;
    int pointer_ = 0;
};

}  // namespace iplib
