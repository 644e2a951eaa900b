// Scripted transports for unit tests: links that record what the library sends and let
// the test play the terminal's side (accept, send bytes, close, fail).
#pragma once

#include "platform/network.h"

#include <memory>
#include <string>
#include <vector>

namespace iplib::testing {

struct StubLinkState {
    TcpLink::Handlers handlers;
    std::string address;
    std::uint16_t port = 0;
    SocketState state = SocketState::Closed;
    std::string sent;  // every byte the library sent
    bool alive = true; // the library still holds the link object
    int closes = 0;

    // The terminal's side.
    void accept() {
        state = SocketState::Connected;
        if (alive && handlers.connected) handlers.connected();
    }
    void peerSends(std::string_view bytes) {
        if (alive && handlers.data) handlers.data(bytes);
    }
    void peerCloses() {
        if (alive && handlers.closedByPeer) handlers.closedByPeer();
    }
    void fail(int number, const std::string& description) {
        state = SocketState::Error;
        if (alive && handlers.error) handlers.error({number, description});
    }
    // What was sent since the last call.
    std::string takeSent() {
        std::string s = std::move(sent);
        sent.clear();
        return s;
    }
};

class StubTcpLink final : public TcpLink {
public:
    explicit StubTcpLink(std::shared_ptr<StubLinkState> s) : s_(std::move(s)) {}
    ~StubTcpLink() override { s_->alive = false; }
    void setHandlers(Handlers h) override { s_->handlers = std::move(h); }
    void connect(const std::string& address, std::uint16_t port) override {
        s_->address = address;
        s_->port = port;
        s_->state = SocketState::Connecting;
    }
    bool send(std::string_view bytes) override {
        if (s_->state != SocketState::Connected) return false;
        s_->sent += bytes;
        return true;
    }
    void close() override {
        s_->state = SocketState::Closed;
        ++s_->closes;
    }
    SocketState state() const override { return s_->state; }
    std::string remoteAddress() const override { return s_->state == SocketState::Closed ? "" : s_->address; }
    std::uint16_t remotePort() const override { return s_->port; }
    std::string localAddress() const override { return "127.0.0.1"; }

private:
    std::shared_ptr<StubLinkState> s_;
};

struct Datagram {
    std::string bytes;
    std::string address;
    std::uint16_t port;
};

class StubUdpEndpoint final : public UdpEndpoint {
public:
    explicit StubUdpEndpoint(std::vector<Datagram>& sent) : sent_(sent) {}
    bool bind(const std::string&, std::uint16_t port, ReceiveHandler h, SocketError*) override {
        port_ = port;
        handler_ = std::move(h);
        return true;
    }
    bool sendTo(std::string_view d, const std::string& address, std::uint16_t port) override {
        sent_.push_back({std::string(d), address, port});
        return true;
    }
    void close() override {}
    std::uint16_t localPort() const override { return port_; }

private:
    std::vector<Datagram>& sent_;
    std::uint16_t port_ = 0;
    ReceiveHandler handler_;
};

class StubNetwork final : public Network {
public:
    std::unique_ptr<TcpLink> makeTcpLink() override {
        links.push_back(std::make_shared<StubLinkState>());
        return std::make_unique<StubTcpLink>(links.back());
    }
    std::unique_ptr<TcpListener> makeTcpListener() override { return nullptr; }
    std::unique_ptr<UdpEndpoint> makeUdpEndpoint() override { return std::make_unique<StubUdpEndpoint>(datagrams); }
    std::unique_ptr<SerialPort> makeSerialPort() override { return nullptr; }

    // The newest link opened towards an address (null when none).
    std::shared_ptr<StubLinkState> linkTo(const std::string& address) const {
        for (auto it = links.rbegin(); it != links.rend(); ++it)
            if ((*it)->address == address && (*it)->alive) return *it;
        return nullptr;
    }

    std::vector<std::shared_ptr<StubLinkState>> links;
    std::vector<Datagram> datagrams;
};

}  // namespace iplib::testing
