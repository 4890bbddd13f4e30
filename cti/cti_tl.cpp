#include "cti/CallFrame.h"

using vngtl::BaseModule;
using vngtl::CallFrame;
using vngtl::SharedHandleOut;
using vngtl::module_of;
using vngtl::not_null;
using vngtl::system_module;
namespace message = vngtl::message;

extern "C" {
namespace GenTL {

GC_API TLOpen(TL_HANDLE* phSystem)
{
    return CallFrame("TLOpen")
        .check(not_null(phSystem, GC_ERR_INVALID_PARAMETER,
                        "The transport-layer module handle pointer is invalid (null)."))
        .run([&](CallFrame& frame) {
            const auto system = frame.manager().get_tl_module();
            const GC_ERROR code = system->open(0);
            if (code == GC_ERR_SUCCESS) {
                *phSystem = vngtl::to_handle(system.get());
            }
            return code;
        });
}

GC_API TLClose(TL_HANDLE hSystem)
{
    return CallFrame("TLClose")
        .check(not_null(hSystem, GC_ERR_INVALID_HANDLE, message::tl_null))
        .check(system_module(hSystem))
        .run([&](CallFrame&) { return module_of(hSystem).close(); });
}

GC_API TLGetInfo(TL_HANDLE hSystem, TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize)
{
    return CallFrame("TLGetInfo")
        .check(not_null(hSystem, GC_ERR_INVALID_HANDLE, message::tl_null))
        .check(system_module(hSystem))
        .run([&](CallFrame&) { return module_of(hSystem).info(iInfoCmd, piType, pBuffer, piSize); });
}

GC_API TLGetNumInterfaces(TL_HANDLE hSystem, uint32_t* piNumIfaces)
{
    // The count pointer is examined before the handle's identity.
    return CallFrame("TLGetNumInterfaces")
        .check(not_null(hSystem, GC_ERR_INVALID_HANDLE, message::tl_null))
        .check(not_null(piNumIfaces, GC_ERR_INVALID_PARAMETER, "The interface count return pointer is invalid (null)."))
        .check(system_module(hSystem))
        .run([&](CallFrame&) { return module_of(hSystem).num_children(piNumIfaces); });
}

GC_API TLGetInterfaceID(TL_HANDLE hSystem, uint32_t iIndex, char* sIfaceID, size_t* piSize)
{
    return CallFrame("TLGetInterfaceID")
        .check(not_null(hSystem, GC_ERR_INVALID_HANDLE, message::tl_null))
        .check(system_module(hSystem))
        .run([&](CallFrame&) { return module_of(hSystem).get_child_id(iIndex, sIfaceID, piSize); });
}

GC_API TLGetInterfaceInfo(TL_HANDLE hSystem, const char* sIfaceID, INTERFACE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                          void* pBuffer, size_t* piSize)
{
    return CallFrame("TLGetInterfaceInfo")
        .check(not_null(hSystem, GC_ERR_INVALID_HANDLE, message::tl_null))
        .check(system_module(hSystem))
        .run([&](CallFrame&) {
            std::shared_ptr<BaseModule> iface;
            if (const GC_ERROR code = module_of(hSystem).get_child(sIfaceID, &iface)) {
                return code;
            }
            // Answered whether or not the interface is open.
            return iface->BaseInfo::info(iInfoCmd, piType, pBuffer, piSize);
        });
}

GC_API TLOpenInterface(TL_HANDLE hSystem, const char* sIfaceID, IF_HANDLE* phIface)
{
    return CallFrame("TLOpenInterface")
        .check(not_null(hSystem, GC_ERR_INVALID_HANDLE, message::tl_null))
        .check(system_module(hSystem))
        .run([&](CallFrame&) {
            SharedHandleOut<BaseModule> iface(phIface);
            return iface.deliver(module_of(hSystem).open_child(sIfaceID, iface.slot(), 0));
        });
}

GC_API TLUpdateInterfaceList(TL_HANDLE hSystem, bool8_t* pbChanged, uint64_t iTimeout)
{
    return CallFrame("TLUpdateInterfaceList")
        .check(not_null(hSystem, GC_ERR_INVALID_HANDLE, message::tl_null))
        .check(system_module(hSystem))
        .run([&](CallFrame&) { return module_of(hSystem).update_children(pbChanged, iTimeout); });
}

}  // namespace GenTL
}  // extern "C"
