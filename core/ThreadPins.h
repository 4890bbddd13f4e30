// The slots the calling thread holds pins on (core/HandleRegistry.h), so that its own drain does not wait
// for itself and a handle it has pinned still finds its object after another thread revoked it. A call
// holds at most a few pins (a stream and a buffer); further pins are still counted on their slots.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vngtl {

struct ThreadPins {
    static constexpr int capacity = 8;
    std::array<uintptr_t, capacity> tokens{};
    int count = 0;

    bool holds(uintptr_t token) const noexcept
    {
        for (int i = 0; i < count && i < capacity; ++i) {
            if (tokens[static_cast<size_t>(i)] == token) {
                return true;
            }
        }
        return false;
    }
};

// Constant-initialised, so that a pin reaches it without a call to a thread-local wrapper.
extern constinit thread_local ThreadPins thread_pins;

}  // namespace vngtl
