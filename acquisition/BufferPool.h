// The buffers of one data stream: every announced buffer, the input queue of buffers waiting to be filled and
// the output queue of filled buffers waiting for delivery, both first in, first out. Consumer threads announce,
// revoke, queue and flush; the copy thread fills the oldest queued buffer (fill_next); EventGetData takes the
// oldest filled one (dequeue_latest).
//
// Ownership: the pool owns every announced buffer (shared) until it is revoked; the queues hold further
// references to announced buffers only. The buffers are made by the factory the pool is given, so that
// the module above gives them their handles and ports.
//
// Locks, in this order:
//   1. fill lock - held by the copy thread from taking a buffer off the input queue until the buffer is back
//                  in a queue, so that the flushes that take it (all to input, all discard) never see a buffer
//                  in flight. It is given up while the copy thread waits for a queued buffer.
//   2. pool lock - the map of announced buffers, both queues and the filling flag. Counters are atomics,
//                  changed under it and read without it.
#pragma once

#include "acquisition/PoolBuffer.h"
#include "core/ThreadSafety.h"

#include <gentl/GenTL.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <stop_token>
#include <vector>

namespace vngtl {

class BufferPool {
public:
    // Fills a buffer taken off the input queue with the next frame (the acquisition's copy_frame).
    using CopyFrame = std::function<bool(PoolBuffer&)>;

    explicit BufferPool(BufferFactory factory);
    ~BufferPool();
    BufferPool(const BufferPool&) = delete;
    BufferPool& operator=(const BufferPool&) = delete;

    // A buffer on the consumer's memory at `data`; no two announced buffers share a data address.
    GenTL::GC_ERROR announce_buffer(PoolBuffer** handle_out, void* data, size_t size, void* user_pointer);
    // A buffer on memory allocated by the library.
    GenTL::GC_ERROR announce_buffer(PoolBuffer** handle_out, size_t size, void* user_pointer);
    // Forgets a buffer the consumer holds; the data address (null for allocated memory) and user pointer are
    // handed back through the pointers that are given.
    GenTL::GC_ERROR revoke_buffer(PoolBuffer* handle, void** data_out, void** user_pointer_out);
    GenTL::GC_ERROR queue_to_input(PoolBuffer* handle);
    // A buffer's ID is its position among the announced buffers in ascending address order, so it changes
    // when buffers are announced or revoked.
    GenTL::GC_ERROR buffer_id(PoolBuffer* handle, uint64_t* id_out);
    // The same for a buffer given by its GenTL handle, which may be stale: the handle is compared with the
    // announced buffers' handles and never followed.
    GenTL::GC_ERROR buffer_id_of_handle(const void* handle, uint64_t* id_out);
    GenTL::GC_ERROR buffer_from_id(uint64_t id, PoolBuffer** handle_out);
    // The three hand-outs above, counted: the buffer outlives a revoke on another thread for as long as the
    // caller holds it (the module enters its handle meanwhile).
    GenTL::GC_ERROR announce_shared(std::shared_ptr<PoolBuffer>* handle_out, void* data, size_t size,
                                    void* user_pointer);
    GenTL::GC_ERROR announce_shared(std::shared_ptr<PoolBuffer>* handle_out, size_t size, void* user_pointer);
    GenTL::GC_ERROR shared_buffer_from_id(uint64_t id, std::shared_ptr<PoolBuffer>* handle_out);

    size_t announced_count();
    // The input queue, plus the buffer being filled.
    size_t queued_count();
    size_t output_count();
    uint64_t delivered_count() const noexcept { return delivered_.load(); }
    uint64_t output_discarded_count() const noexcept { return output_discarded_.load(); }
    uint64_t queued_total() const noexcept { return queued_total_.load(); }
    uint64_t filled_total() const noexcept { return filled_total_.load(); }
    uint64_t input_flushed_total() const noexcept { return input_flushed_total_.load(); }

