// The positions of frames that the board completed and the copy thread has not taken yet. A position is an
// index into the board's frame table: frame k of an acquisition lies in circular buffer (k - 1) mod capacity,
// so the ring follows the board's frame counter. When the copy thread falls behind, the oldest positions are
// given up to the board, which overwrites them first; at most capacity - 1 frames are pending.
//
// Each pending position also keeps the number of the frame it was recorded for. A copy thread that took a
// position just before the board came round to it again finds a later frame's record in the table: the
// number tells the two apart, so a frame is never handed out in another frame's turn.
//
// Under overrun the oldest pending frame is the very one the board writes next, so a copy thread that always
// takes it loses nearly every copy. take() may therefore be given a margin: the oldest frames that the board
// would reach within that many frames after the one it is writing are given up (counted as skipped), and a
// frame further from the board is copied instead. Frames still come out in increasing order.
//
// Thread safety: every operation takes the ring's own mutex (a leaf lock, annotated for the compiler's
// check). The acquisition thread advances it, the copy thread takes from it, consumer threads skip and size it.
#pragma once

#include "core/ThreadSafety.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vngtl {

class FrameRing {
public:
    // A position taken, with the number of the frame recorded there and when the acquisition thread recorded
    // it (steady clock, nanoseconds; 0 when not given), which the frame's fill record keeps.
    struct Slot {
        uint64_t position = 0;
        uint64_t frame = 0;
        uint64_t received_ns = 0;
        bool operator==(const Slot&) const = default;
    };

    // Empties the ring and gives it `capacity` positions (the board's buffer count).
    void resize(uint64_t capacity);
    // Empties the ring, keeping its capacity.
    void reset();
    uint64_t total_written() const;
    uint64_t total_taken() const;
    uint64_t capacity() const;
    // (tail - head) mod capacity; 0 for a ring without positions.
    uint64_t pending() const;
    // Records `count` more completed frames (more than one when frames were lost on the way), the newest
    // numbered `newest_frame` and the others counting back from it; 0 numbers them by the ring's own count
    // (total written). `received_ns` is kept with each. When the pending frames and the new ones no
    // longer fit, the head moves just past the tail: the oldest frames are dropped. Only for a ring with a
    // non-zero capacity. Answers the frames pending afterwards.
    uint64_t advance(uint64_t count, uint64_t newest_frame = 0, uint64_t received_ns = 0);
    // With more than `offset` frames pending: consumes the oldest position and answers the position
    // `offset` places after it, with its frame number; otherwise none. Before that, while more than
    // `offset` + 1 frames are pending and the answered frame would be one the board reaches within
    // `margin` whole frames after the frame it is writing (the position at the tail), the oldest frame is
    // given up. The newest pending frame is never given up this way.
    std::optional<Slot> take(uint64_t offset, uint64_t margin = 0);
    // Frames that take gave up to keep its margin, since the last resize or reset.
    uint64_t total_skipped() const;
    // Drops every pending frame.
    void skip_all();

private:
    uint64_t pending_locked() const noexcept REQUIRES(lock_);

    mutable Mutex lock_;
    uint64_t capacity_ GUARDED_BY(lock_) = 0;
    uint64_t head_ GUARDED_BY(lock_) = 0;
    uint64_t tail_ GUARDED_BY(lock_) = 0;
    uint64_t total_written_ GUARDED_BY(lock_) = 0;
    uint64_t total_taken_ GUARDED_BY(lock_) = 0;
    uint64_t total_skipped_ GUARDED_BY(lock_) = 0;
    std::vector<uint64_t> frames_ GUARDED_BY(lock_);    // the frame number recorded at each position
    std::vector<uint64_t> received_ GUARDED_BY(lock_);  // when it was recorded
};

}  // namespace vngtl
