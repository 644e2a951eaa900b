// Packets are never lost: a packet that cannot be written to the packet file right away
// waits here, in order, in memory and in a spool file of the configuration folder (so a
// restart loses nothing), and is written on later ticks before any newer packet. The
// event thread never spins on a failing write. The error log and display say once when
// writing starts to fail and once when it works again.
#pragma once

#include "core/logs.h"
#include "exchange/link_files.h"
#include "platform/clock.h"
#include "platform/file_system.h"

#include <deque>
#include <string>

namespace iplib {

class PacketSpool {
public:
    PacketSpool(LinkFiles& linkFiles, FileSystem& files, Logs& logs, const Clock& clock);

    void setConfigFolder(std::string folder);
    std::string spoolPath() const;

    // At start-up: takes back the packets a previous run could not write.
    void restore();
    // Writes the packet now when nothing waits and the write works; otherwise keeps it
    // behind the waiting ones.
    void deliver(std::string packetLine);
    // Called every main-cycle tick: retries the waiting packets at a bounded pace.
    void tick(const DateTime& now);

    std::size_t pending() const { return waiting_.size(); }
    bool failing() const { return failing_; }

private:
    LinkFiles& linkFiles_;
    FileSystem& files_;
    Logs& logs_;
    const Clock& clock_;
    std::string folder_;
    std::deque<std::string> waiting_;
    bool failing_ = false;
    std::int64_t nextTryMs_ = 0;
};

}  // namespace iplib
