#include "cti/CallFrame.h"

using vngtl::call_frame;
using vngtl::CtiManager;
using vngtl::not_implemented;

extern "C" {
namespace GenTL {

GC_API TLOpen(TL_HANDLE*)
{
    return call_frame("TLOpen", [](CtiManager&) { return not_implemented("TLOpen"); });
}

GC_API TLClose(TL_HANDLE)
{
    return call_frame("TLClose", [](CtiManager&) { return not_implemented("TLClose"); });
}

GC_API TLGetInfo(TL_HANDLE, TL_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("TLGetInfo", [](CtiManager&) { return not_implemented("TLGetInfo"); });
}

GC_API TLGetNumInterfaces(TL_HANDLE, uint32_t*)
{
    return call_frame("TLGetNumInterfaces", [](CtiManager&) { return not_implemented("TLGetNumInterfaces"); });
}

GC_API TLGetInterfaceID(TL_HANDLE, uint32_t, char*, size_t*)
{
    return call_frame("TLGetInterfaceID", [](CtiManager&) { return not_implemented("TLGetInterfaceID"); });
}

GC_API TLGetInterfaceInfo(TL_HANDLE, const char*, INTERFACE_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("TLGetInterfaceInfo", [](CtiManager&) { return not_implemented("TLGetInterfaceInfo"); });
}

GC_API TLOpenInterface(TL_HANDLE, const char*, IF_HANDLE*)
{
    return call_frame("TLOpenInterface", [](CtiManager&) { return not_implemented("TLOpenInterface"); });
}

GC_API TLUpdateInterfaceList(TL_HANDLE, bool8_t*, uint64_t)
{
    return call_frame("TLUpdateInterfaceList", [](CtiManager&) { return not_implemented("TLUpdateInterfaceList"); });
}

}  // namespace GenTL
}  // extern "C"
