#include "modules/VNNewBufferEvent.h"

#include "acquisition/BufferPool.h"
#include "acquisition/VNAcquisition.h"
#include "core/ErrorReport.h"
#include "core/SizeProtocol.h"
#include "modules/BufferHandle.h"
#include "modules/HandleMapping.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>

namespace vngtl {

using namespace GenTL;

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t event_data_size = sizeof(EVENT_NEW_BUFFER_DATA);
constexpr size_t event_info_size = 8;
// Time-outs beyond this (about 30 years) wait without a limit, as the pool's do.
constexpr uint64_t longest_timeout_ms = uint64_t{1} << 40;

const char* data_info_name(int32_t command)
{
    switch (command) {
    case EVENT_DATA_ID: return "EVENT_DATA_ID";
    case EVENT_DATA_VALUE: return "EVENT_DATA_VALUE";
    default: return "EVENT_DATA_NUMID";
    }
}

}  // namespace

VNNewBufferEvent::VNNewBufferEvent(VNAcquisition& acquisition)
    : BaseEvent(EVENT_NEW_BUFFER), acquisition_(acquisition)
{
}

VNNewBufferEvent::~VNNewBufferEvent()
{
    if (is_registered()) {
        unregister_event();
    }
    // Calls that found this event through its handle (a wait that unregistration has just ended) leave it
    // before its parts go.
    handle_cell().drain();
}

uint64_t VNNewBufferEvent::output_total() const
{
    return acquisition_.output_count() + acquisition_.output_discarded_count() + acquisition_.delivered_count();
}

GC_ERROR VNNewBufferEvent::register_event()
{
    const GC_ERROR result = BaseEvent::register_event();
    if (result != GC_ERR_SUCCESS) {
        return result;
    }
    output_size_at_registration_ = acquisition_.output_count();
    discarded_at_registration_ = acquisition_.output_discarded_count();
    delivered_at_registration_ = acquisition_.delivered_count();
    kill_ = 0;
    return GC_ERR_SUCCESS;
}

GC_ERROR VNNewBufferEvent::unregister_event()
{
    // The registered flag falls before the epoch rises: a data call that takes the turn lock after the rise
    // finds the event unregistered, one that took it before is ended by the rise.
    const GC_ERROR result = BaseEvent::unregister_event();
    if (result == GC_ERR_SUCCESS) {
        end_waits();
    }
    return result;
}

GC_ERROR VNNewBufferEvent::queued_buffer_count(uint64_t& count)
{
    if (!is_registered()) {
        return report_error("VNNewBufferEvent::queued_buffer_count", GC_ERR_INVALID_HANDLE,
                            "Cannot retrieve the queued buffer count for an unregistered event.");
    }
    count = acquisition_.output_count();
    return GC_ERR_SUCCESS;
}

GC_ERROR VNNewBufferEvent::firing_count(uint64_t& count)
{
    if (!is_registered()) {
        return report_error("VNNewBufferEvent::firing_count", GC_ERR_INVALID_HANDLE,
                            "Cannot retrieve the number fo event fired count for an unregistered event.");
    }
    const uint64_t at_registration =
        output_size_at_registration_ + discarded_at_registration_ + delivered_at_registration_;
    count = output_total() - at_registration;
    return GC_ERR_SUCCESS;
}

GC_ERROR VNNewBufferEvent::flush()
{
    if (!is_registered()) {
        return report_error("VNNewBufferEvent::flush", GC_ERR_INVALID_HANDLE, "Cannot flush an unregistered event.");
    }
    return acquisition_.flush(ACQ_QUEUE_OUTPUT_DISCARD);
}

GC_ERROR VNNewBufferEvent::data(void* buffer, size_t* size_in_out, uint64_t timeout_ms)
{
    if (!is_registered()) {
        return report_error("VNNewBufferEvent::data", GC_ERR_INVALID_HANDLE, "Cannot get data from an unregistered event.");
    }
    std::optional<Clock::time_point> deadline;
    if (timeout_ms != GENTL_INFINITE && timeout_ms <= longest_timeout_ms) {
        deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    }
    // The size is settled before a buffer is taken off the output queue, so a short buffer loses no frame.
    const GC_ERROR fits = check_capacity(event_data_size, buffer, size_in_out);
    if (fits != GC_ERR_SUCCESS) {
        return report_error("VNNewBufferEvent::data", fits, "Invalid read parameters for the event data.");
    }
    // Without a buffer this is a size query: no buffer is taken off the output queue, and no turn is needed.
    if (buffer == nullptr) {
        return GC_ERR_SUCCESS;
    }

    MutexLock turn(turn_lock_);
    const uint64_t epoch = wait_epoch_.load();
    const auto ended = [this, epoch] { return wait_epoch_.load() != epoch; };
    // Run by the waits with the turn lock held.
    const auto may_go = [&]() REQUIRES(turn_lock_) { return !turn_taken_ || ended(); };
    if (deadline) {
        if (!turn_free_.wait_until(turn.native(), *deadline, may_go)) {
            return report_error("VNNewBufferEvent::data", GC_ERR_TIMEOUT,
                                "Timed out while another EventGetData call was waiting on this event.");
        }
    } else {
        turn_free_.wait(turn.native(), may_go);
    }
    if (ended() || !is_registered()) {
        return report_error("VNNewBufferEvent::data", GC_ERR_ABORT,
                            "The event was unregistered while EventGetData waited for its turn.");
    }
    turn_taken_ = true;
    turn.unlock();
    struct TurnGuard {
        VNNewBufferEvent& event;
        ~TurnGuard() { event.release_turn(); }
    } const turn_guard{*this};

    if (kill_.exchange(0) != 0) {
        return report_error("VNNewBufferEvent::data", GC_ERR_ABORT, "EventGetData was preemptively killed.");
    }
    // The pool waits for what is left of the time-out, rounded up so that the call never ends early.
    uint64_t remaining_ms = timeout_ms;
    if (deadline) {
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
        remaining_ms = static_cast<uint64_t>(std::max<std::chrono::milliseconds::rep>(remaining.count(), 0));
    }
    // Held counted while its handle and user pointer are read: a DSRevokeBuffer on another thread may take
    // the buffer back as soon as it is off the output queue.
    std::shared_ptr<PoolBuffer> taken;
    const GC_ERROR result = acquisition_.wait_buffer(&taken, remaining_ms, kill_, ended);
    if (result != GC_ERR_SUCCESS) {
        return result;
    }
    // The stream's pool holds only the buffer handles its factory made.
    auto* handle = static_cast<BufferHandle*>(taken.get());
    EVENT_NEW_BUFFER_DATA record{};
    record.BufferHandle = to_handle(handle);
    record.pUserPointer = handle->user_pointer();
    std::memcpy(buffer, &record, sizeof record);
    return GC_ERR_SUCCESS;
}

