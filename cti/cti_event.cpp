#include "cti/CallFrame.h"

using vngtl::call_frame;
using vngtl::CtiManager;
using vngtl::not_implemented;

extern "C" {
namespace GenTL {

GC_API EventGetData(EVENT_HANDLE, void*, size_t*, uint64_t)
{
    return call_frame("EventGetData", [](CtiManager&) { return not_implemented("EventGetData"); });
}

GC_API EventGetDataInfo(EVENT_HANDLE, const void*, size_t, EVENT_DATA_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("EventGetDataInfo", [](CtiManager&) { return not_implemented("EventGetDataInfo"); });
}

GC_API EventGetInfo(EVENT_HANDLE, EVENT_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("EventGetInfo", [](CtiManager&) { return not_implemented("EventGetInfo"); });
}

GC_API EventFlush(EVENT_HANDLE)
{
    return call_frame("EventFlush", [](CtiManager&) { return not_implemented("EventFlush"); });
}

GC_API EventKill(EVENT_HANDLE)
{
    return call_frame("EventKill", [](CtiManager&) { return not_implemented("EventKill"); });
}

}  // namespace GenTL
}  // extern "C"
