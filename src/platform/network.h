// Narrow interfaces for the transports the library uses: TCP links and listeners, UDP
// endpoints and serial lines. Logic holds these interfaces, so a unit test can put a
// scripted stub in place of a socket; AsioNetwork (platform/asio_network.h) gives the
// real ones. All events are delivered on the event thread.
//
// Rules every implementation keeps:
//  - an event handler may call any method of the link, including close(), and may drop
//    the last reference to the link object: the implementation never touches a link
//    after its handler returns unless it is still alive;
//  - no handler runs from inside a method call (connect/send/close never call back
//    synchronously); events come later from the event loop;
//  - with the loopback guard on, destinations outside 127.0.0.0/8 are refused.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace iplib {

// Socket states as the customer's software knows them.
enum class SocketState : int {
    Closed = 0,
    Open = 1,
    Listening = 2,
    ConnectionPending = 3,
    ResolvingHost = 4,
    HostResolved = 5,
    Connecting = 6,
    Connected = 7,
    Closing = 8,
    Error = 9,
};

// Socket errors carry the numbers of the platform the customer's software was written
// for, with a short English description.
struct SocketError {
    int number = 0;
    std::string description;
};

namespace socket_errors {
inline constexpr int AddressInUse = 10048;
inline constexpr int NetworkUnreachable = 10051;
inline constexpr int ConnectionAborted = 10053;
inline constexpr int ConnectionReset = 10054;
inline constexpr int TimedOut = 10060;
inline constexpr int ConnectionRefused = 10061;
inline constexpr int HostUnreachable = 10065;
}  // namespace socket_errors

class TcpLink {
public:
    struct Handlers {
        std::function<void()> connected;
        std::function<void(std::string_view bytes)> data;  // all bytes that were available
        std::function<void()> closedByPeer;
        std::function<void(const SocketError&)> error;
    };

    virtual ~TcpLink() = default;
    // An accepted link starts reading once its handlers are set.
    virtual void setHandlers(Handlers handlers) = 0;
    // Starts a connection; "connected" or "error" follows.
    virtual void connect(const std::string& address, std::uint16_t port) = 0;
    // Queues bytes for sending; false (and nothing sent) when not connected.
    virtual bool send(std::string_view bytes) = 0;
    // Closes at once; no event follows a close.
    virtual void close() = 0;
    // Closed, Connecting while a connect is under way, Connected, Closing once the peer
    // has closed (until close()), Error after an error.
    virtual SocketState state() const = 0;
    // Dotted address of the far end from connect() (or the accept) until close(), so it
    // still names the far end after an error or a close by the peer; "" when closed.
    virtual std::string remoteAddress() const = 0;
    virtual std::uint16_t remotePort() const = 0;
    // Dotted local address of the link once connected, until close(); else "".
    virtual std::string localAddress() const = 0;
};

class TcpListener {
public:
    // Called with every accepted connection, already connected and not yet reading.
    using AcceptHandler = std::function<void(std::unique_ptr<TcpLink>)>;

    virtual ~TcpListener() = default;
    // Listens on the port of the given local address ("0.0.0.0" for all).
    virtual bool listen(const std::string& address, std::uint16_t port, AcceptHandler onAccept,
                        SocketError* failure = nullptr) = 0;
    virtual void close() = 0;
    virtual SocketState state() const = 0;
    virtual std::uint16_t localPort() const = 0;
};

class UdpEndpoint {
public:
    using ReceiveHandler =
        std::function<void(std::string_view datagram, const std::string& fromAddress, std::uint16_t fromPort)>;

    virtual ~UdpEndpoint() = default;
    // Binds a local port (0 for any) with address reuse and broadcast allowed.
    virtual bool bind(const std::string& address, std::uint16_t port, ReceiveHandler onReceive,
                      SocketError* failure = nullptr) = 0;
    // Sends one datagram; 255.255.255.255 is the broadcast address (127.255.255.255 under
    // the loopback guard). False when refused or failed.
    virtual bool sendTo(std::string_view datagram, const std::string& address, std::uint16_t port) = 0;
    virtual void close() = 0;
    virtual std::uint16_t localPort() const = 0;
};

class SerialPort {
public:
    virtual ~SerialPort() = default;
    // Opens port number n with settings such as "9600,N,8,1" (baud, parity N/E/O,
    // data bits, stop bits). DTR and RTS are switched off when asked.
    virtual bool open(int portNumber, const std::string& settings, bool dtrRtsOff) = 0;
    virtual bool write(std::string_view bytes) = 0;
    // What has arrived since the last read (never blocks).
    virtual std::string readAvailable() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
};

// Makes the transports; one per library, so tests can hand in stubs.
class Network {
public:
    virtual ~Network() = default;
    virtual std::unique_ptr<TcpLink> makeTcpLink() = 0;
    virtual std::unique_ptr<TcpListener> makeTcpListener() = 0;
    virtual std::unique_ptr<UdpEndpoint> makeUdpEndpoint() = 0;
    virtual std::unique_ptr<SerialPort> makeSerialPort() = 0;
};

}  // namespace iplib
