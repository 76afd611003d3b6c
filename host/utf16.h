#pragma once

#include <string>

// The plug-in speaks UTF-16 (layer names, tile addresses, its description);
// the hosts speak UTF-8.

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD.
std::string ToUtf8(const char16_t* text);

// UTF-8 to UTF-16. Every byte that does not start a well-formed sequence
// (overlong forms, surrogates, beyond U+10FFFF, truncated) becomes U+FFFD.
std::u16string ToUtf16(const std::string& text);
