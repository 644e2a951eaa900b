#include "exchange/packet_delivery.h"

namespace iplib {

PacketDelivery::PacketDelivery(TerminalRegistry& registry, Logs& logs, PacketSpool& spool)
    : registry_(registry), logs_(logs), spool_(spool) {}

void PacketDelivery::remember(int slot, const std::string& packet) {
    SlotState& s = registry_.state(slot);
    s.packetQueue.push_back(packet);
    s.lastPacket = packet;
    if (reactions_) reactions_(slot);
}

void PacketDelivery::deliverReceived(int slot, const std::string& packet) {
    remember(slot, packet);
    const bool fingerprintManaged =
        fingerprintSync_ && *fingerprintSync_ && registry_.state(slot).fingerprintMark != 0;
    logs_.activity((fingerprintManaged ? "PAQ Vorlindex:" : "PAQ:") + packet);
    if (logs_.delayOn() && delays_) delays_(registry_.field(slot, 1), packet);
    if (fingerprintManaged) return;
    SlotState& s = registry_.state(slot);
    if (s.packetQueue.size() > 15) s.packetQueue.clear();
    spool_.deliver(packet);
}

void PacketDelivery::deliverFabricated(int slot, const std::string& packet, const std::string& logPrefix) {
    remember(slot, packet);
    logs_.activity(logPrefix + packet);
    SlotState& s = registry_.state(slot);
    if (s.packetQueue.size() > 15) s.packetQueue.clear();
    spool_.deliver(packet);
}

}  // namespace iplib
