#include "terminal_sim/simulator.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <utility>

namespace terminal_sim {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

namespace {
// A library that stops reading must not make the simulator grow without bound.
constexpr std::size_t kMaxQueuedBytes = 1 << 20;
constexpr std::size_t kMaxFramesAwaitingAck = 100000;
constexpr std::size_t kMaxDelayedAnswers = 10000;
// How long a lone FE waits for the rest of a cellular keep-alive before it counts as a
// plain one. The library sends keep-alives seconds apart, so this never merges two.
constexpr auto kQuietLine = std::chrono::milliseconds(100);
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
constexpr int kMaxPunchesPerTick = 1000;
// Noise that holds no control byte the library reacts to and does not start a boot report.
const std::string kNoise{"\x00\x11\x7F*", 4};

TerminalClockReading systemClockReading() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[16];
    char time[16];
    std::strftime(date, sizeof date, "%m%d%y", &local);
    std::strftime(time, sizeof time, "%H%M%S", &local);
    return {date, time};
}

bool parseLoopback(const std::string& text, asio::ip::address_v4& address) {
    error_code ec;
    address = asio::ip::make_address_v4(text, ec);
    return !ec && (address.to_uint() >> 24) == 127;
}

std::string sixDigits(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%06llu", static_cast<unsigned long long>(value));
    return text;
}

// One accepted connection. Handlers keep it alive while they are pending; once closed it
// is never used again, so a handler of an old connection can tell by `open`.
struct Link {
    explicit Link(tcp::socket s)
        : socket(std::move(s)), quietTimer(socket.get_executor()), answerTimer(socket.get_executor()) {}

    tcp::socket socket;
    bool open = true;
    std::array<char, 4096> readBuffer{};
    LibraryStreamParser parser;
    asio::steady_timer quietTimer;
    std::uint64_t quietToken = 0;

    std::deque<std::string> writeQueue;
    std::size_t queuedBytes = 0;
    bool writing = false;

    // Answers held back by the behaviour's delay; all have the same delay, so they fall
    // due in the order they were made.
    asio::steady_timer answerTimer;
    std::deque<std::pair<SteadyClock::time_point, char>> delayedAnswers;

    std::deque<std::uint64_t> framesAwaitingAck;
};
}  // namespace

class SimulatedTerminal::Impl : public std::enable_shared_from_this<Impl> {
public:
    Impl(asio::io_context& io, Options options)
        : io_(io),
          options_(std::move(options)),
          acceptor_(io),
          acceptRetryTimer_(io),
          punchTimer_(io),
          behaviour_(options_.behaviour) {
        if (!options_.terminalClock) options_.terminalClock = systemClockReading;
    }

    asio::io_context& io() { return io_; }
    const Options& options() const { return options_; }

    // ---- called from any thread ----

    void setCallbacks(Callbacks callbacks) {
        std::lock_guard lock(callbacksMutex_);
        callbacks_ = std::move(callbacks);
    }

