// The Camera Link serial line of one board: the serial library's port on the board's serial handle, the SDK's
// serial reference (for the line's rate) and the port's place in the serial library's list. A part of its
// Board, which opens the line when it opens the board and closes it before the board closes; the board's
// serial operations call it with the board's state lock held, so serial traffic and acquisition control stay
// serialised, and take up a change of the camera's frame after a completed transfer.
//
// Lock: the line lock, a leaf: taken last, under the board's state lock (and its SDK lock while the board
// opens or closes), it guards the board handle, the serial handle and the serial reference. Each operation
// holds it across its calls.
#pragma once

#include "board/BoardTypes.h"
#include "core/ThreadSafety.h"

#include <cstdint>

struct VnBoard;

namespace VNBoards {

struct BoardTestAccess;

class BoardSerialLine {
public:
    // Camera Link serial codes the board answers with.
    static constexpr int32_t timeout = -10004;
    static constexpr int32_t port_in_use = -10003;
    static constexpr int32_t invalid_reference = -10006;

    // Takes up the opened board `board`; on a Camera Link board, also its serial handle and serial reference
    // (either may be missing).
    void open(VnBoard* board) EXCLUDES(lock_);
    // Closes the serial handle; the line has no board, handle or reference afterwards.
    void close() EXCLUDES(lock_);

    // A read or write that times out flushes the port, so that the next request starts clean. `opened` is
    // false (and nothing called) without the serial handle.
    BoardCall read(void* buffer, uint32_t& size, uint32_t timeout_ms) EXCLUDES(lock_);
    BoardCall write(const void* buffer, uint32_t& size, uint32_t timeout_ms) EXCLUDES(lock_);
    BoardCall supported_baud_rates(uint32_t& rates) EXCLUDES(lock_);
    BoardCall set_baud_rate(uint32_t rate) EXCLUDES(lock_);
    // The line's rate in bits per second (clVNGetBaudRate on the serial reference); `opened` is false without
    // the serial reference.
    BoardCall baud_rate(uint32_t& rate) EXCLUDES(lock_);
    // 0 with both the serial handle and the serial reference, port_in_use otherwise.
    int32_t check() EXCLUDES(lock_);
    bool ready() EXCLUDES(lock_);
    // The index of the port in the serial library's list: the configured devices in sorted order, counting
    // those with a serial port, up to the board's device name. -1 when it is not listed, invalid_reference when
    // the SDK cannot tell or there is no board.
    int32_t port_index() EXCLUDES(lock_);

private:
    // White-box tests look at the handles the board was given.
    friend struct BoardTestAccess;

    // Runs `call` on the serial handle with the line lock held: {true, its result}, or {} without the handle.
    template <class Call>
    BoardCall on_handle(Call&& call) EXCLUDES(lock_);

    vngtl::Mutex lock_;
    VnBoard* board_ GUARDED_BY(lock_) = nullptr;
    void* handle_ GUARDED_BY(lock_) = nullptr;     // from clVNSerialInitFromBoardHandle; closed with the line
    void* reference_ GUARDED_BY(lock_) = nullptr;  // from clVNGetSerialRefFromBoardHandle
};

}  // namespace VNBoards
