#include "cti/CallFrame.h"

using vngtl::call_frame;
using vngtl::CtiManager;
using vngtl::not_implemented;

extern "C" {
namespace GenTL {

GC_API GCInitLib(void)
{
    try {
        return vngtl::init_library();
    } catch (...) {
        // The wrapper was installed but owns no manager: take it out again, then record what was thrown.
        vngtl::discard_uninitialised_wrapper();
        return vngtl::report_current_exception("GCInitLib", std::source_location::current());
    }
}

GC_API GCCloseLib(void)
{
    try {
        return vngtl::close_library();
    } catch (...) {
        return vngtl::report_current_exception("GCCloseLib", std::source_location::current());
    }
}

GC_API GCGetLastError(GC_ERROR* piErrorCode, char* sErrText, size_t* piSize)
{
    return call_frame("GCGetLastError", [&](CtiManager& manager) {
        return manager.errors().get_last_error(piErrorCode, sErrText, piSize);
    });
}

GC_API GCGetInfo(TL_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("GCGetInfo", [](CtiManager&) { return not_implemented("GCGetInfo"); });
}

GC_API GCReadPort(PORT_HANDLE, uint64_t, void*, size_t*)
{
    return call_frame("GCReadPort", [](CtiManager&) { return not_implemented("GCReadPort"); });
}

GC_API GCWritePort(PORT_HANDLE, uint64_t, const void*, size_t*)
{
    return call_frame("GCWritePort", [](CtiManager&) { return not_implemented("GCWritePort"); });
}

GC_API GCGetPortURL(PORT_HANDLE, char*, size_t*)
{
    return call_frame("GCGetPortURL", [](CtiManager&) { return not_implemented("GCGetPortURL"); });
}

GC_API GCGetPortInfo(PORT_HANDLE, PORT_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("GCGetPortInfo", [](CtiManager&) { return not_implemented("GCGetPortInfo"); });
}

GC_API GCRegisterEvent(EVENTSRC_HANDLE, EVENT_TYPE, EVENT_HANDLE*)
{
    return call_frame("GCRegisterEvent", [](CtiManager&) { return not_implemented("GCRegisterEvent"); });
}

GC_API GCUnregisterEvent(EVENTSRC_HANDLE, EVENT_TYPE)
{
    return call_frame("GCUnregisterEvent", [](CtiManager&) { return not_implemented("GCUnregisterEvent"); });
}

GC_API GCGetNumPortURLs(PORT_HANDLE, uint32_t*)
{
    return call_frame("GCGetNumPortURLs", [](CtiManager&) { return not_implemented("GCGetNumPortURLs"); });
}

GC_API GCGetPortURLInfo(PORT_HANDLE, uint32_t, URL_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("GCGetPortURLInfo", [](CtiManager&) { return not_implemented("GCGetPortURLInfo"); });
}

GC_API GCReadPortStacked(PORT_HANDLE, PORT_REGISTER_STACK_ENTRY*, size_t*)
{
    return call_frame("GCReadPortStacked", [](CtiManager&) { return not_implemented("GCReadPortStacked"); });
}

GC_API GCWritePortStacked(PORT_HANDLE, PORT_REGISTER_STACK_ENTRY*, size_t*)
{
    return call_frame("GCWritePortStacked", [](CtiManager&) { return not_implemented("GCWritePortStacked"); });
}

}  // namespace GenTL
}  // extern "C"
