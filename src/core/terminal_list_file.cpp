#include "core/terminal_list_file.h"

#include "core/text.h"

namespace iplib {

TerminalListFile::TerminalListFile(FileSystem& files, TerminalRegistry& registry, Logs& logs)
    : files_(files), registry_(registry), logs_(logs) {}

bool TerminalListFile::load() {
    // Slot 0's queue outlives the reload (broadcast entries wait there); commands it held
    // for a terminal that is no longer in slot 0 must not reach whichever terminal is now.
    const int oldSlot0Number = registry_.empty() ? NO_SLOT : registry_.numberOf(0);
    registry_.clearForReload();
    SlotState& zero = registry_.state(0);
    zero.socket.reset();
    zero.receiveBuffer.clear();

    bool loaded = false;
    if (files_.exists(path())) {
        LineReadLimits limits;
        limits.maxLines = 15 + MaxTerminalLines;
        limits.maxLineBytes = MaxLineBytes;
        if (auto lines = files_.readLines(path(), limits)) {
            loaded = true;
            auto at = [&](std::size_t i) -> std::string { return i < lines->size() ? (*lines)[i] : std::string(); };
            auto_.keptNumber = text::numericValue(at(1));
            for (std::size_t i = 0; i < 12; ++i) auto_.selectors[i] = text::numericValue(at(2 + i)) != 0;
            auto_.autoIp = text::numericValue(at(14)) != 0;
            if (!auto_.autoIp) {
                for (std::size_t i = 15; i < lines->size() && i < 15 + MaxTerminalLines; ++i) {
                    const std::string& stored = (*lines)[i];
                    const std::size_t eq = stored.find('=');
                    const std::string head = eq == std::string::npos ? std::string() : stored.substr(0, eq + 1);
                    registry_.addTerminal(head + "WAIT FOR THE ANSWER," + text::getField(stored, ",", 5) + "," +
                                          text::getField(stored, ",", 6));
                }
            }
        }
    }
    for (std::size_t s = 0; s < registry_.count(); ++s) registry_.state(static_cast<int>(s)).txState = TxState::Idle;
    registry_.state(0).txState = TxState::Idle;
    if (registry_.empty() || registry_.numberOf(0) != oldSlot0Number) {
        auto& q = zero.commandQueue;
        std::erase_if(q, [](const std::string& entry) { return text::getField(entry, "\xFA", 1) != "*"; });
        zero.currentCommand.clear();
        zero.retryCount = 0;
    }
    return loaded;
}

bool TerminalListFile::save() {
    std::vector<std::string> out;
    out.reserve(registry_.count() + 15);
    out.push_back("VIDE");
    out.push_back(text::printedNumber(auto_.keptNumber));
    for (bool s : auto_.selectors) out.push_back(text::printedNumber(s ? 1 : 0));
    out.push_back(text::printedNumber(auto_.autoIp ? 1 : 0));
    for (std::size_t s = 0; s < registry_.count(); ++s)
        if (!registry_.isInternet(static_cast<int>(s))) out.push_back(registry_.line(static_cast<int>(s)));
    if (files_.writeAtomic(path(), joinCrLf(out)) && files_.exists(path())) return true;
    const std::string message = "Unable to save the configuration into folder: " + path();
    logs_.error(message, NO_TERMINAL_INDEX);
    logs_.showError(message);
    return false;
}

}  // namespace iplib