    bool start(std::string* error) {
        auto fail = [&](std::string reason) {
            if (error) *error = options_.address + ":" + std::to_string(options_.port) + ": " + reason;
            return false;
        };
        asio::ip::address_v4 address;
        if (!parseLoopback(options_.address, address)) return fail("not a 127.x.x.x address");
        if (started_.exchange(true)) return fail("already started");
        error_code ec;
        tcp::endpoint endpoint(address, options_.port);
        acceptor_.open(endpoint.protocol(), ec);
        if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec) acceptor_.bind(endpoint, ec);
        if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
        if (!ec) {
            auto bound = acceptor_.local_endpoint(ec);
            if (!ec) port_ = bound.port();
        }
        if (ec) {
            error_code ignored;
            acceptor_.close(ignored);
            return fail(ec.message());
        }
        asio::post(io_, [self = shared_from_this()] { self->acceptNext(); });
        return true;
    }

    void setBehaviour(const Behaviour& behaviour) {
        std::lock_guard lock(recordsMutex_);
        behaviour_ = behaviour;
    }

    Behaviour behaviour() const {
        std::lock_guard lock(recordsMutex_);
        return behaviour_;
    }

    std::uint64_t sendBody(const std::string& body, std::optional<ChecksumMode> mode) {
        std::uint64_t sequence = nextSequence_++;
        std::string bytes = frameBytes(body, mode);
        asio::post(io_, [self = shared_from_this(), sequence, bytes = std::move(bytes)]() mutable {
            self->sendFrame(sequence, std::move(bytes));
        });
        return sequence;
    }

    std::uint64_t sendPunch(const std::string& card) {
        std::uint64_t sequence = nextSequence_++;
        std::string bytes = frameBytes(punchBody(options_.terminalClock(), options_.addressDigits, card, sequence),
                                       std::nullopt);
        asio::post(io_, [self = shared_from_this(), sequence, bytes = std::move(bytes)]() mutable {
            self->sendFrame(sequence, std::move(bytes));
        });
        return sequence;
    }

    void post(void (Impl::*operation)()) {
        asio::post(io_, [self = shared_from_this(), operation] { ((*self).*operation)(); });
    }

    void sendRaw(std::string bytes) {
        asio::post(io_, [self = shared_from_this(), bytes = std::move(bytes)]() mutable {
            self->write(std::move(bytes));
        });
    }

    void startPunching(double perSecond, std::string cardPrefix) {
        asio::post(io_, [self = shared_from_this(), perSecond, cardPrefix = std::move(cardPrefix)]() mutable {
            self->beginPunching(perSecond, std::move(cardPrefix));
        });
    }

    std::uint16_t port() const { return port_.load(); }
    bool isConnected() const {
        std::lock_guard lock(recordsMutex_);
        return connected_;
    }
    Counters counters() const {
        std::lock_guard lock(recordsMutex_);
        return counters_;
    }
    std::vector<CommandRecord> commands() const {
        std::lock_guard lock(recordsMutex_);
        return {commands_.begin(), commands_.end()};
    }
    std::map<std::uint64_t, FrameTiming> frameTimings() const {
        std::lock_guard lock(recordsMutex_);
        return timings_;
    }

    // ---- io_context only ----

    void closeLink() { dropLink(false); }
    void resetLink() { dropLink(true); }

    void stopListening() {
        error_code ignored;
        acceptor_.close(ignored);
        acceptRetryTimer_.cancel();
    }

    void stopPunching() {
        ++punchToken_;
        punchTimer_.cancel();
    }

    void stop() {
        stopListening();
        stopPunching();
        dropLink(false);
    }

