#include "platform/asio_network.h"

#include "system/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

using namespace std::chrono_literals;
using namespace iplib;
using iplib::test::runUntil;

namespace {

// The far end of a serial line: the master side of a pseudo-terminal, whose other side
// the port under test opens through IPLIB_SERIAL_PORT_<n>.
class PseudoTerminal {
public:
    explicit PseudoTerminal(int portNumber) : variable_("IPLIB_SERIAL_PORT_" + std::to_string(portNumber)) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        termios raw{};
        ::tcgetattr(master_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(master_, TCSANOW, &raw);
        ::setenv(variable_.c_str(), ::ptsname(master_), 1);
    }
    ~PseudoTerminal() {
        hangUp();
        ::unsetenv(variable_.c_str());
    }

    bool ready() const { return master_ >= 0; }
    void hangUp() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    bool write(const std::string& bytes) { return ::write(master_, bytes.data(), bytes.size()) == ssize_t(bytes.size()); }
    // What the port has written so far (never waits).
    std::string readNow() {
        std::string got;
        char buffer[4096];
        for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<std::size_t>(n));
        return got;
    }

private:
    std::string variable_;
    int master_ = -1;
};

struct SerialFixture : ::testing::Test {
    EventLoop loop;
    AsioNetwork network{loop, LoopbackGuard(true), {}};
    std::unique_ptr<SerialPort> port = network.makeSerialPort();
};

}  // namespace

TEST_F(SerialFixture, BytesTravelBothWaysThroughTheOverriddenDevice) {
    PseudoTerminal far(71);
    ASSERT_TRUE(far.ready());
    ASSERT_TRUE(port->open(71, "115200,n,8,1", true));  // a pseudo-terminal has no DTR/RTS: still opens
    EXPECT_TRUE(port->isOpen());
    EXPECT_EQ(port->readAvailable(), "");

    std::string every;
    for (int i = 0; i < 256; ++i) every += static_cast<char>(i);
    ASSERT_TRUE(far.write(every + "\r\n"));
    std::string received;
    ASSERT_TRUE(runUntil(loop, [&] {
        received += port->readAvailable();
        return received.size() >= every.size() + 2;
    }));
    EXPECT_EQ(received, every + "\r\n");

    ASSERT_TRUE(port->write("\x02KEY\x03"));
    ASSERT_TRUE(port->write(every));
    std::string written;
    ASSERT_TRUE(runUntil(loop, [&] {
        written += far.readNow();
        return written.size() >= 5 + every.size();
    }));
    EXPECT_EQ(written, "\x02KEY\x03" + every);

    port->close();
    EXPECT_FALSE(port->isOpen());
    EXPECT_FALSE(port->write("x"));
}

TEST_F(SerialFixture, RefusesBadSettingsAndMissingDevices) {
    PseudoTerminal far(72);
    ASSERT_TRUE(far.ready());
    EXPECT_FALSE(port->open(72, "9600,X,8,1", false));
    EXPECT_FALSE(port->isOpen());
    ::setenv("IPLIB_SERIAL_PORT_73", "/nonexistent/tty", 1);
    EXPECT_FALSE(port->open(73, "9600,N,8,1", false));
    ::unsetenv("IPLIB_SERIAL_PORT_73");
    EXPECT_FALSE(port->open(0, "9600,N,8,1", false));
    EXPECT_TRUE(port->open(72, "9600,N,8,1", false));
}

TEST_F(SerialFixture, PortClosesWhenTheDeviceGoesAwayKeepingWhatArrived) {
    PseudoTerminal far(74);
    ASSERT_TRUE(far.ready());
    ASSERT_TRUE(port->open(74, "9600,N,8,1", false));
    std::string received;
    ASSERT_TRUE(far.write("last words"));
    ASSERT_TRUE(runUntil(loop, [&] {
        received += port->readAvailable();
        return received == "last words";
    }));
    ASSERT_TRUE(far.write("tail"));
    far.hangUp();
    ASSERT_TRUE(runUntil(loop, [&] { return !port->isOpen(); }));
    received += port->readAvailable();
    EXPECT_TRUE(received == "last words" || received == "last wordstail") << received;
}
