// The new-buffer event of one data stream (EVENT_NEW_BUFFER): each EventGetData hands the consumer the oldest
// filled buffer of the stream's pool as an EVENT_NEW_BUFFER_DATA record. The event handle is this object.
//
// Ownership: owned by the stream's DSModule beside the stream's VNAcquisition, which outlives it; the event
// only borrows the engine, through its wait, flush and count doors.
//
// Thread safety: a data call holds the event's turn for its whole run, so concurrent EventGetData calls on
// one event are served one at a time; a call waits for its turn no longer than its own time-out. kill and
// unregistration run on any thread. The kill flag is atomic and read and cleared by the pool under its pool
// lock. Unregistration (and kill(false)) ends every call in progress or waiting for its turn at once by
// raising the wait epoch, which those calls compare with the one they began in.
#pragma once

#include "core/ThreadSafety.h"
#include "modules/BaseEvent.h"

#include <gentl/GenTL.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>

namespace vngtl {

class VNAcquisition;

class VNNewBufferEvent : public BaseEvent {
public:
    explicit VNNewBufferEvent(VNAcquisition& acquisition);
    ~VNNewBufferEvent() override;
    VNNewBufferEvent(const VNNewBufferEvent&) = delete;
    VNNewBufferEvent& operator=(const VNNewBufferEvent&) = delete;

    // Registration restarts the fired count and clears a pending kill.
    GenTL::GC_ERROR register_event() override;
    // Refuses new data calls from here on and ends those in progress or waiting for their turn, which answer
    // GC_ERR_ABORT as soon as their threads run; it does not wait for them.
    GenTL::GC_ERROR unregister_event() override;

    GenTL::GC_ERROR queued_buffer_count(uint64_t& count) override;
    GenTL::GC_ERROR firing_count(uint64_t& count) override;
    // Drops the pending frames and discards the output queue.
    GenTL::GC_ERROR flush() override;
    GenTL::GC_ERROR data(void* buffer, size_t* size_in_out, uint64_t timeout_ms) override;
    GenTL::GC_ERROR data_info(const void* in_buffer, size_t in_size, int32_t command, GenTL::INFO_DATATYPE* type_out,
                              void* buffer, size_t* size_in_out) override;
    // Immediate (EventKill): a waiting data call returns GC_ERR_ABORT, or else the next one does. Not
    // immediate: every data call in progress or waiting for its turn is ended, and no kill is left behind.
    GenTL::GC_ERROR kill(bool immediate) override;

private:
    // Buffers that have reached the output queue so far: waiting, discarded from it and delivered.
    uint64_t output_total() const;
    // Ends every data call begun so far (see the top of this file).
    void end_waits();
    // Gives the turn back and wakes the data calls waiting for it.
    void release_turn();

    VNAcquisition& acquisition_;
    std::atomic<uint64_t> output_size_at_registration_{0};
    std::atomic<uint64_t> discarded_at_registration_{0};
    std::atomic<uint64_t> delivered_at_registration_{0};
    std::atomic<uint32_t> kill_{0};

    // The turn: held by one data call at a time, for its whole run. A leaf lock guards the taken flag; the
    // epoch is raised under it and read without it.
    Mutex turn_lock_;
    std::condition_variable turn_free_;
    bool turn_taken_ GUARDED_BY(turn_lock_) = false;
    std::atomic<uint64_t> wait_epoch_{0};
};

}  // namespace vngtl
