#include "platform/asio_network.h"

#include "platform/asio_serial.h"
#include "platform/asio_tcp.h"
#include "platform/asio_udp.h"

namespace iplib {

AsioNetwork::AsioNetwork(EventLoop& loop, LoopbackGuard guard, std::function<void(const std::string&)> logRefused)
    : context_(std::make_shared<const TransportContext>(TransportContext{loop.context(), guard, std::move(logRefused)})) {}

std::unique_ptr<TcpLink> AsioNetwork::makeTcpLink() { return makeAsioTcpLink(context_); }
std::unique_ptr<TcpListener> AsioNetwork::makeTcpListener() { return makeAsioTcpListener(context_); }
std::unique_ptr<UdpEndpoint> AsioNetwork::makeUdpEndpoint() { return makeAsioUdpEndpoint(context_); }
std::unique_ptr<SerialPort> AsioNetwork::makeSerialPort() { return makeAsioSerialPort(context_); }

}  // namespace iplib
