// The table of live handles. Every handle the library gives to the consumer is a token entered here with
// the kind of object it stands for; a call turns the token back into its object only through `pin`, which
// answers nothing for a token that is not live (never entered, revoked, or from before the library was last
// closed) or of a kind the call does not take, without ever following the token as a pointer.
//
// A token is odd (so it never equals the address of an object) and carries a slot index in its low bits
// and a serial number, never reused while the process lives, in its high bits. The slots never move: they
// live in chunks that are allocated once and kept until the library is unloaded or the process ends, so
// reading a slot of any index below the table's size is always safe while the library is in use.
//
// Keeping objects alive: `pin` counts the caller on the slot before it reads the slot's token, and `revoke`
// clears the token before it reads that count (both sequentially consistent), so either the pin sees the
// token gone or the revoker sees the pin. `drain` then waits until no other thread holds a pin on the slot;
// pins the revoking thread holds itself (a call that revokes the handle it was given) are not waited for.
// An object's owner revokes and drains its handle before the object's parts go.
//
// Thread safety: thread-safe. `pin`, `unpin` and `object` take no lock. Entering and freeing slots take the
// registry mutex, a leaf lock. `drain` waits for other calls to finish with the handle, so it must not be
// called while holding a lock that such a call may wait for (the owners drain before taking theirs).
#pragma once

#include "core/ThreadPins.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vngtl {

// What a handle stands for, one bit each, so that a call can take several kinds.
enum HandleKind : uint32_t {
    kind_none = 0,
    kind_system = 1u << 0,
    kind_interface = 1u << 1,
    kind_device = 1u << 2,
    kind_stream = 1u << 3,
    kind_buffer = 1u << 4,
    kind_remote_port = 1u << 5,  // the remote device's port object
    kind_event = 1u << 6,
    kind_modules = kind_system | kind_interface | kind_device | kind_stream,
    kind_event_sources = kind_modules | kind_buffer,
    kind_ports = kind_event_sources | kind_remote_port,
};

class HandleRegistry {
public:
    static constexpr uintptr_t no_token = 0;

    // A live token found by pin; `object` is what was entered with it.
    struct Pinned {
        void* object = nullptr;
        uint32_t kind = kind_none;
        uint32_t slot = 0;
    };

    enum class PinResult { pinned, not_live, wrong_kind };

    // Inline, so that each call's pin pays only the guard's check.
    static HandleRegistry& instance()
    {
        // Built at the library's load, before the object that ends the library, so destroyed after it.
        static HandleRegistry registry;
        return registry;
    }

    // A new live token for `object` of `kind` (one bit). Throws std::bad_alloc when the table is full.
    uintptr_t enter(void* object, uint32_t kind);
    // Whether `token` is live now.
    bool is_live(uintptr_t token) const noexcept;
    // Counts the calling thread on the slot of a live `token` whose kind is one of `kinds`; each pinned
    // result must be given back with unpin. Both inline: every call with a handle pins it.
    PinResult pin(uintptr_t token, uint32_t kinds, Pinned& out) noexcept;
    void unpin(uint32_t slot) noexcept;
    // The object of a token that is live or pinned by the calling thread (no pin taken), or null.
    void* object(uintptr_t token) const noexcept;
    // Makes `token` not live; no new pin can be taken on it. False when it was not live.
    bool revoke(uintptr_t token) noexcept;
    // Waits until no thread other than the caller holds a pin taken with `token` (any token of its slot).
    void drain(uintptr_t token) const noexcept;
    // Revokes every live token (GCCloseLib): handles from before are not live afterwards.
    void revoke_all() noexcept;

    // Live tokens; for tests.
    size_t live_count() const noexcept;
    // Slots handed out so far, live or free for reuse (the table never gives memory back); for tests.
    size_t slot_count() const noexcept;

private:
    static constexpr unsigned index_bits = 20;  // one slot more than a million live handles at once
    static constexpr uint32_t chunk_bits = 10;
    static constexpr uint32_t chunk_size = 1u << chunk_bits;
    static constexpr uint32_t chunk_count = (1u << index_bits) / chunk_size;

    struct Slot {
        std::atomic<uintptr_t> token{no_token};
        std::atomic<uint32_t> users{0};
        std::atomic<uint32_t> kind{kind_none};
        std::atomic<void*> object{nullptr};
    };

    HandleRegistry() = default;
    // Gives the slots' memory back when no handle is live and none is pinned (the library ended cleanly,
    // see cti/LibraryLifetime.h); otherwise keeps it, since a call may still read it.
    ~HandleRegistry();
    Slot* slot_of(uintptr_t token) const noexcept;
    Slot* slot_at(uint32_t index) const noexcept;
    static uint32_t index_of(uintptr_t token) noexcept
    {
        return static_cast<uint32_t>((token >> 1) & ((uintptr_t{1} << index_bits) - 1));
    }
    void release_slot(uint32_t index);

    std::array<std::atomic<Slot*>, chunk_count> chunks_{};
    mutable std::mutex mutex_;        // guards the fields below and the allocation of chunks
    uint32_t used_ = 0;               // slots handed out so far (index order)
    uint64_t serial_ = 0;             // the last serial number used
    std::vector<uint32_t> free_;      // revoked slots, for reuse once no pin is left on them
    size_t live_ = 0;
};

inline HandleRegistry::Slot* HandleRegistry::slot_at(uint32_t index) const noexcept
{
    Slot* const chunk = chunks_[index >> chunk_bits].load(std::memory_order_acquire);
    return chunk != nullptr ? chunk + (index & (chunk_size - 1)) : nullptr;
}

inline HandleRegistry::Slot* HandleRegistry::slot_of(uintptr_t token) const noexcept
{
    if ((token & 1u) == 0) {
        return nullptr;
    }
    return slot_at(index_of(token));
}

inline HandleRegistry::PinResult HandleRegistry::pin(uintptr_t token, uint32_t kinds, Pinned& out) noexcept
{
    Slot* const slot = slot_of(token);
    if (slot == nullptr) {
        return PinResult::not_live;
    }
    // The count and then the token, both sequentially consistent: against revoke's clearing of the token
    // and then reading of the count, one of the two sees the other.
    slot->users.fetch_add(1, std::memory_order_seq_cst);
    if (slot->token.load(std::memory_order_seq_cst) != token) {
        slot->users.fetch_sub(1, std::memory_order_release);
        return PinResult::not_live;
    }
    // Entered before the token was stored, which the token's load above has seen.
    const uint32_t kind = slot->kind.load(std::memory_order_relaxed);
    if ((kind & kinds) == 0) {
        slot->users.fetch_sub(1, std::memory_order_release);
        return PinResult::wrong_kind;
    }
    ThreadPins& mine = thread_pins;
    if (mine.count < ThreadPins::capacity) {
        mine.tokens[static_cast<size_t>(mine.count)] = token;
    }
    ++mine.count;
    out.object = slot->object.load(std::memory_order_relaxed);
    out.kind = kind;
    out.slot = index_of(token);
    return PinResult::pinned;
}

inline void HandleRegistry::unpin(uint32_t slot) noexcept
{
    // Pins are given back in the reverse order of taking them.
    --thread_pins.count;
    // Release: what the call did with the object happens before a drain (or a reuse of the slot) that sees
    // the count drop.
    slot_at(slot)->users.fetch_sub(1, std::memory_order_release);
}

}  // namespace vngtl
