#include "terminal_sim/fleet.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/post.hpp>

#include <cstdio>

namespace terminal_sim {

namespace asio = boost::asio;

std::optional<std::string> nthLoopbackAddress(const std::string& first, std::size_t k) {
    boost::system::error_code ec;
    auto address = asio::ip::make_address_v4(first, ec);
    if (ec) return std::nullopt;
    std::uint64_t value = address.to_uint();
    auto usable = [](std::uint64_t v) { return (v & 0xFF) != 0 && (v & 0xFF) != 0xFF; };
    auto inLoopback = [](std::uint64_t v) { return (v >> 24) == 127; };
    if (!inLoopback(value) || !usable(value)) return std::nullopt;
    // 254 usable addresses per block of 256.
    std::uint64_t block = (value >> 8) + (((value & 0xFF) - 1 + k) / 254);
    std::uint64_t last = 1 + ((value & 0xFF) - 1 + k) % 254;
    std::uint64_t result = (block << 8) | last;
    if (!inLoopback(result)) return std::nullopt;
    return asio::ip::address_v4(static_cast<asio::ip::address_v4::uint_type>(result)).to_string();
}

Fleet::Fleet(asio::io_context& io, Options options) : options_(std::move(options)) { build(io); }

Fleet::Fleet(Options options) : options_(std::move(options)), ownIo_(std::make_unique<asio::io_context>()) {
    build(*ownIo_);
}

void Fleet::build(asio::io_context& io) {
    for (std::size_t k = 0; k < options_.count; ++k) {
        auto address = nthLoopbackAddress(options_.firstAddress, k);
        if (!address) {
            buildError_ = "no loopback address for terminal " + std::to_string(k + 1) + " after " +
                          options_.firstAddress;
            terminals_.clear();
            return;
        }
        auto terminalOptions = options_.terminal;
        terminalOptions.address = *address;
        terminalOptions.port = options_.port;
        char digits[8];
        std::snprintf(digits, sizeof digits, "%02zu", (k + 1) % 100);
        terminalOptions.addressDigits = digits;
        terminals_.push_back(std::make_unique<SimulatedTerminal>(io, std::move(terminalOptions)));
    }
}

bool Fleet::start(std::string* error) {
    if (!buildError_.empty()) {
        if (error) *error = buildError_;
        return false;
    }
    for (auto& terminal : terminals_) {
        if (!terminal->start(error)) {
            for (auto& started : terminals_) started->stop();
            return false;
        }
    }
    if (ownIo_ && !ownThread_.joinable()) {
        ownThread_ = std::thread([io = ownIo_.get()] {
            auto work = asio::make_work_guard(*io);
            io->run();
        });
    }
    return true;
}

Fleet::~Fleet() {
    // Each terminal's destructor queues its stop; the own loop is stopped behind them, so
    // the stops run first. Whatever they leave pending goes with the io_context.
    terminals_.clear();
    if (ownThread_.joinable()) {
        asio::post(*ownIo_, [io = ownIo_.get()] { io->stop(); });
        ownThread_.join();
    }
}

}  // namespace terminal_sim
