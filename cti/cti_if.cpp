#include "cti/CallFrame.h"

using vngtl::call_frame;
using vngtl::CtiManager;
using vngtl::not_implemented;

extern "C" {
namespace GenTL {

GC_API IFClose(IF_HANDLE)
{
    return call_frame("IFClose", [](CtiManager&) { return not_implemented("IFClose"); });
}

GC_API IFGetInfo(IF_HANDLE, INTERFACE_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("IFGetInfo", [](CtiManager&) { return not_implemented("IFGetInfo"); });
}

GC_API IFGetNumDevices(IF_HANDLE, uint32_t*)
{
    return call_frame("IFGetNumDevices", [](CtiManager&) { return not_implemented("IFGetNumDevices"); });
}

GC_API IFGetDeviceID(IF_HANDLE, uint32_t, char*, size_t*)
{
    return call_frame("IFGetDeviceID", [](CtiManager&) { return not_implemented("IFGetDeviceID"); });
}

GC_API IFUpdateDeviceList(IF_HANDLE, bool8_t*, uint64_t)
{
    return call_frame("IFUpdateDeviceList", [](CtiManager&) { return not_implemented("IFUpdateDeviceList"); });
}

GC_API IFGetDeviceInfo(IF_HANDLE, const char*, DEVICE_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("IFGetDeviceInfo", [](CtiManager&) { return not_implemented("IFGetDeviceInfo"); });
}

GC_API IFOpenDevice(IF_HANDLE, const char*, DEVICE_ACCESS_FLAGS, DEV_HANDLE*)
{
    return call_frame("IFOpenDevice", [](CtiManager&) { return not_implemented("IFOpenDevice"); });
}

GC_API IFGetParentTL(IF_HANDLE, TL_HANDLE*)
{
    return call_frame("IFGetParentTL", [](CtiManager&) { return not_implemented("IFGetParentTL"); });
}

}  // namespace GenTL
}  // extern "C"
