#include "cti/CallFrame.h"

using vngtl::BaseModule;
using vngtl::CallFrame;
using vngtl::SharedHandleOut;
using vngtl::module_of;
using vngtl::live;
using vngtl::not_null;
namespace message = vngtl::message;

namespace {

constexpr const char* if_null = "The interface module handle is invalid (null).";

}  // namespace

extern "C" {
namespace GenTL {

GC_API IFClose(IF_HANDLE hIface)
{
    return CallFrame("IFClose")
        .check(not_null(hIface, GC_ERR_INVALID_HANDLE, if_null))
        .check(live(hIface, vngtl::kind_interface, message::if_dead))
        .run([&](CallFrame&) { return module_of(hIface).close(); });
}

GC_API IFGetInfo(IF_HANDLE hIface, INTERFACE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize)
{
    return CallFrame("IFGetInfo")
        .check(not_null(hIface, GC_ERR_INVALID_HANDLE, if_null))
        .check(live(hIface, vngtl::kind_interface, message::if_dead))
        .run([&](CallFrame&) { return module_of(hIface).info(iInfoCmd, piType, pBuffer, piSize); });
}

GC_API IFGetNumDevices(IF_HANDLE hIface, uint32_t* piNumDevices)
{
    return CallFrame("IFGetNumDevices")
        .check(not_null(hIface, GC_ERR_INVALID_HANDLE, if_null))
        .check(live(hIface, vngtl::kind_interface, message::if_dead))
        .run([&](CallFrame&) { return module_of(hIface).num_children(piNumDevices); });
}

GC_API IFGetDeviceID(IF_HANDLE hIface, uint32_t iIndex, char* sIDeviceID, size_t* piSize)
{
    return CallFrame("IFGetDeviceID")
        .check(not_null(hIface, GC_ERR_INVALID_HANDLE, if_null))
        .check(live(hIface, vngtl::kind_interface, message::if_dead))
        .run([&](CallFrame&) { return module_of(hIface).get_child_id(iIndex, sIDeviceID, piSize); });
}

GC_API IFUpdateDeviceList(IF_HANDLE hIface, bool8_t* pbChanged, uint64_t iTimeout)
{
    return CallFrame("IFUpdateDeviceList")
        .check(not_null(hIface, GC_ERR_INVALID_HANDLE, if_null))
        .check(live(hIface, vngtl::kind_interface, message::if_dead))
        .run([&](CallFrame&) { return module_of(hIface).update_children(pbChanged, iTimeout); });
}

GC_API IFGetDeviceInfo(IF_HANDLE hIface, const char* sDeviceID, DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                       void* pBuffer, size_t* piSize)
{
    return CallFrame("IFGetDeviceInfo")
        .check(not_null(hIface, GC_ERR_INVALID_HANDLE, if_null))
        .check(live(hIface, vngtl::kind_interface, message::if_dead))
        .run([&](CallFrame&) {
            std::shared_ptr<BaseModule> device;
            if (const GC_ERROR code = module_of(hIface).get_child(sDeviceID, &device)) {
                return code;
            }
            // Answered whether or not the device is open.
            return device->BaseInfo::info(iInfoCmd, piType, pBuffer, piSize);
        });
}

GC_API IFOpenDevice(IF_HANDLE hIface, const char* sDeviceID, DEVICE_ACCESS_FLAGS iOpenFlag, DEV_HANDLE* phDevice)
{
    return CallFrame("IFOpenDevice")
        .check(not_null(hIface, GC_ERR_INVALID_HANDLE, if_null))
        .check(live(hIface, vngtl::kind_interface, message::if_dead))
        .run([&](CallFrame&) {
            SharedHandleOut<BaseModule> device(phDevice);
            return device.deliver(module_of(hIface).open_child(sDeviceID, device.slot(), iOpenFlag));
        });
}

GC_API IFGetParentTL(IF_HANDLE hIface, TL_HANDLE* phSystem)
{
    return CallFrame("IFGetParentTL")
        .check(not_null(hIface, GC_ERR_INVALID_HANDLE, if_null))
        .check(live(hIface, vngtl::kind_interface, message::if_dead))
        .run([&](CallFrame&) {
            SharedHandleOut<BaseModule> system(phSystem);
            return system.deliver(module_of(hIface).get_parent(system.slot()));
        });
}

}  // namespace GenTL
}  // extern "C"
