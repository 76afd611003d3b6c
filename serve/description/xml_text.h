#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text from outside made fit for an XML document: at most `maxBytes` bytes,
// cut between characters, every byte that is not part of well-formed UTF-8
// and every character XML 1.0 forbids replaced by U+FFFD. Markup is not
// escaped here.
std::string XmlCharacters(std::string_view text, size_t maxBytes);
