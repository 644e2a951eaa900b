#include "platform/asio_network.h"

#include "system/test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <vector>

using namespace std::chrono_literals;
using namespace iplib;
using iplib::test::runUntil;

namespace {

struct Datagram {
    std::string bytes;
    std::string fromAddress;
    std::uint16_t fromPort;
};

struct UdpFixture : ::testing::Test {
    EventLoop loop;
    std::vector<std::string> refusals;
    AsioNetwork network{loop, LoopbackGuard(true), [this](const std::string& line) { refusals.push_back(line); }};

    // An endpoint bound to address:port that keeps what it receives.
    std::unique_ptr<UdpEndpoint> bound(const std::string& address, std::uint16_t port,
                                       std::vector<Datagram>& received) {
        auto endpoint = network.makeUdpEndpoint();
        SocketError failure;
        EXPECT_TRUE(endpoint->bind(
            address, port,
            [&received](std::string_view bytes, const std::string& from, std::uint16_t fromPort) {
                received.push_back({std::string(bytes), from, fromPort});
            },
            &failure))
            << address << ":" << port << " " << failure.description;
        return endpoint;
    }

    // Runs the loop a little so that anything in flight arrives; used only where the test
    // checks that something did NOT arrive, after something sent later did.
    void settle() {
        bool done = false;
        OneShotTimer timer(loop);
        timer.start(30ms, [&] { done = true; });
        ASSERT_TRUE(runUntil(loop, [&] { return done; }));
    }
};

int openDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir)) ++count;
        ::closedir(dir);
    }
    return count;
}

}  // namespace

TEST_F(UdpFixture, DatagramsCarryTheirBytesAndSender) {
    std::vector<Datagram> atA, atB;
    auto a = bound("127.0.0.1", 0, atA);
    auto b = bound("127.0.0.1", 0, atB);
    std::string every;
    for (int i = 0; i < 256; ++i) every += static_cast<char>(i);
    ASSERT_TRUE(a->sendTo(every, "127.0.0.1", b->localPort()));
    ASSERT_TRUE(a->sendTo("", "127.0.0.1", b->localPort()));
    ASSERT_TRUE(runUntil(loop, [&] { return atB.size() == 2; }));
    EXPECT_EQ(atB[0].bytes, every);
    EXPECT_EQ(atB[1].bytes, "");
    EXPECT_EQ(atB[0].fromAddress, "127.0.0.1");
    EXPECT_EQ(atB[0].fromPort, a->localPort());

    ASSERT_TRUE(b->sendTo("back", atB[0].fromAddress, atB[0].fromPort));
    ASSERT_TRUE(runUntil(loop, [&] { return atA.size() == 1; }));
    EXPECT_EQ(atA[0].bytes, "back");
}

TEST_F(UdpFixture, GuardDropsOutsideDestinationsBeforeAnySocketCall) {
    auto sender = network.makeUdpEndpoint();  // never bound: no socket yet
    const int descriptorsBefore = openDescriptorCount();
    EXPECT_FALSE(sender->sendTo("x", "10.20.30.40", 1024));
    EXPECT_FALSE(sender->sendTo("x", "192.168.1.255", 1027));
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    ASSERT_EQ(refusals.size(), 2u);
    EXPECT_NE(refusals[0].find("10.20.30.40:1024"), std::string::npos);
    EXPECT_NE(refusals[1].find("192.168.1.255:1027"), std::string::npos);
}

// Under the guard the broadcast address becomes 127.255.255.255. The system delivers such
// a datagram to every socket of the port bound to the wildcard address (as a LAN
// broadcast reaches every host); a socket bound to 127.0.0.1 itself does not receive it,
// just as a socket bound to a host's own address does not receive a LAN broadcast.
TEST_F(UdpFixture, BroadcastReachesEveryWildcardSocketOfThePort) {
    std::vector<Datagram> first, second, specific;
    auto one = bound("0.0.0.0", 0, first);
    const std::uint16_t port = one->localPort();
    auto two = bound("0.0.0.0", port, second);  // address reuse: the port is shared
    auto three = bound("127.0.0.1", port, specific);
    auto sender = network.makeUdpEndpoint();
    ASSERT_TRUE(sender->sendTo("hello all", "255.255.255.255", port));
    ASSERT_TRUE(runUntil(loop, [&] { return first.size() == 1 && second.size() == 1; }));
    EXPECT_EQ(first[0].bytes, "hello all");
    EXPECT_EQ(second[0].bytes, "hello all");
    EXPECT_TRUE(refusals.empty());
    settle();
    EXPECT_TRUE(specific.empty());
    EXPECT_EQ(first.size(), 1u);
}

TEST_F(UdpFixture, ClosedOrDestroyedEndpointReceivesNothingMore) {
    std::vector<Datagram> kept, dropped;
    auto keeper = bound("127.0.0.1", 0, kept);
    std::unique_ptr<UdpEndpoint> selfDropping = network.makeUdpEndpoint();
    ASSERT_TRUE(selfDropping->bind("127.0.0.1", 0, [&](std::string_view bytes, const std::string&, std::uint16_t) {
        dropped.push_back({std::string(bytes), "", 0});
        selfDropping.reset();
    }));
    const std::uint16_t droppedPort = selfDropping->localPort();
    auto sender = network.makeUdpEndpoint();
    ASSERT_TRUE(sender->sendTo("1", "127.0.0.1", droppedPort));
    ASSERT_TRUE(sender->sendTo("2", "127.0.0.1", droppedPort));
    ASSERT_TRUE(runUntil(loop, [&] { return selfDropping == nullptr; }));
    ASSERT_TRUE(sender->sendTo("after", "127.0.0.1", keeper->localPort()));
    ASSERT_TRUE(runUntil(loop, [&] { return kept.size() == 1; }));
    EXPECT_EQ(dropped.size(), 1u);

    keeper->close();
    EXPECT_EQ(keeper->localPort(), 0);
    SocketError failure;
    auto busy = network.makeUdpEndpoint();
    EXPECT_FALSE(busy->bind("not an address", 0, {}, &failure));
    EXPECT_NE(failure.number, 0);
}
