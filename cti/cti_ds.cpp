#include "modules/BufferHandle.h"
#include "modules/DSModule.h"
#include "cti/CallFrame.h"

using vngtl::BaseHandle;
using vngtl::BaseModule;
using vngtl::BufferHandle;
using vngtl::DSModule;
using vngtl::CallFrame;
using vngtl::SharedHandleOut;
using vngtl::from_handle;
using vngtl::holds;
using vngtl::module_of;
using vngtl::live;
using vngtl::live_or_null;
using vngtl::not_null;
namespace message = vngtl::message;

namespace {

// Two texts name a null data-stream handle, depending on the function.
constexpr const char* ds_input = "The input handle is invalid.";
constexpr const char* ds_null = "The data-stream handle is invalid (null).";
constexpr const char* buffer_null = "The buffer handle is invalid (null).";

// The data-stream module behind a (checked, non-null) data-stream handle.
DSModule& stream_of(void* handle) noexcept
{
    return *from_handle<DSModule>(handle);
}

BufferHandle* buffer_of(void* handle) noexcept
{
    return from_handle<BufferHandle>(handle);
}

}  // namespace

extern "C" {
namespace GenTL {

GC_API DSAnnounceBuffer(DS_HANDLE hDataStream, void* pBuffer, size_t iSize, void* pPrivate, BUFFER_HANDLE* phBuffer)
{
    return CallFrame("DSAnnounceBuffer")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_input))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .run([&](CallFrame&) {
            SharedHandleOut<BufferHandle> buffer(phBuffer);
            return buffer.deliver(stream_of(hDataStream).announce_buffer(pBuffer, iSize, pPrivate, buffer.slot()));
        });
}

GC_API DSAllocAndAnnounceBuffer(DS_HANDLE hDataStream, size_t iSize, void* pPrivate, BUFFER_HANDLE* phBuffer)
{
    return CallFrame("DSAllocAndAnnounceBuffer")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_input))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .run([&](CallFrame&) {
            SharedHandleOut<BufferHandle> buffer(phBuffer);
            return buffer.deliver(stream_of(hDataStream).alloc_and_announce_buffer(iSize, pPrivate, buffer.slot()));
        });
}

GC_API DSFlushQueue(DS_HANDLE hDataStream, ACQ_QUEUE_TYPE iOperation)
{
    return CallFrame("DSFlushQueue")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_input))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .run([&](CallFrame&) { return stream_of(hDataStream).flush_queue(iOperation); });
}

GC_API DSStartAcquisition(DS_HANDLE hDataStream, ACQ_START_FLAGS iStartFlags, uint64_t iNumToAcquire)
{
    return CallFrame("DSStartAcquisition")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_input))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .run([&](CallFrame&) { return stream_of(hDataStream).start_acquisition(iStartFlags, iNumToAcquire); });
}

GC_API DSStopAcquisition(DS_HANDLE hDataStream, ACQ_STOP_FLAGS iStopFlags)
{
    return CallFrame("DSStopAcquisition")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_input))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .run([&](CallFrame&) { return stream_of(hDataStream).stop_acquisition(iStopFlags); });
}

GC_API DSGetInfo(DS_HANDLE hDataStream, STREAM_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize)
{
    return CallFrame("DSGetInfo")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_input))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .run([&](CallFrame&) { return module_of(hDataStream).info(iInfoCmd, piType, pBuffer, piSize); });
}

GC_API DSGetBufferID(DS_HANDLE hDataStream, uint32_t iIndex, BUFFER_HANDLE* phBuffer)
{
    return CallFrame("DSGetBufferID")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_input))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .run([&](CallFrame&) {
            SharedHandleOut<BufferHandle> buffer(phBuffer);
            return buffer.deliver(stream_of(hDataStream).get_buffer_id(iIndex, buffer.slot()));
        });
}

GC_API DSClose(DS_HANDLE hDataStream)
{
    return CallFrame("DSClose")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_input))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .run([&](CallFrame&) { return module_of(hDataStream).close(); });
}

GC_API DSRevokeBuffer(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer, void** pBuffer, void** pPrivate)
{
    return CallFrame("DSRevokeBuffer")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_input))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .check(live_or_null(hBuffer, vngtl::kind_buffer, message::buffer_dead))
        .run([&](CallFrame&) { return stream_of(hDataStream).revoke_buffer(buffer_of(hBuffer), pBuffer, pPrivate); });
}

