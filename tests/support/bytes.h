// Byte texts written as literals, byte 0 included: bytes("A\0B") has three bytes.
#pragma once

#include <cstddef>
#include <string>

namespace iplib::testing {

template <std::size_t N>
std::string bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

}  // namespace iplib::testing
