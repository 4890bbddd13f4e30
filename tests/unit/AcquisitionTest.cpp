// The acquisition engine on a simulated board with manual triggering: every frame is made by the test, so
// what the engine delivers is known exactly.
#include "modules/HandleMapping.h"
#include "AcquisitionFixture.h"

#include "acquisition/VNAcquisition.h"
#include "VNAcquisitionTestAccess.h"
#include "modules/VNNewBufferEvent.h"
#include "board/VNBoards.h"

#include <chrono>
#include <future>
#include <memory>
#include <vector>

using vngtl::BufferHandle;
using vngtl::VNAcquisition;
using VNBoards::Board;
using VNBoards::BoardState;
using VNBoards::Roi;

class AcquisitionTest : public EngineTest {
protected:
    static constexpr uint32_t width = 64;
    static constexpr uint32_t height = 48;
    static constexpr size_t frame_size = size_t{width} * height;

    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_EQ(vnsim_configure(vntest::sim_config({vntest::SimBoard(width, height).trigger("manual")}).c_str()), 0) << vnsim_last_error();
        board = std::make_shared<Board>(0);
        acquisition = std::make_unique<VNAcquisition>(board, vngtl::BufferHandle::factory());
        new_buffer_event = std::make_unique<vngtl::VNNewBufferEvent>(*acquisition);
    }
    void TearDown() override
    {
        if (acquisition && acquisition->status() > VNAcquisition::NotConfigured) {
            acquisition->stop();
            acquisition->teardown();
        }
        new_buffer_event.reset();
        acquisition.reset();
        board.reset();
        EngineTest::TearDown();
    }

    std::vector<BufferHandle*> queue_buffers(size_t count, size_t size = frame_size)
    {
        std::vector<BufferHandle*> handles;
        for (size_t i = 0; i < count; ++i) {
            BufferHandle* handle = nullptr;
            EXPECT_EQ(pool_of(*acquisition).announce_buffer(AsHandle{&handle}, size, nullptr), GC_ERR_SUCCESS);
            EXPECT_EQ(pool_of(*acquisition).queue_to_input(handle), GC_ERR_SUCCESS);
            handles.push_back(handle);
        }
        return handles;
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

    static VnsimFrameStats stats()
    {
        VnsimFrameStats result{};
        EXPECT_EQ(vnsim_frame_stats(0, &result), 0);
        return result;
    }

    std::shared_ptr<Board> board;
    std::unique_ptr<VNAcquisition> acquisition;
    // Owned beside the engine, as the data-stream module owns it; destroyed first.
    std::unique_ptr<vngtl::VNNewBufferEvent> new_buffer_event;
};

TEST_F(AcquisitionTest, MakeReadyConfiguresTheBoardAndTeardownReleasesIt)
{
    EXPECT_EQ(acquisition->status(), VNAcquisition::NotConfigured);
    EXPECT_EQ(acquisition->payload_size(), frame_size);
    EXPECT_TRUE(acquisition->roi_matches({}));

    EXPECT_EQ(acquisition->make_ready(4, {}), VNAcquisition::Ready);
    EXPECT_EQ(acquisition->status(), VNAcquisition::Ready);
    EXPECT_EQ(board->buffer_count(), 4u);
    EXPECT_TRUE(acquisition->roi_matches({}));

    // A new region reconfigures the board.
    const Roi roi{8, 8, 32, 16};
    EXPECT_FALSE(acquisition->roi_matches(roi));
    EXPECT_EQ(acquisition->make_ready(6, roi), VNAcquisition::Ready);
    EXPECT_EQ(board->buffer_count(), 6u);
    EXPECT_TRUE(acquisition->roi_matches(roi));
    EXPECT_FALSE(acquisition->roi_matches({}));
    EXPECT_EQ(acquisition->payload_size(), 32u * 16u);

    EXPECT_EQ(acquisition->teardown(), VNAcquisition::NotConfigured);
    EXPECT_EQ(board->state(), BoardState::OpenForAcquisition);
    EXPECT_EQ(board->buffer_count(), 0u);

    // A region outside the sensor leaves the engine unconfigured.
    EXPECT_EQ(acquisition->make_ready(4, {60, 0, 32, 16}), VNAcquisition::NotConfigured);
    EXPECT_EQ(acquisition->status(), VNAcquisition::NotConfigured);
}

