#include "core/HandleRegistry.h"

#include <chrono>
#include <new>
#include <thread>

namespace vngtl {

constinit thread_local ThreadPins thread_pins;

HandleRegistry::~HandleRegistry()
{
    if (live_ != 0) {
        return;
    }
    for (uint32_t index = 0; index < used_; ++index) {
        if (slot_at(index)->users.load(std::memory_order_seq_cst) != 0) {
            return;
        }
    }
    for (std::atomic<Slot*>& chunk : chunks_) {
        delete[] chunk.exchange(nullptr, std::memory_order_acq_rel);
    }
}

uintptr_t HandleRegistry::enter(void* object, uint32_t kind)
{
    std::lock_guard guard(mutex_);
    uint32_t index = 0;
    bool found = false;
    // A revoked slot is reused only once nobody holds a pin on it any more.
    for (auto it = free_.begin(); it != free_.end(); ++it) {
        // Acquire: the last unpin (release) and what its call did with the slot happen before the reuse.
        if (slot_at(*it)->users.load(std::memory_order_acquire) == 0) {
            index = *it;
            free_.erase(it);
            found = true;
            break;
        }
    }
    if (!found) {
        if (used_ == (1u << index_bits)) {
            throw std::bad_alloc();
        }
        index = used_;
        std::atomic<Slot*>& chunk = chunks_[index >> chunk_bits];
        if (chunk.load(std::memory_order_relaxed) == nullptr) {
            chunk.store(new Slot[chunk_size], std::memory_order_release);  // kept until the table goes
        }
        ++used_;
    }
    const uintptr_t token =
        (static_cast<uintptr_t>(++serial_) << (index_bits + 1)) | (static_cast<uintptr_t>(index) << 1) | 1u;
    Slot& slot = *slot_at(index);
    slot.object.store(object, std::memory_order_relaxed);
    slot.kind.store(kind, std::memory_order_relaxed);
    slot.token.store(token, std::memory_order_seq_cst);
    ++live_;
    return token;
}

bool HandleRegistry::is_live(uintptr_t token) const noexcept
{
    const Slot* const slot = slot_of(token);
    return slot != nullptr && slot->token.load(std::memory_order_acquire) == token;
}

void* HandleRegistry::object(uintptr_t token) const noexcept
{
    const Slot* const slot = slot_of(token);
    if (slot == nullptr) {
        return nullptr;
    }
    // A token this thread has pinned keeps its object even when another thread revokes it meanwhile: the
    // slot is not reused while the pin is held, and the object is not destroyed before its owner drains.
    if (slot->token.load(std::memory_order_acquire) != token && !thread_pins.holds(token)) {
        return nullptr;
    }
    return slot->object.load(std::memory_order_relaxed);
}

bool HandleRegistry::revoke(uintptr_t token) noexcept
{
    Slot* const slot = slot_of(token);
    if (slot == nullptr) {
        return false;
    }
    uintptr_t expected = token;
    if (!slot->token.compare_exchange_strong(expected, no_token, std::memory_order_seq_cst)) {
        return false;
    }
    release_slot(index_of(token));
    return true;
}

void HandleRegistry::release_slot(uint32_t index)
{
    try {
        std::lock_guard guard(mutex_);
        free_.push_back(index);
        --live_;
    } catch (...) {
        // Without memory for the free list the slot is simply not reused.
        std::lock_guard guard(mutex_);
        --live_;
    }
}

void HandleRegistry::drain(uintptr_t token) const noexcept
{
    const Slot* const slot = slot_of(token);
    if (slot == nullptr) {
        return;
    }
    const ThreadPins& mine = thread_pins;
    uint32_t own = 0;
    for (int i = 0; i < mine.count && i < ThreadPins::capacity; ++i) {
        own += slot_of(mine.tokens[static_cast<size_t>(i)]) == slot ? 1u : 0u;
    }
    for (unsigned round = 0; slot->users.load(std::memory_order_seq_cst) > own; ++round) {
        if (round < 64) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
}

void HandleRegistry::revoke_all() noexcept
{
    uint32_t used = 0;
    {
        std::lock_guard guard(mutex_);
        used = used_;
    }
    for (uint32_t index = 0; index < used; ++index) {
        Slot& slot = *slot_at(index);
        const uintptr_t token = slot.token.load(std::memory_order_seq_cst);
        if (token != no_token) {
            revoke(token);
        }
    }
}

size_t HandleRegistry::live_count() const noexcept
{
    std::lock_guard guard(mutex_);
    return live_;
}

size_t HandleRegistry::slot_count() const noexcept
{
    std::lock_guard guard(mutex_);
    return used_;
}

}  // namespace vngtl
