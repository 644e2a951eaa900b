// The link files: the library's side of the file exchange with the customer's software in
// the link folder. Three files, each under a work name (".TMP", still being written) and a
// ready name (".OK", for the other side), changing from one to the other only by a rename:
//   1 FILE_PAQ  packets          written by the library, consumed by the customer
//   2 FILE_MSG  status messages  written by the library, consumed by the customer
//   3 FILE_COM  command lines    written by the customer, read and deleted here
// The customer waits for a ready file, reads it and deletes it; the library promotes its
// work file as soon as the previous ready file is gone, and polls for a ready command file
// every millisecond.
//
// A FILE_COM.OK that cannot be deleted after its commands ran is not executed again while
// it stays the same file (same size, modification time and content): only its deletion is
// retried, and one error-log line "Unable to delete ..." says so.
#pragma once

#include "core/logs.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/paths.h"

#include <array>
#include <functional>
#include <optional>
#include <string>

namespace iplib {

enum class LinkFileId : int { Packets = 1, Messages = 2, Commands = 3 };

class LinkFiles {
public:
    static constexpr std::size_t MaxCommandLines = 10000;
    // A longer command line is skipped with an error-log line, never cut and executed.
    static constexpr std::size_t MaxCommandLineBytes = 64 * 1024;
    // A work file shorter than this is not promoted.
    static constexpr std::uint64_t MinPromotedBytes = 8;

    // One command line of FILE_COM.OK, "[CR]" expanded, ETX ensured, trimmed.
    using CommandLineHandler = std::function<void(const std::string& line)>;
    // The packet transformations applied before a packet is written; returns true when
    // the transformation took the packet itself (it is then not written, and the write
    // counts as done). It may change the line.
    using PacketTransform = std::function<bool(std::string& line)>;

    LinkFiles(FileSystem& files, const Clock& clock, Logs& logs, const DrivePaths& paths);

    void setConfigFolder(std::string folder) { configFolder_ = std::move(folder); }
    void setCommandLineHandler(CommandLineHandler h) { onCommandLine_ = std::move(h); }
    void setPacketTransform(PacketTransform t) { transform_ = std::move(t); }
    // Called when another library instance is seen writing the same message file.
    void setSecondCopyHandler(std::function<void()> h) { onSecondCopy_ = std::move(h); }

    // Start: reads LINK.CFG (fourth line = link folder) or takes the configuration
    // folder, then refreshes the presence flags.
    void start();
    const std::string& linkFolder() const { return linkFolder_; }
    // Full path of a link file's base name (no extension); "" for an unknown id.
    std::string basePath(LinkFileId id) const;

    // FILE_WRITE: appends one line (CR and LF removed) to the work file and promotes it
    // when the consumer has taken the previous batch. 1 done, 0 a file operation failed.
    int fileWrite(LinkFileId id, std::string& line);
    // The two halves of FILE_WRITE, for a writer that keeps lines for later (the packet
    // spool) and must transform each packet exactly once however often its write is
    // tried: the packet transformations alone (true when they took the packet), and
    // FILE_WRITE without them. fileWrite(id, line) is the one followed by the other.
    bool transformPacket(std::string& line);
    int writeLine(LinkFileId id, std::string& line);
    // FILE_CHK_TMP2OK: renames the work file to the ready name when it holds at least
    // 8 bytes and no ready file exists.
    void promote(LinkFileId id);
    // VER_ALL_FILE: presence flags from the folder.
    void refreshPresence();
    // The poll tick: presence once a second, pending promotions, then FILE_COM.OK.
    void pollTick(const DateTime& now);

    // Presence flags: index 0..5 = PAQ.TMP, PAQ.OK, MSG.TMP, MSG.OK, COM.TMP, COM.OK.
    const std::array<bool, 6>& presence() const { return presence_; }

    // The operator's folder choice.
    // A directory picked in the picker ("unsaved" is set while the window is shown).
    void pickFolder(const std::string& folder, bool windowShown);
    // A typed folder, confirmed: checked by creating "TST.TST" in it; on failure the
    // folder text becomes "C:\" (the drive root). Returns whether the test write worked.
    // Typing is done in the shown window, so a change sets the unsaved-choice flag.
    bool typeFolder(const std::string& text);
    // "SAVE CONFIGURATION": writes LINK.CFG.
    bool saveConfiguration();
    bool unsavedChoice() const { return unsaved_; }

private:
    // What makes a command file "the same file" again.
    struct CommandFileIdentity {
        std::uint64_t size = 0;
        std::int64_t modified = 0;
        std::uint64_t contentHash = 0;
        friend bool operator==(const CommandFileIdentity&, const CommandFileIdentity&) = default;
    };

    std::string path(LinkFileId id, bool ready) const;
    void readCommandFile(const std::string& ready);
    // The ready command file is one already executed whose deletion failed.
    void retryUndeletable(const std::string& ready, bool newSecond);
    void handCommandLine(std::string line);
    void useFolder(std::string folder);

    FileSystem& files_;
    const Clock& clock_;
    Logs& logs_;
    const DrivePaths& paths_;
    std::string configFolder_;
    std::string linkFolder_;
    CommandLineHandler onCommandLine_;
    PacketTransform transform_;
    std::function<void()> onSecondCopy_;
    std::array<bool, 6> presence_{};
    std::string messageFileStamp_;
    int lastSecond_ = -1;
    bool unsaved_ = false;
    bool readingCommands_ = false;
    std::optional<CommandFileIdentity> undeletable_;
};

}  // namespace iplib