TEST_F(AcquisitionTest, FramesAreCopiedInOrderIntoTheQueuedBuffers)
{
    const auto handles = queue_buffers(3);
    start(4);
    trigger(3);
    for (uint64_t id = 1; id <= 3; ++id) {
        BufferHandle* buffer = next_buffer();
        EXPECT_EQ(buffer, handles[id - 1]);
        expect_frame(buffer, id);
    }
    BufferHandle* last = handles[2];
    EXPECT_EQ(size_info(*last, BUFFER_INFO_WIDTH), width);
    EXPECT_EQ(size_info(*last, BUFFER_INFO_HEIGHT), height);
    EXPECT_EQ(u64_info(*last, BUFFER_INFO_PIXELFORMAT), 0x01080001u);
    EXPECT_EQ(string_info(*last, BUFFER_INFO_TLTYPE), "CXP");
    EXPECT_GT(u64_info(*last, BUFFER_INFO_TIMESTAMP), u64_info(*handles[1], BUFFER_INFO_TIMESTAMP));
    // The host's time stamps of each frame's hops (the benchmark's breakdown): taken from the board, then
    // copied, in the frames' order, and all before the consumer had the buffer.
    const auto now_ns = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                  std::chrono::steady_clock::now().time_since_epoch())
                                                  .count());
    uint64_t previous_received = 0;
    for (BufferHandle* buffer : handles) {
        const uint64_t received = u64_info(*buffer, BUFFER_INFO_CUSTOM_ID + 1);
        const uint64_t copied = u64_info(*buffer, BUFFER_INFO_CUSTOM_ID + 2);
        EXPECT_GT(received, 0u);
        EXPECT_GE(received, previous_received);
        EXPECT_LE(received, copied);
        EXPECT_LE(copied, now_ns);
        previous_received = received;
    }
    EXPECT_EQ(acquisition->started_count(), 3u);
    EXPECT_EQ(acquisition->delivered_since_start(), 3u);
    EXPECT_EQ(acquisition->status(), VNAcquisition::Running);
    EXPECT_EQ(stats().returned, 3u);  // every board buffer went straight back
}

TEST_F(AcquisitionTest, WithCopyOffsetTwoTheFirstBufferGetsTheThirdFrame)
{
    queue_buffers(2);
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

TEST_F(AcquisitionTest, AFiniteAcquisitionDeliversItsCountAndStopsTheBoardOnTheNextFrame)
{
    queue_buffers(5);
    start(10, 3);
    trigger(3);
    for (uint64_t id = 1; id <= 3; ++id) {
        expect_frame(next_buffer(), id);
    }
    EXPECT_EQ(acquisition->status(), VNAcquisition::Running);
    EXPECT_EQ(stats().running, 1u);

    trigger(1);
    ASSERT_TRUE(wait_until([&] { return acquisition->status() == VNAcquisition::Completed; }));
    EXPECT_EQ(stats().running, 0u);
    EXPECT_EQ(vnsim_trigger(0, 1), -1);
    EXPECT_EQ(pool_of(*acquisition).output_count(), 0u);
    EXPECT_EQ(pool_of(*acquisition).queued_count(), 2u);
    EXPECT_EQ(acquisition->delivered_since_start(), 3u);
    // A completed acquisition is not started again until it is stopped.
    EXPECT_EQ(acquisition->start(3), VNAcquisition::Completed);

    EXPECT_EQ(acquisition->stop(), VNAcquisition::Ready);
    ASSERT_EQ(acquisition->start(2), VNAcquisition::Running);
    trigger(2);
    // The board counts frames from 1 again after a stop.
    expect_frame(next_buffer(), 1);
    expect_frame(next_buffer(), 2);
    trigger(1);
    ASSERT_TRUE(wait_until([&] { return acquisition->status() == VNAcquisition::Completed; }));
}

TEST_F(AcquisitionTest, FramesPendingWithoutQueuedBuffersOverwriteTheOldest)
{
    start(4);
    trigger(6);
    ASSERT_TRUE(frames_seen(6));
    // Four board buffers hold at most three pending frames: 4, 5 and 6.
    EXPECT_EQ(ring_of(*acquisition).pending(), 3u);
    queue_buffers(3);
    expect_frame(next_buffer(), 4);
    expect_frame(next_buffer(), 5);
    expect_frame(next_buffer(), 6);
    EXPECT_EQ(ring_of(*acquisition).pending(), 0u);
}

TEST_F(AcquisitionTest, StopAbortAndTeardownEndTheAcquisitionEvenUnderTheBoardsStateLock)
{
    queue_buffers(4);
    start(4);
    trigger(1);
    expect_frame(next_buffer(), 1);

    EXPECT_EQ(acquisition->abort(), VNAcquisition::Ready);
    EXPECT_EQ(stats().running, 0u);
    ASSERT_EQ(acquisition->start(GENTL_INFINITE), VNAcquisition::Running);
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
    EXPECT_EQ(stats().running, 0u);

    // And it all works again afterwards.
    ASSERT_EQ(acquisition->make_ready(4, {}), VNAcquisition::Ready);
    ASSERT_EQ(acquisition->start(GENTL_INFINITE), VNAcquisition::Running);
    trigger(1);
    expect_frame(next_buffer(), 1);
}

TEST_F(AcquisitionTest, DestroyingARunningEngineJoinsBothThreads)
{
    queue_buffers(1);
    start(4);
    trigger(3);  // one copied, two waiting for a buffer
    expect_frame(next_buffer(), 1);
    const auto before = std::chrono::steady_clock::now();
    new_buffer_event.reset();
    acquisition.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    ASSERT_EQ(board->state(), BoardState::Configured);
    EXPECT_EQ(board->teardown_acq(), BoardState::OpenForAcquisition);
}
