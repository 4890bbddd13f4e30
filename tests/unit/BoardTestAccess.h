// The tests' view of the SDK handle inside a Board, so that a test can ask the simulated SDK directly on
// the handle the board uses and compare its answers with the board's.
#pragma once

#include "board/VNBoards.h"
#include <VantrelSdk.h>

namespace VNBoards {

// Peeks without the board's locks, on a board no other thread uses.
struct BoardTestAccess {
    static VN_HANDLE handle(const Board& board) noexcept { return board.handle_; }
    static void* serial_handle(const Board& board) noexcept NO_THREAD_SAFETY_ANALYSIS
    {
        return board.serial_.handle_;
    }
    static void* serial_reference(const Board& board) noexcept NO_THREAD_SAFETY_ANALYSIS
    {
        return board.serial_.reference_;
    }
};

}  // namespace VNBoards

inline VN_HANDLE sdk_handle(const VNBoards::Board& board) noexcept
{
    return VNBoards::BoardTestAccess::handle(board);
}
