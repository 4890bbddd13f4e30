// Copies frames out of the board's circular buffers for one stream. A frame of at least split_threshold
// bytes is cut into one part per thread: the calling copy thread copies the first part and the stream's
// helper threads the others, so a large frame is not limited by what one core moves. The helpers are
// started once, with the copier, and sleep between frames; no thread is started per frame. Smaller frames
// are copied by the caller alone (waking a helper costs more than it saves).
//
// Ownership: owns its helper threads and joins them in the destructor.
//
// Thread safety: copy() is called by one thread at a time (the stream's copy thread); the copier's mutex is
// a leaf lock, taken with no other lock of the copier's held inside it, and annotated for the compiler's check.
#pragma once

#include "core/ThreadSafety.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <thread>
#include <vector>

namespace vngtl {

class FrameCopier {
public:
    // Frames from this size on are split.
    static constexpr size_t default_split_threshold = size_t{1} << 20;

    // `threads` copy a large frame together (the caller included; 1: no helpers). 0 picks the default: one
    // fewer than the cores, at most 4, and no helpers with two cores or fewer, unless the environment's
    // VNGTL_COPY_THREADS names a count.
    explicit FrameCopier(unsigned threads = 0, size_t split_threshold = default_split_threshold);
    ~FrameCopier();
    FrameCopier(const FrameCopier&) = delete;
    FrameCopier& operator=(const FrameCopier&) = delete;

    // Copies `count` bytes; returns once every part has been copied.
    void copy(void* destination, const void* source, size_t count);

    // The threads that copy one large frame, the caller included.
    unsigned thread_count() const noexcept { return static_cast<unsigned>(helpers_.size()) + 1; }
    size_t split_threshold() const noexcept { return split_threshold_; }
    // Frames that were split (for the benchmark and the tests).
    uint64_t split_count() const;

    static unsigned default_thread_count() noexcept;

private:
    void helper_func(std::stop_token stop, unsigned index);

    const size_t split_threshold_;

    mutable Mutex mutex_;
    std::condition_variable_any work_condition_;
    std::condition_variable_any done_condition_;
    // The frame being copied.
    uint8_t* destination_ GUARDED_BY(mutex_) = nullptr;
    const uint8_t* source_ GUARDED_BY(mutex_) = nullptr;
    size_t part_ GUARDED_BY(mutex_) = 0;
    size_t count_ GUARDED_BY(mutex_) = 0;
    uint64_t generation_ GUARDED_BY(mutex_) = 0;
    unsigned outstanding_ GUARDED_BY(mutex_) = 0;
    uint64_t splits_ GUARDED_BY(mutex_) = 0;

    // Last, so that everything the helpers use is built before them.
    std::vector<std::jthread> helpers_;
};

}  // namespace vngtl
