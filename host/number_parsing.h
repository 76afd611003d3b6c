#pragma once

#include <string>

// The programs' numeric arguments, read whole: no trailing text, no
// overflow, within the range the option allows.

// A decimal whole number from `low` to `high`.
bool ParseWholeNumber(const std::string& text, long long low, long long high, long long& value);

// A finite decimal number.
bool ParseFiniteNumber(const std::string& text, double& value);
