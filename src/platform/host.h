// Facts about the computer the library runs on.
#pragma once

#include <string>

namespace iplib {

// The first IPv4 address of an interface that is up and not loopback, else "127.0.0.1".
std::string localIpv4Address();

}  // namespace iplib
