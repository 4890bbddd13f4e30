// The destination of a frame copy: Board::frame_copy hands the frame it took from the board's circular buffer
// to a sink, which copies what fits and describes the frame. The data-stream buffers implement it.
#pragma once

#include "board/BoardTypes.h"

#include <cstddef>
#include <cstdint>

namespace VNBoards {

class FrameSink {
public:
    virtual ~FrameSink() = default;

    // Takes one frame: `data` is valid for `frame_size` bytes during the call only. The geometry is the
    // board's region of interest; `frame_id` is the board's running frame counter, `timestamp` the time
    // stamp in the board's own units and `timestamp_ns` the microsecond time stamp scaled to nanoseconds.
    // Returns whether the sink accepted the frame.
    virtual bool fill(BoardKind kind, const void* data, size_t frame_size, uint32_t bit_depth, uint32_t width,
                      uint32_t height, uint32_t x_offset, uint32_t y_offset, uint64_t frame_id, uint64_t timestamp,
                      uint64_t timestamp_ns) = 0;

protected:
    FrameSink() = default;
    FrameSink(const FrameSink&) = default;
    FrameSink& operator=(const FrameSink&) = default;
};

}  // namespace VNBoards
