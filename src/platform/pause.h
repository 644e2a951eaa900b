// PAUSE: a wait of some seconds (fractions allowed) during which every other event of the
// library goes on. It is a coroutine awaited by its caller, so the event loop is never
// run from inside a handler; it ends early when the clock reads earlier than at its start
// (midnight passed). A pause of 0 or less returns at once.
#pragma once

#include "platform/clock.h"

#include <boost/asio/awaitable.hpp>

namespace iplib {

boost::asio::awaitable<void> pauseFor(const Clock& clock, double seconds);

}  // namespace iplib
