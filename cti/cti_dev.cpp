#include "cti/CallFrame.h"
#include "modules/DevModule.h"

using vngtl::BaseModule;
using vngtl::BasePortMedium;
using vngtl::DevModule;
using vngtl::CallFrame;
using vngtl::SharedHandleOut;
using vngtl::holds;
using vngtl::module_of;
using vngtl::live;
using vngtl::not_null;
namespace message = vngtl::message;

namespace {

constexpr const char* dev_null = "The device module handle is invalid (null).";

}  // namespace

extern "C" {
namespace GenTL {

GC_API DevGetPort(DEV_HANDLE hDevice, PORT_HANDLE* phRemoteDevice)
{
    return CallFrame("DevGetPort")
        .check(not_null(hDevice, GC_ERR_INVALID_HANDLE, dev_null))
        .check(not_null(phRemoteDevice, GC_ERR_INVALID_PARAMETER,
                        "The remote device port return handle pointer is invalid (null)."))
        .check(live(hDevice, vngtl::kind_device, message::dev_dead))
        .check(holds([&] { return module_of(hDevice).is_open(); }, GC_ERR_INVALID_HANDLE,
                     [&] {
                         return "Device module \"" + module_of(hDevice).id() + "\" exists, but is not currently open.";
                     }))
        .run([&](CallFrame& frame) -> GC_ERROR {
            const auto* device = dynamic_cast<const DevModule*>(&module_of(hDevice));
            const std::shared_ptr<BasePortMedium> remote = device != nullptr ? device->remote_medium() : nullptr;
            if (!remote) {
                return frame.fail(GC_ERR_IO, "Could not retrieve a remote device port for device \"" +
                                                 module_of(hDevice).id() + "\".");
            }
            *phRemoteDevice = vngtl::to_handle(remote.get());
            return GC_ERR_SUCCESS;
        });
}

GC_API DevGetNumDataStreams(DEV_HANDLE hDevice, uint32_t* piNumDataStreams)
{
    return CallFrame("DevGetNumDataStreams")
        .check(not_null(hDevice, GC_ERR_INVALID_HANDLE, dev_null))
        .check(live(hDevice, vngtl::kind_device, message::dev_dead))
        .run([&](CallFrame&) { return module_of(hDevice).num_children(piNumDataStreams); });
}

GC_API DevGetDataStreamID(DEV_HANDLE hDevice, uint32_t iIndex, char* sDataStreamID, size_t* piSize)
{
    return CallFrame("DevGetDataStreamID")
        .check(not_null(hDevice, GC_ERR_INVALID_HANDLE, dev_null))
        .check(live(hDevice, vngtl::kind_device, message::dev_dead))
        .run([&](CallFrame&) { return module_of(hDevice).get_child_id(iIndex, sDataStreamID, piSize); });
}

GC_API DevOpenDataStream(DEV_HANDLE hDevice, const char* sDataStreamID, DS_HANDLE* phDataStream)
{
    return CallFrame("DevOpenDataStream")
        .check(not_null(hDevice, GC_ERR_INVALID_HANDLE, dev_null))
        .check(live(hDevice, vngtl::kind_device, message::dev_dead))
        .run([&](CallFrame&) {
            SharedHandleOut<BaseModule> stream(phDataStream);
            return stream.deliver(module_of(hDevice).open_child(sDataStreamID, stream.slot(), 0));
        });
}

GC_API DevGetInfo(DEV_HANDLE hDevice, DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize)
{
    return CallFrame("DevGetInfo")
        .check(not_null(hDevice, GC_ERR_INVALID_HANDLE, dev_null))
        .check(live(hDevice, vngtl::kind_device, message::dev_dead))
        .run([&](CallFrame&) { return module_of(hDevice).info(iInfoCmd, piType, pBuffer, piSize); });
}

GC_API DevClose(DEV_HANDLE hDevice)
{
    return CallFrame("DevClose")
        .check(not_null(hDevice, GC_ERR_INVALID_HANDLE, dev_null))
        .check(live(hDevice, vngtl::kind_device, message::dev_dead))
        .run([&](CallFrame&) { return module_of(hDevice).close(); });
}

GC_API DevGetParentIF(DEV_HANDLE hDevice, IF_HANDLE* phIface)
{
    return CallFrame("DevGetParentIF")
        .check(not_null(hDevice, GC_ERR_INVALID_HANDLE, dev_null))
        .check(live(hDevice, vngtl::kind_device, message::dev_dead))
        .run([&](CallFrame&) {
            SharedHandleOut<BaseModule> iface(phIface);
            return iface.deliver(module_of(hDevice).get_parent(iface.slot()));
        });
}

}  // namespace GenTL
}  // extern "C"
