// The real serial port over Boost.Asio (see SerialPort in platform/network.h).
//
// Port number N is the device /dev/ttyS<N-1> unless the environment variable
// IPLIB_SERIAL_PORT_<N> names another device (a USB adapter, or a pseudo-terminal in
// tests). Bytes are collected as they arrive, up to 64 KB; beyond that new bytes are
// dropped until the owner reads, as a receiver with a full buffer would. At most 64 KB
// may wait to be written. A port whose device fails while reading is closed.
#pragma once

#include "platform/network.h"
#include "platform/transport_context.h"

#include <memory>
#include <optional>
#include <string>

namespace iplib {

inline constexpr std::size_t MaxSerialBufferedBytes = 64 * 1024;

struct SerialSettings {
    unsigned baudRate = 9600;
    char parity = 'N';  // 'N', 'E' or 'O'
    unsigned dataBits = 8;  // 5..8
    enum class StopBits { One, OneAndHalf, Two } stopBits = StopBits::One;

    friend bool operator==(const SerialSettings&, const SerialSettings&) = default;
};

// "9600,N,8,1", "115200,n,8,1", "2400,e,7,1.5": baud, parity, data bits, stop bits.
// Nullopt for anything else.
std::optional<SerialSettings> parseSerialSettings(const std::string& text);

// The device of port number n, "" when there is none (n < 1 without an override).
std::string serialDevicePath(int portNumber);

std::unique_ptr<SerialPort> makeAsioSerialPort(SharedTransportContext context);

}  // namespace iplib
