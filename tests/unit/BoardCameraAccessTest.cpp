// The board's camera-side operations, through which the remote-device ports reach the camera: the family
// queries, the per-board options, the camera's texts and the CoaXPress register and block access; the
// board's two error stacks and their texts; and camera files (a board without a default one, switching
// between them, and the geometry that follows the camera file into the frames).
#include "BoardFixture.h"
#include "BoardTestAccess.h"

#include <vnsim.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>

namespace {

using VNBoards::Board;
using VNBoards::BoardCall;
using VNBoards::BoardState;
using VNBoards::Roi;

using BoardCameraAccess = BoardTest;

// The Standard register of every CoaXPress device's bootstrap block, and the value it must hold.
constexpr uint32_t cxp_standard_address = 0x0000;
constexpr uint32_t cxp_standard_value = 0xC0A79AE5;

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

    // A closed board is opened for the question (one that cannot be opened:
    // NothingReachesTheSdkWhenTheBoardCannotBeOpened).
    ASSERT_TRUE(cxp.close_board());
    EXPECT_TRUE(cxp.is_cxp());
    EXPECT_EQ(cxp.state(), BoardState::Open);
}

// (Options set to "1" and "0" take effect through the port: CxpPortTest; their hex texts: SimConfigTest.)
TEST_F(BoardCameraAccess, NothingReachesTheSdkWhenTheBoardCannotBeOpened)
{
    ASSERT_EQ(vnsim_configure(R"({"boards": [{"kind": "CXP", "options": {"On": "1"}}]})"), 0) << vnsim_last_error();
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
    // The manifest selector, the vendor name (32 bytes) and the user ID (16 bytes, writable).
    expect_not_called(board.cxp_write_reg(0x000C, 1), "write_reg");
    expect_not_called(board.cxp_read_data(0x2000, block.data(), block.size(), bytes_read), "read_data");
    expect_not_called(board.cxp_write_data(0x20C0, block.data(), block.size()), "write_data");
    expect_not_called(board.cxp_configure_link_speed(1, 1), "configure_link_speed");
    // The board is of no family, sets no flag and has no camera texts.
    EXPECT_FALSE(board.is_cxp());
    fail_opens(1);
    EXPECT_FALSE(board.is_cl());
    fail_opens(1);
    EXPECT_FALSE(board.registry_flag("On"));
    fail_opens(1);
    std::string untouched = "kept";
    EXPECT_FALSE(board.camera_mmm(untouched, untouched, untouched));
    EXPECT_EQ(untouched, "kept");
    ASSERT_EQ(vnsim_fault_open_fails(0, 0), 0);
    EXPECT_EQ(value, 0x5A5A5A5Au);
    EXPECT_EQ(bytes_read, 77u);
    EXPECT_EQ(board.state(), BoardState::Closed);
    EXPECT_EQ(vnsim_open_handles(0), 0);

    // Nor are the error stacks and their texts asked; every request is recorded.
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

    // Once the board opens again the same call reaches the camera, and the stacks kept their codes.
    EXPECT_TRUE(board.cxp_read_reg(cxp_standard_address, value).opened);
    EXPECT_EQ(value, cxp_standard_value);
    EXPECT_EQ(board.pop_vb_error(), 223);
    EXPECT_EQ(board.pop_vn_error(), 3006);
}

// ---- The error stacks and their texts on an open board -------------------------------------------------

using BoardErrors = BoardTest;

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

// The texts of both libraries; the unknown codes' records come last, as records stay.
TEST_F(BoardErrors, BufferLibraryTextsOfEveryLengthAndDriverTexts)
{
    Board board(0);
    ASSERT_EQ(board.state(), BoardState::Open);
    const VN_HANDLE handle = sdk_handle(board);
    EXPECT_EQ(board.vn_error_text(3015), "The CoaXPress camera did not acknowledge the address.");
    char text[256] = {};
    EXPECT_NE(VNErrorGetMes(handle, 3015, text, 10), 0) << "a buffer the text does not fit";
    EXPECT_NE(VNErrorGetMes(handle, 3015, nullptr, 0), 0);
    EXPECT_EQ(board.vb_error_text(220), "Frame buffer overflow: the host did not release buffers in time.");

    // A text longer than the first 256-byte attempt: the library fills the attempt and answers the size it
    // needs, without the terminating NUL; the board asks again with that size.
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
    const int32_t unknown_result = VNErrorGetMes(handle, 77, text, sizeof text);
    ASSERT_NE(unknown_result, 0);
    EXPECT_EQ(board.vn_error_text(77), "Encountered an unexpected error retrieving text for a VN error code.");
    expect_record("GC_ERR_ERROR", "Board::vn_error_text",
                  "Encountered an unexpected error (code " + std::to_string(unknown_result) +
                      " retrieving VN error code text for board number 0.");
}

// ---- Camera files on one board of no particular family -------------------------------------------------

