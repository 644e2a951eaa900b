// Packets are never lost: a packet that cannot be written to the packet file right away
// waits here, in order, in memory and in a spool file of the configuration folder (so a
// restart loses nothing), and is written on later ticks before any newer packet. The
// event thread never spins on a failing write. The error log and display say once when
// writing starts to fail and once when it works again.
//
// How it holds:
//  - Each packet goes through the packet transformations exactly once, when it is
//    delivered; what waits is the transformed line without CR and LF, so it fits one line
//    of the spool file and is written later as it is.
//  - The spool file PAQ_SPOOL.TXT holds one packet a line (CR LF). Its first lines may be
//    packets written already: their count and a hash of them are kept in PAQ_SPOOL_SENT.TXT
//    after every tick that wrote some, so a restart skips them (the hash tells whether
//    the count still belongs to this spool file). The spool file is deleted when nothing
//    waits any more, and rewritten without the written lines once they outnumber the
//    waiting ones. A crash in the middle of one tick's writes can still repeat that tick's
//    packets after the restart.
//  - While writes fail, one write is tried every RetryIntervalMs; after a success the next
//    tick goes on at once, with at most MaxWritesPerTick writes a tick.
//  - At most MaxWaiting packets wait; a packet beyond that is dropped with an error-log
//    line that holds it.
#pragma once

#include "core/logs.h"
#include "exchange/link_files.h"
#include "platform/clock.h"
#include "platform/file_system.h"

#include <cstdint>
#include <deque>
#include <string>

namespace iplib {

class PacketSpool {
public:
    static constexpr std::size_t MaxWaiting = 1'000'000;
    static constexpr std::int64_t RetryIntervalMs = 50;
    static constexpr std::size_t MaxWritesPerTick = 1000;

    PacketSpool(LinkFiles& linkFiles, FileSystem& files, Logs& logs, const Clock& clock);

    // Without a configuration folder the packets wait in memory only.
    void setConfigFolder(std::string folder);
    std::string spoolPath() const;
    std::string sentPath() const;

    // At start-up, before the first delivery: takes back the packets a previous run could
    // not write; they go out at the next ticks, before any new packet.
    void restore();
    // Writes the packet now when nothing waits and the write works; otherwise keeps it
    // behind the waiting ones.
    void deliver(std::string packetLine);
    // Called every main-cycle tick: retries the waiting packets at a bounded pace.
    void tick(const DateTime& now);

    std::size_t pending() const { return waiting_.size(); }
    // From the first failed write until every waiting packet has been written.
    bool failing() const { return failing_; }

private:
    void keep(std::string line);
    void noteFailure(std::int64_t nowMs);
    bool due(std::int64_t nowMs) const;
    // After a tick that wrote packets: the spool file is told which of its lines are gone.
    void recordProgress();
    void writeSentFile();
    // Nothing waits any more: the spool file and its count go.
    void clearSpoolFile();
    // Rewrites the spool file with the waiting packets only.
    bool compact();

    LinkFiles& linkFiles_;
    FileSystem& files_;
    Logs& logs_;
    const Clock& clock_;
    std::string folder_;
    std::deque<std::string> waiting_;
    bool failing_ = false;
    std::int64_t nextTryMs_ = 0;
    std::size_t writtenThisEpisode_ = 0;

    // The spool file is the written prefix followed by the waiting packets, unless an
    // append to it failed (then it is rewritten at the next chance).
    std::size_t writtenPrefix_ = 0;
    std::uint64_t prefixHash_;
    bool fileInStep_ = true;
    std::int64_t nextRewriteMs_ = 0;
    bool fileTroubleShown_ = false;
};

}  // namespace iplib
