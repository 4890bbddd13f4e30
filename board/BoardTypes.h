// Small value types of a frame-grabber board channel: its open state, its family, a region of interest and
// the record of one completed frame.
#pragma once

#include "board/VantrelSdk.h"

#include <cstdint>
#include <string>

namespace VNBoards {

// How far a board is opened. Higher states include the lower ones.
enum class BoardState : uint32_t {
    Closed = 0,              // no SDK handle
    Open = 1,                // opened for inspection (registers, inquiries)
    OpenForAcquisition = 2,  // opened with the acquisition flags; region of interest and buffers may be set
    Configured = 3,          // circular buffers allocated and circular acquisition set up
};

// The levels at which a board is opened: inspection (registers, inquiries, camera access) and acquisition.
enum class OpenLevel : uint32_t {
    Inspect = 1,
    Acquire = 2,
};

// Outcome of one camera-side call. `opened` is false when the board could not be opened at the inspection
// level (or, for the serial calls, lacks the handles they need); the SDK was then not called and `result`
// is 0. Otherwise `result` is the SDK's own result, unchanged.
struct BoardCall {
    bool opened = false;
    int32_t result = 0;
};

// The board family; the family name is the transport-layer type of the modules on the board.
enum class BoardKind : uint32_t {
    Custom = 0,
    CameraLink = 1,
    CoaXPress = 2,
};

// Codes of the board's own failures, below the GenTL range (named GC_ERR_CUSTOM in error records).
enum BoardErrorCode : int32_t {
    BOARD_ERR_BUFFER_ALLOCATION = -10001,  // the circular buffers could not be allocated
    BOARD_ERR_CIRCULAR_SETUP = -10002,     // circular acquisition could not be set up
    BOARD_ERR_ACQUISITION_CONTROL = -10003,  // start, stop, abort or frame traffic on a board not configured
    BOARD_ERR_REGION_OF_INTEREST = -10005,   // the board refused the region of interest
};

// "CL", "CXP", or "Custom" for any other family.
std::string kind_name(BoardKind kind);

// The family as the number of the module descriptions' transport-type enumerations: 1 Camera Link,
// 3 CoaXPress, 5 Custom.
uint32_t transport_type(BoardKind kind);

struct Roi {
    uint32_t x_offset = 0;
    uint32_t y_offset = 0;
    uint32_t width = 0;
    uint32_t height = 0;

    friend bool operator==(const Roi&, const Roi&) = default;
};

// The SDK's 104-byte record of a completed frame. The producer reads the data address, frame counter, time
// stamps and buffer index, and hands the whole record back to the board unchanged.
using FrameRecord = VB_FRAME_RECORD;

}  // namespace VNBoards