private:
    std::string frameBytes(const std::string& body, std::optional<ChecksumMode> mode) {
        Behaviour now = behaviour();
        std::string bytes;
        if (now.noiseBeforeFrames) bytes += kNoise;
        if (now.holdBeforeFrames) bytes += bytes::Hold;
        bytes += dataFrame(body, mode.value_or(now.dataChecksums));
        return bytes;
    }

    template <class Member, class... Args>
    void notify(Member Callbacks::*member, Args&&... args) {
        std::lock_guard lock(callbacksMutex_);
        auto& callback = callbacks_.*member;
        if (callback) callback(std::forward<Args>(args)...);
    }

    void acceptNext() {
        if (!acceptor_.is_open()) return;
        acceptor_.async_accept([self = shared_from_this()](error_code ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted || !self->acceptor_.is_open()) return;
            if (ec) {
                // Out of descriptors and the like: try again shortly rather than spin.
                self->acceptRetryTimer_.expires_after(kAcceptRetry);
                self->acceptRetryTimer_.async_wait([self](error_code waitError) {
                    if (!waitError) self->acceptNext();
                });
                return;
            }
            self->adopt(std::move(socket));
            self->acceptNext();
        });
    }

    void adopt(tcp::socket socket) {
        dropLink(false);
        error_code ec;
        auto peer = socket.remote_endpoint(ec);
        std::string peerText = ec ? "?" : peer.address().to_string() + ":" + std::to_string(peer.port());
        socket.set_option(tcp::no_delay(true), ec);
        link_ = std::make_shared<Link>(std::move(socket));
        {
            std::lock_guard lock(recordsMutex_);
            connected_ = true;
            ++counters_.connections;
        }
        notify(&Callbacks::onConnected, peerText);
        if (auto boot = behaviour().bootOnConnect) write(std::string(1, static_cast<char>(*boot)));
        readNext(link_);
    }

    void dropLink(bool abortive) {
        auto link = std::exchange(link_, nullptr);
        if (!link) return;
        link->open = false;
        // Recorded before the socket closes, so whoever sees the close sees the record.
        {
            std::lock_guard lock(recordsMutex_);
            connected_ = false;
        }
        error_code ignored;
        if (abortive)
            link->socket.set_option(asio::socket_base::linger(true, 0), ignored);
        else
            link->socket.shutdown(tcp::socket::shutdown_both, ignored);
        link->socket.close(ignored);
        link->quietTimer.cancel();
        link->answerTimer.cancel();
        notify(&Callbacks::onDisconnected);
    }

    void readNext(const std::shared_ptr<Link>& link) {
        link->socket.async_read_some(
            asio::buffer(link->readBuffer), [self = shared_from_this(), link](error_code ec, std::size_t size) {
                if (!link->open) return;
                if (ec) {
                    self->dropLink(false);
                    return;
                }
                self->onArrival(link, std::string_view(link->readBuffer.data(), size));
                if (link->open) self->readNext(link);
            });
    }

    void onArrival(const std::shared_ptr<Link>& link, std::string_view bytes) {
        std::vector<LibraryMessage> messages;
        link->parser.feed(bytes, messages);
        for (const auto& message : messages) {
            if (!link->open) return;
            handle(link, message);
        }
        ++link->quietToken;
        if (link->parser.holdsLoneKeepAlive()) waitForQuietLine(link);
    }

    void waitForQuietLine(const std::shared_ptr<Link>& link) {
        link->quietTimer.expires_after(kQuietLine);
        link->quietTimer.async_wait([self = shared_from_this(), link, token = link->quietToken](error_code ec) {
            if (ec || !link->open || token != link->quietToken) return;
            std::vector<LibraryMessage> messages;
            link->parser.flushLoneKeepAlive(messages);
            for (const auto& message : messages) self->handle(link, message);
        });
    }

    void handle(const std::shared_ptr<Link>& link, const LibraryMessage& message) {
        using Kind = LibraryMessage::Kind;
        Behaviour now = behaviour();
        std::optional<CommandRecord> command;
        std::optional<std::pair<std::uint64_t, SteadyClock::duration>> ack;
        {
            std::lock_guard lock(recordsMutex_);
            switch (message.kind) {
                case Kind::Poll: ++counters_.polls; break;
                case Kind::Command:
                    ++counters_.commands;
                    if (!message.checksumOk) ++counters_.badCommandChecksums;
                    command = CommandRecord{message.text, message.checksumOk, SteadyClock::now()};
                    commands_.push_back(*command);
                    while (commands_.size() > options_.commandsKept) commands_.pop_front();
                    break;
                case Kind::Ack:
                    if (link->framesAwaitingAck.empty()) {
                        ++counters_.unmatchedAcks;
                    } else {
                        ++counters_.acks;
                        std::uint64_t sequence = link->framesAwaitingAck.front();
                        link->framesAwaitingAck.pop_front();
                        auto timing = timings_.find(sequence);
                        if (timing != timings_.end()) {
                            timing->second.ackedAt = SteadyClock::now();
                            ack.emplace(sequence, *timing->second.ackedAt - timing->second.sentAt);
                        }
                    }
                    break;
                case Kind::PlainKeepAlive: ++counters_.plainKeepAlives; break;
                case Kind::CellularKeepAlive: ++counters_.cellularKeepAlives; break;
                case Kind::BootInit: ++counters_.bootInits; break;
                case Kind::Unexpected: counters_.unexpectedBytes += message.byteCount; break;
            }
        }
        notify(&Callbacks::onMessage, message);
        if (command) notify(&Callbacks::onCommand, *command);
        if (ack) notify(&Callbacks::onAck, ack->first, ack->second);

        if (message.kind == Kind::Poll && now.answerPolls)
            answer(link, now, bytes::ENQ);
        else if (message.kind == Kind::Command && message.checksumOk && now.ackCommands)
            answer(link, now, bytes::ACK);
        else if (message.kind == Kind::CellularKeepAlive && now.echoCellularKeepAlives)
            write(std::string(kCellularKeepAlive));
    }

    void answer(const std::shared_ptr<Link>& link, const Behaviour& now, char reply) {
        if (now.abortInsteadOfAnswer) reply = bytes::Abort;
        if (now.answerDelay.count() <= 0 && link->delayedAnswers.empty()) {
            write(std::string(1, reply));
            return;
        }
        if (link->delayedAnswers.size() >= kMaxDelayedAnswers) return;
        link->delayedAnswers.emplace_back(SteadyClock::now() + now.answerDelay, reply);
        if (link->delayedAnswers.size() == 1) armAnswerTimer(link);
    }

    void armAnswerTimer(const std::shared_ptr<Link>& link) {
        link->answerTimer.expires_at(link->delayedAnswers.front().first);
        link->answerTimer.async_wait([self = shared_from_this(), link](error_code ec) {
            if (ec || !link->open) return;
            auto now = SteadyClock::now();
            while (!link->delayedAnswers.empty() && link->delayedAnswers.front().first <= now) {
                self->write(std::string(1, link->delayedAnswers.front().second));
                link->delayedAnswers.pop_front();
            }
            if (!link->delayedAnswers.empty()) self->armAnswerTimer(link);
        });
    }

    bool write(std::string bytes) {
        auto link = link_;
        if (!link || link->queuedBytes + bytes.size() > kMaxQueuedBytes) return false;
        link->queuedBytes += bytes.size();
        link->writeQueue.push_back(std::move(bytes));
        if (!link->writing) writeNext(link);
        return true;
    }

    void writeNext(const std::shared_ptr<Link>& link) {
        if (link->writeQueue.empty()) {
            link->writing = false;
            return;
        }
        link->writing = true;
        asio::async_write(link->socket, asio::buffer(link->writeQueue.front()),
                          [self = shared_from_this(), link](error_code ec, std::size_t) {
                              if (!link->open) return;
                              link->queuedBytes -= link->writeQueue.front().size();
                              link->writeQueue.pop_front();
                              if (ec) {
                                  self->dropLink(false);
                                  return;
                              }
                              self->writeNext(link);
                          });
    }

    // The timing is written before the bytes go: Asio may send them during the call, and
    // the library's ACK must find its frame.
    void sendFrame(std::uint64_t sequence, std::string bytes) {
        bool fits = link_ && link_->queuedBytes + bytes.size() <= kMaxQueuedBytes;
        {
            std::lock_guard lock(recordsMutex_);
            if (!fits) {
                ++counters_.framesNotSent;
                return;
            }
            ++counters_.framesSent;
            timings_[sequence] = FrameTiming{SteadyClock::now(), std::nullopt};
            while (timings_.size() > options_.timingsKept) timings_.erase(timings_.begin());
        }
        link_->framesAwaitingAck.push_back(sequence);
        if (link_->framesAwaitingAck.size() > kMaxFramesAwaitingAck) link_->framesAwaitingAck.pop_front();
        write(std::move(bytes));
    }

    void beginPunching(double perSecond, std::string cardPrefix) {
        stopPunching();
        if (!(perSecond > 0)) return;
        punchPeriod_ = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(1.0 / perSecond));
        if (punchPeriod_.count() <= 0) punchPeriod_ = SteadyClock::duration(1);
        punchPrefix_ = std::move(cardPrefix);
        nextPunchAt_ = SteadyClock::now() + punchPeriod_;
        armPunchTimer(punchToken_);
    }

    void armPunchTimer(std::uint64_t token) {
        punchTimer_.expires_at(nextPunchAt_);
        punchTimer_.async_wait([self = shared_from_this(), token](error_code ec) {
            if (ec || token != self->punchToken_) return;
            self->punchWhatIsDue();
            self->armPunchTimer(token);
        });
    }

    // Punches only while a library is connected, so that the sequence a consumer sees has
    // no gap the library is not responsible for. Falling far behind (a stalled
    // io_context) does not end in an endless burst: the schedule restarts from now.
    void punchWhatIsDue() {
        auto now = SteadyClock::now();
        for (int i = 0; i < kMaxPunchesPerTick && nextPunchAt_ <= now; ++i) {
            if (link_) {
                std::uint64_t sequence = nextSequence_++;
                std::string card = punchPrefix_ + sixDigits(sequence);
                sendFrame(sequence, frameBytes(punchBody(options_.terminalClock(), options_.addressDigits, card,
                                                         sequence),
                                               std::nullopt));
            }
            nextPunchAt_ += punchPeriod_;
        }
        if (nextPunchAt_ <= now) nextPunchAt_ = now + punchPeriod_;
    }

    asio::io_context& io_;
    Options options_;
    tcp::acceptor acceptor_;
    asio::steady_timer acceptRetryTimer_;
    std::atomic<bool> started_{false};
    std::atomic<std::uint16_t> port_{0};
    std::shared_ptr<Link> link_;
    std::atomic<std::uint64_t> nextSequence_{1};

    asio::steady_timer punchTimer_;
    std::uint64_t punchToken_ = 0;
    SteadyClock::duration punchPeriod_{};
    SteadyClock::time_point nextPunchAt_{};
    std::string punchPrefix_;

    // Callbacks run with this held, so that clearing them waits for a running one.
    std::recursive_mutex callbacksMutex_;
    Callbacks callbacks_;

    mutable std::mutex recordsMutex_;
    Behaviour behaviour_;
    bool connected_ = false;
    Counters counters_;
    std::deque<CommandRecord> commands_;
    std::map<std::uint64_t, FrameTiming> timings_;
};