    // The five flushes of DSFlushQueue, by their ACQ_QUEUE_TYPE: 0 input to output, 1 output discard, 2 all
    // to input, 3 unqueued to input, 4 all discard. Each answers 0.
    GenTL::GC_ERROR flush_input_to_output();
    GenTL::GC_ERROR flush_output_discard();
    GenTL::GC_ERROR flush_all_to_input();
    GenTL::GC_ERROR flush_unqueued_to_input();
    GenTL::GC_ERROR flush_all_discard();

    // Copy thread only: takes the oldest queued buffer (waiting for one, until `stop` is requested, when the
    // input queue is empty), has `copy_frame` fill it and appends it to the output queue; a buffer that was
    // not filled goes back to the end of the input queue. True when a buffer was filled.
    bool fill_next(const CopyFrame& copy_frame, std::stop_token stop = {});

    // Whether the waiter's event has ended its waits (it was unregistered, its stream closed); asked under
    // the pool lock.
    using WaitEnded = std::function<bool()>;

    // Takes the oldest filled buffer, waiting up to `timeout_ms` (GENTL_INFINITE: no limit). A set `kill`
    // flag ends the wait with GC_ERR_ABORT and is cleared; `ended` answering true ends it the same way and
    // leaves the kill flag alone. The buffer is handed out counted: once off the output queue it is the
    // consumer's, and another thread may revoke it while the caller still reads it.
    GenTL::GC_ERROR dequeue_latest(std::shared_ptr<PoolBuffer>* buffer_out, uint64_t timeout_ms,
                                   std::atomic<uint32_t>& kill, const WaitEnded& ended = {});
    // Wakes every dequeue_latest waiting for the output queue (after its kill flag was set or its event
    // ended its waits).
    void wake_output_waiters();

    // Where every announced buffer is, taken with both locks held so that no buffer is in flight.
    struct Inventory {
        std::vector<PoolBuffer*> announced;  // in ID order
        std::vector<BufferState> states;       // of the announced buffers, in the same order
        std::vector<PoolBuffer*> input;      // oldest first
        std::vector<PoolBuffer*> output;     // oldest first
        bool filling = false;
        uint64_t delivered = 0;
        uint64_t output_discarded = 0;
        uint64_t filled_total = 0;
    };
    Inventory inventory();

private:
    using BufferRef = std::shared_ptr<PoolBuffer>;

    // The flushes that take the fill lock wait for it in steps of 1000 ms and call this after each: the copy
    // thread may be waiting for a queued buffer with the fill lock, and lets go of it when woken.
    void wake_copy_thread() EXCLUDES(pool_lock_);
    // Whether `handle` is announced here.
    bool is_announced(const PoolBuffer* handle) const REQUIRES(pool_lock_);
    void requeue_locked(PoolBuffer& buffer) REQUIRES(pool_lock_);

    const BufferFactory factory_;
    std::map<const PoolBuffer*, BufferRef> announced_ GUARDED_BY(pool_lock_);
    std::deque<BufferRef> input_ GUARDED_BY(pool_lock_);
    std::deque<BufferRef> output_ GUARDED_BY(pool_lock_);
    std::atomic<bool> filling_{false};

    std::atomic<uint64_t> delivered_{0};
    std::atomic<uint64_t> output_discarded_{0};
    std::atomic<uint64_t> queued_total_{0};
    std::atomic<uint64_t> filled_total_{0};
    std::atomic<uint64_t> input_flushed_total_{0};

    // Lock order: fill_lock_, then pool_lock_ (see the top of this file). The fill lock guards no member: it
    // keeps a buffer from being in flight while a flush holds it.
    TimedMutex fill_lock_;
    TimedMutex pool_lock_ ACQUIRED_AFTER(fill_lock_);
    // Notified under the pool lock when buffers enter the input queue; the copy thread waits on it.
    std::condition_variable_any input_condition_;
    // Notified under the pool lock when buffers enter or leave the output queue, and on a kill.
    std::condition_variable_any output_condition_;
};

}  // namespace vngtl
