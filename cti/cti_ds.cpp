#include "cti/CallFrame.h"

using vngtl::call_frame;
using vngtl::CtiManager;
using vngtl::not_implemented;

extern "C" {
namespace GenTL {

GC_API DSAnnounceBuffer(DS_HANDLE, void*, size_t, void*, BUFFER_HANDLE*)
{
    return call_frame("DSAnnounceBuffer", [](CtiManager&) { return not_implemented("DSAnnounceBuffer"); });
}

GC_API DSAllocAndAnnounceBuffer(DS_HANDLE, size_t, void*, BUFFER_HANDLE*)
{
    return call_frame("DSAllocAndAnnounceBuffer", [](CtiManager&) { return not_implemented("DSAllocAndAnnounceBuffer"); });
}

GC_API DSFlushQueue(DS_HANDLE, ACQ_QUEUE_TYPE)
{
    return call_frame("DSFlushQueue", [](CtiManager&) { return not_implemented("DSFlushQueue"); });
}

GC_API DSStartAcquisition(DS_HANDLE, ACQ_START_FLAGS, uint64_t)
{
    return call_frame("DSStartAcquisition", [](CtiManager&) { return not_implemented("DSStartAcquisition"); });
}

GC_API DSStopAcquisition(DS_HANDLE, ACQ_STOP_FLAGS)
{
    return call_frame("DSStopAcquisition", [](CtiManager&) { return not_implemented("DSStopAcquisition"); });
}

GC_API DSGetInfo(DS_HANDLE, STREAM_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("DSGetInfo", [](CtiManager&) { return not_implemented("DSGetInfo"); });
}

GC_API DSGetBufferID(DS_HANDLE, uint32_t, BUFFER_HANDLE*)
{
    return call_frame("DSGetBufferID", [](CtiManager&) { return not_implemented("DSGetBufferID"); });
}

GC_API DSClose(DS_HANDLE)
{
    return call_frame("DSClose", [](CtiManager&) { return not_implemented("DSClose"); });
}

GC_API DSRevokeBuffer(DS_HANDLE, BUFFER_HANDLE, void* *, void* *)
{
    return call_frame("DSRevokeBuffer", [](CtiManager&) { return not_implemented("DSRevokeBuffer"); });
}

GC_API DSQueueBuffer(DS_HANDLE, BUFFER_HANDLE)
{
    return call_frame("DSQueueBuffer", [](CtiManager&) { return not_implemented("DSQueueBuffer"); });
}

GC_API DSGetBufferInfo(DS_HANDLE, BUFFER_HANDLE, BUFFER_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("DSGetBufferInfo", [](CtiManager&) { return not_implemented("DSGetBufferInfo"); });
}

GC_API DSGetBufferChunkData(DS_HANDLE, BUFFER_HANDLE, SINGLE_CHUNK_DATA*, size_t*)
{
    return call_frame("DSGetBufferChunkData", [](CtiManager&) { return not_implemented("DSGetBufferChunkData"); });
}

GC_API DSGetParentDev(DS_HANDLE, DEV_HANDLE*)
{
    return call_frame("DSGetParentDev", [](CtiManager&) { return not_implemented("DSGetParentDev"); });
}

GC_API DSGetNumBufferParts(DS_HANDLE, BUFFER_HANDLE, uint32_t*)
{
    return call_frame("DSGetNumBufferParts", [](CtiManager&) { return not_implemented("DSGetNumBufferParts"); });
}

GC_API DSGetBufferPartInfo(DS_HANDLE, BUFFER_HANDLE, uint32_t, BUFFER_PART_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("DSGetBufferPartInfo", [](CtiManager&) { return not_implemented("DSGetBufferPartInfo"); });
}

GC_API DSAnnounceCompositeBuffer(DS_HANDLE, size_t, void* *, size_t*, void*, BUFFER_HANDLE*)
{
    return call_frame("DSAnnounceCompositeBuffer", [](CtiManager&) { return not_implemented("DSAnnounceCompositeBuffer"); });
}

GC_API DSGetBufferInfoStacked(DS_HANDLE, BUFFER_HANDLE, DS_BUFFER_INFO_STACKED*, size_t)
{
    return call_frame("DSGetBufferInfoStacked", [](CtiManager&) { return not_implemented("DSGetBufferInfoStacked"); });
}

GC_API DSGetBufferPartInfoStacked(DS_HANDLE, BUFFER_HANDLE, DS_BUFFER_PART_INFO_STACKED*, size_t)
{
    return call_frame("DSGetBufferPartInfoStacked", [](CtiManager&) { return not_implemented("DSGetBufferPartInfoStacked"); });
}

GC_API DSGetNumFlows(DS_HANDLE, uint32_t*)
{
    return call_frame("DSGetNumFlows", [](CtiManager&) { return not_implemented("DSGetNumFlows"); });
}

GC_API DSGetFlowInfo(DS_HANDLE, uint32_t, FLOW_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("DSGetFlowInfo", [](CtiManager&) { return not_implemented("DSGetFlowInfo"); });
}

GC_API DSGetNumBufferSegments(DS_HANDLE, BUFFER_HANDLE, uint32_t*)
{
    return call_frame("DSGetNumBufferSegments", [](CtiManager&) { return not_implemented("DSGetNumBufferSegments"); });
}

GC_API DSGetBufferSegmentInfo(DS_HANDLE, BUFFER_HANDLE, uint32_t, SEGMENT_INFO_CMD, INFO_DATATYPE*, void*, size_t*)
{
    return call_frame("DSGetBufferSegmentInfo", [](CtiManager&) { return not_implemented("DSGetBufferSegmentInfo"); });
}

}  // namespace GenTL
}  // extern "C"
