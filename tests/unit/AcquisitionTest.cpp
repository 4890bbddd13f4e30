// The acquisition engine on a simulated board with manual triggering: every frame is made by the test, so
// what the engine delivers is known exactly. How the board is configured, reconfigured for a region and
// released is seen through the data stream's registers (DataStreamTest).
#include "AcquisitionFixture.h"

#include "modules/HandleMapping.h"

#include <chrono>
#include <future>
#include <memory>
#include <vector>

using vngtl::BufferHandle;
using vngtl::VNAcquisition;
using VNBoards::BoardState;

class AcquisitionTest : public EngineWithEventTest {
protected:
    static constexpr uint32_t width = 64;
    static constexpr uint32_t height = 48;
    static constexpr size_t frame_size = size_t{width} * height;

    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_EQ(vnsim_configure(vntest::sim_config({vntest::SimBoard(width, height).trigger("manual")}).c_str()), 0)
            << vnsim_last_error();
        make_engine(true);
    }

    // Ready with `board_buffers` circular buffers, the event registered and acquisition started.
    void start(uint64_t board_buffers, uint64_t count = GENTL_INFINITE)
    {
        ASSERT_EQ(acquisition->make_ready(board_buffers, {}), VNAcquisition::Ready);
        ASSERT_EQ(new_buffer_event->register_event(), GC_ERR_SUCCESS);
        ASSERT_EQ(acquisition->start(count), VNAcquisition::Running);
    }

    static void trigger(uint32_t frames) { ASSERT_EQ(vnsim_trigger(0, frames), static_cast<int>(frames)); }

    // The next buffer delivered through the event, or null.
    BufferHandle* next_buffer(uint64_t timeout_ms = 5000)
    {
        EVENT_NEW_BUFFER_DATA record{};
        size_t size = sizeof record;
        const GC_ERROR result = new_buffer_event->data(&record, &size, timeout_ms);
        EXPECT_EQ(result, GC_ERR_SUCCESS) << last_error();
        return result == GC_ERR_SUCCESS ? vngtl::from_handle<BufferHandle>(record.BufferHandle) : nullptr;
    }

    // The buffer must hold exactly frame `frame_id` of the moving pattern.
    void expect_frame(BufferHandle* buffer, uint64_t frame_id)
    {
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(u64_info(*buffer, BUFFER_INFO_FRAMEID), frame_id);
        EXPECT_EQ(size_info(*buffer, BUFFER_INFO_SIZE_FILLED), frame_size);
        EXPECT_EQ(vnsim_check_frame(buffer->data(), buffer->size(), width, height, 8, frame_id), 0)
            << "frame " << frame_id;
    }

    bool frames_seen(uint64_t count)
    {
        return wait_until([&] { return ring_of(*acquisition).total_written() >= count; });
    }
};

TEST_F(AcquisitionTest, WithCopyOffsetTwoTheFirstBufferGetsTheThirdFrame)
{
    queue_buffers(2, frame_size);
    start(10);
    acquisition->set_copy_offset(2);
    trigger(1);
    ASSERT_TRUE(frames_seen(1));
    trigger(1);
    ASSERT_TRUE(frames_seen(2));
    EXPECT_EQ(pool_of(*acquisition).output_count(), 0u);
    EXPECT_EQ(ring_of(*acquisition).pending(), 2u);

    trigger(1);
    expect_frame(next_buffer(), 3);
    trigger(1);
    expect_frame(next_buffer(), 4);
    EXPECT_EQ(ring_of(*acquisition).pending(), 2u);
}

TEST_F(AcquisitionTest, FramesPendingWithoutQueuedBuffersOverwriteTheOldest)
{
    start(4);
    trigger(6);
    ASSERT_TRUE(frames_seen(6));
    // Four board buffers hold at most three pending frames: 4, 5 and 6.
    EXPECT_EQ(ring_of(*acquisition).pending(), 3u);
    queue_buffers(3, frame_size);
    expect_frame(next_buffer(), 4);
    expect_frame(next_buffer(), 5);
    expect_frame(next_buffer(), 6);
    EXPECT_EQ(ring_of(*acquisition).pending(), 0u);
}

// A kill's abort and the restart counting from 1: DataStreamTest.
TEST_F(AcquisitionTest, StopAbortTeardownAndDestructionEndTheAcquisitionEvenUnderTheBoardsStateLock)
{
    queue_buffers(3, frame_size);
    start(4);
    trigger(1);
    expect_frame(next_buffer(), 1);

    // The data-stream module reconfigures and releases the board inside one exclusive board section.
    auto reconfigure = std::async(std::launch::async, [&] {
        return board->exclusively([&] {
            const VNAcquisition::State ready = acquisition->make_ready(6, {});
            const VNAcquisition::State started = acquisition->start(GENTL_INFINITE);
            const VNAcquisition::State torn_down = acquisition->teardown();
            return std::vector<VNAcquisition::State>{ready, started, torn_down};
        });
    });
    ASSERT_EQ(reconfigure.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(reconfigure.get(),
              (std::vector<VNAcquisition::State>{VNAcquisition::Ready, VNAcquisition::Running, VNAcquisition::NotConfigured}));
    EXPECT_EQ(board->state(), BoardState::OpenForAcquisition);
    VnsimFrameStats stats{};
    ASSERT_EQ(vnsim_frame_stats(0, &stats), 0);
    EXPECT_EQ(stats.running, 0u);

    // And it all works again afterwards.
    ASSERT_EQ(acquisition->make_ready(4, {}), VNAcquisition::Ready);
    ASSERT_EQ(acquisition->start(GENTL_INFINITE), VNAcquisition::Running);
    trigger(1);
    expect_frame(next_buffer(), 1);

    // Destroyed while running, with the last queued buffer filled and two frames waiting for a buffer, the
    // engine joins both its threads at once and leaves the board configured.
    trigger(3);
    expect_frame(next_buffer(), 2);
    const auto before = std::chrono::steady_clock::now();
    new_buffer_event.reset();
    acquisition.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    ASSERT_EQ(board->state(), BoardState::Configured);
    EXPECT_EQ(board->teardown_acq(), BoardState::OpenForAcquisition);
}