SimulatedTerminal::SimulatedTerminal(asio::io_context& io, Options options)
    : impl_(std::make_shared<Impl>(io, std::move(options))) {}

SimulatedTerminal::~SimulatedTerminal() {
    impl_->setCallbacks({});
    impl_->post(&Impl::stop);
}

void SimulatedTerminal::setCallbacks(Callbacks callbacks) { impl_->setCallbacks(std::move(callbacks)); }
bool SimulatedTerminal::start(std::string* error) { return impl_->start(error); }
void SimulatedTerminal::setBehaviour(const Behaviour& behaviour) { impl_->setBehaviour(behaviour); }
Behaviour SimulatedTerminal::behaviour() const { return impl_->behaviour(); }

std::uint64_t SimulatedTerminal::sendDataFrame(const std::string& body) { return impl_->sendBody(body, std::nullopt); }
std::uint64_t SimulatedTerminal::sendDataFrame(const std::string& body, ChecksumMode mode) {
    return impl_->sendBody(body, mode);
}
std::uint64_t SimulatedTerminal::sendRecord(char recordClass, char typeLetter, const std::string& fields) {
    return impl_->sendBody(recordBody(recordClass, typeLetter, impl_->options().terminalClock(),
                                      impl_->options().addressDigits, fields),
                           std::nullopt);
}
std::uint64_t SimulatedTerminal::sendPunch(const std::string& card) { return impl_->sendPunch(card); }

