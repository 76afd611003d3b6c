#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

// An amount of something (tiles, bytes) shared by concurrent requests: each
// holds a share for as long as it needs it, and waits until enough is free.
// A share is never more than the whole, so every request gets its turn.
class Allowance {
public:
    explicit Allowance(size_t total) : total(total) {}
    Allowance(const Allowance&) = delete;
    Allowance& operator=(const Allowance&) = delete;

    class Share {
    public:
        Share(Allowance& allowance, size_t amount);
        ~Share();
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;

    private:
        Allowance& allowance;
        size_t amount;
    };

    size_t InUse() const;

private:
    const size_t total;
    mutable std::mutex mutex;
    std::condition_variable released;
    size_t inUse = 0;
};
