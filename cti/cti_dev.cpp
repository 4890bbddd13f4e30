#include "cti/CallFrame.h"

using vngtl::call_frame;
using vngtl::CtiManager;
using vngtl::not_implemented;

extern "C" {
namespace GenTL {

GC_API DevGetPort(DEV_HANDLE, PORT_HANDLE*)
{
    return call_frame("DevGetPort", [](CtiManager&) { return not_implemented("DevGetPort"); });
}

GC_API DevGetNumDataStreams(DEV_HANDLE, uint32_t*)
{
    return call_frame("DevGetNumDataStreams", [](CtiManager&) { return not_implemented("DevGetNumDataStreams"); });
}

GC_API DevGetDataStreamID(DEV_HANDLE, uint32_t, char*, size_t*)
{
    return call_frame("DevGetDataStreamID", [](CtiManager&) { return not_implemented("DevGetDataStreamID"); });
}

GC_API DevOpenDataStream(DEV_HANDLE, const char*, DS_HANDLE*)
{
    return call_frame("DevOpenDataStream", [](CtiManager&) { return not_implemented("DevOpenDataStream"); });
}

GC_API DevGetInfo(DEV_HANDLE, DEVICE_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("DevGetInfo", [](CtiManager&) { return not_implemented("DevGetInfo"); });
}

GC_API DevClose(DEV_HANDLE)
{
    return call_frame("DevClose", [](CtiManager&) { return not_implemented("DevClose"); });
}

GC_API DevGetParentIF(DEV_HANDLE, IF_HANDLE*)
{
    return call_frame("DevGetParentIF", [](CtiManager&) { return not_implemented("DevGetParentIF"); });
}

}  // namespace GenTL
}  // extern "C"
