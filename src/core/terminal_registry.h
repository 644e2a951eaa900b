// The table of terminals. Each terminal occupies one slot (0 for the first line of the
// terminal list) and every per-terminal table of the library is indexed by it. The
// registry keeps the terminal lines in slot order, the two lookups between terminal
// numbers and slots, and the runtime state of every slot.
//
// A terminal line has six comma-separated fields:
//   number, address, port, state text ("=" + status + date + time), time zone, type.
#pragma once

#include "platform/clock.h"
#include "platform/network.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace iplib {

inline constexpr int NO_SLOT = 9999;
// Index used by log lines that belong to no terminal.
inline constexpr int NO_TERMINAL_INDEX = 9998;
inline constexpr int MaxTerminalNumber = 9999;

enum class LinkState : int { Loaded = 1, Connected = 2, Closing = 3, Down = 4 };
enum class TxState : int { Idle = 0, Polled = 1, CommandSent = 2 };

namespace terminal_types {
inline constexpr const char* Ethernet = "Ethernet";
inline constexpr const char* Cellular = "Cellular";
inline constexpr const char* Vorlindex = "QBX-Vorlindex";
inline constexpr const char* RQ05T = "RQ05T";
inline constexpr const char* Internet = "Internet";
}  // namespace terminal_types

// The runtime state of one slot: created with the slot, destroyed at the next reload.
struct SlotState {
    LinkState linkState = LinkState::Loaded;
    std::unique_ptr<TcpLink> socket;
    // Address the socket was last connected (or connecting) to, for the board reset.
    std::string socketAddress;
    std::string receiveBuffer;
    TxState txState = TxState::Idle;
    int protoCountdown = 0;     // tenths of a second
    double holdSeconds = 0;     // whole seconds without polls
    int reconnectTicks = 0;     // connection-timer ticks since the last attempt
    std::deque<std::string> commandQueue;
    std::string currentCommand;
    int retryCount = 0;
    std::deque<std::string> packetQueue;  // the latest packets, at most 16
    std::string lastPacket;
    std::string lastFrame;
    int fingerprintMark = 0;
    // An abort (E7) from the terminal holds this slot's exchange until this time
    // (epoch milliseconds); bytes arriving meanwhile wait in heldInput.
    std::int64_t exchangeHeldUntil = 0;
    std::string heldInput;
};

class TerminalRegistry {
public:
    explicit TerminalRegistry(const Clock& clock);

    std::size_t count() const { return lines_.size(); }
    bool empty() const { return lines_.empty(); }
    bool hasSlot(int slot) const { return slot >= 0 && static_cast<std::size_t>(slot) < lines_.size(); }

    const std::string& line(int slot) const { return lines_.at(static_cast<std::size_t>(slot)); }
    // Field n of a slot's line.
    std::string field(int slot, int n) const;
    std::string type(int slot) const { return field(slot, 6); }
    bool isCellular(int slot) const;
    bool isInternet(int slot) const;

    // Runtime state; slot 0's always exists, even with no lines. Any other index gives
    // slot 0's (callers check hasSlot first where it matters).
    SlotState& state(int slot) {
        return *states_[slot > 0 && static_cast<std::size_t>(slot) < states_.size() ? static_cast<std::size_t>(slot) : 0];
    }
    const SlotState& state(int slot) const {
        return *states_[slot > 0 && static_cast<std::size_t>(slot) < states_.size() ? static_cast<std::size_t>(slot) : 0];
    }

    int slotOf(std::int64_t number) const;
    int numberOf(int slot) const;
    int& reconnectFailureCount(int slot);

    // Appends a slot for the line, normalised to six fields (fields 5 and 6 trimmed),
    // with link state Loaded; the lookups point at the new slot. Returns the slot.
    int addTerminal(const std::string& line);
    // Replaces the line of an existing slot and moves the lookups to its new number.
    void replaceTerminal(int slot, const std::string& line);
    // Records a link status in field 4: "=" + text + " mm-dd-yyyy hh:mm:ss".
    void setStateText(int slot, const std::string& status);
    // Changes a slot's line as it stands (call-in identification, renumbering).
    void setLine(int slot, const std::string& line) { lines_.at(static_cast<std::size_t>(slot)) = line; }
    void setLookups(int slot, std::int64_t oldNumber, std::int64_t newNumber);

    // Empties the lookups and the lines and drops the runtime state of slots 1 upward
    // (their sockets close); slot 0's runtime state stays. The first step of a reload.
    void clearForReload();
    // Removes one slot's line without a reload (the caller saves and reloads).
    void eraseLine(int slot);

    const std::vector<std::string>& lines() const { return lines_; }

private:
    const Clock& clock_;
    std::vector<std::string> lines_;
    std::vector<std::unique_ptr<SlotState>> states_;  // at least one
    std::vector<int> slotOf_;                          // by number 0..9999
    std::vector<int> numberOf_;                        // by slot
    std::vector<int> failures_;                        // by slot
};

}  // namespace iplib
