#include "cti/CallFrame.h"

using vngtl::BaseEvent;
using vngtl::CallFrame;
using vngtl::from_handle;
using vngtl::live;
using vngtl::not_null;
namespace message = vngtl::message;

namespace {

BaseEvent& event_of(GenTL::EVENT_HANDLE handle) noexcept
{
    return *from_handle<BaseEvent>(handle);
}

}  // namespace

extern "C" {
namespace GenTL {

GC_API EventGetData(EVENT_HANDLE hEvent, void* pBuffer, size_t* piSize, uint64_t iTimeout)
{
    return CallFrame("EventGetData")
        .check(not_null(hEvent, GC_ERR_INVALID_HANDLE, message::input_null))
        .check(live(hEvent, vngtl::kind_event, message::event_dead))
        .run([&](CallFrame&) { return event_of(hEvent).data(pBuffer, piSize, iTimeout); });
}

GC_API EventGetDataInfo(EVENT_HANDLE hEvent, const void* pInBuffer, size_t iInSize, EVENT_DATA_INFO_CMD iInfoCmd,
                        INFO_DATATYPE* piType, void* pOutBuffer, size_t* piOutSize)
{
    return CallFrame("EventGetDataInfo")
        .check(not_null(hEvent, GC_ERR_INVALID_HANDLE, message::input_null))
        .check(live(hEvent, vngtl::kind_event, message::event_dead))
        .run([&](CallFrame&) {
            return event_of(hEvent).data_info(pInBuffer, iInSize, iInfoCmd, piType, pOutBuffer, piOutSize);
        });
}

GC_API EventGetInfo(EVENT_HANDLE hEvent, EVENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize)
{
    return CallFrame("EventGetInfo")
        .check(not_null(hEvent, GC_ERR_INVALID_HANDLE, message::input_null))
        .check(live(hEvent, vngtl::kind_event, message::event_dead))
        .run([&](CallFrame&) { return event_of(hEvent).info(iInfoCmd, piType, pBuffer, piSize); });
}

GC_API EventFlush(EVENT_HANDLE hEvent)
{
    return CallFrame("EventFlush")
        .check(not_null(hEvent, GC_ERR_INVALID_HANDLE, message::input_null))
        .check(live(hEvent, vngtl::kind_event, message::event_dead))
        .run([&](CallFrame&) { return event_of(hEvent).flush(); });
}

GC_API EventKill(EVENT_HANDLE hEvent)
{
    return CallFrame("EventKill")
        .check(not_null(hEvent, GC_ERR_INVALID_HANDLE, message::input_null))
        .check(live(hEvent, vngtl::kind_event, message::event_dead))
        .run([&](CallFrame&) { return event_of(hEvent).kill(true); });
}

}  // namespace GenTL
}  // extern "C"
