#include "platform/asio_serial.h"

#include <gtest/gtest.h>

#include <cstdlib>

using iplib::parseSerialSettings;
using iplib::SerialSettings;
using Stop = SerialSettings::StopBits;

TEST(SerialSettings, ParsesBaudParityDataAndStopBits) {
    struct Case { const char* text; SerialSettings expected; };
    const Case cases[] = {
        {"9600,N,8,1", {9600, 'N', 8, Stop::One}},
        {"115200,n,8,1", {115200, 'N', 8, Stop::One}},
        {"2400,e,7,2", {2400, 'E', 7, Stop::Two}},
        {"1200,O,5,1.5", {1200, 'O', 5, Stop::OneAndHalf}},
        {" 19200 , N , 8 , 1 ", {19200, 'N', 8, Stop::One}},
    };
    for (const auto& c : cases) {
        const auto parsed = parseSerialSettings(c.text);
        ASSERT_TRUE(parsed) << c.text;
        EXPECT_EQ(*parsed, c.expected) << c.text;
    }
}

TEST(SerialSettings, RefusesAnythingElse) {
    for (const char* text : {"", "9600", "9600,N,8", "9600,N,8,1,0", "0,N,8,1", "-9600,N,8,1", "96x0,N,8,1",
                             "9600,X,8,1", "9600,NN,8,1", "9600,N,9,1", "9600,N,4,1", "9600,N,8,3",
                             "9600,N,8,", "9600,M,8,1"})
        EXPECT_FALSE(parseSerialSettings(text)) << '"' << text << '"';
}

TEST(SerialSettings, PortNumberMapsToDeviceUnlessOverridden) {
    ::unsetenv("IPLIB_SERIAL_PORT_1");
    ::unsetenv("IPLIB_SERIAL_PORT_0");
    EXPECT_EQ(iplib::serialDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(iplib::serialDevicePath(4), "/dev/ttyS3");
    EXPECT_EQ(iplib::serialDevicePath(0), "");
    EXPECT_EQ(iplib::serialDevicePath(-2), "");
    ::setenv("IPLIB_SERIAL_PORT_0", "/dev/pts/9", 1);
    ::setenv("IPLIB_SERIAL_PORT_1", "/dev/ttyUSB0", 1);
    EXPECT_EQ(iplib::serialDevicePath(0), "/dev/pts/9");
    EXPECT_EQ(iplib::serialDevicePath(1), "/dev/ttyUSB0");
    EXPECT_EQ(iplib::serialDevicePath(2), "/dev/ttyS1");
    ::unsetenv("IPLIB_SERIAL_PORT_0");
    ::unsetenv("IPLIB_SERIAL_PORT_1");
}
