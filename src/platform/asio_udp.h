// The real UDP endpoint over Boost.Asio (see UdpEndpoint in platform/network.h).
//
// Bound with address reuse and broadcast allowed, so several endpoints of this host can
// share a port and all receive what is broadcast to it. Sending never waits: a datagram
// the system cannot take at once is dropped (sendTo returns false). An endpoint that was
// never bound sends from a port the system chooses. Under the loopback guard, a datagram
// to a destination outside 127.0.0.0/8 is dropped and reported, and 255.255.255.255 is
// sent to 127.255.255.255 instead.
#pragma once

#include "platform/network.h"
#include "platform/transport_context.h"

#include <memory>

namespace iplib {

std::unique_ptr<UdpEndpoint> makeAsioUdpEndpoint(SharedTransportContext context);

}  // namespace iplib
