// The real transports: TCP links and listeners, UDP endpoints and serial ports over
// Boost.Asio, all on the event loop's thread and all behind the loopback guard. Refused
// destinations are reported through logRefused (a line of text for the error log).
#pragma once

#include "platform/event_loop.h"
#include "platform/loopback_guard.h"
#include "platform/network.h"
#include "platform/transport_context.h"

#include <functional>
#include <string>

namespace iplib {

class AsioNetwork final : public Network {
public:
    AsioNetwork(EventLoop& loop, LoopbackGuard guard, std::function<void(const std::string&)> logRefused);

    std::unique_ptr<TcpLink> makeTcpLink() override;
    std::unique_ptr<TcpListener> makeTcpListener() override;
    std::unique_ptr<UdpEndpoint> makeUdpEndpoint() override;
    std::unique_ptr<SerialPort> makeSerialPort() override;

private:
    SharedTransportContext context_;
};

}  // namespace iplib
