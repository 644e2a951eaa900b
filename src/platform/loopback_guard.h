// The loopback guard: with IPLIB_LOOPBACK_ONLY set, the network layer reaches only this
// computer. Every destination outside 127.0.0.0/8 is refused before any socket is made,
// and the broadcast address 255.255.255.255 is moved to the loopback broadcast
// 127.255.255.255, which reaches the sockets of this host bound to the port and never
// leaves it. Pure logic: the network layer asks it before every connect and send.
#pragma once

#include <string>

namespace iplib {

class LoopbackGuard {
public:
    // On when IPLIB_LOOPBACK_ONLY is set to anything but "" or "0": a mistyped value
    // keeps the guard on rather than opening the real network.
    static LoopbackGuard fromEnvironment();

    explicit LoopbackGuard(bool on) : on_(on) {}

    bool on() const { return on_; }
    // True for a dotted IPv4 address in 127.0.0.0/8, or for any text when the guard is
    // off. With the guard on, a text that is not a dotted IPv4 address is refused.
    bool allows(const std::string& dottedIPv4) const;
    // The address to send to in place of the given one: the loopback broadcast for
    // 255.255.255.255 when on, else the address itself.
    std::string destinationFor(const std::string& address) const;

private:
    bool on_;
};

}  // namespace iplib
