#include "drawing/allowance.h"

#include <algorithm>

Allowance::Share::Share(Allowance& allowance, size_t amount)
    : allowance(allowance), amount(std::min(amount, allowance.total)) {
    std::unique_lock<std::mutex> lock(allowance.mutex);
    allowance.released.wait(lock, [&] { return allowance.inUse + this->amount <= allowance.total; });
    allowance.inUse += this->amount;
}

Allowance::Share::~Share() {
    {
        std::lock_guard<std::mutex> lock(allowance.mutex);
        allowance.inUse -= amount;
    }
    allowance.released.notify_all();
}

size_t Allowance::InUse() const {
    std::lock_guard<std::mutex> lock(mutex);
    return inUse;
}
