// What every real transport of the network layer shares: the event loop's context, the
// loopback guard, and where a refused destination is reported. Held through a shared
// pointer, so that a link outliving its factory still has it.
#pragma once

#include "platform/loopback_guard.h"

#include <boost/asio/io_context.hpp>

#include <functional>
#include <memory>
#include <string>

namespace iplib {

struct TransportContext {
    boost::asio::io_context& io;
    LoopbackGuard guard;
    std::function<void(const std::string&)> logRefused;

    void reportRefused(const std::string& what) const {
        if (logRefused) logRefused(what);
    }
};

using SharedTransportContext = std::shared_ptr<const TransportContext>;

}  // namespace iplib
