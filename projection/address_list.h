#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The tile addresses of one request, kept as zero-terminated texts one after
// another in a single buffer. A request of 65,536 tiles then makes one
// allocation for its texts instead of one per address, and gives the memory
// back whole: the allocator keeps it for the next request instead of
// returning it to the system page by page and faulting it in again.
class AddressList {
public:
    size_t Size() const { return starts.size(); }
    bool Empty() const { return starts.empty(); }

    // Address i, zero-terminated; valid until the list next grows.
    const char16_t* Text(size_t i) const { return units.data() + starts[i]; }
    size_t Length(size_t i) const;
    std::u16string String(size_t i) const { return std::u16string(Text(i), Length(i)); }

    // Room for `count` more addresses of up to `length` units each.
    void Reserve(size_t count, size_t length);

    void Append(const char16_t* address, size_t length);

    // Appends an address of exactly `length` units that `write` writes in
    // place, given where its first unit goes.
    template <typename Write>
    void AppendWritten(size_t length, Write write) {
        const size_t start = units.size();
        units.resize(start + length + 1);
        write(units.data() + start);
        units[start + length] = u'\0';
        starts.push_back(start);
    }

private:
    std::vector<char16_t> units;
    std::vector<size_t> starts;
};
