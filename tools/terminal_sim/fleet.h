// Many simulated terminals on consecutive loopback addresses, all on the same port, as a
// site's terminals sit on consecutive addresses of its network. Any 127.x.x.x address
// works on Linux loopback without configuration.
//
// A fleet runs either on the caller's io_context, or on an io_context and thread of its
// own, for tests and benchmarks that drive the library in the same process.
#pragma once

#include "terminal_sim/simulator.h"

#include <boost/asio/io_context.hpp>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace terminal_sim {

// The k-th address after `first` (k = 0 gives `first`), counting only addresses whose last
// octet is 1 to 254: 127.0.0.254 is followed by 127.0.1.1. Empty when `first` is not a
// 127.x.x.x address or the count runs out of 127.0.0.0/8.
std::optional<std::string> nthLoopbackAddress(const std::string& first, std::size_t k);

class Fleet {
public:
    struct Options {
        std::size_t count = 1;
        std::string firstAddress = "127.0.0.2";
        std::uint16_t port = 1024;  // 0: each terminal on a free port of its own
        // Address and addressDigits are set per terminal: the digits are the terminal's
        // position in the fleet, from "01", modulo 100.
        SimulatedTerminal::Options terminal;
    };

    Fleet(boost::asio::io_context& io, Options options);  // the caller runs io
    explicit Fleet(Options options);  // own io_context, run on its own thread once started
    ~Fleet();                         // stops the terminals, then the own thread if any
    Fleet(const Fleet&) = delete;
    Fleet& operator=(const Fleet&) = delete;

    // Starts every terminal; on the first failure stops and gives its reason.
    bool start(std::string* error = nullptr);

    std::size_t size() const { return terminals_.size(); }
    SimulatedTerminal& operator[](std::size_t index) { return *terminals_[index]; }
    const SimulatedTerminal& operator[](std::size_t index) const { return *terminals_[index]; }

private:
    void build(boost::asio::io_context& io);

    Options options_;
    std::unique_ptr<boost::asio::io_context> ownIo_;
    std::thread ownThread_;
    std::vector<std::unique_ptr<SimulatedTerminal>> terminals_;
    std::string buildError_;
};

}  // namespace terminal_sim
