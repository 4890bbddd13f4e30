// The calls of the DS functions on a stream, as the engine's state gate (VNAcquisition::transition) knows
// them.
#pragma once

namespace vngtl {

enum class StreamCall {
    AnnounceBuffer,
    AllocAndAnnounceBuffer,
    RevokeBuffer,
    QueueBuffer,
    FlushQueue,
    GetBufferId,
    StartAcquisition,
    StopAcquisition,
};

}  // namespace vngtl
