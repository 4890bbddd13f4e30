// Small value types of a frame-grabber board channel: its open state, its family, a region of interest and
// the record of one completed frame.
#pragma once

#include <array>
#include <cstddef>
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

// The record of one completed frame, as the board hands it out: what the producer reads of it, and the
// board's own bytes, which go back to the board unchanged when the buffer is handed back.
struct FrameRecord {
    uint64_t data_address = 0;     // where the frame is in the board's circular buffer
    uint32_t frame_counter = 0;    // the board's running count of completed frames (its low 32 bits)
    uint32_t timestamp_us = 0;     // time stamp in microseconds
    uint64_t board_timestamp = 0;  // time stamp in the board's own units
    uint32_t buffer_index = 0;     // the circular buffer that holds the frame
    std::array<std::byte, 104> board_bytes{};  // the whole record as the board gave it
};

// What a wait for the next completed frame came to.
enum class FrameWait {
    Frame,    // a frame completed; its record was kept
    Timeout,  // none within the wait's time-out
    Stopped,  // the board's acquisition stopped or aborted
    Failed,   // anything else (the board not configured, an unexpected answer)
};

}  // namespace VNBoards
