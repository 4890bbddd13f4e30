// Camera files: a board without a default one, switching between camera files, and the geometry that follows
// the camera file into the frames. The simulated system is one board of no particular family.
#include "BoardTestAccess.h"
#include "BoardFixture.h"

#include <vnsim.h>

namespace {

using VNBoards::Board;
using VNBoards::BoardState;
using VNBoards::Roi;

constexpr const char* configuration = R"({"boards": [{"kind": "other", "model": "VN-AN1 Analog", "serial": "VA0042",
  "camera_files": [
    {"name": "Wide.cam", "width": 320, "height": 240, "bits_per_pixel": 8, "make": "Acme", "model": "W-1"},
    {"name": "Deep.cam", "width": 160, "height": 120, "bits_per_pixel": 16, "make": "Acme", "model": "D-2"}],
  "default_camera_file": null, "frame_source": {"trigger": "manual"}}]})";

class BoardCameraFiles : public BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        ASSERT_EQ(vnsim_configure(configuration), 0) << vnsim_last_error();
    }
};

TEST_F(BoardCameraFiles, BoardWithoutADefaultCameraFileOpensWithoutOne)
{
    Board board(0);
    EXPECT_EQ(board.state(), BoardState::Open);
    EXPECT_EQ(board.camera_file(), "");
    expect_record("GC_ERR_ERROR", "Board::P_check_params",
                  "Unable to determine the default attached camera file, but board 0 was opened successfully.");
    EXPECT_EQ(board.board_id(), "VA0042 (0) VN-AN1 Analog");
    EXPECT_EQ(board.kind_name(), "Custom");
    EXPECT_EQ(VNBoards::BoardTestAccess::serial_handle(board), nullptr);
}

TEST_F(BoardCameraFiles, ChangingTheCameraFileReopensUnlessConfigured)
{
    Board board(0);
    EXPECT_EQ(board.check_init(VNBoards::OpenLevel::Inspect, "Deep.cam"), BoardState::Open);
    EXPECT_EQ(board.camera_file(), "Deep.cam");
    EXPECT_EQ(board.default_roi(), (Roi{0, 0, 160, 120}));
    EXPECT_EQ(board.bit_depth(), 16u);
    EXPECT_EQ(board.camera_identity(), "Acme D-2");
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

    ASSERT_EQ(board.setup_acq(2), BoardState::Configured);
    EXPECT_EQ(board.check_init(VNBoards::OpenLevel::Acquire, "Deep.cam"), BoardState::Configured);
    EXPECT_EQ(board.camera_file(), "Wide.cam");
    EXPECT_EQ(board.bit_depth(), 8u);
    EXPECT_EQ(board.teardown_acq(), BoardState::OpenForAcquisition);

    // Lowering the level keeps the camera file as well.
    EXPECT_EQ(board.reopen(VNBoards::BoardState::Open), BoardState::Open);
    EXPECT_EQ(board.camera_file(), "Wide.cam");
    EXPECT_EQ(board.reopen(VNBoards::BoardState::Open, "Deep.cam"), BoardState::Open);
    EXPECT_EQ(board.camera_file(), "Deep.cam");
}

TEST_F(BoardCameraFiles, DeepPixelsArriveIntact)
{
    Board board(0);
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
        EXPECT_EQ(frame.bit_depth, 16u);
        EXPECT_EQ(frame.width, 100u);
        EXPECT_EQ(frame.height, 50u);
        EXPECT_EQ(frame.x_offset, 16u);
        EXPECT_EQ(frame.y_offset, 8u);
        EXPECT_EQ(frame.data.size(), 100u * 50u * 2u);
        EXPECT_EQ(vnsim_check_frame(frame.data.data(), frame.data.size(), 100, 50, 16, counter), 0);
    }
    EXPECT_EQ(board.teardown_acq(), BoardState::OpenForAcquisition);
}

}  // namespace
