// A completed frame as the board hands it out for copying: where its bytes are in the board's circular
// buffer and what describes it. The copy is made from the view by its receiver, outside every lock of the
// board, so the acquisition thread never waits for a copy. The board may begin writing another frame into
// the buffer at any time (its buffer was handed back at once); Board::frame_intact tells after the copy
// whether it has.
#pragma once

#include "board/BoardTypes.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <shared_mutex>

namespace VNBoards {

struct FrameView {
    BoardKind kind = BoardKind::Custom;
    const void* data = nullptr;  // `size` bytes, valid while the view lives
    size_t size = 0;
    uint32_t bit_depth = 0;
    Roi roi;                    // the board's region of interest: width, height and offsets of the frame
    size_t buffer_index = 0;    // the board's circular buffer that holds the frame
    uint64_t frame_id = 0;      // the board's running frame counter
    uint64_t timestamp = 0;     // in the board's own units
    uint64_t timestamp_ns = 0;  // the microsecond time stamp scaled to nanoseconds
    uint64_t received_ns = 0;   // when the host learnt of the frame (steady clock, ns); 0 when not known
    // Keeps the board's circular buffers allocated while the view lives (empty for a frame that does not
    // come from a board). Tearing the acquisition down waits for it.
    std::shared_lock<std::shared_mutex> hold;
};

}  // namespace VNBoards
