#include "board/BoardTable.h"

namespace VNBoards {

BoardTable::BoardTable() : boards_(enumerate_boards()) {}

std::shared_ptr<Board> BoardTable::get_board(size_t index)
{
    std::lock_guard guard(create_lock_);
    std::shared_ptr<Board>& slot = boards_[index];
    if (!slot) {
        // Opens the board for inspection; a board that fails to open is kept all the same and retries later.
        slot = std::make_shared<Board>(static_cast<uint32_t>(index));
    }
    return slot;
}

}  // namespace VNBoards
