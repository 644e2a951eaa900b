#include "support/statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <numeric>

namespace bench {

std::optional<Summary> summarize(std::vector<double>& values) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    Summary s;
    s.count = n;
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    const auto rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n)));
    s.p99 = values[std::clamp<std::size_t>(rank, 1, n) - 1];
    s.max = values.back();
    s.mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(n);
    return s;
}

std::string describeMilliseconds(const std::optional<Summary>& s) {
    if (!s) return "no values";
    return format("median %.3f ms, p99 %.3f ms, max %.3f ms, mean %.3f ms (n=%zu)", s->median, s->p99, s->max,
                  s->mean, s->count);
}

std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, pattern, copy);
    va_end(copy);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(text.data(), text.size() + 1, pattern, args);
    va_end(args);
    return text;
}

}  // namespace bench
