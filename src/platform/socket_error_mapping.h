// Socket errors as the customer's software knows them: the operating system's error is
// turned into the number of the platform that software was written for (10061 for a
// refused connection and so on) with a short English description, because status
// messages and state texts carry both.
#pragma once

#include "platform/network.h"

#include <boost/system/error_code.hpp>

namespace iplib {

// Known errno values get their counterpart (ECONNREFUSED 10061, ETIMEDOUT 10060, ...);
// any other value v becomes 10000 + v with the system's own description.
SocketError socketErrorFromErrno(int errnoValue);

// The same for an error reported by Asio; errors that do not come from the system
// (end of stream, for example) get a number of the same range.
SocketError socketErrorFrom(const boost::system::error_code& error);

}  // namespace iplib
