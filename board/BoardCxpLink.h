// The CoaXPress side of one board: block and register access to the camera on the board's own link, and the
// link's speed. A part of its Board, which attaches it to the SDK handle when it opens and detaches it before
// it closes; the board's camera-side operations call it with the board's state lock held, so camera traffic
// and acquisition control stay serialised, and take up a change of the camera's frame after a write.
//
// Lock: the link lock, a leaf: taken last, under the board's state lock (and its SDK lock while the board opens
// or closes), it guards the handle the link talks to. Each access holds it across its one SDK call, and
// answers `opened` false, calling nothing, while the link is detached.
#pragma once

#include "board/BoardTypes.h"
#include "core/ThreadSafety.h"

#include <cstdint>

struct VnBoard;

namespace VNBoards {

class BoardCxpLink {
public:
    void attach(VnBoard* handle) EXCLUDES(lock_);
    void detach() EXCLUDES(lock_);

    BoardCall read_data(uint32_t address, void* buffer, uint32_t length, uint32_t& bytes_read) EXCLUDES(lock_);
    BoardCall write_data(uint32_t address, const void* buffer, uint32_t length) EXCLUDES(lock_);
    BoardCall read_reg(uint32_t address, uint32_t& value) EXCLUDES(lock_);
    BoardCall write_reg(uint32_t address, uint32_t value) EXCLUDES(lock_);
    // Sets the link's connection count and speed-table row and applies the change at once.
    BoardCall configure_link_speed(uint32_t connections, uint32_t row) EXCLUDES(lock_);

private:
    // Runs `call` on the attached handle with the link lock held: {true, its result}, or {} while detached.
    template <class Call>
    BoardCall on_link(Call&& call) EXCLUDES(lock_);

    vngtl::Mutex lock_;
    VnBoard* handle_ GUARDED_BY(lock_) = nullptr;
};

}  // namespace VNBoards
