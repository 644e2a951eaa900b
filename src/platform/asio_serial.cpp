#include "platform/asio_serial.h"

#include <boost/asio/serial_port.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <sys/ioctl.h>
#include <vector>

namespace iplib {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

std::string trimmed(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

std::vector<std::string> fields(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        out.push_back(trimmed(text.substr(start, comma - start)));
        if (comma == std::string::npos) return out;
        start = comma + 1;
    }
}

std::optional<unsigned> wholeNumber(const std::string& text) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

asio::serial_port_base::parity parityOption(char parity) {
    using P = asio::serial_port_base::parity;
    return P(parity == 'E' ? P::even : parity == 'O' ? P::odd : P::none);
}

asio::serial_port_base::stop_bits stopBitsOption(SerialSettings::StopBits stopBits) {
    using S = asio::serial_port_base::stop_bits;
    switch (stopBits) {
        case SerialSettings::StopBits::OneAndHalf: return S(S::onepointfive);
        case SerialSettings::StopBits::Two: return S(S::two);
        default: return S(S::one);
    }
}

// Shared with the pending operations so that they complete safely after the port object
// is gone; a close starts a new session whose predecessor's completions do nothing.
class SerialCore : public std::enable_shared_from_this<SerialCore> {
public:
    explicit SerialCore(SharedTransportContext context) : context_(std::move(context)), port_(context_->io) {}

    bool open(int portNumber, const std::string& settingsText, bool dtrRtsOff) {
        close();
        const auto settings = parseSerialSettings(settingsText);
        const std::string device = serialDevicePath(portNumber);
        if (!settings || device.empty()) return false;
        error_code ec;
        port_.open(device, ec);
        if (!ec) port_.set_option(asio::serial_port_base::baud_rate(settings->baudRate), ec);
        if (!ec) port_.set_option(parityOption(settings->parity), ec);
        if (!ec) port_.set_option(asio::serial_port_base::character_size(settings->dataBits), ec);
        if (!ec) port_.set_option(stopBitsOption(settings->stopBits), ec);
        if (!ec)
            port_.set_option(asio::serial_port_base::flow_control(asio::serial_port_base::flow_control::none), ec);
        if (ec) {
            close();
            return false;
        }
        if (dtrRtsOff) {
            // Lines a device without modem lines (a pseudo-terminal) does not have are
            // simply not there to switch; that is no reason to refuse the port.
            int lines = TIOCM_DTR | TIOCM_RTS;
            (void)::ioctl(port_.native_handle(), TIOCMBIC, &lines);
        }
        readNext(session_);
        return true;
    }

    bool write(std::string_view bytes) {
        if (!port_.is_open()) return false;
        if (pending_.size() + inFlight_.size() + bytes.size() > MaxSerialBufferedBytes) return false;
        pending_.append(bytes);
        if (!writing_ && !pending_.empty()) writeNext();
        return true;
    }

    std::string readAvailable() {
        std::string out;
        out.swap(received_);
        return out;
    }

    void close() {
        ++session_;
        error_code ignored;
        port_.close(ignored);
        pending_.clear();
        writing_ = false;
        received_.clear();
    }

    bool isOpen() const { return port_.is_open(); }

private:
    void readNext(unsigned session) {
        port_.async_read_some(asio::buffer(chunk_), [self = shared_from_this(), session](const error_code& ec,
                                                                                          std::size_t n) {
            self->onRead(session, ec, n);
        });
    }

    void onRead(unsigned session, const error_code& ec, std::size_t n) {
        if (session != session_) return;
        if (ec) {
            // The device went away (unplugged adapter, other end of a pseudo-terminal
            // closed): keep what arrived, stop reading.
            std::string keep = std::move(received_);
            close();
            received_ = std::move(keep);
            return;
        }
        const std::size_t room = MaxSerialBufferedBytes - received_.size();
        received_.append(chunk_.data(), std::min(n, room));
        readNext(session);
    }

    void writeNext() {
        inFlight_.swap(pending_);
        writing_ = true;
        asio::async_write(port_, asio::buffer(inFlight_),
                          [self = shared_from_this(), session = session_](const error_code& ec, std::size_t) {
                              if (session != self->session_) return;
                              self->writing_ = false;
                              self->inFlight_.clear();
                              if (ec) {
                                  self->pending_.clear();
                                  return;
                              }
                              if (!self->pending_.empty()) self->writeNext();
                          });
    }

    SharedTransportContext context_;
    asio::serial_port port_;
    unsigned session_ = 0;
    std::string received_;
    std::string pending_;
    std::string inFlight_;
    bool writing_ = false;
    std::array<char, 4096> chunk_{};
};

class AsioSerialPort final : public SerialPort {
public:
    explicit AsioSerialPort(SharedTransportContext context)
        : core_(std::make_shared<SerialCore>(std::move(context))) {}
    ~AsioSerialPort() override { core_->close(); }

    bool open(int portNumber, const std::string& settings, bool dtrRtsOff) override {
        return core_->open(portNumber, settings, dtrRtsOff);
    }
    bool write(std::string_view bytes) override { return core_->write(bytes); }
    std::string readAvailable() override { return core_->readAvailable(); }
    void close() override { core_->close(); }
    bool isOpen() const override { return core_->isOpen(); }

private:
    std::shared_ptr<SerialCore> core_;
};

}  // namespace

std::optional<SerialSettings> parseSerialSettings(const std::string& text) {
    const auto parts = fields(text);
    if (parts.size() != 4) return std::nullopt;
    SerialSettings settings;
    const auto baud = wholeNumber(parts[0]);
    if (!baud || *baud == 0) return std::nullopt;
    settings.baudRate = *baud;
    if (parts[1].size() != 1) return std::nullopt;
    settings.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0])));
    if (settings.parity != 'N' && settings.parity != 'E' && settings.parity != 'O') return std::nullopt;
    const auto dataBits = wholeNumber(parts[2]);
    if (!dataBits || *dataBits < 5 || *dataBits > 8) return std::nullopt;
    settings.dataBits = *dataBits;
    if (parts[3] == "1") settings.stopBits = SerialSettings::StopBits::One;
    else if (parts[3] == "1.5") settings.stopBits = SerialSettings::StopBits::OneAndHalf;
    else if (parts[3] == "2") settings.stopBits = SerialSettings::StopBits::Two;
    else return std::nullopt;
    return settings;
}

std::string serialDevicePath(int portNumber) {
    const std::string variable = "IPLIB_SERIAL_PORT_" + std::to_string(portNumber);
    if (const char* device = std::getenv(variable.c_str()); device && *device) return device;
    if (portNumber < 1) return "";
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

std::unique_ptr<SerialPort> makeAsioSerialPort(SharedTransportContext context) {
    return std::make_unique<AsioSerialPort>(std::move(context));
}

}  // namespace iplib
