// The real TCP link and listener over Boost.Asio (see TcpLink and TcpListener in
// platform/network.h for the rules they keep).
//
// A link writes its queued bytes in order; at most 1 MB may wait to be written, beyond
// that send() refuses. Each "data" event carries everything that had arrived when the
// read completed (up to 1 MB). Links use TCP_NODELAY: frames are small and answered at
// once. After the peer closed, the link reports state 8 (closing) until close().
//
// Under the loopback guard a connect to an address outside 127.0.0.0/8 fails with 10051
// before any socket exists, and a listener closes at once every connection from outside
// 127.0.0.0/8 (the system completes the handshake before the library sees it).
#pragma once

#include "platform/network.h"
#include "platform/transport_context.h"

#include <memory>

namespace iplib {

inline constexpr std::size_t MaxTcpQueuedBytes = 1 << 20;

std::unique_ptr<TcpLink> makeAsioTcpLink(SharedTransportContext context);
std::unique_ptr<TcpListener> makeAsioTcpListener(SharedTransportContext context);

}  // namespace iplib
