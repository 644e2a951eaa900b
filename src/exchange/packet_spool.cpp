#include "exchange/packet_spool.h"

#include "core/text.h"

#include <algorithm>
#include <charconv>

namespace iplib {

namespace {

constexpr std::uint64_t HashStart = 1469598103934665603ull;
// Written lines are dropped from the spool file once they outnumber the waiting ones,
// but not for a handful of them.
constexpr std::size_t CompactMinimum = 1000;
// A spool file out of step with memory is rewritten at most this often.
constexpr std::int64_t RewriteIntervalMs = 1000;

// FNV-1a of one more line (followed by LF, which no spooled line holds).
std::uint64_t mixLine(std::uint64_t h, const std::string& line) {
    for (unsigned char c : line) {
        h ^= c;
        h *= 1099511628211ull;
    }
    h ^= '\n';
    h *= 1099511628211ull;
    return h;
}

std::string withoutLineEnds(std::string line) {
    return text::removeByte(text::removeByte(line, '\r'), '\n');
}

std::string hex64(std::uint64_t value) {
    char buf[17];
    auto end = std::to_chars(buf, buf + sizeof buf, value, 16).ptr;
    return std::string(buf, end);
}

// "count hash" as written by writeSentFile; false when the text is not that.
bool parseSent(const std::string& content, std::size_t& count, std::uint64_t& hash) {
    const std::string t = text::trim(text::removeByte(text::removeByte(content, '\r'), '\n'));
    const auto space = t.find(' ');
    if (space == std::string::npos) return false;
    const char* p = t.data();
    auto r1 = std::from_chars(p, p + space, count);
    auto r2 = std::from_chars(p + space + 1, p + t.size(), hash, 16);
    return r1.ec == std::errc() && r1.ptr == p + space && r2.ec == std::errc() && r2.ptr == p + t.size();
}

}  // namespace

PacketSpool::PacketSpool(LinkFiles& linkFiles, FileSystem& files, Logs& logs, const Clock& clock)
    : linkFiles_(linkFiles), files_(files), logs_(logs), clock_(clock), prefixHash_(HashStart) {}

void PacketSpool::setConfigFolder(std::string folder) {
    folder_ = folder.empty() ? std::string() : withTrailingSlash(std::move(folder));
}

std::string PacketSpool::spoolPath() const { return folder_.empty() ? std::string() : folder_ + "PAQ_SPOOL.TXT"; }
std::string PacketSpool::sentPath() const { return folder_.empty() ? std::string() : folder_ + "PAQ_SPOOL_SENT.TXT"; }

void PacketSpool::restore() {
    // Packets waiting already were appended to the spool file too; taking the file back
    // now would double them.
    if (folder_.empty() || !waiting_.empty()) return;
    LineReadLimits limits;
    limits.maxLines = 2 * MaxWaiting + CompactMinimum + 1;  // the most a spool file holds
    auto lines = files_.readLines(spoolPath(), limits);
    if (!lines) return;

    std::size_t skip = 0;
    std::uint64_t skipHash = HashStart;
    std::size_t count = 0;
    std::uint64_t hash = 0;
    if (auto sent = files_.readAll(sentPath(), 200); sent && parseSent(*sent, count, hash) && count <= lines->size()) {
        std::uint64_t h = HashStart;
        for (std::size_t i = 0; i < count; ++i) h = mixLine(h, (*lines)[i]);
        // A count left from an earlier spool file does not match this one's lines.
        if (h == hash) {
            skip = count;
            skipHash = h;
        }
    }
    writtenPrefix_ = skip;
    prefixHash_ = skipHash;
    fileInStep_ = true;

    std::size_t take = lines->size() - skip;
    if (take > MaxWaiting) {
        logs_.error("PACKET SPOOL: " + std::to_string(take - MaxWaiting) + " packets past the limit of " +
                        std::to_string(MaxWaiting) + " dropped from " + spoolPath(),
                    9998);
        take = MaxWaiting;
        fileInStep_ = false;
    }
    for (std::size_t i = skip; i < skip + take; ++i) waiting_.push_back(std::move((*lines)[i]));
    nextTryMs_ = 0;

    if (waiting_.empty()) {
        // Everything in it was written before the stop.
        clearSpoolFile();
        return;
    }
    logs_.error("PACKET SPOOL: " + std::to_string(waiting_.size()) + " packets taken back from " + spoolPath(), 9998);
}

void PacketSpool::deliver(std::string packet) {
    if (waiting_.empty()) {
        if (linkFiles_.fileWrite(LinkFileId::Packets, packet) == 1) return;
        // The write has transformed the packet already: it is kept as it is now.
        keep(std::move(packet));
        noteFailure(clock_.now().epochMilliseconds());
        return;
    }
    // Behind the waiting ones; transformed now, once, as it arrives.
    if (linkFiles_.transformPacket(packet)) return;
    keep(std::move(packet));
}

void PacketSpool::keep(std::string line) {
    line = withoutLineEnds(std::move(line));
    if (waiting_.size() >= MaxWaiting) {
        logs_.error("PACKET DROPPED, SPOOL FULL (" + std::to_string(MaxWaiting) + " waiting): " + line, 9998);
        return;
    }
    if (folder_.empty()) {
        waiting_.push_back(std::move(line));
        return;
    }
    // A new spool file begins: a count of sent lines left by an interrupted clean-up
    // must not apply to it.
    if (waiting_.empty() && writtenPrefix_ == 0 && fileInStep_) files_.remove(sentPath());
    waiting_.push_back(std::move(line));
    if (fileInStep_ && !files_.append(spoolPath(), waiting_.back() + "\r\n")) {
        fileInStep_ = false;
        if (!fileTroubleShown_) {
            fileTroubleShown_ = true;
            const std::string text = "PACKET SPOOL FILE WRITE FAILED: waiting packets kept in memory only";
            logs_.error(text + " (" + spoolPath() + ")", 9998);
            logs_.showError(text);
        }
    }
}

void PacketSpool::noteFailure(std::int64_t nowMs) {
    nextTryMs_ = nowMs + RetryIntervalMs;
    if (failing_) return;
    failing_ = true;
    writtenThisEpisode_ = 0;
    const std::string text = "PACKET FILE WRITE FAILED: packets kept in spool";
    logs_.error(text + " (" + linkFiles_.basePath(LinkFileId::Packets) + ".TMP)", 9998);
    logs_.showError(text);
}

bool PacketSpool::due(std::int64_t nowMs) const {
    // A clock set back must not hold the packets for as long as it jumped.
    return nowMs >= nextTryMs_ || nextTryMs_ - nowMs > RetryIntervalMs;
}

void PacketSpool::tick(const DateTime& now) {
    if (waiting_.empty()) return;
    const std::int64_t nowMs = now.epochMilliseconds();
    if (!fileInStep_ && !folder_.empty() &&
        (nowMs >= nextRewriteMs_ || nextRewriteMs_ - nowMs > RewriteIntervalMs)) {
        if (!compact()) nextRewriteMs_ = nowMs + RewriteIntervalMs;
    }
    if (!due(nowMs)) return;

    std::size_t written = 0;
    bool failed = false;
    while (!waiting_.empty() && written < MaxWritesPerTick) {
        std::string line = waiting_.front();
        if (linkFiles_.writeLine(LinkFileId::Packets, line) != 1) {
            failed = true;
            break;
        }
        // Out of the queue before the next one is tried: a packet is written once.
        prefixHash_ = mixLine(prefixHash_, waiting_.front());
        ++writtenPrefix_;
        waiting_.pop_front();
        ++written;
    }
    if (failed) noteFailure(nowMs);
    else nextTryMs_ = 0;
    if (written == 0) return;

    writtenThisEpisode_ += written;
    recordProgress();
    if (waiting_.empty() && failing_) {
        failing_ = false;
        const std::string text =
            "PACKET FILE WRITE WORKS AGAIN: " + std::to_string(writtenThisEpisode_) + " packets written from spool";
        logs_.error(text, 9998);
        logs_.showError(text);
    }
}

void PacketSpool::recordProgress() {
    if (folder_.empty()) {
        writtenPrefix_ = 0;
        prefixHash_ = HashStart;
        return;
    }
    if (waiting_.empty()) {
        clearSpoolFile();
        return;
    }
    if (!fileInStep_ || writtenPrefix_ > std::max(CompactMinimum, waiting_.size())) {
        if (compact()) return;
    }
    if (fileInStep_) writeSentFile();
}

void PacketSpool::clearSpoolFile() {
    // The spool file goes first: a count left without its file is harmless.
    if (files_.remove(spoolPath()) || !files_.exists(spoolPath())) {
        files_.remove(sentPath());
        writtenPrefix_ = 0;
        prefixHash_ = HashStart;
        fileInStep_ = true;
        return;
    }
    compact();  // cannot be deleted: emptied instead
}

void PacketSpool::writeSentFile() {
    files_.writeAtomic(sentPath(), std::to_string(writtenPrefix_) + " " + hex64(prefixHash_) + "\r\n");
}

bool PacketSpool::compact() {
    std::string content;
    for (const auto& line : waiting_) {
        content += line;
        content += "\r\n";
    }
    if (!files_.writeAtomic(spoolPath(), content)) return false;
    // The new file begins with waiting packets; an old count would not match its hash,
    // and is removed all the same.
    files_.remove(sentPath());
    writtenPrefix_ = 0;
    prefixHash_ = HashStart;
    fileInStep_ = true;
    fileTroubleShown_ = false;
    return true;
}

}  // namespace iplib
