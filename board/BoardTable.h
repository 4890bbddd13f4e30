// The boards the SDK enumerated when the library was initialised: one slot per board number, each filled
// with its Board on first use.
//
// Ownership: the table shares each board with the modules and ports built on it, so a board lives until
// the last of them lets go. The table itself is shared by the library manager and the system module.
//
// Thread safety: `create_lock_` guards the filling of the slots only; it is a leaf lock (a board's
// constructor takes the new board's own locks, which no other thread can hold yet).
#pragma once

#include "board/VNBoards.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace VNBoards {

class BoardTable {
public:
    // As many slots as the SDK enumerates boards (none when it cannot tell).
    BoardTable();
    BoardTable(const BoardTable&) = delete;
    BoardTable& operator=(const BoardTable&) = delete;

    // Fixed when the table was built.
    size_t size() const noexcept { return boards_.size(); }

    // The board of slot `index` (below size()), created on first use; two threads asking for the same empty
    // slot get one board. A board that has never opened is asked to open again on every later request.
    std::shared_ptr<Board> get_board(size_t index);

private:
    std::vector<std::shared_ptr<Board>> boards_;  // guarded by create_lock_
    std::mutex create_lock_;
};

}  // namespace VNBoards
