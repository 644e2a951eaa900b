// Text and field helpers used by every record of the library: terminal lines, command
// lines, packets, queue entries, configuration lines. Texts are byte strings (one byte a
// character, 0..255); positions count from 1. These rules are relied on byte for byte by
// files and peers, so their edge cases are part of the contract.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace iplib::text {

// Field n (1-based) of a text cut by a delimiter of one or more bytes. Numbers below 2
// mean field 1; a field past the last reads empty; the last field runs to the end.
// An empty delimiter reads empty.
std::string getField(std::string_view text, std::string_view delimiter, int n);

// The text with field n replaced by value, adding the delimiters needed when the field
// lies past the end ("A" with field 3 set to "X" gives "A,,X"). An empty value makes this
// a get, as the rebuild is defined: callers cannot empty a field with it. With an empty
// delimiter the result is value + text.
std::string setField(std::string_view text, std::string_view delimiter, int n, std::string_view value);

// The combined operation: a get when value is empty, a set otherwise.
std::string textField(std::string_view text, std::string_view delimiter, int n, std::string_view value = {});

// Left pad to width: a longer text keeps its last width characters; a one-character pad
// gives exactly width characters. Width 0 (or below) gives "".
std::string padLeft(std::string_view text, int width, std::string_view pad);

// "%NNN%" (1 to 3 digits, value 1..255) becomes that byte; anything else stays. A value
// from 256 to 999 between percent signs makes the whole text come back unchanged.
std::string decodeEscapes(std::string_view text);
// Bytes 1..31 and 127..255 become "%N%"; byte 0 and "%" stay.
std::string encodeEscapes(std::string_view text);

// Digits of a non-negative number in base 2..36 ("A" for 10). Zero gives "0".
std::string toBase(std::uint64_t value, int base);
// Value of digits in base 2..36; a digit not below the base gives 0 at once; lower-case
// letters count above 35 and so give 0; characters below "0" count as negative digits.
std::int64_t fromBase(std::string_view digits, int base);

// Every octet of a dotted address with at least three digits, joined with "." or nothing.
std::string convFullIp(std::string_view address, bool keepDots);

// The numeric value of a text as the library reads numbers: leading blanks skipped, an
// optional sign, then the leading digits ("12345C" gives 12345; no digits gives 0).
// Saturates instead of overflowing.
std::int64_t numericValue(std::string_view text);
// The same with a decimal fraction ("0.5" gives 0.5), for seconds and timeouts.
double numericValueReal(std::string_view text);

// Number printed as a numeric print does: a blank before a non-negative value and a blank
// after it (" 1 ", "-3 ").
std::string printedNumber(std::int64_t value);

// Terminal numbers are shown and written with four digits.
std::string fourDigits(std::int64_t number);

// Leading and trailing blanks (spaces and tabs) removed.
std::string trim(std::string_view text);
std::string toUpper(std::string_view text);

// Every occurrence of `from` replaced by `to` (non-overlapping, left to right).
std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);
// Every occurrence of the byte removed.
std::string removeByte(std::string_view text, char byte);

bool contains(std::string_view text, std::string_view part);

// Two upper-case hexadecimal digits of a value's low byte.
std::string hex2(unsigned value);

}  // namespace iplib::text
