#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The parameters of a query string as the client sent them, split and
// percent-decoded, in their order. Names are matched without regard to case.
using QueryParameters = std::vector<std::pair<std::string, std::string>>;

// A query string split into its parameters and percent-decoded ('+' is a
// space); a broken escape is kept as it came.
QueryParameters ParseQueryString(std::string_view query);

// Percent-decoding; '+' stays itself in a path. False on a broken escape.
bool PercentDecode(std::string_view text, bool plusIsSpace, std::string& decoded);

// Parameter names and keyword values are matched without regard to case
// (ASCII only).
bool EqualsIgnoringCase(const std::string& a, const char* b);
// The value of the first parameter of that name, or null: a name given
// twice counts once, as first given.
const std::string* FindParameter(const QueryParameters& parameters, const char* name);

// The parts of `text` between separators; one part for text without any.
std::vector<std::string> SplitAt(const std::string& text, char separator);

// A whole number of at most nine decimal digits and nothing else; false
// when it is not one or lies outside [low, high].
bool ParseWholeNumber(const std::string& text, uint32_t low, uint32_t high, uint32_t& value);
