// The board's camera-side operations, through which the remote-device ports reach the camera: the family
// queries, the per-board options, the camera's texts and the CoaXPress register and block access.
#include "BoardFixture.h"

#include <vnsim.h>

#include <array>
#include <cstring>
#include <string>

namespace {

using VNBoards::Board;
using VNBoards::BoardCall;
using VNBoards::BoardState;

using BoardCameraAccess = BoardTest;

// The Standard register of every CoaXPress device's bootstrap block, and the value it must hold.
constexpr uint32_t cxp_standard_address = 0x0000;
constexpr uint32_t cxp_standard_value = 0xC0A79AE5;
constexpr uint32_t cxp_manifest_selector_address = 0x000C;  // writable
constexpr uint32_t cxp_vendor_name_address = 0x2000;        // 32 bytes, NUL-terminated
constexpr uint32_t cxp_user_id_address = 0x20C0;            // 16 bytes, writable

// The board is sealed: neither its SDK handle nor its state lock is part of its interface.
template <class B>
concept HandsOutItsHandle = requires(B& board) { board.handle(); };
template <class B>
concept HandsOutItsStateLock = requires(B& board) { board.state_lock(); };
static_assert(!HandsOutItsHandle<Board>);
static_assert(!HandsOutItsStateLock<Board>);

// Both opens of a board's inspection attempt (the open and its shared retry) fail this many times over.
void fail_opens(uint32_t attempts)
{
    ASSERT_EQ(vnsim_fault_open_fails(0, 2 * attempts), 0);
}

TEST_F(BoardCameraAccess, TheFamilyIsAskedOfTheOpenBoard)
{
    Board cxp(0);
    EXPECT_TRUE(cxp.is_cxp());
    EXPECT_FALSE(cxp.is_cl());
    Board cl(1);
    EXPECT_TRUE(cl.is_cl());
    EXPECT_FALSE(cl.is_cxp());

    // A closed board is opened for the question; when it cannot be, it is of no family.
    ASSERT_TRUE(cxp.close_board());
    EXPECT_TRUE(cxp.is_cxp());
    EXPECT_EQ(cxp.state(), BoardState::Open);
    ASSERT_TRUE(cxp.close_board());
    fail_opens(2);
    EXPECT_FALSE(cxp.is_cxp());
    EXPECT_FALSE(cxp.is_cl());
    EXPECT_EQ(cxp.state(), BoardState::Closed);
}

TEST_F(BoardCameraAccess, RegistryFlagsAreSetOnlyByAValueOtherThanZero)
{
    ASSERT_EQ(vnsim_configure(R"({"boards": [{"kind": "CXP", "options": {"On": "1", "Wide": "0xff", "Off": "0"},
                                  "camera_files": [{"name": "A.cam", "width": 64, "height": 48}]}]})"),
              0)
        << vnsim_last_error();
    Board board(0);
    EXPECT_TRUE(board.registry_flag("On"));
    EXPECT_TRUE(board.registry_flag("Wide"));
    EXPECT_FALSE(board.registry_flag("Off"));
    EXPECT_FALSE(board.registry_flag("Absent"));

    ASSERT_TRUE(board.close_board());
    fail_opens(1);
    EXPECT_FALSE(board.registry_flag("On"));
}

TEST_F(BoardCameraAccess, TheCameraTextsAreThoseOfTheCameraFile)
{
    Board board(0);
    std::string make = "?";
    std::string model = "?";
    std::string mode = "?";
    ASSERT_TRUE(board.camera_mmm(make, model, mode));
    EXPECT_FALSE(make.empty());
    EXPECT_FALSE(model.empty());
    EXPECT_NE(mode, "?");
    EXPECT_EQ(board.camera_identity(), make + " " + model);

    ASSERT_TRUE(board.close_board());
    fail_opens(1);
    std::string untouched = "kept";
    EXPECT_FALSE(board.camera_mmm(untouched, untouched, untouched));
    EXPECT_EQ(untouched, "kept");
}

TEST_F(BoardCameraAccess, ACameraLinkBoardRefusesCoaXPressAccessThroughTheSdk)
{
    Board board(1);
    uint32_t value = 0x5A5A5A5A;
    const BoardCall call = board.cxp_read_reg(cxp_standard_address, value);
    EXPECT_TRUE(call.opened);
    EXPECT_NE(call.result, 0);
}

TEST_F(BoardCameraAccess, NothingReachesTheSdkWhenTheBoardCannotBeOpened)
{
    fail_opens(1);
    Board board(0);
    ASSERT_EQ(board.state(), BoardState::Closed);

    // Each call tries to open the board (and records that it could not); the next one is made to fail too.
    const auto expect_not_called = [&](const BoardCall& call, const char* what) {
        fail_opens(1);
        EXPECT_FALSE(call.opened) << what;
        EXPECT_EQ(call.result, 0) << what;
    };
    uint32_t value = 0x5A5A5A5A;
    uint32_t bytes_read = 77;
    std::array<char, 8> block{};
    fail_opens(1);
    expect_not_called(board.cxp_read_reg(cxp_standard_address, value), "read_reg");
    expect_not_called(board.cxp_write_reg(cxp_manifest_selector_address, 1), "write_reg");
    expect_not_called(board.cxp_read_data(cxp_vendor_name_address, block.data(), block.size(), bytes_read),
                      "read_data");
    expect_not_called(board.cxp_write_data(cxp_user_id_address, block.data(), block.size()), "write_data");
    expect_not_called(board.cxp_configure_link_speed(1, 1), "configure_link_speed");
    ASSERT_EQ(vnsim_fault_open_fails(0, 0), 0);
    EXPECT_EQ(value, 0x5A5A5A5Au);
    EXPECT_EQ(bytes_read, 77u);
    EXPECT_EQ(board.state(), BoardState::Closed);
    EXPECT_EQ(vnsim_open_handles(0), 0);

    // Once the board opens again the same call reaches the camera.
    EXPECT_TRUE(board.cxp_read_reg(cxp_standard_address, value).opened);
    EXPECT_EQ(value, cxp_standard_value);
}

}  // namespace
