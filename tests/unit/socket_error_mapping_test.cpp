#include "platform/socket_error_mapping.h"

#include <boost/asio/error.hpp>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using iplib::socketErrorFrom;
using iplib::socketErrorFromErrno;

TEST(SocketErrorMapping, SystemErrorsGetTheCustomersNumbersAndTexts) {
    struct Case { int errnoValue; int number; const char* description; };
    const Case cases[] = {
        {ECONNREFUSED, 10061, "Connection is forcefully rejected"},
        {ETIMEDOUT, 10060, "Connection timed out"},
        {ECONNRESET, 10054, "Connection reset by peer"},
        {EPIPE, 10054, "Connection reset by peer"},
        {ECONNABORTED, 10053, "Connection aborted"},
        {EHOSTUNREACH, 10065, "Host unreachable"},
        {ENETUNREACH, 10051, "Network is unreachable"},
        {EADDRINUSE, 10048, "Address in use"},
    };
    for (const auto& c : cases) {
        const auto error = socketErrorFromErrno(c.errnoValue);
        EXPECT_EQ(error.number, c.number) << c.errnoValue;
        EXPECT_EQ(error.description, c.description) << c.errnoValue;
    }
}

TEST(SocketErrorMapping, UnknownErrnoKeepsItsValueAndTheSystemText) {
    const auto error = socketErrorFromErrno(ENOSPC);
    EXPECT_EQ(error.number, 10000 + ENOSPC);
    EXPECT_EQ(error.description, std::strerror(ENOSPC));
}

TEST(SocketErrorMapping, AsioErrorsMapLikeTheSystemErrorsTheyStandFor) {
    EXPECT_EQ(socketErrorFrom(boost::asio::error::connection_refused).number, 10061);
    EXPECT_EQ(socketErrorFrom(boost::asio::error::timed_out).number, 10060);
    EXPECT_EQ(socketErrorFrom(boost::asio::error::eof).number, 10054);
    EXPECT_FALSE(socketErrorFrom(boost::asio::error::not_found).description.empty());
}
