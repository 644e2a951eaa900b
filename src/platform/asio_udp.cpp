#include "platform/asio_udp.h"

#include "platform/socket_error_mapping.h"

#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <array>
#include <chrono>

namespace iplib {

namespace asio = boost::asio;
using asio::ip::udp;
using boost::system::error_code;

namespace {

constexpr std::size_t MaxDatagramBytes = 65536;

// Shared with the pending receive so that it completes safely after the endpoint is
// gone; a close starts a new session and the completions of the old one do nothing.
class UdpCore : public std::enable_shared_from_this<UdpCore> {
public:
    explicit UdpCore(SharedTransportContext context)
        : context_(std::move(context)), socket_(context_->io), retryTimer_(context_->io) {}

    bool bind(const std::string& address, std::uint16_t port, UdpEndpoint::ReceiveHandler onReceive,
              SocketError* failure) {
        close();
        error_code ec;
        const auto ip = asio::ip::make_address_v4(address, ec);
        if (ec) return refuse({10049, "Cannot assign requested address"}, failure);
        if (!open(ec)) return refuse(socketErrorFrom(ec), failure);
        socket_.set_option(udp::socket::reuse_address(true), ec);
        if (!ec) socket_.bind(udp::endpoint(ip, port), ec);
        if (ec) return refuse(socketErrorFrom(ec), failure);
        onReceive_ = std::make_shared<const UdpEndpoint::ReceiveHandler>(std::move(onReceive));
        receiveNext(session_);
        return true;
    }

    bool sendTo(std::string_view datagram, const std::string& address, std::uint16_t port) {
        const std::string destination = context_->guard.destinationFor(address);
        if (!context_->guard.allows(destination)) {
            context_->reportRefused("UDP datagram to " + destination + ":" + std::to_string(port) +
                                    " dropped by the loopback guard");
            return false;
        }
        error_code ec;
        const auto ip = asio::ip::make_address_v4(destination, ec);
        if (ec) return false;
        if (!socket_.is_open() && !open(ec)) return false;
        socket_.send_to(asio::buffer(datagram.data(), datagram.size()), udp::endpoint(ip, port), 0, ec);
        return !ec;
    }

    void close() {
        ++session_;
        error_code ignored;
        socket_.close(ignored);
        retryTimer_.cancel();
    }

    std::uint16_t localPort() const {
        error_code ec;
        const auto local = socket_.local_endpoint(ec);
        return ec ? 0 : local.port();
    }

private:
    bool open(error_code& ec) {
        socket_.open(udp::v4(), ec);
        if (!ec) socket_.set_option(udp::socket::broadcast(true), ec);
        if (!ec) socket_.non_blocking(true, ec);
        if (ec) {
            error_code ignored;
            socket_.close(ignored);
            return false;
        }
        return true;
    }

    bool refuse(const SocketError& error, SocketError* failure) {
        close();
        if (failure) *failure = error;
        return false;
    }

    void receiveNext(unsigned session) {
        socket_.async_receive_from(asio::buffer(buffer_), sender_,
                                   [self = shared_from_this(), session](const error_code& ec, std::size_t n) {
                                       self->onReceive(session, ec, n);
                                   });
    }

    void onReceive(unsigned session, const error_code& ec, std::size_t n) {
        if (session != session_) return;
        if (ec) {
            // A passing failure; wait a little so that a lasting one cannot spin the loop.
            retryTimer_.expires_after(std::chrono::milliseconds(10));
            retryTimer_.async_wait([self = shared_from_this(), session](const error_code&) {
                if (session == self->session_) self->receiveNext(session);
            });
            return;
        }
        const std::string fromAddress = sender_.address().to_string();
        const std::uint16_t fromPort = sender_.port();
        if (auto handler = onReceive_; *handler) (*handler)(std::string_view(buffer_.data(), n), fromAddress, fromPort);
        if (session == session_) receiveNext(session);
    }

    SharedTransportContext context_;
    udp::socket socket_;
    asio::steady_timer retryTimer_;
    std::shared_ptr<const UdpEndpoint::ReceiveHandler> onReceive_;
    unsigned session_ = 0;
    udp::endpoint sender_;
    std::array<char, MaxDatagramBytes> buffer_{};
};

class AsioUdpEndpoint final : public UdpEndpoint {
public:
    explicit AsioUdpEndpoint(SharedTransportContext context) : core_(std::make_shared<UdpCore>(std::move(context))) {}
    ~AsioUdpEndpoint() override { core_->close(); }

    bool bind(const std::string& address, std::uint16_t port, ReceiveHandler onReceive,
              SocketError* failure) override {
        return core_->bind(address, port, std::move(onReceive), failure);
    }
    bool sendTo(std::string_view datagram, const std::string& address, std::uint16_t port) override {
        return core_->sendTo(datagram, address, port);
    }
    void close() override { core_->close(); }
    std::uint16_t localPort() const override { return core_->localPort(); }

private:
    std::shared_ptr<UdpCore> core_;
};

}  // namespace

std::unique_ptr<UdpEndpoint> makeAsioUdpEndpoint(SharedTransportContext context) {
    return std::make_unique<AsioUdpEndpoint>(std::move(context));
}

}  // namespace iplib