constexpr const char* configuration = R"({"boards": [{"kind": "other", "model": "VN-AN1 Analog", "serial": "VA0042",
  "camera_files": [
    {"name": "Wide.cam", "width": 320, "height": 240, "bits_per_pixel": 8, "make": "Acme", "model": "W-1"},
    {"name": "Deep.cam", "width": 160, "height": 120, "bits_per_pixel": 16, "make": "Acme", "model": "D-2"}],
  "default_camera_file": null, "frame_source": {"trigger": "manual"}}]})";

using BoardCameraFiles = BoardTest;

// A board without a default camera file opens without one; changing the camera file reopens it at its level.
TEST_F(BoardCameraFiles, OpenWithoutADefaultReopenAtTheLevelForANewCameraFileAndDeliverDeepPixelsIntact)
{
    ASSERT_EQ(vnsim_configure(configuration), 0) << vnsim_last_error();
    Board board(0);
    EXPECT_EQ(board.state(), BoardState::Open);
    EXPECT_EQ(board.camera_file(), "");
    expect_record("GC_ERR_ERROR", "Board::P_check_params",
                  "Unable to determine the default attached camera file, but board 0 was opened successfully.");
    EXPECT_EQ(board.board_id(), "VA0042 (0) VN-AN1 Analog");
    EXPECT_EQ(board.kind_name(), "Custom");
    EXPECT_EQ(VNBoards::BoardTestAccess::serial_handle(board), nullptr);

    EXPECT_EQ(board.check_init(VNBoards::OpenLevel::Inspect, "Deep.cam"), BoardState::Open);
    EXPECT_EQ(board.camera_file(), "Deep.cam");
    EXPECT_EQ(board.default_roi(), (Roi{0, 0, 160, 120}));
    EXPECT_EQ(board.bit_depth(), 16u);
    EXPECT_EQ(board.camera_identity(), "Acme D-2");
    std::string make;
    std::string model;
    std::string mode = "?";
    ASSERT_TRUE(board.camera_mmm(make, model, mode));
    EXPECT_EQ(make + " " + model, "Acme D-2");
    EXPECT_NE(mode, "?");
    EXPECT_EQ(vnsim_open_handles(0), 1);

    // Raising the level keeps the camera file the board has.
    EXPECT_EQ(board.check_init(VNBoards::OpenLevel::Acquire), BoardState::OpenForAcquisition);
    EXPECT_EQ(board.camera_file(), "Deep.cam");
    EXPECT_EQ(board.current_roi(), (Roi{0, 0, 160, 120}));
    EXPECT_EQ(board.check_init(VNBoards::OpenLevel::Acquire, "Deep.cam"), BoardState::OpenForAcquisition);

    EXPECT_EQ(board.check_init(VNBoards::OpenLevel::Acquire, "Wide.cam"), BoardState::OpenForAcquisition);
    EXPECT_EQ(board.camera_file(), "Wide.cam");
    EXPECT_EQ(board.current_roi(), (Roi{0, 0, 320, 240}));
    EXPECT_EQ(board.bit_depth(), 8u);
    EXPECT_EQ(vnsim_open_handles(0), 1);

    // A configured board keeps its camera file: met through the interface module in InterfaceModuleTest.

    // Lowering the level keeps the camera file as well.
    EXPECT_EQ(board.reopen(VNBoards::BoardState::Open), BoardState::Open);
    EXPECT_EQ(board.camera_file(), "Wide.cam");
    EXPECT_EQ(board.reopen(VNBoards::BoardState::Open, "Deep.cam"), BoardState::Open);
    EXPECT_EQ(board.camera_file(), "Deep.cam");

    // Deep pixels arrive intact.
    ASSERT_EQ(board.check_init(VNBoards::OpenLevel::Acquire, "Deep.cam"), BoardState::OpenForAcquisition);
    ASSERT_TRUE(board.set_roi(Roi{16, 8, 100, 50}));
    ASSERT_EQ(board.setup_acq(2), BoardState::Configured);
    ASSERT_TRUE(board.start_acq());
    ASSERT_EQ(vnsim_trigger(0, 2), 2);

    RecordingSink sink;
    for (int i = 0; i < 2; ++i) {
        VNBoards::FrameRecord record{};
        ASSERT_EQ(board.frame_wait(record), VNBoards::FrameWait::Frame);
        ASSERT_TRUE(sink.take(board, record.buffer_index));
        ASSERT_TRUE(board.set_frame_available(record));
    }
    ASSERT_EQ(sink.frames.size(), 2u);
    for (uint64_t counter = 1; counter <= 2; ++counter) {
        const RecordingSink::Frame& frame = sink.frames[counter - 1];
        EXPECT_EQ(frame.kind, VNBoards::BoardKind::Custom);
        EXPECT_EQ(std::tuple(frame.bit_depth, frame.width, frame.height, frame.x_offset, frame.y_offset),
                  std::tuple(16u, 100u, 50u, 16u, 8u))
            << "bit depth, width, height, x and y offsets";
        EXPECT_EQ(frame.data.size(), 100u * 50u * 2u);
        EXPECT_EQ(vnsim_check_frame(frame.data.data(), frame.data.size(), 100, 50, 16, counter), 0);
    }
    EXPECT_EQ(board.teardown_acq(), BoardState::OpenForAcquisition);
}

}  // namespace
