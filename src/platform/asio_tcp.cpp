#include "platform/asio_tcp.h"

#include "platform/socket_error_mapping.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <chrono>

namespace iplib {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

namespace {

// Small per link (a thousand links are open at once); larger arrivals are drained in a loop.
constexpr std::size_t ReadChunkBytes = 4 * 1024;
constexpr std::size_t MaxBytesPerDataEvent = 1 << 20;

std::string endpointText(const std::string& address, std::uint16_t port) {
    return address + ":" + std::to_string(port);
}

// The state of one link, shared with its pending operations so that they can complete
// safely after the TcpLink object is gone. Each connect and close starts a new session;
// a completion of an older session finds the number changed and does nothing, which is
// how close() guarantees that no event follows it.
class TcpLinkCore : public std::enable_shared_from_this<TcpLinkCore> {
public:
    explicit TcpLinkCore(SharedTransportContext context) : context_(std::move(context)), socket_(context_->io) {}

    void adoptAccepted(tcp::socket socket) {
        socket_ = std::move(socket);
        state_ = SocketState::Connected;
        noteConnectedEndpoints();
        error_code ec;
        const auto remote = socket_.remote_endpoint(ec);
        if (!ec) {
            remoteAddress_ = remote.address().to_string();
            remotePort_ = remote.port();
        }
        readOnceHandlersSet_ = true;
    }

    void setHandlers(TcpLink::Handlers handlers) {
        handlers_ = std::make_shared<const TcpLink::Handlers>(std::move(handlers));
        if (readOnceHandlersSet_ && state_ == SocketState::Connected) {
            readOnceHandlersSet_ = false;
            readNext(session_);
        }
    }

    void connect(const std::string& address, std::uint16_t port) {
        close();
        const unsigned session = session_;
        remoteAddress_ = address;
        remotePort_ = port;
        state_ = SocketState::Connecting;
        if (!context_->guard.allows(address)) {
            context_->reportRefused("TCP connection to " + endpointText(address, port) +
                                    " refused by the loopback guard");
            failLater(session, {socket_errors::NetworkUnreachable, "Network is unreachable"});
            return;
        }
        error_code ec;
        const auto ip = asio::ip::make_address_v4(address, ec);
        if (ec) {
            failLater(session, {11001, "Host not found"});
            return;
        }
        socket_.open(tcp::v4(), ec);
        if (ec) {
            failLater(session, socketErrorFrom(ec));
            return;
        }
        socket_.async_connect(tcp::endpoint(ip, port), [self = shared_from_this(), session](const error_code& ec) {
            self->onConnect(session, ec);
        });
    }

    bool send(std::string_view bytes) {
        if (state_ != SocketState::Connected) return false;
        if (pending_.size() + inFlight_.size() + bytes.size() > MaxTcpQueuedBytes) return false;
        pending_.append(bytes);
        if (!writing_ && !pending_.empty()) writeNext();
        return true;
    }

    void close() {
        ++session_;
        error_code ignored;
        socket_.close(ignored);
        state_ = SocketState::Closed;
        pending_.clear();
        writing_ = false;
        readOnceHandlersSet_ = false;
        remoteAddress_.clear();
        remotePort_ = 0;
        localAddress_.clear();
    }

    SocketState state() const { return state_; }
    std::string remoteAddress() const { return remoteAddress_; }
    std::uint16_t remotePort() const { return remotePort_; }
    std::string localAddress() const { return localAddress_; }

private:
    void onConnect(unsigned session, const error_code& ec) {
        if (session != session_) return;
        if (ec) {
            fail(ec);
            return;
        }
        state_ = SocketState::Connected;
        noteConnectedEndpoints();
        if (auto handlers = handlers_; handlers && handlers->connected) handlers->connected();
        if (session == session_) readNext(session);
    }

    void noteConnectedEndpoints() {
        error_code ec;
        socket_.set_option(tcp::no_delay(true), ec);
        const auto local = socket_.local_endpoint(ec);
        if (!ec) localAddress_ = local.address().to_string();
    }

    void readNext(unsigned session) {
        socket_.async_read_some(asio::buffer(buffer_),
                                [self = shared_from_this(), session](const error_code& ec, std::size_t n) {
                                    self->onRead(session, ec, n);
                                });
    }

