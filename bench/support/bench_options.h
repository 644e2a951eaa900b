// Command-line options of the benchmarks: "--name value" pairs and "--name" flags,
// described by a table so that each program lists only its own.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bench {

struct OptionSpec {
    std::string name;      // "--terminals"
    std::string argument;  // "N"; empty for a flag
    std::string help;
    // Takes the value (empty for a flag); false when it is not acceptable.
    std::function<bool(const std::string&)> set;
};

enum class ParseOutcome { Run, Help, Error };

// Applies the arguments; prints the usage for --help and a reason on an error.
ParseOutcome parseOptions(int argc, char** argv, const std::string& summary, const std::vector<OptionSpec>& specs);

// Setters for the usual kinds of value.
std::function<bool(const std::string&)> wholeNumber(std::size_t& target, std::size_t min, std::size_t max);
std::function<bool(const std::string&)> seconds(double& target, double min, double max);
std::function<bool(const std::string&)> text(std::string& target);
std::function<bool(const std::string&)> flag(bool& target, bool value);
// "1,10" or "2.5".
std::function<bool(const std::string&)> positiveNumbers(std::vector<double>& target);

}  // namespace bench
