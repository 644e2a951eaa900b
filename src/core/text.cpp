#include "core/text.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace iplib::text {
namespace {

// Start (0-based) and end (0-based, exclusive) of field n, plus the delimiters missing
// before it.
struct FieldSpan {
    std::size_t start;
    std::size_t end;
    std::string missing;
};

FieldSpan locate(std::string_view text, std::string_view delimiter, int n) {
    FieldSpan s{0, 0, {}};
    for (int i = 2; i <= n; ++i) {
        std::size_t p = s.start <= text.size() ? text.find(delimiter, s.start) : std::string_view::npos;
        if (p != std::string_view::npos) {
            s.start = p + delimiter.size();
        } else {
            s.start = text.size();
            s.missing += delimiter;
        }
    }
    std::size_t e = text.find(delimiter, s.start);
    s.end = e == std::string_view::npos ? text.size() : e;
    return s;
}

}  // namespace

std::string getField(std::string_view text, std::string_view delimiter, int n) {
    if (delimiter.empty()) return {};
    FieldSpan s = locate(text, delimiter, n);
    if (s.start >= text.size()) return {};
    return std::string(text.substr(s.start, s.end - s.start));
}

std::string setField(std::string_view text, std::string_view delimiter, int n, std::string_view value) {
    if (value.empty()) return getField(text, delimiter, n);
    if (delimiter.empty()) return std::string(value) + std::string(text);
    FieldSpan s = locate(text, delimiter, n);
    std::string out(text.substr(0, s.start));
    out += s.missing;
    out += value;
    out += text.substr(s.end);
    return out;
}

std::string textField(std::string_view text, std::string_view delimiter, int n, std::string_view value) {
    return value.empty() ? getField(text, delimiter, n) : setField(text, delimiter, n, value);
}

std::string padLeft(std::string_view text, int width, std::string_view pad) {
    if (width <= 0) return {};
    std::size_t w = static_cast<std::size_t>(width);
    if (text.size() > w) text = text.substr(text.size() - w);
    std::string out;
    for (std::size_t i = text.size(); i < w; ++i) out += pad;
    out += text;
    return out;
}

std::string decodeEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool inEscape = false;
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (!inEscape) {
            if (c == '%' && i + 1 < text.size()) {
                inEscape = true;
                digits.clear();
            } else {
                out += c;
            }
            continue;
        }
        if (c >= '0' && c <= '9' && digits.size() < 3) {
            digits += c;
            continue;
        }
        inEscape = false;
        if (c == '%' && !digits.empty()) {
            int v = std::stoi(digits);
            if (v >= 1 && v <= 255) {
                out += static_cast<char>(v);
                continue;
            }
            if (v >= 256) return std::string(text);
        }
        out += '%';
        out += digits;
        out += c;
    }
    if (inEscape) {
        out += '%';
        out += digits;
    }
    return out;
}

std::string encodeEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if ((c >= 1 && c <= 31) || c >= 127) {
            out += '%';
            out += std::to_string(c);
            out += '%';
        } else {
            out += ch;
        }
    }
    return out;
}

std::string toBase(std::uint64_t value, int base) {
    if (base < 2 || base > 36) return {};
    std::string out;
    do {
        unsigned d = static_cast<unsigned>(value % static_cast<unsigned>(base));
        value /= static_cast<unsigned>(base);
        out.insert(out.begin(), static_cast<char>(d <= 9 ? 48 + d : 55 + d));
    } while (value != 0);
    return out;
}

std::int64_t fromBase(std::string_view digits, int base) {
    if (base < 2 || base > 36) return 0;
    // Unsigned arithmetic wraps where a long text passes 64 bits (leading zeros included)
    // instead of overflowing; every text that fits comes out exact.
    std::uint64_t result = 0;
    std::uint64_t place = 1;
    for (std::size_t k = digits.size(); k-- > 0;) {
        int v = static_cast<unsigned char>(digits[k]) - 48;
        if (v > 9) v -= 7;
        if (v >= base) return 0;
        result += static_cast<std::uint64_t>(static_cast<std::int64_t>(v)) * place;
        place *= static_cast<std::uint64_t>(base);
    }
    return static_cast<std::int64_t>(result);
}

std::string convFullIp(std::string_view address, bool keepDots) {
    std::string out;
    std::size_t start = 0;
    bool first = true;
    for (;;) {
        std::size_t dot = address.find('.', start);
        std::string_view part = address.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        std::int64_t v = numericValue(part);
        if (v < 0) v = 0;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%03lld", static_cast<long long>(v));
        if (!first && keepDots) out += '.';
        out += buf;
        first = false;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return out;
}

namespace {

// Skips the leading blanks and an optional sign of a number; true when the sign is "-".
bool skipBlanksAndSign(std::string_view text, std::size_t& i) {
    i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) return text[i++] == '-';
    return false;
}

}  // namespace

std::int64_t numericValue(std::string_view text) {
    std::size_t i = 0;
    const bool negative = skipBlanksAndSign(text, i);
    constexpr std::int64_t cap = std::numeric_limits<std::int64_t>::max() / 10 - 9;
    std::int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (v < cap) v = v * 10 + (text[i] - '0');
    return negative ? -v : v;
}

double numericValueReal(std::string_view text) {
    std::size_t i = 0;
    const bool negative = skipBlanksAndSign(text, i);
    double v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) v = v * 10 + (text[i] - '0');
    if (i < text.size() && text[i] == '.') {
        double scale = 0.1;
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale /= 10) v += (text[i] - '0') * scale;
    }
    return negative ? -v : v;
}

std::string printedNumber(std::int64_t value) {
    std::string out(value >= 0 ? " " : "");
    out += std::to_string(value);
    out += ' ';
    return out;
}

std::string fourDigits(std::int64_t number) {
    char buf[32];
    if (number < 0) std::snprintf(buf, sizeof buf, "-%03lld", static_cast<long long>(-number));
    else std::snprintf(buf, sizeof buf, "%04lld", static_cast<long long>(number));
    return buf;
}

std::string trim(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    return std::string(text.substr(b, e - b));
}

std::string toUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return out;
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(text);
    std::string out;
    std::size_t start = 0;
    for (;;) {
        std::size_t p = text.find(from, start);
        if (p == std::string_view::npos) break;
        out += text.substr(start, p - start);
        out += to;
        start = p + from.size();
    }
    out += text.substr(start);
    return out;
}

std::string removeByte(std::string_view text, char byte) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != byte) out += c;
    return out;
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::string hex2(unsigned value) {
    static const char digits[] = "0123456789ABCDEF";
    value &= 0xFF;
    return {digits[value >> 4], digits[value & 15]};
}

}  // namespace iplib::text
