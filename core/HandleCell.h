// The handle of one object, held by the object: entered into the live-handle table when the handle is
// first handed out, the same token for every later hand-out while it stays live, and revoked (and drained
// of other threads' calls) when the object's owner ends the handle's life.
//
// Thread safety: thread-safe; two threads handing out one object at once get one token.
#pragma once

#include "core/HandleRegistry.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace vngtl {

class HandleCell {
public:
    HandleCell() = default;
    HandleCell(const HandleCell&) = delete;
    HandleCell& operator=(const HandleCell&) = delete;
    // A backstop for owners that did not retire the handle: revokes and drains it.
    ~HandleCell();

    // The live token of `object`, entered with `kind` if it has none (or only one from before the
    // library was last closed).
    uintptr_t token(void* object, uint32_t kind);
    // The live token, or no_token when the handle has not been handed out or was retired.
    uintptr_t current() const noexcept;
    // Ends the handle's life: no call finds the object through it afterwards. With `drain`, also waits for
    // calls on other threads that found it earlier (for an owner that is about to destroy the object).
    void retire(bool drain) noexcept;
    // Waits for calls on other threads that found the object through a token retired earlier.
    void drain() const noexcept;

private:
    std::atomic<uintptr_t> live_{HandleRegistry::no_token};
    std::atomic<uintptr_t> last_{HandleRegistry::no_token};  // the latest token, live or retired
    std::mutex enter_lock_;  // a leaf lock: only entering a token runs under it
};

}  // namespace vngtl
