// The manager's board table: one board object per board number, made on first use and closed with the
// library.
#include "BoardFixture.h"

#include "cti/CtiManager.h"

#include <vnsim.h>

#include <thread>
#include <vector>

namespace {

using BoardTable = BoardTest;

TEST_F(BoardTable, EachSlotGetsOneBoardOpenedOnFirstUseAndClosedWithTheLibrary)
{
    vngtl::ManagerRef manager = vngtl::get_manager();
    ASSERT_TRUE(manager);
    ASSERT_GE(manager->get()->board_count(), 2u);
    EXPECT_EQ(vnsim_open_handles(0), 0);

    std::vector<std::shared_ptr<VNBoards::Board>> seen(8);
    {
        std::vector<std::jthread> threads;
        for (size_t i = 0; i < seen.size(); ++i) {
            threads.emplace_back([&, i] { seen[i] = manager->get()->get_board(0); });
        }
    }
    for (const auto& board : seen) {
        EXPECT_EQ(board, seen[0]);
    }
    ASSERT_TRUE(seen[0]);
    EXPECT_EQ(seen[0]->board_number(), 0u);
    EXPECT_EQ(seen[0]->state(), VNBoards::BoardState::Open);
    EXPECT_EQ(vnsim_open_handles(0), 1);

    auto second = manager->get()->get_board(1);
    EXPECT_NE(second, seen[0]);
    EXPECT_EQ(second->board_number(), 1u);
    EXPECT_EQ(manager->get()->get_board(1), second);
    EXPECT_EQ(vnsim_open_handles(1), 1);

    // With only the library holding them, closing it closes its boards.
    seen.clear();
    second.reset();
    manager = {};
    ASSERT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
    EXPECT_EQ(vnsim_open_handles(0), 0);
    EXPECT_EQ(vnsim_open_handles(1), 0);
}

}  // namespace