GC_ERROR VNNewBufferEvent::data_info(const void* in_buffer, size_t in_size, int32_t command, INFO_DATATYPE* type_out,
                                     void* buffer, size_t* size_in_out)
{
    if (!is_registered()) {
        return report_error("VNNewBufferEvent::data_info", GC_ERR_INVALID_HANDLE,
                            "Cannot get data info from an unregistered event.");
    }
    if (in_buffer == nullptr) {
        return report_error("VNNewBufferEvent::data_info", GC_ERR_INVALID_HANDLE, "Null input buffer.");
    }
    if (in_size != event_data_size) {
        return report_error("VNNewBufferEvent::data_info", GC_ERR_INVALID_HANDLE,
                            "The input buffer size is incorrect; sizeof(EVENT_NEW_BUFFER_DATA) == " +
                                std::to_string(event_data_size) + ".");
    }
    EVENT_NEW_BUFFER_DATA record{};
    std::memcpy(&record, in_buffer, sizeof record);

    uint64_t value = 0;
    INFO_DATATYPE type = INFO_DATATYPE_PTR;
    switch (command) {
    case EVENT_DATA_ID:
        value = reinterpret_cast<uintptr_t>(record.BufferHandle);
        break;
    case EVENT_DATA_VALUE:
        value = reinterpret_cast<uintptr_t>(record.pUserPointer);
        break;
    case EVENT_DATA_NUMID: {
        // The record may name a buffer revoked since: its handle is looked up, not followed.
        const GC_ERROR result = acquisition_.buffer_id_of_handle(record.BufferHandle, &value);
        if (result != GC_ERR_SUCCESS) {
            return result;
        }
        type = INFO_DATATYPE_UINT64;
        break;
    }
    default:
        return report_error("VNNewBufferEvent::data_info", GC_ERR_NOT_IMPLEMENTED,
                            "Unknown EVENT_DATA_INFO_CMD with ID = " + std::to_string(command) + ".");
    }

    const std::string failure = std::string("Error setting the EVENT_NEW_BUFFER_DATA::") + data_info_name(command) +
                                " info command return buffer data.";
    if (type_out == nullptr || size_in_out == nullptr) {
        return report_error("VNNewBufferEvent::data_info", GC_ERR_INVALID_PARAMETER, failure);
    }
    *type_out = type;
    const GC_ERROR delivered = deliver_bytes(&value, sizeof value, event_info_size, buffer, size_in_out);
    if (delivered != GC_ERR_SUCCESS) {
        return report_error("VNNewBufferEvent::data_info", delivered, failure);
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR VNNewBufferEvent::kill(bool immediate)
{
    if (!is_registered()) {
        return report_error("VNNewBufferEvent::kill", GC_ERR_INVALID_HANDLE, "Cannot kill an unregistered event.");
    }
    if (immediate) {
        kill_ = 1;
        acquisition_.wake_waiters();
        return GC_ERR_SUCCESS;
    }
    end_waits();
    return GC_ERR_SUCCESS;
}

void VNNewBufferEvent::end_waits()
{
    {
        MutexLock turn(turn_lock_);
        wait_epoch_ += 1;
    }
    // Calls waiting for their turn see the new epoch when woken; the one in the pool sees it under the pool
    // lock, which wake_output_waiters takes before it notifies.
    turn_free_.notify_all();
    acquisition_.wake_waiters();
}

void VNNewBufferEvent::release_turn()
{
    {
        MutexLock turn(turn_lock_);
        turn_taken_ = false;
    }
    // All are woken: one whose wait has just timed out must not swallow the only wake-up.
    turn_free_.notify_all();
}

}  // namespace vngtl
