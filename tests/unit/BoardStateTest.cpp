// The board's open levels, camera files, region of interest and buffer set-up, driven through the simulator.
#include "BoardTestAccess.h"
#include "BoardFixture.h"

#include <vnsim.h>

namespace {

using VNBoards::Board;
using VNBoards::BoardState;
using VNBoards::Roi;

using BoardStates = BoardTest;

TEST_F(BoardStates, ConstructionOpensForInspectionLevelsChangeByReopeningTheRegionNeedsAcquisitionAndAnUnknownFileCloses)
{
    Board cxp(0);
    EXPECT_EQ(cxp.state(), BoardState::Open);
    EXPECT_EQ(vnsim_open_handles(0), 1);
    EXPECT_FALSE(cxp.camera_file().empty());
    EXPECT_NE(cxp.board_id().find(" (0) "), std::string::npos) << cxp.board_id();
    EXPECT_EQ(cxp.kind_name(), "CXP");
    EXPECT_EQ(VNBoards::BoardTestAccess::serial_handle(cxp), nullptr);

    const Roi roi = cxp.default_roi();
    EXPECT_GT(roi.width, 0u);
    EXPECT_GT(roi.height, 0u);
    EXPECT_EQ(cxp.current_roi(), roi);
    uint32_t width = 0;
    ASSERT_EQ(VbBrdInquire(sdk_handle(cxp), VB_INQ_WIDTH, &width), 0);
    EXPECT_EQ(roi.width, width);
    EXPECT_GT(cxp.bit_depth(), 0u);

    Board cl(1);
    EXPECT_EQ(cl.kind_name(), "CL");
    EXPECT_NE(VNBoards::BoardTestAccess::serial_handle(cl), nullptr);
    EXPECT_NE(VNBoards::BoardTestAccess::serial_reference(cl), nullptr);
    EXPECT_NE(cl.board_id(), cxp.board_id());

    // Levels go up by reopening, and down only through reopen.
    const std::string camera_file = cxp.camera_file();
    const std::string id = cxp.board_id();

    EXPECT_EQ(cxp.check_init(VNBoards::OpenLevel::Acquire), BoardState::OpenForAcquisition);
    EXPECT_EQ(vnsim_open_handles(0), 1);  // the inspection handle was closed first
    EXPECT_EQ(cxp.camera_file(), camera_file);
    EXPECT_EQ(cxp.board_id(), id);

    const VN_HANDLE acquisition_handle = sdk_handle(cxp);
    EXPECT_EQ(cxp.check_init(VNBoards::OpenLevel::Inspect), BoardState::OpenForAcquisition);
    EXPECT_EQ(cxp.check_init(VNBoards::OpenLevel::Acquire), BoardState::OpenForAcquisition);
    EXPECT_EQ(sdk_handle(cxp), acquisition_handle);
    // Levels other than 1 and 2 change nothing.
    EXPECT_EQ(cxp.check_init(static_cast<VNBoards::OpenLevel>(0)), BoardState::OpenForAcquisition);
    EXPECT_EQ(cxp.check_init(static_cast<VNBoards::OpenLevel>(3)), BoardState::OpenForAcquisition);

    EXPECT_EQ(cxp.reopen(VNBoards::BoardState::Open), BoardState::Open);
    EXPECT_EQ(vnsim_open_handles(0), 1);
    EXPECT_EQ(cxp.camera_file(), camera_file);
    EXPECT_EQ(cxp.reopen(VNBoards::BoardState::OpenForAcquisition), BoardState::OpenForAcquisition);
    EXPECT_EQ(cxp.reopen(VNBoards::BoardState::Closed), BoardState::Closed);
    EXPECT_EQ(vnsim_open_handles(0), 0);
    expect_no_record();

    // The region of interest is set only while the board is open for acquisition and not configured; one the
    // board refuses is recorded with the driver's text, and the board keeps its region.
    ASSERT_EQ(cxp.check_init(VNBoards::OpenLevel::Inspect), BoardState::Open);
    const Roi full = cxp.default_roi();
    const Roi smaller{8, 4, full.width / 2, full.height / 2};

    EXPECT_FALSE(cxp.set_roi(smaller));
    EXPECT_EQ(cxp.current_roi(), full);

    ASSERT_EQ(cxp.check_init(VNBoards::OpenLevel::Acquire), BoardState::OpenForAcquisition);
    EXPECT_TRUE(cxp.set_roi(smaller));
    EXPECT_EQ(cxp.current_roi(), smaller);
    EXPECT_EQ(cxp.default_roi(), full);
    ASSERT_EQ(VbBrdInquire(sdk_handle(cxp), VB_INQ_WIDTH, &width), 0);
    EXPECT_EQ(width, smaller.width);

    ASSERT_EQ(cxp.setup_acq(2), BoardState::Configured);
    EXPECT_FALSE(cxp.set_roi(full));
    EXPECT_EQ(cxp.current_roi(), smaller);
    expect_no_record();
    EXPECT_EQ(cxp.teardown_acq(), BoardState::OpenForAcquisition);

    EXPECT_FALSE(cxp.set_roi(Roi{full.width, 0, full.width, full.height}));  // beyond the sensor
    const std::string record = last_error();
    const std::string prefix = "Board::set_roi: Unable to set the region of interest: ";
    const size_t at = record.find(prefix);
    ASSERT_NE(at, std::string::npos) << record;
    EXPECT_EQ(record.substr(0, 16), "GC_ERR_CUSTOM @ ");
    EXPECT_GT(record.size(), at + prefix.size() + 1) << "the driver's text is missing: " << record;
    EXPECT_EQ(cxp.current_roi(), smaller);  // read back from the board, which kept its region
    ASSERT_EQ(vnsim_fault_next_fails(0, VNSIM_FAIL_ROI_SET), 0);
    EXPECT_FALSE(cxp.set_roi(Roi{0, 0, 16, 16}));
    EXPECT_NE(last_error().find(prefix), std::string::npos);
    EXPECT_TRUE(cxp.set_roi(Roi{0, 0, 16, 16}));

    // An unknown camera file closes the open board; without a camera file it comes back with its default one.
    ASSERT_EQ(cxp.reopen(VNBoards::BoardState::Open), BoardState::Open);
    EXPECT_EQ(cxp.check_init(VNBoards::OpenLevel::Inspect, "no-such-camera.cam"), BoardState::Closed);
    EXPECT_EQ(vnsim_open_handles(0), 0);
    EXPECT_TRUE(cxp.camera_file().empty());
    expect_record("GC_ERR_ERROR", "Board::check_init",
                  "Unable to open frame grabber board number 0 with the default camera file. Acquisition will not "
                  "be possible.");
    EXPECT_EQ(cxp.check_init(VNBoards::OpenLevel::Inspect), BoardState::Open);
    EXPECT_EQ(cxp.camera_file(), camera_file);
}

TEST_F(BoardStates, AcquisitionControlNeedsAConfiguredBoardAndSetupAndTeardownOfCircularBuffers)
{
    Board board(0);
    // Not open for acquisition: nothing happens and nothing is recorded.
    EXPECT_EQ(board.setup_acq(4), BoardState::Open);
    EXPECT_EQ(board.buffer_count(), 0u);
    EXPECT_EQ(board.teardown_acq(), BoardState::Open);
    expect_no_record();
    // Nor can acquisition be controlled, which is recorded.
    VNBoards::FrameRecord record{};
    EXPECT_FALSE(board.start_acq());
    expect_record("GC_ERR_CUSTOM", "Board::start_acq", "Cannot start acquisition because the board isn't configured.");
    board.stop_acq(true);
    expect_record("GC_ERR_CUSTOM", "Board::stop_acq", "Cannot stop acquisition because the board isn't configured.");
    board.abort_acq();
    expect_record("GC_ERR_CUSTOM", "Board::abort_acq",
                  "Cannot abort acquisition because the board isn't configured.");
    EXPECT_EQ(board.frame_wait(record), VNBoards::FrameWait::Failed);
    expect_record("GC_ERR_CUSTOM", "Board::frame_wait", "Cannot wait for a frame because the board isn't configured.");
    EXPECT_FALSE(board.set_frame_available(record));
    expect_record("GC_ERR_CUSTOM", "Board::set_frame_available",
                  "Cannot hand a frame back to the board because the board isn't configured.");

    ASSERT_EQ(board.check_init(VNBoards::OpenLevel::Acquire), BoardState::OpenForAcquisition);
    EXPECT_EQ(board.setup_acq(0x100000000ull), BoardState::OpenForAcquisition);
    expect_record("GC_ERR_CUSTOM", "Board::setup_acq",
                  "Unable to allocate the quantity of buffers specified (4294967296).");
    ASSERT_EQ(vnsim_fault_next_fails(0, VNSIM_FAIL_BUFFER_ALLOC), 0);
    EXPECT_EQ(board.setup_acq(4), BoardState::OpenForAcquisition);
    expect_record("GC_ERR_CUSTOM", "Board::setup_acq", "Unable to allocate the quantity of buffers specified (4).");
    ASSERT_EQ(vnsim_fault_next_fails(0, VNSIM_FAIL_CIRC_SETUP), 0);
    EXPECT_EQ(board.setup_acq(4), BoardState::OpenForAcquisition);
    expect_record("GC_ERR_CUSTOM", "Board::setup_acq", "Failed to setup the board for circular acquisition.");
    EXPECT_EQ(board.buffer_count(), 0u);

    // The failed set-up gave its buffers back, so a new one succeeds.
    EXPECT_EQ(board.setup_acq(4), BoardState::Configured);
    EXPECT_EQ(board.buffer_count(), 4u);
    EXPECT_EQ(board.setup_acq(8), BoardState::Configured);
    EXPECT_EQ(board.buffer_count(), 4u);

    // A configured board is neither closed, nor reopened, nor lowered.
    EXPECT_FALSE(board.close_board());
    EXPECT_EQ(board.check_init(VNBoards::OpenLevel::Inspect, "no-such-camera.cam"), BoardState::Configured);
    EXPECT_EQ(board.reopen(VNBoards::BoardState::Open), BoardState::Configured);
    EXPECT_EQ(vnsim_open_handles(0), 1);

    EXPECT_EQ(board.teardown_acq(), BoardState::OpenForAcquisition);
    EXPECT_EQ(board.buffer_count(), 0u);
    EXPECT_EQ(board.setup_acq(2), BoardState::Configured);
    EXPECT_EQ(board.buffer_count(), 2u);
    EXPECT_EQ(board.teardown_acq(), BoardState::OpenForAcquisition);
    EXPECT_TRUE(board.close_board());
    EXPECT_EQ(board.state(), BoardState::Closed);
    EXPECT_EQ(vnsim_open_handles(0), 0);
}

}  // namespace
