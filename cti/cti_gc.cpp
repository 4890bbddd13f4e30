#include "cti/CallFrame.h"

using vngtl::BaseEvent;
using vngtl::BaseHandle;
using vngtl::BasePort;
using vngtl::CallFrame;
using vngtl::HandleOut;
using vngtl::address_in_range;
using vngtl::from_handle;
using vngtl::live;
using vngtl::not_null;
using vngtl::port_of;
namespace message = vngtl::message;

namespace {

constexpr const char* event_source_null = "The event source handle is invalid (null).";

// GCReadPortStacked and GCWritePortStacked: the checks of the handle and the arrays, then one `access` of the
// port per entry in array order, stopping at the first failure, with *piNumEntries counting the entries that
// succeeded.
template <class Access>
GenTL::GC_ERROR port_stacked(const char* function, GenTL::PORT_HANDLE hPort, GenTL::PORT_REGISTER_STACK_ENTRY* pEntries,
                             size_t* piNumEntries, Access access)
{
    BasePort* port = nullptr;
    return CallFrame(function)
        .check(not_null(pEntries, GenTL::GC_ERR_INVALID_PARAMETER, "The entries parameter is invalid (null)."))
        .check(not_null(piNumEntries, GenTL::GC_ERR_INVALID_PARAMETER, "The entries count parameter is invalid (null)."))
        .check(not_null(hPort, GenTL::GC_ERR_INVALID_HANDLE, message::input_null))
        .check(live(hPort, vngtl::kind_ports, message::port_dead))
        .check(port_of(hPort, &port))
        .run([&](CallFrame&) -> GenTL::GC_ERROR {
            const size_t count = *piNumEntries;
            *piNumEntries = 0;
            for (size_t index = 0; index < count; ++index) {
                if (const GenTL::GC_ERROR code = access(*port, pEntries[index])) {
                    return code;
                }
                ++*piNumEntries;
            }
            return GenTL::GC_ERR_SUCCESS;
        });
}

}  // namespace

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
    return CallFrame("GCGetLastError").run([&](CallFrame& frame) {
        return frame.manager().errors().get_last_error(piErrorCode, sErrText, piSize);
    });
}

GC_API GCGetInfo(TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize)
{
    // Answered from the system module's values whether or not it is open.
    return CallFrame("GCGetInfo").run([&](CallFrame& frame) {
        return frame.manager().get_tl_module()->BaseInfo::info(iInfoCmd, piType, pBuffer, piSize);
    });
}

GC_API GCReadPort(PORT_HANDLE hPort, uint64_t iAddress, void* pBuffer, size_t* piSize)
{
    BasePort* port = nullptr;
    return CallFrame("GCReadPort")
        .check(address_in_range(iAddress))
        .check(not_null(hPort, GC_ERR_INVALID_HANDLE, message::input_null))
        .check(live(hPort, vngtl::kind_ports, message::port_dead))
        .check(port_of(hPort, &port))
        .run([&](CallFrame&) { return port->read(iAddress, pBuffer, piSize); });
}

GC_API GCWritePort(PORT_HANDLE hPort, uint64_t iAddress, const void* pBuffer, size_t* piSize)
{
    BasePort* port = nullptr;
    return CallFrame("GCWritePort")
        .check(address_in_range(iAddress))
        .check(not_null(hPort, GC_ERR_INVALID_HANDLE, message::input_null))
        .check(live(hPort, vngtl::kind_ports, message::port_dead))
        .check(port_of(hPort, &port))
        .run([&](CallFrame&) { return port->write(iAddress, pBuffer, piSize); });
}

GC_API GCGetPortURL(PORT_HANDLE hPort, char* sURL, size_t* piSize)
{
    BasePort* port = nullptr;
    return CallFrame("GCGetPortURL")
        .check(not_null(hPort, GC_ERR_INVALID_HANDLE, message::input_null))
        .check(live(hPort, vngtl::kind_ports, message::port_dead))
        .check(port_of(hPort, &port))
        .run([&](CallFrame&) { return port->get_url(sURL, piSize); });
}

GC_API GCGetPortInfo(PORT_HANDLE hPort, PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize)
{
    BasePort* port = nullptr;
    return CallFrame("GCGetPortInfo")
        .check(not_null(hPort, GC_ERR_INVALID_HANDLE, message::input_null))
        .check(live(hPort, vngtl::kind_ports, message::port_dead))
        .check(port_of(hPort, &port))
        .run([&](CallFrame&) { return port->info(iInfoCmd, piType, pBuffer, piSize); });
}

GC_API GCRegisterEvent(EVENTSRC_HANDLE hEventSrc, EVENT_TYPE iEventID, EVENT_HANDLE* phEvent)
{
    return CallFrame("GCRegisterEvent")
        .check(not_null(hEventSrc, GC_ERR_INVALID_HANDLE, event_source_null))
        .check(not_null(phEvent, GC_ERR_INVALID_PARAMETER, "The event return handle pointer is invalid (null)."))
        .check(live(hEventSrc, vngtl::kind_event_sources, message::event_source_dead))
        .run([&](CallFrame&) {
            HandleOut<BaseEvent> event(phEvent);
            return event.deliver(from_handle<BaseHandle>(hEventSrc)->register_event(iEventID, event.slot()));
        });
}

GC_API GCUnregisterEvent(EVENTSRC_HANDLE hEventSrc, EVENT_TYPE iEventID)
{
    return CallFrame("GCUnregisterEvent")
        .check(not_null(hEventSrc, GC_ERR_INVALID_HANDLE, event_source_null))
        .check(live(hEventSrc, vngtl::kind_event_sources, message::event_source_dead))
        .run([&](CallFrame&) { return from_handle<BaseHandle>(hEventSrc)->unregister_event(iEventID); });
}

GC_API GCGetNumPortURLs(PORT_HANDLE hPort, uint32_t* piNumURLs)
{
    BasePort* port = nullptr;
    return CallFrame("GCGetNumPortURLs")
        .check(not_null(hPort, GC_ERR_INVALID_HANDLE, message::input_null))
        .check(live(hPort, vngtl::kind_ports, message::port_dead))
        .check(port_of(hPort, &port))
        .run([&](CallFrame&) { return port->num_urls(piNumURLs); });
}

GC_API GCGetPortURLInfo(PORT_HANDLE hPort, uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                        void* pBuffer, size_t* piSize)
{
    BasePort* port = nullptr;
    return CallFrame("GCGetPortURLInfo")
        .check(not_null(hPort, GC_ERR_INVALID_HANDLE, message::input_null))
        .check(live(hPort, vngtl::kind_ports, message::port_dead))
        .check(port_of(hPort, &port))
        .run([&](CallFrame&) { return port->url_info(iURLIndex, iInfoCmd, piType, pBuffer, piSize); });
}

GC_API GCReadPortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY* pEntries, size_t* piNumEntries)
{
    return port_stacked("GCReadPortStacked", hPort, pEntries, piNumEntries,
                        [](BasePort& port, PORT_REGISTER_STACK_ENTRY& entry) {
                            return port.read(entry.Address, entry.pBuffer, &entry.Size);
                        });
}

GC_API GCWritePortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY* pEntries, size_t* piNumEntries)
{
    return port_stacked("GCWritePortStacked", hPort, pEntries, piNumEntries,
                        [](BasePort& port, PORT_REGISTER_STACK_ENTRY& entry) {
                            return port.write(entry.Address, entry.pBuffer, &entry.Size);
                        });
}

}  // namespace GenTL
}  // extern "C"
