// The bytes waiting to go out on the terminal links, in order. The transmit cycle and
// the receive path add entries; the main cycle sends at most 20 a tick.
#pragma once

#include <deque>
#include <string>

namespace iplib {

struct TransmitEntry {
    int slot;
    std::string bytes;
};

using TransmitList = std::deque<TransmitEntry>;

}  // namespace iplib
