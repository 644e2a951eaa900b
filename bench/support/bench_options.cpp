#include "support/bench_options.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace bench {

namespace {
std::optional<double> number(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return value;
}

void printUsage(const char* program, const std::string& summary, const std::vector<OptionSpec>& specs) {
    std::printf("usage: %s [options]\n%s\n", program, summary.c_str());
    for (const auto& s : specs) {
        std::string left = s.name + (s.argument.empty() ? "" : " " + s.argument);
        std::printf("  %-26s %s\n", left.c_str(), s.help.c_str());
    }
    std::printf("  %-26s %s\n", "--help", "this text");
}
}  // namespace

ParseOutcome parseOptions(int argc, char** argv, const std::string& summary, const std::vector<OptionSpec>& specs) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            printUsage(argv[0], summary, specs);
            return ParseOutcome::Help;
        }
        const OptionSpec* option = nullptr;
        for (const auto& s : specs)
            if (s.name == name) option = &s;
        if (!option) {
            std::fprintf(stderr, "unknown option %s (see --help)\n", name.c_str());
            return ParseOutcome::Error;
        }
        std::string value;
        if (!option->argument.empty()) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs %s\n", name.c_str(), option->argument.c_str());
                return ParseOutcome::Error;
            }
            value = argv[++i];
        }
        if (!option->set(value)) {
            std::fprintf(stderr, "%s: unusable value \"%s\"\n", name.c_str(), value.c_str());
            return ParseOutcome::Error;
        }
    }
    return ParseOutcome::Run;
}

std::function<bool(const std::string&)> wholeNumber(std::size_t& target, std::size_t min, std::size_t max) {
    return [&target, min, max](const std::string& text) {
        auto value = number(text);
        if (!value || *value != static_cast<double>(static_cast<std::size_t>(*value))) return false;
        if (*value < static_cast<double>(min) || *value > static_cast<double>(max)) return false;
        target = static_cast<std::size_t>(*value);
        return true;
    };
}

std::function<bool(const std::string&)> seconds(double& target, double min, double max) {
    return [&target, min, max](const std::string& text) {
        auto value = number(text);
        if (!value || *value < min || *value > max) return false;
        target = *value;
        return true;
    };
}

std::function<bool(const std::string&)> text(std::string& target) {
    return [&target](const std::string& value) {
        target = value;
        return !value.empty();
    };
}

std::function<bool(const std::string&)> flag(bool& target, bool value) {
    return [&target, value](const std::string&) {
        target = value;
        return true;
    };
}

std::function<bool(const std::string&)> positiveNumbers(std::vector<double>& target) {
    return [&target](const std::string& text) {
        std::vector<double> values;
        std::stringstream in(text);
        std::string item;
        while (std::getline(in, item, ',')) {
            auto value = number(item);
            if (!value || !(*value > 0) || *value > 1000) return false;
            values.push_back(*value);
        }
        if (values.empty()) return false;
        target = values;
        return true;
    };
}

}  // namespace bench
