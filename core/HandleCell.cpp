#include "core/HandleCell.h"

namespace vngtl {

HandleCell::~HandleCell()
{
    retire(true);
}

uintptr_t HandleCell::token(void* object, uint32_t kind)
{
    HandleRegistry& registry = HandleRegistry::instance();
    const uintptr_t current = live_.load(std::memory_order_acquire);
    if (current != HandleRegistry::no_token && registry.is_live(current)) {
        return current;
    }
    std::lock_guard guard(enter_lock_);
    const uintptr_t again = live_.load(std::memory_order_acquire);
    if (again != HandleRegistry::no_token && registry.is_live(again)) {
        return again;
    }
    const uintptr_t fresh = registry.enter(object, kind);
    last_.store(fresh, std::memory_order_release);
    live_.store(fresh, std::memory_order_release);
    return fresh;
}

uintptr_t HandleCell::current() const noexcept
{
    const uintptr_t token = live_.load(std::memory_order_acquire);
    return HandleRegistry::instance().is_live(token) ? token : HandleRegistry::no_token;
}

void HandleCell::retire(bool drain_calls) noexcept
{
    const uintptr_t current = live_.exchange(HandleRegistry::no_token, std::memory_order_acq_rel);
    if (current != HandleRegistry::no_token) {
        HandleRegistry::instance().revoke(current);
    }
    if (drain_calls) {
        drain();
    }
}

void HandleCell::drain() const noexcept
{
    const uintptr_t last = last_.load(std::memory_order_acquire);
    if (last != HandleRegistry::no_token) {
        HandleRegistry::instance().drain(last);
    }
}

}  // namespace vngtl
