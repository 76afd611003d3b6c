#include "projection/address_list.h"

#include <cstring>

size_t AddressList::Length(size_t i) const {
    const size_t end = i + 1 < starts.size() ? starts[i + 1] : units.size();
    return end - starts[i] - 1;
}

void AddressList::Reserve(size_t count, size_t length) {
    units.reserve(units.size() + count * (length + 1));
    starts.reserve(starts.size() + count);
}

void AddressList::Append(const char16_t* address, size_t length) {
    AppendWritten(length, [&](char16_t* out) { std::memcpy(out, address, length * sizeof(char16_t)); });
}
