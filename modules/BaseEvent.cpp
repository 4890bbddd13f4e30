#include "modules/BaseEvent.h"

#include "core/ErrorReport.h"
#include "core/RegisterMapHelpers.h"

#include <cstring>

namespace vngtl {

using namespace GenTL;

namespace {

constexpr uint64_t event_data_size_max = 16;  // sizeof(EVENT_NEW_BUFFER_DATA)
constexpr uint64_t event_info_data_size_max = 8;

}  // namespace

BaseEvent::BaseEvent(EVENT_TYPE event_type) : event_type_(event_type)
{
    const int32_t type = event_type_;
    add_info(EVENT_EVENT_TYPE, &type, next_free, sizeof type, INFO_DATATYPE_INT32, true, false);

    const uint64_t zero = 0;
    if (auto* queued = static_cast<InfoFuncEntry<EVENT_NUM_IN_QUEUE>*>(
            add_info(EVENT_NUM_IN_QUEUE, &zero, next_free, sizeof zero, INFO_DATATYPE_SIZET, true, false,
                     make_info_func_entry<EVENT_NUM_IN_QUEUE>))) {
        queued->on_pre_read = [this](RegisterMap::Entry&, uint8_t* data, void*, size_t*) {
            uint64_t count = 0;
            const GC_ERROR result = queued_buffer_count(count);
            if (result == GC_ERR_SUCCESS) {
                std::memcpy(data, &count, sizeof count);
            }
            return result;
        };
    }
    if (auto* fired = static_cast<InfoFuncEntry<EVENT_NUM_FIRED>*>(
            add_info(EVENT_NUM_FIRED, &zero, next_free, sizeof zero, INFO_DATATYPE_UINT64, true, false,
                     make_info_func_entry<EVENT_NUM_FIRED>))) {
        fired->on_pre_read = [this](RegisterMap::Entry&, uint8_t* data, void*, size_t*) {
            uint64_t count = 0;
            const GC_ERROR result = firing_count(count);
            if (result == GC_ERR_SUCCESS) {
                std::memcpy(data, &count, sizeof count);
            }
            return result;
        };
    }
    add_info(EVENT_SIZE_MAX, &event_data_size_max, next_free, sizeof event_data_size_max, INFO_DATATYPE_SIZET,
             true, false);
    add_info(EVENT_INFO_DATA_SIZE_MAX, &event_info_data_size_max, next_free, sizeof event_info_data_size_max,
             INFO_DATATYPE_SIZET, true, false);
}

BaseEvent::~BaseEvent()
{
    // A derived event has already unregistered itself; this only clears the base's flag.
    if (is_registered()) {
        BaseEvent::unregister_event();
    }
}

GC_ERROR BaseEvent::info(int32_t command, INFO_DATATYPE* type_out, void* buffer, size_t* size_in_out)
{
    if (!is_registered()) {
        return report_error("BaseEvent::info", GC_ERR_INVALID_HANDLE, "The input event is not currently registered.");
    }
    return BaseInfo::info(command, type_out, buffer, size_in_out);
}

GC_ERROR BaseEvent::register_event()
{
    bool expected = false;
    if (!registered_.compare_exchange_strong(expected, true)) {
        return report_error("BaseEvent::register_event", GC_ERR_RESOURCE_IN_USE,
                            "This event has already been registered.");
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR BaseEvent::unregister_event()
{
    bool expected = true;
    if (!registered_.compare_exchange_strong(expected, false)) {
        return report_error("BaseEvent::unregister_event", GC_ERR_NOT_INITIALIZED, "This event has not been registered.");
    }
    // The object stays (its stream owns it); its handle ends here, and a new registration gets a new one.
    handle_.retire(false);
    return GC_ERR_SUCCESS;
}

GC_ERROR BaseEvent::queued_buffer_count(uint64_t& count)
{
    count = 0;
    return GC_ERR_SUCCESS;
}

GC_ERROR BaseEvent::firing_count(uint64_t& count)
{
    count = 0;
    return GC_ERR_SUCCESS;
}

}  // namespace vngtl