    void onRead(unsigned session, const error_code& ec, std::size_t n) {
        if (session != session_) return;
        if (ec == asio::error::eof) {
            // Half-open until the owner closes: what was queued may still go out.
            state_ = SocketState::Closing;
            if (auto handlers = handlers_; handlers && handlers->closedByPeer) handlers->closedByPeer();
            return;
        }
        if (ec) {
            fail(ec);
            return;
        }
        std::string bytes(buffer_.data(), n);
        drainAvailable(bytes);
        if (auto handlers = handlers_; handlers && handlers->data) handlers->data(bytes);
        if (session == session_ && state_ == SocketState::Connected) readNext(session);
    }

    // Adds what else has already arrived, without waiting, so that one event carries
    // everything there is. A failure here shows again on the next read.
    void drainAvailable(std::string& bytes) {
        while (bytes.size() < MaxBytesPerDataEvent) {
            error_code ec;
            const std::size_t available = socket_.available(ec);
            if (ec || available == 0) return;
            const std::size_t want = std::min({available, buffer_.size(), MaxBytesPerDataEvent - bytes.size()});
            const std::size_t got = socket_.read_some(asio::buffer(buffer_.data(), want), ec);
            if (ec) return;
            bytes.append(buffer_.data(), got);
        }
    }

    void writeNext() {
        inFlight_.swap(pending_);
        writing_ = true;
        asio::async_write(socket_, asio::buffer(inFlight_),
                          [self = shared_from_this(), session = session_](const error_code& ec, std::size_t) {
                              self->onWritten(session, ec);
                          });
    }

    void onWritten(unsigned session, const error_code& ec) {
        if (session != session_) return;
        writing_ = false;
        inFlight_.clear();
        if (ec) {
            // After the peer closed, a failed write adds nothing to what the owner knows.
            if (state_ == SocketState::Connected) fail(ec);
            return;
        }
        if (!pending_.empty()) writeNext();
    }

    void fail(const error_code& ec) { failNow(socketErrorFrom(ec)); }

    void failNow(const SocketError& error) {
        ++session_;
        error_code ignored;
        socket_.close(ignored);
        pending_.clear();
        writing_ = false;
        state_ = SocketState::Error;
        if (auto handlers = handlers_; handlers && handlers->error) handlers->error(error);
    }

    // Errors found inside connect() are reported from the loop, never from the call.
    void failLater(unsigned session, SocketError error) {
        asio::post(context_->io, [self = shared_from_this(), session, error = std::move(error)] {
            if (session == self->session_) self->failNow(error);
        });
    }

    SharedTransportContext context_;
    tcp::socket socket_;
    std::shared_ptr<const TcpLink::Handlers> handlers_;
    SocketState state_ = SocketState::Closed;
    unsigned session_ = 0;
    bool readOnceHandlersSet_ = false;
    std::string remoteAddress_;
    std::uint16_t remotePort_ = 0;
    std::string localAddress_;
    std::string pending_;   // queued, not yet handed to the socket
    std::string inFlight_;  // being written; untouched until the write completes
    bool writing_ = false;
    std::array<char, ReadChunkBytes> buffer_{};
};

class AsioTcpLink final : public TcpLink {
public:
    explicit AsioTcpLink(std::shared_ptr<TcpLinkCore> core) : core_(std::move(core)) {}
    ~AsioTcpLink() override { core_->close(); }

    void setHandlers(Handlers handlers) override { core_->setHandlers(std::move(handlers)); }
    void connect(const std::string& address, std::uint16_t port) override { core_->connect(address, port); }
    bool send(std::string_view bytes) override { return core_->send(bytes); }
    void close() override { core_->close(); }
    SocketState state() const override { return core_->state(); }
    std::string remoteAddress() const override { return core_->remoteAddress(); }
    std::uint16_t remotePort() const override { return core_->remotePort(); }
    std::string localAddress() const override { return core_->localAddress(); }

private:
    std::shared_ptr<TcpLinkCore> core_;
};

class TcpListenerCore : public std::enable_shared_from_this<TcpListenerCore> {
public:
    explicit TcpListenerCore(SharedTransportContext context)
        : context_(std::move(context)), acceptor_(context_->io), retryTimer_(context_->io) {}