void SimulatedTerminal::startPunching(double perSecond, std::string cardPrefix) {
    impl_->startPunching(perSecond, std::move(cardPrefix));
}
void SimulatedTerminal::stopPunching() { impl_->post(&Impl::stopPunching); }

void SimulatedTerminal::sendBoot(BootReport report) { impl_->sendRaw(std::string(1, static_cast<char>(report))); }
void SimulatedTerminal::sendRaw(const std::string& bytes) { impl_->sendRaw(bytes); }

void SimulatedTerminal::closeLink() { impl_->post(&Impl::closeLink); }
void SimulatedTerminal::resetLink() { impl_->post(&Impl::resetLink); }
void SimulatedTerminal::stopListening() { impl_->post(&Impl::stopListening); }
void SimulatedTerminal::stop() { impl_->post(&Impl::stop); }

const std::string& SimulatedTerminal::address() const { return impl_->options().address; }
std::uint16_t SimulatedTerminal::port() const { return impl_->port(); }
bool SimulatedTerminal::isConnected() const { return impl_->isConnected(); }
Counters SimulatedTerminal::counters() const { return impl_->counters(); }
std::vector<CommandRecord> SimulatedTerminal::commands() const { return impl_->commands(); }
std::map<std::uint64_t, FrameTiming> SimulatedTerminal::frameTimings() const { return impl_->frameTimings(); }

}  // namespace terminal_sim
