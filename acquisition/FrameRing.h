// The positions of frames that the board completed and the copy thread has not taken yet. A position is an
// index into the board's frame table: frame k of an acquisition lies in circular buffer (k - 1) mod capacity,
// so the ring follows the board's frame counter. When the copy thread falls behind, the oldest positions are
// given up to the board, which overwrites them first; at most capacity - 1 frames are pending.
//
// Thread safety: every operation takes the ring's own mutex. The acquisition thread advances it, the copy
// thread takes from it, consumer threads skip and size it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

namespace vngtl {

class FrameRing {
public:
    // Empties the ring and gives it `capacity` positions (the board's buffer count).
    void resize(uint64_t capacity);
    // Empties the ring, keeping its capacity.
    void reset();
    uint64_t total_written() const;
    uint64_t total_taken() const;
    uint64_t capacity() const;
    // (tail - head) mod capacity; 0 for a ring without positions.
    uint64_t pending() const;
    // Records `count` more completed frames (more than one when frames were lost on the way). When the
    // pending frames and the new ones no longer fit, the head moves just past the tail: the oldest frames
    // are dropped. Only for a ring with a non-zero capacity.
    void advance(uint64_t count);
    // With more than `offset` frames pending: consumes the oldest position and answers the position
    // `offset` places after it; otherwise none.
    std::optional<uint64_t> take(uint64_t offset);
    // Drops every pending frame.
    void skip_all();

private:
    uint64_t pending_locked() const noexcept;

    mutable std::mutex lock_;
    uint64_t capacity_ = 0;
    uint64_t head_ = 0;
    uint64_t tail_ = 0;
    uint64_t total_written_ = 0;
    uint64_t total_taken_ = 0;
};

}  // namespace vngtl
