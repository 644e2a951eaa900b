// The delivery sequence of a packet, shared by the receive path and the producers of
// fabricated packets: the packet joins the slot's latest packets (at most 16), becomes its
// last packet (which runs the inbound reactions at once), is logged, and reaches the
// packet file through the spool (which never loses or doubles one).
#pragma once

#include "core/logs.h"
#include "core/terminal_registry.h"
#include "exchange/packet_spool.h"

#include <functional>
#include <string>

namespace iplib {

class PacketDelivery {
public:
    // Runs the reactions to a new last packet of a slot.
    using Reactions = std::function<void(int slot)>;
    // The delay log's record of a delivered packet (terminal number field, packet).
    using DelayRecord = std::function<void(const std::string& number, const std::string& packet)>;

    PacketDelivery(TerminalRegistry& registry, Logs& logs, PacketSpool& spool);

    void setReactions(Reactions r) { reactions_ = std::move(r); }
    void setDelayRecord(DelayRecord d) { delays_ = std::move(d); }
    // Whether packets of fingerprint-managed slots stay out of the packet file.
    void setFingerprintSync(const bool* on) { fingerprintSync_ = on; }

    // A packet cut from a terminal's frames: logged "PAQ:" (or "PAQ Vorlindex:").
    void deliverReceived(int slot, const std::string& packet);
    // A fabricated packet, logged with its own prefix ("ORVELLCO FAKE PAQ:").
    void deliverFabricated(int slot, const std::string& packet, const std::string& logPrefix);

private:
    void remember(int slot, const std::string& packet);

    TerminalRegistry& registry_;
    Logs& logs_;
    PacketSpool& spool_;
    Reactions reactions_;
    DelayRecord delays_;
    const bool* fingerprintSync_ = nullptr;
};

}  // namespace iplib
