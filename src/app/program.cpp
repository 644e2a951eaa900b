#include "app/program.h"

#include "app/library.h"
#include "platform/asio_network.h"
#include "platform/event_loop.h"
#include "platform/loopback_guard.h"
#include "platform/process.h"

#include <iostream>
#include <memory>

namespace iplib {
namespace {

using std::chrono::milliseconds;

class Program {
public:
    explicit Program(const std::string& commandLine)
        : options_(StartOptions::parse(commandLine)),
          network_(loop_, LoopbackGuard::fromEnvironment(),
                   [this](const std::string& refused) {
                       if (library_) library_->logs().error("LOOPBACK GUARD REFUSED:" + refused, NO_TERMINAL_INDEX);
                       std::cout << "[guard] refused " << refused << std::endl;
                   }),
          heartbeat_(loop_), connectionTimer_(loop_), secondCopyTimer_(loop_), shutdownTimer_(loop_) {}

    int run() {
        raiseOpenFilesLimit(8192);
        library_ = std::make_unique<Library>(LibraryEnvironment{clock_, files_, network_,
                                                                DrivePaths(DrivePaths::defaultRoot()),
                                                                programFolder(), &std::cout});
        const auto result = library_->start(options_, [this] {
            lock_ = SingleCopyLock::acquire();
            return lock_ == nullptr;
        });
        if (result == Library::StartResult::SecondCopy) return 0;
        std::cout << "IP library running; configuration folder " << library_->configFolder() << std::endl;

        library_->onSecondCopySeen = [this] {
            secondCopyTimer_.start(milliseconds(100), [this] { library_->reportSecondCopy(); });
        };
        heartbeat_.start(milliseconds(1), [this] { heartbeat(); });
        connectionTimer_.start(milliseconds(library_->timing().connectInterval()), [this] {
            library_->connectionTimerTick();
            const milliseconds wanted(library_->timing().connectInterval());
            if (connectionTimer_.period() != wanted) connectionTimer_.setPeriod(wanted);
        });
        signals_ = std::make_unique<ShutdownSignals>(loop_, [this] { shutdown(); });
        loop_.run();
        return 0;
    }

private:
    // The link-file poll runs first, so that a command read now is polled in this same
    // main-cycle tick.
    void heartbeat() {
        library_->linkPollTick();
        library_->mainCycleTick();
        if (library_->endRequested()) loop_.stop();
    }

    // Links closed, then events handled for 2 seconds (less when midnight passes), then
    // the end. Nothing is saved here: every change was saved when it was made.
    void shutdown() {
        if (shuttingDown_) return;
        shuttingDown_ = true;
        library_->closeLinks();
        const double startedAt = clock_.now().secondsOfDay();
        shutdownTimer_.start(milliseconds(50), [this, startedAt] { waitForEnd(startedAt); });
    }

    void waitForEnd(double startedAt) {
        const double t = clock_.now().secondsOfDay();
        if (t - startedAt >= 2.0 || t < startedAt) {
            loop_.stop();
            return;
        }
        shutdownTimer_.start(milliseconds(50), [this, startedAt] { waitForEnd(startedAt); });
    }

    StartOptions options_;
    EventLoop loop_;
    SystemClock clock_;
    RealFileSystem files_;
    AsioNetwork network_;
    PeriodicTimer heartbeat_;
    PeriodicTimer connectionTimer_;
    OneShotTimer secondCopyTimer_;
    OneShotTimer shutdownTimer_;
    std::unique_ptr<ShutdownSignals> signals_;
    std::unique_ptr<SingleCopyLock> lock_;
    std::unique_ptr<Library> library_;
    bool shuttingDown_ = false;
};

}  // namespace

int runProgram(const std::string& commandLine) {
    Program program(commandLine);
    return program.run();
}

}  // namespace iplib
