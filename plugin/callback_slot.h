#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

// A host function and the context pointer registered with it. The host hands
// the two over in one call and the function expects that context, so they
// are written as one and read as one: no reader ever gets one registration's
// function with another's context.
//
// A sequence lock. A registration makes the count odd, writes both words and
// makes the count even again; a reader that saw the same even count before
// and after reading both words holds a pair from one registration, and
// otherwise reads again. Readers take no lock and allocate nothing: they only
// go round again while a registration is between its two stores. A second
// registration waits for the count to be even before it makes it odd, so
// registrations never interleave; nothing here can fail or throw. Every access
// is sequentially consistent, which keeps the argument short (one total order
// of all the accesses) and costs plain loads on the reading side of the
// processors we build for.
template <typename Fn>
class CallbackSlot {
public:
    struct Registration {
        Fn fn;
        void* context;
    };

    void Store(Fn fn, void* context) noexcept {
        uint32_t sequence = count.load();
        while ((sequence & 1u) != 0 || !count.compare_exchange_weak(sequence, sequence + 1)) {
            std::this_thread::yield();  // another registration is writing
            sequence = count.load();
        }
        function.store(fn);
        this->context.store(context);
        count.store(sequence + 2);
    }

    Registration Load() const noexcept {
        for (;;) {
            const uint32_t before = count.load();
            const Registration seen{function.load(), context.load()};
            if ((before & 1u) == 0 && count.load() == before) {
                return seen;
            }
            std::this_thread::yield();  // let the registering thread finish
        }
    }

private:
    std::atomic<uint32_t> count{0};
    std::atomic<Fn> function{nullptr};
    std::atomic<void*> context{nullptr};
};
