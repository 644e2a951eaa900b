#include "platform/asio_network.h"
#include "platform/asio_tcp.h"

#include "system/test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using namespace iplib;
using iplib::test::runUntil;

namespace {

// What a link reported, in order.
struct LinkEvents {
    bool connected = false;
    bool closedByPeer = false;
    std::optional<SocketError> error;
    std::string data;
    int dataEvents = 0;

    TcpLink::Handlers handlers() {
        return {[this] { connected = true; },
                [this](std::string_view bytes) {
                    data.append(bytes);
                    ++dataEvents;
                },
                [this] { closedByPeer = true; },
                [this](const SocketError& e) { error = e; }};
    }
};

struct NetworkFixture : ::testing::Test {
    EventLoop loop;
    std::vector<std::string> refusals;
    AsioNetwork network{loop, LoopbackGuard(true), [this](const std::string& line) { refusals.push_back(line); }};

    // A listener on 127.0.0.1 and a port of the system's choice, keeping what it accepts.
    std::unique_ptr<TcpListener> listener = network.makeTcpListener();
    std::vector<std::unique_ptr<TcpLink>> accepted;

    std::uint16_t listen() {
        SocketError failure;
        EXPECT_TRUE(listener->listen("127.0.0.1", 0,
                                     [this](std::unique_ptr<TcpLink> link) { accepted.push_back(std::move(link)); },
                                     &failure))
            << failure.description;
        EXPECT_EQ(listener->state(), SocketState::Listening);
        return listener->localPort();
    }

    bool waitFor(const std::function<bool()>& condition) { return runUntil(loop, condition); }
};

int openDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir)) ++count;
        ::closedir(dir);
    }
    return count;
}

// Plain blocking socket connected to 127.0.0.1:port, for driving a link from outside.
int rawConnect(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool rawWriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string patternBytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

}  // namespace

TEST_F(NetworkFixture, ConnectExchangeBothWaysAndCloseByPeer) {
    const std::uint16_t port = listen();
    auto client = network.makeTcpLink();
    LinkEvents clientEvents;
    client->setHandlers(clientEvents.handlers());
    EXPECT_EQ(client->state(), SocketState::Closed);
    EXPECT_FALSE(client->send("too early"));
    client->connect("127.0.0.1", port);
    EXPECT_EQ(client->state(), SocketState::Connecting);
    EXPECT_FALSE(clientEvents.connected);  // never from inside the call
    ASSERT_TRUE(waitFor([&] { return clientEvents.connected && accepted.size() == 1; }));
    EXPECT_EQ(client->state(), SocketState::Connected);
    EXPECT_EQ(client->remoteAddress(), "127.0.0.1");
    EXPECT_EQ(client->remotePort(), port);
    EXPECT_EQ(client->localAddress(), "127.0.0.1");

    TcpLink& server = *accepted[0];
    EXPECT_EQ(server.state(), SocketState::Connected);
    EXPECT_EQ(server.remoteAddress(), "127.0.0.1");
    LinkEvents serverEvents;
    server.setHandlers(serverEvents.handlers());

    // Every byte value, in order, through several queued sends.
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(client->send(all));
    ASSERT_TRUE(waitFor([&] { return serverEvents.data.size() == 4 * all.size(); }));
    EXPECT_EQ(serverEvents.data, all + all + all + all);

    ASSERT_TRUE(server.send("\x02" "ACK\x03"));
    ASSERT_TRUE(waitFor([&] { return clientEvents.data == "\x02" "ACK\x03"; }));

    server.close();
    EXPECT_EQ(server.state(), SocketState::Closed);
    ASSERT_TRUE(waitFor([&] { return clientEvents.closedByPeer; }));
    EXPECT_EQ(client->state(), SocketState::Closing);
    EXPECT_EQ(client->remoteAddress(), "127.0.0.1");
    EXPECT_FALSE(client->send("after the peer left"));
    client->close();
    EXPECT_EQ(client->state(), SocketState::Closed);
    EXPECT_EQ(client->remoteAddress(), "");
    EXPECT_FALSE(clientEvents.error);
    EXPECT_FALSE(serverEvents.closedByPeer);  // closed by ourselves: no event
}

TEST_F(NetworkFixture, ConnectToClosedPortIsRefusedWith10061) {
    // A port that was just free on 127.0.0.1.
    std::uint16_t port;
    {
        auto probe = network.makeTcpListener();
        ASSERT_TRUE(probe->listen("127.0.0.1", 0, [](std::unique_ptr<TcpLink>) {}));
        port = probe->localPort();
    }
    auto link = network.makeTcpLink();
    LinkEvents events;
    link->setHandlers(events.handlers());
    link->connect("127.0.0.1", port);
    ASSERT_TRUE(waitFor([&] { return events.error.has_value(); }));
    EXPECT_EQ(events.error->number, 10061);
    EXPECT_EQ(events.error->description, "Connection is forcefully rejected");
    EXPECT_EQ(link->state(), SocketState::Error);
    EXPECT_FALSE(events.connected);
    EXPECT_TRUE(refusals.empty());
}