    bool listen(const std::string& address, std::uint16_t port, TcpListener::AcceptHandler onAccept,
                SocketError* failure) {
        close();
        error_code ec;
        const auto ip = asio::ip::make_address_v4(address, ec);
        if (ec) return refuse({10049, "Cannot assign requested address"}, failure);
        const tcp::endpoint endpoint(ip, port);
        acceptor_.open(endpoint.protocol(), ec);
        if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec) acceptor_.bind(endpoint, ec);
        if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
        if (ec) return refuse(socketErrorFrom(ec), failure);
        onAccept_ = std::make_shared<const TcpListener::AcceptHandler>(std::move(onAccept));
        state_ = SocketState::Listening;
        acceptNext(session_);
        return true;
    }

    void close() {
        ++session_;
        error_code ignored;
        acceptor_.close(ignored);
        retryTimer_.cancel();
        state_ = SocketState::Closed;
    }

    SocketState state() const { return state_; }

    std::uint16_t localPort() const {
        error_code ec;
        const auto local = acceptor_.local_endpoint(ec);
        return ec ? 0 : local.port();
    }

private:
    bool refuse(const SocketError& error, SocketError* failure) {
        error_code ignored;
        acceptor_.close(ignored);
        state_ = SocketState::Error;
        if (failure) *failure = error;
        return false;
    }

    void acceptNext(unsigned session) {
        acceptor_.async_accept([self = shared_from_this(), session](const error_code& ec, tcp::socket socket) {
            self->onAccept(session, ec, std::move(socket));
        });
    }

    void onAccept(unsigned session, const error_code& ec, tcp::socket socket) {
        if (session != session_) return;
        if (ec) {
            // Out of descriptors and the like: try again a little later rather than spin.
            retryTimer_.expires_after(std::chrono::milliseconds(100));
            retryTimer_.async_wait([self = shared_from_this(), session](const error_code&) {
                if (session == self->session_) self->acceptNext(session);
            });
            return;
        }
        error_code peerError;
        const auto peer = socket.remote_endpoint(peerError);
        const std::string peerAddress = peerError ? std::string() : peer.address().to_string();
        if (peerError || !context_->guard.allows(peerAddress)) {
            if (!peerError)
                context_->reportRefused("TCP connection from " + endpointText(peerAddress, peer.port()) +
                                        " closed by the loopback guard");
            error_code ignored;
            socket.close(ignored);
        } else {
            auto core = std::make_shared<TcpLinkCore>(context_);
            core->adoptAccepted(std::move(socket));
            auto handler = onAccept_;
            if (*handler) (*handler)(std::make_unique<AsioTcpLink>(std::move(core)));
        }
        if (session == session_) acceptNext(session);
    }

    SharedTransportContext context_;
    tcp::acceptor acceptor_;
    asio::steady_timer retryTimer_;
    std::shared_ptr<const TcpListener::AcceptHandler> onAccept_;
    SocketState state_ = SocketState::Closed;
    unsigned session_ = 0;
};

class AsioTcpListener final : public TcpListener {
public:
    explicit AsioTcpListener(SharedTransportContext context)
        : core_(std::make_shared<TcpListenerCore>(std::move(context))) {}
    ~AsioTcpListener() override { core_->close(); }

    bool listen(const std::string& address, std::uint16_t port, AcceptHandler onAccept,
                SocketError* failure) override {
        return core_->listen(address, port, std::move(onAccept), failure);
    }
    void close() override { core_->close(); }
    SocketState state() const override { return core_->state(); }
    std::uint16_t localPort() const override { return core_->localPort(); }

private:
    std::shared_ptr<TcpListenerCore> core_;
};

}  // namespace

std::unique_ptr<TcpLink> makeAsioTcpLink(SharedTransportContext context) {
    return std::make_unique<AsioTcpLink>(std::make_shared<TcpLinkCore>(std::move(context)));
}

std::unique_ptr<TcpListener> makeAsioTcpListener(SharedTransportContext context) {
    return std::make_unique<AsioTcpListener>(std::move(context));
}

}  // namespace iplib
