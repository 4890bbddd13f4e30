// The tests' view of the engine's own parts (its pool and ring), so that a test of the engine can
// drive and inspect them below the engine's doors.
#pragma once

#include "acquisition/VNAcquisition.h"

namespace vngtl {

struct VNAcquisitionTestAccess {
    static BufferPool& pool(VNAcquisition& engine) noexcept { return engine.pool(); }
    static FrameRing& ring(VNAcquisition& engine) noexcept { return engine.frame_ring(); }
};

}  // namespace vngtl

inline vngtl::BufferPool& pool_of(vngtl::VNAcquisition& engine) noexcept
{
    return vngtl::VNAcquisitionTestAccess::pool(engine);
}
inline vngtl::FrameRing& ring_of(vngtl::VNAcquisition& engine) noexcept
{
    return vngtl::VNAcquisitionTestAccess::ring(engine);
}