GC_API DSQueueBuffer(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer)
{
    return CallFrame("DSQueueBuffer")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_input))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .check(live_or_null(hBuffer, vngtl::kind_buffer, message::buffer_dead))
        .run([&](CallFrame&) { return stream_of(hDataStream).queue_buffer(buffer_of(hBuffer)); });
}

GC_API DSGetBufferInfo(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer, BUFFER_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                       void* pBuffer, size_t* piSize)
{
    // Whether the buffer belongs to this stream is not examined.
    return CallFrame("DSGetBufferInfo")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_null))
        .check(not_null(hBuffer, GC_ERR_INVALID_HANDLE, buffer_null))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .check(live(hBuffer, vngtl::kind_buffer, message::buffer_dead))
        .check(holds([&] { return module_of(hDataStream).is_open(); }, GC_ERR_INVALID_HANDLE,
                     [] { return "The data-stream exists, but isn't open."; }))
        .run([&](CallFrame&) {
            return from_handle<BaseHandle>(hBuffer)->BaseInfo::info(iInfoCmd, piType, pBuffer, piSize);
        });
}

GC_API DSGetBufferChunkData(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer, SINGLE_CHUNK_DATA*, size_t* piNumChunks)
{
    return CallFrame("DSGetBufferChunkData")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_null))
        .check(not_null(hBuffer, GC_ERR_INVALID_HANDLE, buffer_null))
        .check(not_null(piNumChunks, GC_ERR_INVALID_PARAMETER, "The chunk-count pointer is invalid (null)."))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .check(live(hBuffer, vngtl::kind_buffer, message::buffer_dead))
        .run([&](CallFrame& frame) {
            return frame.fail(GC_ERR_NO_DATA,
                              "The producer does not currently support chunk-data under any circumstance.");
        });
}

GC_API DSGetParentDev(DS_HANDLE hDataStream, DEV_HANDLE* phDevice)
{
    return CallFrame("DSGetParentDev")
        .check(not_null(hDataStream, GC_ERR_INVALID_HANDLE, ds_null))
        .check(live(hDataStream, vngtl::kind_stream, message::ds_dead))
        .run([&](CallFrame&) {
            SharedHandleOut<BaseModule> device(phDevice);
            return device.deliver(module_of(hDataStream).get_parent(device.slot()));
        });
}

// Multi-part buffers, composite buffers, stacked buffer queries, flows and segments are not offered.

GC_API DSGetNumBufferParts(DS_HANDLE, BUFFER_HANDLE, uint32_t*)
{
    return CallFrame("DSGetNumBufferParts").run([](CallFrame& frame) { return frame.not_implemented(); });
}

GC_API DSGetBufferPartInfo(DS_HANDLE, BUFFER_HANDLE, uint32_t, BUFFER_PART_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return CallFrame("DSGetBufferPartInfo").run([](CallFrame& frame) { return frame.not_implemented(); });
}

GC_API DSAnnounceCompositeBuffer(DS_HANDLE, size_t, void**, size_t*, void*, BUFFER_HANDLE*)
{
    return CallFrame("DSAnnounceCompositeBuffer").run([](CallFrame& frame) { return frame.not_implemented(); });
}

GC_API DSGetBufferInfoStacked(DS_HANDLE, BUFFER_HANDLE, DS_BUFFER_INFO_STACKED*, size_t)
{
    return CallFrame("DSGetBufferInfoStacked").run([](CallFrame& frame) { return frame.not_implemented(); });
}

GC_API DSGetBufferPartInfoStacked(DS_HANDLE, BUFFER_HANDLE, DS_BUFFER_PART_INFO_STACKED*, size_t)
{
    return CallFrame("DSGetBufferPartInfoStacked").run([](CallFrame& frame) { return frame.not_implemented(); });
}

GC_API DSGetNumFlows(DS_HANDLE, uint32_t*)
{
    return CallFrame("DSGetNumFlows").run([](CallFrame& frame) { return frame.not_implemented(); });
}

GC_API DSGetFlowInfo(DS_HANDLE, uint32_t, FLOW_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return CallFrame("DSGetFlowInfo").run([](CallFrame& frame) { return frame.not_implemented(); });
}

GC_API DSGetNumBufferSegments(DS_HANDLE, BUFFER_HANDLE, uint32_t*)
{
    return CallFrame("DSGetNumBufferSegments").run([](CallFrame& frame) { return frame.not_implemented(); });
}

GC_API DSGetBufferSegmentInfo(DS_HANDLE, BUFFER_HANDLE, uint32_t, SEGMENT_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return CallFrame("DSGetBufferSegmentInfo").run([](CallFrame& frame) { return frame.not_implemented(); });
}

}  // namespace GenTL
}  // extern "C"
