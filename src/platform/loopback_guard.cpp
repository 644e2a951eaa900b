#include "platform/loopback_guard.h"

#include <boost/asio/ip/address_v4.hpp>

#include <cstdlib>

namespace iplib {

LoopbackGuard LoopbackGuard::fromEnvironment() {
    const char* value = std::getenv("IPLIB_LOOPBACK_ONLY");
    return LoopbackGuard(value != nullptr && *value != '\0' && std::string(value) != "0");
}

bool LoopbackGuard::allows(const std::string& dottedIPv4) const {
    if (!on_) return true;
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address_v4(dottedIPv4, ec);
    return !ec && address.is_loopback();
}

std::string LoopbackGuard::destinationFor(const std::string& address) const {
    if (on_ && address == "255.255.255.255") return "127.255.255.255";
    return address;
}

}  // namespace iplib