TEST_F(NetworkFixture, GuardRefusesOutsideAddressesBeforeAnySocketExists) {
    auto link = network.makeTcpLink();
    LinkEvents events;
    link->setHandlers(events.handlers());
    const int descriptorsBefore = openDescriptorCount();
    link->connect("10.1.2.3", 1024);
    // No socket was made: nothing can have left this computer.
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_NE(refusals[0].find("10.1.2.3:1024"), std::string::npos);
    EXPECT_FALSE(events.error);  // delivered later, from the loop
    ASSERT_TRUE(waitFor([&] { return events.error.has_value(); }));
    EXPECT_EQ(events.error->number, 10051);
    EXPECT_EQ(events.error->description, "Network is unreachable");
    EXPECT_EQ(link->state(), SocketState::Error);
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);

    // A close before the error is delivered means no error at all.
    LinkEvents quiet;
    link->setHandlers(quiet.handlers());
    link->connect("192.168.1.20", 1024);
    link->close();
    bool settled = false;
    OneShotTimer after(loop);
    after.start(20ms, [&] { settled = true; });
    ASSERT_TRUE(waitFor([&] { return settled; }));
    EXPECT_FALSE(quiet.error);
}

TEST_F(NetworkFixture, OneDataEventCarriesEverythingThatHadArrived) {
    const std::uint16_t port = listen();
    const int raw = rawConnect(port);
    ASSERT_GE(raw, 0);
    ASSERT_TRUE(waitFor([&] { return accepted.size() == 1; }));
    // More than one read's worth, written in pieces while the accepted link is not yet
    // reading; then wait until the receiving side has acknowledged all of it, so it is
    // all there when the link starts to read.
    const std::string bytes = patternBytes(90 * 1024);
    for (std::size_t at = 0; at < bytes.size(); at += 10 * 1024)
        ASSERT_TRUE(rawWriteAll(raw, bytes.substr(at, 10 * 1024)));
    for (int unacknowledged = -1; unacknowledged != 0;) {
        ASSERT_EQ(::ioctl(raw, TIOCOUTQ, &unacknowledged), 0);
        std::this_thread::sleep_for(2ms);
    }
    LinkEvents events;
    accepted[0]->setHandlers(events.handlers());
    ASSERT_TRUE(waitFor([&] { return events.data.size() == bytes.size(); }));
    EXPECT_EQ(events.data, bytes);
    EXPECT_EQ(events.dataEvents, 1);
    ::close(raw);
    ASSERT_TRUE(waitFor([&] { return events.closedByPeer; }));
}

TEST_F(NetworkFixture, OutgoingQueueIsBoundedAndKeepsOrder) {
    const std::uint16_t port = listen();
    auto client = network.makeTcpLink();
    LinkEvents clientEvents;
    client->setHandlers(clientEvents.handlers());
    client->connect("127.0.0.1", port);
    ASSERT_TRUE(waitFor([&] { return clientEvents.connected && accepted.size() == 1; }));

    const std::string big = patternBytes(MaxTcpQueuedBytes);
    ASSERT_TRUE(client->send(big));
    EXPECT_FALSE(client->send("x"));  // the queue is full until the loop writes it out
    LinkEvents serverEvents;
    accepted[0]->setHandlers(serverEvents.handlers());
    // Room again once the loop has handed the queue to the system.
    ASSERT_TRUE(waitFor([&] { return client->send("tail"); }));
    ASSERT_TRUE(waitFor([&] { return serverEvents.data.size() == big.size() + 4; }));
    EXPECT_EQ(serverEvents.data, big + "tail");
}

TEST_F(NetworkFixture, LinkMayBeDestroyedInsideItsOwnHandlers) {
    const std::uint16_t port = listen();
    std::unique_ptr<TcpLink> client = network.makeTcpLink();
    bool connected = false;
    bool gone = false;
    // The client sends once connected, and drops itself when the peer leaves.
    client->setHandlers({[&] {
                             connected = true;
                             client->send("bye");
                         },
                         {},
                         [&] {
                             client.reset();
                             gone = true;
                         },
                         [&](const SocketError&) {
                             client.reset();
                             gone = true;
                         }});
    client->connect("127.0.0.1", port);
    ASSERT_TRUE(waitFor([&] { return connected && accepted.size() == 1; }));

    // The accepted side drops itself from its data handler.
    std::string got;
    accepted[0]->setHandlers({{},
                              [&](std::string_view bytes) {
                                  got.append(bytes);
                                  accepted.clear();
                              },
                              {},
                              {}});
    ASSERT_TRUE(waitFor([&] { return accepted.empty() && gone; }));
    EXPECT_EQ(got, "bye");
    EXPECT_EQ(client, nullptr);
}

TEST_F(NetworkFixture, ListenerReportsAPortInUseAndAcceptsManyLinks) {
    const std::uint16_t port = listen();
    auto second = network.makeTcpListener();
    SocketError failure;
    EXPECT_FALSE(second->listen("127.0.0.1", port, [](std::unique_ptr<TcpLink>) {}, &failure));
    EXPECT_EQ(failure.number, 10048);
    EXPECT_EQ(second->state(), SocketState::Error);

    std::vector<std::unique_ptr<TcpLink>> clients;
    std::vector<LinkEvents> events(5);
    for (auto& e : events) {
        clients.push_back(network.makeTcpLink());
        clients.back()->setHandlers(e.handlers());
        clients.back()->connect("127.0.0.1", port);
    }
    ASSERT_TRUE(waitFor([&] { return accepted.size() == clients.size(); }));
    listener->close();
    EXPECT_EQ(listener->state(), SocketState::Closed);
    auto late = network.makeTcpLink();
    LinkEvents lateEvents;
    late->setHandlers(lateEvents.handlers());
    late->connect("127.0.0.1", port);
    ASSERT_TRUE(waitFor([&] { return lateEvents.error.has_value(); }));
    EXPECT_EQ(lateEvents.error->number, 10061);
}
