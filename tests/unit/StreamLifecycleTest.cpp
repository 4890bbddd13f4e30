// The data stream's life under stress: many start and stop cycles, closing with acquisition running, the
// library refusing to close while a consumer thread waits for a buffer, and the start and stop sequences
// that common consumers issue.
#include "StreamFixture.h"

#include <atomic>
#include <thread>

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int start_stop_cycles = 150;
#else
constexpr int start_stop_cycles = 1000;
#endif

}  // namespace

using StreamLifecycleTest = StreamTest;

TEST_F(StreamLifecycleTest, ManyStartStopCyclesKeepTheAccounting)
{
    const auto buffers = announce_and_queue(3);
    const EVENT_HANDLE event = register_new_buffer();
    uint64_t delivered = 0;
    for (int cycle = 0; cycle < start_stop_cycles; ++cycle) {
        ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS)
            << "cycle " << cycle << ": " << last_error();
        if (cycle % 10 == 0) {
            ASSERT_EQ(vnsim_trigger(board, 1), 1);
            const BUFFER_HANDLE buffer = next_buffer(event);
            ASSERT_NE(buffer, nullptr) << "cycle " << cycle;
            ++delivered;
            ASSERT_EQ(DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS);
        }
        ASSERT_EQ(DSStopAcquisition(stream, cycle % 2 == 0 ? ACQ_STOP_FLAGS_DEFAULT : ACQ_STOP_FLAGS_KILL),
                  GC_ERR_SUCCESS)
            << "cycle " << cycle;
    }
    EXPECT_EQ(stream_info<uint64_t>(STREAM_INFO_NUM_DELIVERED), delivered);
    EXPECT_EQ(stream_info<size_t>(STREAM_INFO_NUM_QUEUED) + stream_info<size_t>(STREAM_INFO_NUM_AWAIT_DELIVERY),
              buffers.size());
    VnsimFrameStats stats{};
    ASSERT_EQ(vnsim_frame_stats(board, &stats), 0);
    EXPECT_EQ(stats.running, 0u);
}

TEST_F(StreamLifecycleTest, ClosingWithAcquisitionRunningStopsEverything)
{
    ASSERT_EQ(vnsim_set_trigger_mode(board, VNSIM_TRIGGER_FREE), 0);
    ASSERT_EQ(vnsim_set_rate(board, 500), 0);
    announce_and_queue(4);
    const EVENT_HANDLE event = register_new_buffer();
    ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    ASSERT_NE(next_buffer(event), nullptr);

    ASSERT_EQ(DSClose(stream), GC_ERR_SUCCESS);
    VnsimFrameStats stats{};
    ASSERT_EQ(vnsim_frame_stats(board, &stats), 0);
    EXPECT_EQ(stats.running, 0u);

    // Opened again and left running with buffers queued; closing the library ends it all.
    ASSERT_EQ(DevOpenDataStream(device, "TLDataStream", &stream), GC_ERR_SUCCESS);
    // Closing released the board; the buffers are still announced, but the board needs configuring again.
    EXPECT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_INVALID_BUFFER);
    announce_and_queue(1);
    const EVENT_HANDLE again = register_new_buffer();
    ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS) << last_error();
    ASSERT_NE(next_buffer(again), nullptr);
    ASSERT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(vnsim_frame_stats(board, &stats), 0);
    EXPECT_EQ(stats.running, 0u);
    EXPECT_EQ(vnsim_open_handles(board), 0);
}

TEST_F(StreamLifecycleTest, LibraryStaysOpenWhileAThreadWaitsForABuffer)
{
    announce_and_queue(2);
    const EVENT_HANDLE event = register_new_buffer();
    std::atomic<GC_ERROR> waited{GC_ERR_SUCCESS};
    std::atomic<pid_t> tid{0};
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        tid = vntest::thread_id();
        waited = EventGetData(event, &data, &size, GENTL_INFINITE);
        returned = true;
    });
    ASSERT_TRUE(vntest::wait_blocked(tid));
    const GC_ERROR refused = GCCloseLib();
    EXPECT_EQ(refused, GC_ERR_RESOURCE_IN_USE);
    EXPECT_FALSE(returned.load());
    ASSERT_EQ(EventKill(event), GC_ERR_SUCCESS);
    waiter.join();
    EXPECT_EQ(waited.load(), GC_ERR_ABORT);
    EXPECT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
}

TEST_F(StreamLifecycleTest, ConsumerStartAndStopSequencesRunTwice)
{
    // Start: announce, queue, register, start. Stop: stop with kill, flush all-discard, event flush, revoke
    // every buffer, unregister. Twice on the same stream, as a consumer restarting its grab does.
    for (int round = 0; round < 2; ++round) {
        const auto buffers = announce_and_queue(5);
        const EVENT_HANDLE event = register_new_buffer();
        ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS)
            << last_error();
        ASSERT_EQ(vnsim_trigger(board, 3), 3);
        for (int frame = 0; frame < 3; ++frame) {
            const BUFFER_HANDLE buffer = next_buffer(event);
            ASSERT_NE(buffer, nullptr);
            EXPECT_EQ(DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS);
        }
        ASSERT_EQ(DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL), GC_ERR_SUCCESS);
        ASSERT_EQ(DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS);
        ASSERT_EQ(EventFlush(event), GC_ERR_SUCCESS);
        for (const BUFFER_HANDLE buffer : buffers) {
            ASSERT_EQ(DSRevokeBuffer(stream, buffer, nullptr, nullptr), GC_ERR_SUCCESS) << last_error();
        }
        ASSERT_EQ(GCUnregisterEvent(stream, EVENT_NEW_BUFFER), GC_ERR_SUCCESS);
        EXPECT_EQ(stream_info<size_t>(STREAM_INFO_NUM_ANNOUNCED), 0u);
    }
    EXPECT_EQ(stream_info<uint64_t>(STREAM_INFO_NUM_DELIVERED), 6u);
    ASSERT_EQ(DSClose(stream), GC_ERR_SUCCESS);
    ASSERT_EQ(DevClose(device), GC_ERR_SUCCESS);
}
