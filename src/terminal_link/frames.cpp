#include "terminal_link/frames.h"

#include "core/text.h"

namespace iplib::frames {

std::string checksum(std::string_view bytes) {
    unsigned sum = 0;
    for (char c : bytes) sum += static_cast<unsigned char>(c);
    return text::hex2(sum);
}

std::string commandFrame(std::string_view commandText, int terminalNumber) {
    std::string body(commandText);
    if (auto p = body.find('['); p != std::string::npos) body.replace(p, 1, std::to_string(terminalNumber));
    std::string frame;
    frame.reserve(body.size() + 4);
    frame += STX;
    frame += body;
    frame += checksum(frame);
    frame += ETX;
    return frame;
}

const std::string& keepAlive(bool cellular) { return cellular ? CellularKeepAlive : PlainKeepAlive; }

std::optional<FrameSpan> findFrame(std::string_view buffer) {
    const std::size_t s = buffer.find(STX);
    if (s == std::string_view::npos) return std::nullopt;
    const std::size_t e = buffer.find(ETX, s + 1);
    if (e == std::string_view::npos) return std::nullopt;
    return FrameSpan{s, e + 1};
}

bool checksumAccepted(std::string_view frame) {
    if (frame.size() < 3) return false;
    const std::string_view received = frame.substr(frame.size() - 3, 2);
    if (received == "??") return true;
    return checksum(frame.substr(0, frame.size() - 3)) == received;
}

std::string rewriteAddress(std::string frame, std::string_view numberField) {
    if (frame.size() <= 18) return frame;
    const char type = frame[2];
    if (type == 'S' || type == 'D') return frame;
    // A number field shorter than two characters replaces only what it has.
    const std::string_view digits = numberField.size() >= 2 ? numberField.substr(numberField.size() - 2) : numberField;
    for (std::size_t i = 0; i < digits.size(); ++i) frame[15 + i] = digits[i];
    return frame;
}

}  // namespace iplib::frames
