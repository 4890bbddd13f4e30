// The board's two error stacks and their texts, with and without an open board, and the simulated SDK's
// answers the board relies on.
#include "BoardFixture.h"

#include <vnsim.h>

namespace {

using VNBoards::Board;
using VNBoards::BoardState;

using BoardErrors = BoardTest;

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

    // The buffer library's codes come out oldest first.
    ASSERT_EQ(vnsim_push_vb_error(1, 220), 0);
    ASSERT_EQ(vnsim_push_vb_error(1, 222), 0);
    EXPECT_EQ(vnsim_push_vb_error(7, 220), -1) << "no such board";
    EXPECT_EQ(board.pop_vb_error(), 220);
    EXPECT_EQ(VbCirErrorCheck(sdk_handle(board), nullptr), 222) << "without a descriptor";
    EXPECT_EQ(board.pop_vb_error(), 0);

    // The driver's newest code is its last error; reading it does not clear it, popping does.
    ASSERT_EQ(vnsim_push_vn_error(1, 3009), 0);
    ASSERT_EQ(vnsim_push_vn_error(1, 3010), 0);
    int32_t code = 0;
    ASSERT_EQ(VNErrorGetLast(sdk_handle(board), &code), 0);
    EXPECT_EQ(code, 3010);
    EXPECT_NE(VNErrorGetLast(sdk_handle(board), nullptr), 0);
    EXPECT_EQ(board.pop_vn_error(), 3010);
    EXPECT_EQ(board.pop_vn_error(), 3009);
    EXPECT_EQ(board.pop_vn_error(), 0);

    // A failing driver call leaves its code as the last error.
    const int32_t refused = VNRegPoke(sdk_handle(board), 9999, 0);
    ASSERT_NE(refused, 0);
    EXPECT_EQ(board.pop_vn_error(), refused);
    EXPECT_EQ(board.vn_error_text(refused), "Board register number out of range (0 to 3633).");
    EXPECT_EQ(board.pop_vn_error(), 0);
    expect_no_record();
}

TEST_F(BoardErrors, BufferLibraryTextsOfEveryLength)
{
    Board board(0);
    ASSERT_EQ(board.state(), BoardState::Open);
    const VN_HANDLE handle = sdk_handle(board);
    EXPECT_EQ(board.vb_error_text(220), "Frame buffer overflow: the host did not release buffers in time.");

    // A text longer than the first 256-byte attempt: the library fills the attempt and answers the size it
    // needs, without the terminating NUL; the board asks again with that size.
    char text[256];
    uint32_t size = sizeof text;
    ASSERT_EQ(VbErrorTextGet(handle, 222, text, &size), VB_TEXT_TRUNCATED);
    ASSERT_GT(size, 256u);
    const std::string long_text = board.vb_error_text(222);
    EXPECT_EQ(long_text.size(), size);
    EXPECT_EQ(long_text.substr(0, 256), std::string(text, sizeof text));
    EXPECT_EQ(long_text.rfind("Acquisition stopped: the camera signal was lost.", 0), 0u);
    EXPECT_EQ(long_text.find('\0'), std::string::npos);
    expect_no_record();
    uint32_t needed = 0;
    EXPECT_EQ(VbErrorTextGet(handle, 222, nullptr, &needed), VB_TEXT_TRUNCATED) << "a size query";
    EXPECT_EQ(needed, size);
    EXPECT_NE(VbErrorTextGet(handle, 220, text, nullptr), 0);

    EXPECT_EQ(board.vb_error_text(123456), "Could not retrieve error text. The error code is unknown!");
    expect_record("GC_ERR_ERROR", "Board::vb_error_text", "Unknown Vb error code 123456.");
    EXPECT_EQ(board.vb_error_text(-5), "Could not retrieve error text. The error code is unknown!");
    expect_record("GC_ERR_ERROR", "Board::vb_error_text", "Unknown Vb error code -5.");
}

TEST_F(BoardErrors, DriverTexts)
{
    Board board(0);
    ASSERT_EQ(board.state(), BoardState::Open);

    EXPECT_EQ(board.vn_error_text(3015), "The CoaXPress camera did not acknowledge the address.");
    expect_no_record();
    char text[256] = {};
    EXPECT_NE(VNErrorGetMes(sdk_handle(board), 3015, text, 10), 0) << "a buffer the text does not fit";
    EXPECT_NE(VNErrorGetMes(sdk_handle(board), 3015, nullptr, 0), 0);

    const int32_t unknown_result = VNErrorGetMes(sdk_handle(board), 77, text, sizeof text);
    ASSERT_NE(unknown_result, 0);
    EXPECT_EQ(board.vn_error_text(77), "Encountered an unexpected error retrieving text for a VN error code.");
    expect_record("GC_ERR_ERROR", "Board::vn_error_text",
                  "Encountered an unexpected error (code " + std::to_string(unknown_result) +
                      " retrieving VN error code text for board number 0.");
}

}  // namespace
