// Figures from a set of measured durations.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace bench {

struct Summary {
    std::size_t count = 0;
    double median = 0;  // same unit as the values
    double p99 = 0;     // nearest rank: 99 % of the values are at or below it
    double max = 0;
    double mean = 0;
};

// Empty for no values. The vector is reordered.
std::optional<Summary> summarize(std::vector<double>& values);

// "median 1.23 ms, p99 4.56 ms, max 7.89 ms (n=1000)" for values in milliseconds, or
// "no values".
std::string describeMilliseconds(const std::optional<Summary>& summary);

template <class Duration>
double milliseconds(Duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// printf into a std::string.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

}  // namespace bench
