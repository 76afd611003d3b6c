#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text from outside made fit for an XML document: at most `maxBytes` bytes,
// cut between characters, every byte that is not part of well-formed UTF-8
// and every character XML 1.0 forbids replaced by U+FFFD. Markup is not
// escaped here.
std::string XmlCharacters(std::string_view text, size_t maxBytes);

// Text with XML's five special characters escaped, control characters
// that XML 1.0 forbids replaced by '?'.
std::string EscapeXml(const std::string& text);

// The shortest decimal that reads back as the same double.
std::string ShortestNumber(double value);
