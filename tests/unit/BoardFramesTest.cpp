// Frames through the board wrapper: buffer indices and laps, a view held across the board's own calls, and
// what a thread waiting for a frame sees when acquisition ends. The simulator is triggered by hand. Frames of
// both board kinds reaching consumers intact while the engine waits and copies: ExactFramesTest.
#include "BoardFixture.h"
#include "Wait.h"

#include <vnsim.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace {

using VNBoards::Board;
using VNBoards::BoardState;
using VNBoards::FrameRecord;
using VNBoards::FrameWait;

class BoardFrames : public BoardTest {
protected:
    void TearDown() override
    {
        if (board) {
            board->teardown_acq();
            board.reset();
        }
        BoardTest::TearDown();
    }

    // Opens board 0 for acquisition with manually triggered frames and sets up two circular buffers.
    void configure()
    {
        ASSERT_EQ(vnsim_set_trigger_mode(0, VNSIM_TRIGGER_MANUAL), 0);
        board = std::make_unique<Board>(0);
        ASSERT_EQ(board->check_init(VNBoards::OpenLevel::Acquire), BoardState::OpenForAcquisition);
        ASSERT_EQ(board->setup_acq(2), BoardState::Configured);
    }

    // Waits for the next frame, which must be there.
    FrameRecord next_frame()
    {
        FrameRecord record{};
        EXPECT_EQ(board->frame_wait(record), FrameWait::Frame);
        return record;
    }

    std::unique_ptr<Board> board;
};

// The copy thread names the frame it expects at a position. When the board has come round to that buffer
// again (the position was taken just before), the later frame's record is there: it is not handed out in the
// earlier frame's turn, and stays for its own. A frame is copied only once.
TEST_F(BoardFrames, AFrameIsCopiedOnlyOnceAndOnlyInItsOwnTurn)
{
    configure();
    ASSERT_TRUE(board->start_acq());
    ASSERT_EQ(vnsim_trigger(0, 1), 1);
    const FrameRecord first = next_frame();
    ASSERT_EQ(first.frame_counter, 1u);
    ASSERT_TRUE(board->set_frame_available(first));
    ASSERT_EQ(vnsim_trigger(0, 2), 2);
    const FrameRecord second = next_frame();
    const FrameRecord third = next_frame();  // buffer 0 again, over frame 1
    ASSERT_EQ(third.buffer_index, first.buffer_index);
    ASSERT_EQ(third.frame_counter, 3u);

    RecordingSink sink;
    EXPECT_FALSE(sink.take(*board, first.buffer_index, 1));  // frame 1's turn: its buffer holds frame 3
    EXPECT_FALSE(sink.take(*board, second.buffer_index, 4));  // a later lap than the buffer holds
    expect_no_record();
    ASSERT_TRUE(sink.take(*board, second.buffer_index, 2));
    ASSERT_TRUE(sink.take(*board, third.buffer_index));
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[0].frame_id, 2u);
    EXPECT_EQ(sink.frames[1].frame_id, 3u);
    EXPECT_EQ(vnsim_frame_stamp(sink.frames[1].data.data(), sink.frames[1].data.size()), 3u);

    EXPECT_FALSE(sink.take(*board, third.buffer_index));
    expect_record("GC_ERR_INVALID_BUFFER", "Board::frame_view", "The buffer at index 0 has no data.");
    EXPECT_FALSE(sink.take(*board, 1));
    expect_record("GC_ERR_INVALID_BUFFER", "Board::frame_view", "The buffer at index 1 has no data.");
    EXPECT_FALSE(sink.take(*board, 2));
    expect_record("GC_ERR_INVALID_INDEX", "Board::frame_view", "There is no internal buffer with index 2.");
    EXPECT_EQ(sink.frames.size(), 2u);

    // After a tear-down the frame table is gone.
    ASSERT_EQ(board->teardown_acq(), BoardState::OpenForAcquisition);
    EXPECT_FALSE(sink.take(*board, 0));
    expect_record("GC_ERR_INVALID_INDEX", "Board::frame_view", "There is no internal buffer with index 0.");

    // Set up again, the board counts from 1. A view keeps its frame in place until it is dropped.
    ASSERT_EQ(board->setup_acq(2), BoardState::Configured);
    ASSERT_TRUE(board->start_acq());
    ASSERT_EQ(vnsim_trigger(0, 1), 1);
    const FrameRecord frame = next_frame();
    std::optional<VNBoards::FrameView> view = board->frame_view(frame.buffer_index);
    ASSERT_TRUE(view.has_value());
    ASSERT_EQ(view->frame_id, 1u);

    // The view is made under the frame lock alone: the board goes on (on another thread, as the
    // acquisition thread does; the holder of a view makes no board call) while it is held...
    auto board_goes_on = std::async(std::launch::async, [&] {
        const bool handed_back = board->set_frame_available(frame);
        board->stop_acq(true);
        return handed_back && board->buffer_count() == 2u;
    });
    ASSERT_EQ(board_goes_on.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(board_goes_on.get());
    // ...but its buffers are not freed under it: the tear-down waits until the view is dropped.
    auto teardown = std::async(std::launch::async, [&] { return board->teardown_acq(); });
    EXPECT_EQ(teardown.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    EXPECT_EQ(vnsim_frame_stamp(view->data, view->size), 1u);  // still the board's memory, still readable
    view.reset();
    ASSERT_EQ(teardown.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(teardown.get(), BoardState::OpenForAcquisition);
}

// A stop, an abort or a tear-down ends a wait in progress (getting through while the waiter holds the board
// for its wait); a tear-down ends it before the buffers go. Started again by the host, the board counts from 1.
TEST_F(BoardFrames, StopAbortAndTeardownEndAWaitInProgress)
{
    struct Row {
        const char* name;
        std::function<void()> end;
        bool may_fail;  // a wait that meets the torn-down board is refused
    };
    const std::vector<Row> rows = {
        {"stop", [&] { board->stop_acq(false); }, false},
        {"abort", [&] { board->abort_acq(); }, false},
        {"teardown", [&] { EXPECT_EQ(board->teardown_acq(), BoardState::OpenForAcquisition); }, true},
    };
    configure();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(board->start_acq());
        ASSERT_EQ(vnsim_trigger(0, 1), 1);
        EXPECT_EQ(next_frame().frame_counter, 1u);
        // A waiter for frames until the wait answers something other than a time-out or a frame (at most
        // about ten seconds); the end comes once it is in its wait.
        std::atomic<FrameWait> result{FrameWait::Timeout};
        std::atomic<pid_t> tid{0};
        std::jthread waiter([&] {
            tid = vntest::thread_id();
            for (int attempt = 0; attempt < 100; ++attempt) {
                FrameRecord record{};
                const FrameWait answer = board->frame_wait(record);
                if (answer != FrameWait::Timeout && answer != FrameWait::Frame) {
                    result = answer;
                    return;
                }
            }
        });
        EXPECT_TRUE(vntest::wait_blocked(tid));
        row.end();
        waiter.join();
        EXPECT_TRUE(result == FrameWait::Stopped || (row.may_fail && result == FrameWait::Failed))
            << static_cast<int>(result.load());
    }
    expect_no_record();
    VnsimFrameStats stats{};
    ASSERT_EQ(vnsim_frame_stats(0, &stats), 0);
    EXPECT_EQ(stats.running, 0u);
    EXPECT_EQ(board->buffer_count(), 0u);
    // The board can be set up again at once.
    EXPECT_EQ(board->setup_acq(3), BoardState::Configured);
}

}  // namespace
