#include "platform/socket_error_mapping.h"

#include <boost/asio/error.hpp>

#include <cerrno>
#include <cstring>

namespace iplib {

namespace {

struct KnownError {
    int errnoValue;
    int number;
    const char* description;
};

constexpr KnownError knownErrors[] = {
    {EINTR, 10004, "Interrupted function call"},
    {EBADF, 10009, "Bad file handle"},
    {EACCES, 10013, "Permission denied"},
    {EFAULT, 10014, "Bad address"},
    {EINVAL, 10022, "Invalid argument"},
    {EMFILE, 10024, "Too many open files"},
    {EWOULDBLOCK, 10035, "Resource temporarily unavailable"},
    {EINPROGRESS, 10036, "Operation now in progress"},
    {EALREADY, 10037, "Operation already in progress"},
    {ENOTSOCK, 10038, "Socket operation on non-socket"},
    {EMSGSIZE, 10040, "Message too long"},
    {EADDRINUSE, socket_errors::AddressInUse, "Address in use"},
    {EADDRNOTAVAIL, 10049, "Cannot assign requested address"},
    {ENETDOWN, 10050, "Network is down"},
    {ENETUNREACH, socket_errors::NetworkUnreachable, "Network is unreachable"},
    {ENETRESET, 10052, "Network dropped connection on reset"},
    {ECONNABORTED, socket_errors::ConnectionAborted, "Connection aborted"},
    {ECONNRESET, socket_errors::ConnectionReset, "Connection reset by peer"},
    // A write to a link the peer has already reset.
    {EPIPE, socket_errors::ConnectionReset, "Connection reset by peer"},
    {ENOBUFS, 10055, "No buffer space available"},
    {EISCONN, 10056, "Socket is already connected"},
    {ENOTCONN, 10057, "Socket is not connected"},
    {ESHUTDOWN, 10058, "Cannot send after socket shutdown"},
    {ETIMEDOUT, socket_errors::TimedOut, "Connection timed out"},
    {ECONNREFUSED, socket_errors::ConnectionRefused, "Connection is forcefully rejected"},
    {EHOSTDOWN, 10064, "Host is down"},
    {EHOSTUNREACH, socket_errors::HostUnreachable, "Host unreachable"},
};

}  // namespace

SocketError socketErrorFromErrno(int errnoValue) {
    for (const auto& known : knownErrors)
        if (known.errnoValue == errnoValue) return {known.number, known.description};
    return {10000 + errnoValue, std::strerror(errnoValue)};
}

SocketError socketErrorFrom(const boost::system::error_code& error) {
    if (error.category() == boost::system::system_category()) return socketErrorFromErrno(error.value());
    if (error == boost::asio::error::eof) return {socket_errors::ConnectionReset, "Connection reset by peer"};
    if (error == boost::asio::error::host_not_found) return {11001, "Host not found"};
    return {10000 + error.value(), error.message()};
}

}  // namespace iplib
