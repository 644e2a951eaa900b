#include "exchange/link_files.h"

#include "core/text.h"

namespace iplib {

namespace {

constexpr char Etx = '\x03';
constexpr const char* LinkConfigName = "LINK.CFG";
constexpr const char* FolderTestName = "TST.TST";

// Presence flag index of a name: work name first, ready name second, per id.
std::size_t flagIndex(LinkFileId id, bool ready) {
    return static_cast<std::size_t>(static_cast<int>(id) - 1) * 2 + (ready ? 1 : 0);
}

bool writtenByLibrary(LinkFileId id) {
    return id == LinkFileId::Packets || id == LinkFileId::Messages;
}

// Command lines are trimmed of spaces only: a tab is part of a command.
std::string trimSpaces(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

// FNV-1a over the lines, each followed by a byte that cannot occur inside a line.
std::uint64_t hashLines(const std::vector<std::string>& lines) {
    std::uint64_t h = 1469598103934665603ull;
    auto mix = [&h](unsigned char c) {
        h ^= c;
        h *= 1099511628211ull;
    };
    for (const auto& line : lines) {
        for (unsigned char c : line) mix(c);
        mix('\n');
    }
    return h;
}

// Scope flag that also comes down when a handler throws.
struct Busy {
    explicit Busy(bool& flag) : flag_(flag) { flag_ = true; }
    ~Busy() { flag_ = false; }
    bool& flag_;
};

}  // namespace

LinkFiles::LinkFiles(FileSystem& files, const Clock& clock, Logs& logs, const DrivePaths& paths)
    : files_(files), clock_(clock), logs_(logs), paths_(paths) {}

void LinkFiles::start() {
    std::string folder = withTrailingSlash(configFolder_);
    // Lines 1 to 3 (link type and polling interval) are fixed today: FILES, every 1 ms.
    if (auto lines = files_.readLines(configFolder_ + LinkConfigName)) {
        if (lines->size() >= 4) {
            const std::string typed = text::trim((*lines)[3]);
            if (!typed.empty()) folder = paths_.toLocalFolder(typed);
        }
    }
    useFolder(folder);
    refreshPresence();
}

void LinkFiles::useFolder(std::string folder) {
    folder = text::trim(folder);
    if (folder != linkFolder_) {
        // The stamp and the undeletable command file belong to the folder left behind; a
        // stamp kept across the change would report the other folder's writer as a
        // second library.
        messageFileStamp_.clear();
        undeletable_.reset();
    }
    linkFolder_ = std::move(folder);
    lastSecond_ = -1;  // presence flags of the new folder at the next tick
}

std::string LinkFiles::basePath(LinkFileId id) const {
    switch (id) {
        case LinkFileId::Packets: return linkFolder_ + "FILE_PAQ";
        case LinkFileId::Messages: return linkFolder_ + "FILE_MSG";
        case LinkFileId::Commands: return linkFolder_ + "FILE_COM";
    }
    return {};
}

std::string LinkFiles::path(LinkFileId id, bool ready) const {
    std::string base = basePath(id);
    if (base.empty()) return {};
    return base + (ready ? ".OK" : ".TMP");
}

bool LinkFiles::transformPacket(std::string& line) {
    return transform_ && transform_(line);
}

int LinkFiles::fileWrite(LinkFileId id, std::string& line) {
    if (id == LinkFileId::Packets && transformPacket(line)) return 1;
    return writeLine(id, line);
}

int LinkFiles::writeLine(LinkFileId id, std::string& line) {
    // The command file is the customer's: the library never writes into it.
    if (!writtenByLibrary(id)) return 0;
    const std::string work = path(id, false);

    if (id == LinkFileId::Messages && !messageFileStamp_.empty() && files_.exists(work)) {
        const auto modified = files_.modificationTime(work);
        if (modified && std::to_string(*modified) != messageFileStamp_) {
            // Someone else appended to our message work file since our last write.
            logs_.error("ERROR: Library already loaded in service", 9998);
            if (onSecondCopy_) onSecondCopy_();
        }
    }

    line = text::removeByte(text::removeByte(line, '\r'), '\n');
    if (!files_.append(work, line + "\r\n")) return 0;
    presence_[flagIndex(id, false)] = true;
    promote(id);

    if (id == LinkFileId::Messages) {
        // Only while the work file is still there: after a promotion the next write
        // starts a new one and has nothing to compare with.
        if (auto modified = files_.modificationTime(work)) messageFileStamp_ = std::to_string(*modified);
    }
    // Once appended, the line is in the file: a failed promotion is retried by the poll
    // tick and must not make the caller write the line twice.
    return 1;
}

void LinkFiles::promote(LinkFileId id) {
    if (!writtenByLibrary(id)) return;
    const std::string work = path(id, false);
    const std::string ready = path(id, true);
    const auto size = files_.size(work);
    if (!size || *size < MinPromotedBytes) return;
    bool readyThere = files_.exists(ready);
    // The consumer still has a batch to read: lines gather in the work file meanwhile.
    if (!readyThere && files_.rename(work, ready)) {
        presence_[flagIndex(id, false)] = false;
        readyThere = true;
    }
    if (readyThere) presence_[flagIndex(id, true)] = true;
}

void LinkFiles::refreshPresence() {
    for (LinkFileId id : {LinkFileId::Packets, LinkFileId::Messages, LinkFileId::Commands}) {
        presence_[flagIndex(id, false)] = files_.exists(path(id, false));
        presence_[flagIndex(id, true)] = files_.exists(path(id, true));
    }
}

void LinkFiles::pollTick(const DateTime& now) {
    // The seconds are remembered at once (not only after a command file was read), so
    // the folder is looked at once a second and not at every tick.
    const bool newSecond = now.second != lastSecond_;
    if (newSecond) {
        refreshPresence();
        lastSecond_ = now.second;
    }
    if (presence_[flagIndex(LinkFileId::Packets, false)]) promote(LinkFileId::Packets);
    if (presence_[flagIndex(LinkFileId::Messages, false)]) promote(LinkFileId::Messages);

    const std::string ready = path(LinkFileId::Commands, true);
    const std::size_t flag = flagIndex(LinkFileId::Commands, true);
    if (!files_.exists(ready)) {
        presence_[flag] = false;
        undeletable_.reset();
        return;
    }
    presence_[flag] = true;
    // A command handed on below may run this tick again; the file is being read already.
    if (readingCommands_) return;
    if (undeletable_) {
        retryUndeletable(ready, newSecond);
        return;
    }
    readCommandFile(ready);
}

void LinkFiles::retryUndeletable(const std::string& ready, bool newSecond) {
    const auto size = files_.size(ready);
    const auto modified = files_.modificationTime(ready);
    const bool sameLook = size && modified && *size == undeletable_->size && *modified == undeletable_->modified;
    if (sameLook) {
        if (files_.remove(ready)) {
            undeletable_.reset();
            presence_[flagIndex(LinkFileId::Commands, true)] = false;
            logs_.activity("Deleted " + ready + " at last");
            return;
        }
        // Same size and time: compare the content too, but only once a second, as the
        // whole file has to be read for it.
        if (!newSecond) return;
    }
    readCommandFile(ready);
}

void LinkFiles::readCommandFile(const std::string& ready) {
    const auto size = files_.size(ready);
    const auto modified = files_.modificationTime(ready);
    // One byte more than a line may hold, so that a line too long shows as such.
    LineReadLimits limits;
    limits.maxLines = MaxCommandLines;
    limits.maxLineBytes = MaxCommandLineBytes + 1;
    auto lines = files_.readLines(ready, limits);
    if (!lines) return;  // not readable now: tried again at the next tick

    const CommandFileIdentity identity{size.value_or(0), modified.value_or(0), hashLines(*lines)};
    // Executed already and could not be deleted: executing it again would repeat every
    // command of it at every tick.
    if (undeletable_ && *undeletable_ == identity) return;
    undeletable_.reset();

    {
        Busy busy(readingCommands_);
        for (std::size_t i = 0; i < lines->size(); ++i) {
            std::string& line = (*lines)[i];
            if (line.size() > MaxCommandLineBytes) {
                logs_.error("COMMAND LINE TOO LONG, SKIPPED: line " + std::to_string(i + 1) + " of " + ready +
                                " (more than " + std::to_string(MaxCommandLineBytes) + " bytes)",
                            9998);
                continue;
            }
            handCommandLine(std::move(line));
        }
    }
    // Lines past the 10000th go with the file.
    if (files_.remove(ready)) {
        presence_[flagIndex(LinkFileId::Commands, true)] = false;
        return;
    }
    undeletable_ = identity;
    logs_.error("Unable to delete " + ready + ": its commands ran and are not run again", 9998);
}

void LinkFiles::handCommandLine(std::string line) {
    line = text::replaceAll(line, "[CR]", "\r\n");
    if (line.empty() || line.back() != Etx) line += Etx;
    line = trimSpaces(line);
    // ETX alone: the line was empty or blank.
    if (line.size() > 1 && onCommandLine_) onCommandLine_(line);
}

void LinkFiles::pickFolder(const std::string& folder, bool windowShown) {
    useFolder(paths_.toLocalFolder(text::trim(folder)));
    if (windowShown) unsaved_ = true;
}

bool LinkFiles::typeFolder(const std::string& typed) {
    const std::string folder = paths_.toLocalFolder(text::trim(typed));
    // The test file is left in place, as it always was.
    const bool writable = files_.append(folder + FolderTestName, "");
    useFolder(writable ? folder : paths_.toLocalFolder("C:\\"));
    unsaved_ = true;
    return writable;
}

bool LinkFiles::saveConfiguration() {
    // DDE type not selected, FILES selected, polling interval, folder.
    const std::string content = joinCrLf({"False", "True", text::printedNumber(1), linkFolder_});
    if (!files_.writeAtomic(configFolder_ + LinkConfigName, content)) return false;
    unsaved_ = false;
    return true;
}

}  // namespace iplib
