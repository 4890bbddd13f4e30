// The new-buffer event of one data stream (EVENT_NEW_BUFFER): each EventGetData hands the consumer the oldest
// filled buffer of the stream's pool as an EVENT_NEW_BUFFER_DATA record. The event handle is this object.
//
// Ownership: owned by the stream's DSModule beside the stream's VNAcquisition, which outlives it; the event
// only borrows the acquisition's pool and frame ring.
//
// Thread safety: data runs under the event mutex, so concurrent EventGetData calls on one event are served
// one at a time; kill runs on any thread. The kill flag is atomic and read and cleared by the pool under its
// pool lock.
#pragma once

#include "modules/BaseEvent.h"

#include <gentl/GenTL.h>

#include <atomic>
#include <cstdint>
#include <mutex>

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
    // Ends a waiting data call first; data calls still waiting for their turn then answer GC_ERR_ABORT.
    GenTL::GC_ERROR unregister_event() override;

    GenTL::GC_ERROR queued_buffer_count(uint64_t& count) override;
    GenTL::GC_ERROR firing_count(uint64_t& count) override;
    // Drops the pending frames and discards the output queue.
    GenTL::GC_ERROR flush() override;
    GenTL::GC_ERROR data(void* buffer, size_t* size_in_out, uint64_t timeout_ms) override;
    GenTL::GC_ERROR data_info(const void* in_buffer, size_t in_size, int32_t command, GenTL::INFO_DATATYPE* type_out,
                              void* buffer, size_t* size_in_out) override;
    // Immediate (EventKill): a waiting data call returns GC_ERR_ABORT, or else the next one does. Not
    // immediate (unregistration): only a data call in progress is ended.
    GenTL::GC_ERROR kill(bool immediate) override;

private:
    // Buffers that have reached the output queue so far: waiting, discarded from it and delivered.
    uint64_t output_total() const;
    // Ends the data call in progress (again each second, as the next one may start) until the event mutex
    // is free; the mutex is then held by the lock returned.
    std::unique_lock<std::timed_mutex> end_data_call();

    VNAcquisition& acquisition_;
    std::atomic<uint64_t> output_size_at_registration_{0};
    std::atomic<uint64_t> discarded_at_registration_{0};
    std::atomic<uint64_t> delivered_at_registration_{0};
    std::atomic<uint32_t> kill_{0};
    // Held by data for its whole run.
    std::timed_mutex event_mutex_;
};

}  // namespace vngtl
