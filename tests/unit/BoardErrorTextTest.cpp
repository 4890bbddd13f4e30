// The board's two error stacks and their texts, with and without an open board.
#include "BoardFixture.h"

#include <vnsim.h>

namespace {

using VNBoards::Board;
using VNBoards::BoardState;

using BoardErrors = BoardTest;

// The text the buffer library has for `code`, asked for with ample room.
std::string vb_text(VN_HANDLE handle, int32_t code)
{
    std::string text(8192, '\0');
    uint32_t size = static_cast<uint32_t>(text.size());
    EXPECT_EQ(VbErrorTextGet(handle, code, text.data(), &size), 0);
    return text.c_str();
}

TEST_F(BoardErrors, WithoutAnOpenBoardNothingIsAskedAndEveryRequestIsRecorded)
{
    ASSERT_EQ(vnsim_fault_open_fails(0, 2), 0);
    Board board(0);
    ASSERT_EQ(board.state(), BoardState::Closed);
    ASSERT_EQ(vnsim_push_vb_error(0, 223), 0);
    ASSERT_EQ(vnsim_push_vn_error(0, 3006), 0);

    EXPECT_EQ(board.pop_vb_error(), 0);
    expect_record("GC_ERR_ERROR", "Board::pop_vb_error", "Cannot retrieve errors for uninitialized board number 0.");
    EXPECT_EQ(board.pop_vn_error(), 0);
    expect_record("GC_ERR_ERROR", "Board::pop_vn_error", "Cannot retrieve errors for uninitialized board number 0.");
    EXPECT_EQ(board.vb_error_text(223), "Cannot retrieve error text for an uninitialized board!");
    expect_record("GC_ERR_ERROR", "Board::vb_error_text",
                  "Cannot retrieve error text for uninitialized board number 0.");
    EXPECT_EQ(board.vn_error_text(3006), "");
    expect_record("GC_ERR_ERROR", "Board::vn_error_text",
                  "Cannot retrieve error text for uninitialized board number 0.");
    EXPECT_EQ(board.camera_identity(), "");

    // The stacks kept their codes for when the board is open.
    ASSERT_EQ(board.check_init(VNBoards::OpenLevel::Inspect), BoardState::Open);
    EXPECT_EQ(board.pop_vb_error(), 223);
    EXPECT_EQ(board.pop_vn_error(), 3006);
}

TEST_F(BoardErrors, StacksArePoppedInTurnUntilEmpty)
{
    Board board(1);
    ASSERT_EQ(board.state(), BoardState::Open);
    EXPECT_EQ(board.pop_vb_error(), 0);
    EXPECT_EQ(board.pop_vn_error(), 0);

    ASSERT_EQ(vnsim_push_vb_error(1, 220), 0);
    ASSERT_EQ(vnsim_push_vb_error(1, 222), 0);
    const int32_t first = board.pop_vb_error();
    const int32_t second = board.pop_vb_error();
    EXPECT_TRUE((first == 220 && second == 222) || (first == 222 && second == 220)) << first << " " << second;
    EXPECT_EQ(board.pop_vb_error(), 0);

    // The driver keeps one last error, which popping clears.
    ASSERT_EQ(vnsim_push_vn_error(1, 3019), 0);
    EXPECT_EQ(board.pop_vn_error(), 3019);
    EXPECT_EQ(board.pop_vn_error(), 0);
    expect_no_record();
}

TEST_F(BoardErrors, BufferLibraryTextsOfEveryLength)
{
    Board board(0);
    ASSERT_EQ(board.state(), BoardState::Open);

    const std::string short_text = vb_text(sdk_handle(board), 221);
    ASSERT_FALSE(short_text.empty());
    EXPECT_EQ(board.vb_error_text(221), short_text);

    // A text longer than the first 256-byte attempt is fetched again with the size the library asks for.
    const std::string long_text = vb_text(sdk_handle(board), 222);
    ASSERT_GT(long_text.size(), 256u);
    EXPECT_EQ(board.vb_error_text(222), long_text);
    expect_no_record();

    EXPECT_EQ(board.vb_error_text(123456), "Could not retrieve error text. The error code is unknown!");
    expect_record("GC_ERR_ERROR", "Board::vb_error_text", "Unknown Vb error code 123456.");
    EXPECT_EQ(board.vb_error_text(-5), "Could not retrieve error text. The error code is unknown!");
    expect_record("GC_ERR_ERROR", "Board::vb_error_text", "Unknown Vb error code -5.");
}

TEST_F(BoardErrors, DriverTexts)
{
    Board board(0);
    ASSERT_EQ(board.state(), BoardState::Open);

    char text[256] = {};
    ASSERT_EQ(VNErrorGetMes(sdk_handle(board), 3006, text, sizeof text), 0);
    ASSERT_NE(text[0], '\0');
    EXPECT_EQ(board.vn_error_text(3006), text);
    expect_no_record();

    const int32_t unknown_result = VNErrorGetMes(sdk_handle(board), 77, text, sizeof text);
    ASSERT_NE(unknown_result, 0);
    EXPECT_EQ(board.vn_error_text(77), "Encountered an unexpected error retrieving text for a VN error code.");
    expect_record("GC_ERR_ERROR", "Board::vn_error_text",
                  "Encountered an unexpected error (code " + std::to_string(unknown_result) +
                      " retrieving VN error code text for board number 0.");
}

}  // namespace
