#include "board/BoardTable.h"

namespace VNBoards {

BoardTable::BoardTable() : boards_(enumerate_boards()) {}

std::shared_ptr<Board> BoardTable::get_board(size_t index)
{
    std::shared_ptr<Board> board;
    {
        std::lock_guard guard(create_lock_);
        std::shared_ptr<Board>& slot = boards_[index];
        if (!slot) {
            // Opens the board for inspection; a board that fails to open is kept all the same.
            slot = std::make_shared<Board>(static_cast<uint32_t>(index));
            return slot;
        }
        board = slot;
    }
    // A board that has never opened has no ID, so no interface is made for it: each later request retries
    // the open (outside the leaf lock), so that an interface-list update finds the board once it opens.
    if (board->board_id().empty()) {
        board->check_init(OpenLevel::Inspect);
    }
    return board;
}

}  // namespace VNBoards
