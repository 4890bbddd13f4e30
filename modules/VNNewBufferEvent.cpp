#include "modules/VNNewBufferEvent.h"

#include "acquisition/BufferPool.h"
#include "acquisition/TimedLock.h"
#include "acquisition/VNAcquisition.h"
#include "core/ErrorReport.h"
#include "modules/BufferHandle.h"
#include "modules/HandleMapping.h"

#include <chrono>
#include <cstring>
#include <string>

namespace vngtl {

using namespace GenTL;

namespace {

constexpr size_t event_data_size = sizeof(EVENT_NEW_BUFFER_DATA);
constexpr size_t event_info_size = 8;
constexpr auto unregister_kill_retry = std::chrono::milliseconds(1000);

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
    BufferPool& pool = acquisition_.pool();
    return pool.output_count() + pool.output_discarded_count() + pool.delivered_count();
}

GC_ERROR VNNewBufferEvent::register_event()
{
    const GC_ERROR result = BaseEvent::register_event();
    if (result != GC_ERR_SUCCESS) {
        return result;
    }
    BufferPool& pool = acquisition_.pool();
    output_size_at_registration_ = pool.output_count();
    discarded_at_registration_ = pool.output_discarded_count();
    delivered_at_registration_ = pool.delivered_count();
    kill_ = 0;
    return GC_ERR_SUCCESS;
}

GC_ERROR VNNewBufferEvent::unregister_event()
{
    if (!is_registered()) {
        return BaseEvent::unregister_event();
    }
    // The event is unregistered while the event mutex is still held: a data call that queued for the mutex
    // behind the one ended here then finds the event unregistered, instead of starting a wait that no later
    // kill would end.
    const std::unique_lock event_guard = end_data_call();
    return BaseEvent::unregister_event();
}

GC_ERROR VNNewBufferEvent::queued_buffer_count(uint64_t& count)
{
    if (!is_registered()) {
        return report_error("VNNewBufferEvent::queued_buffer_count", GC_ERR_INVALID_HANDLE,
                            "Cannot retrieve the queued buffer count for an unregistered event.");
    }
    count = acquisition_.pool().output_count();
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
    acquisition_.frame_ring().skip_all();
    return acquisition_.pool().flush_output_discard();
}

GC_ERROR VNNewBufferEvent::data(void* buffer, size_t* size_in_out, uint64_t timeout_ms)
{
    if (!is_registered()) {
        return report_error("VNNewBufferEvent::data", GC_ERR_INVALID_HANDLE, "Cannot get data from an unregistered event.");
    }
    std::lock_guard event_guard(event_mutex_);
    if (!is_registered()) {
        return report_error("VNNewBufferEvent::data", GC_ERR_ABORT,
                            "The event was unregistered while EventGetData waited for its turn.");
    }
    if (size_in_out == nullptr) {
        return report_error("VNNewBufferEvent::data", GC_ERR_INVALID_PARAMETER,
                            "Invalid read parameters for the event data.");
    }
    const size_t given = *size_in_out;
    *size_in_out = event_data_size;
    if (buffer != nullptr && given < event_data_size) {
        return report_error("VNNewBufferEvent::data", GC_ERR_BUFFER_TOO_SMALL,
                            "Invalid read parameters for the event data.");
    }
    // Without a buffer this is a size query: no buffer is taken off the output queue.
    if (buffer == nullptr) {
        return GC_ERR_SUCCESS;
    }
    if (kill_.exchange(0) != 0) {
        return report_error("VNNewBufferEvent::data", GC_ERR_ABORT, "EventGetData was preemptively killed.");
    }
    PoolBuffer* taken = nullptr;
    const GC_ERROR result = acquisition_.pool().dequeue_latest(&taken, timeout_ms, kill_);
    if (result != GC_ERR_SUCCESS) {
        return result;
    }
    // The stream's pool holds only the buffer handles its factory made.
    auto* handle = static_cast<BufferHandle*>(taken);
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
        const GC_ERROR result = acquisition_.pool().buffer_id_of_handle(record.BufferHandle, &value);
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
    const size_t given = *size_in_out;
    *size_in_out = event_info_size;
    if (buffer != nullptr) {
        if (given < event_info_size) {
            return report_error("VNNewBufferEvent::data_info", GC_ERR_BUFFER_TOO_SMALL, failure);
        }
        std::memcpy(buffer, &value, event_info_size);
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR VNNewBufferEvent::kill(bool immediate)
{
    if (!is_registered()) {
        return report_error("VNNewBufferEvent::kill", GC_ERR_INVALID_HANDLE, "Cannot kill an unregistered event.");
    }
    BufferPool& pool = acquisition_.pool();
    if (immediate) {
        kill_ = 1;
        pool.wake_output_waiters();
        return GC_ERR_SUCCESS;
    }
    end_data_call();
    return GC_ERR_SUCCESS;
}

std::unique_lock<std::timed_mutex> VNNewBufferEvent::end_data_call()
{
    BufferPool& pool = acquisition_.pool();
    // Only a data call in progress holds the event mutex: end it until the mutex comes free.
    std::unique_lock event_guard(event_mutex_, std::defer_lock);
    while (!try_lock_for(event_guard, unregister_kill_retry)) {
        kill_ = 1;
        pool.wake_output_waiters();
    }
    return event_guard;
}

}  // namespace vngtl
