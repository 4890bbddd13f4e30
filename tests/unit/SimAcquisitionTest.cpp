// Circular acquisition on the simulated boards: frame counters, buffer order, restarts, overwriting,
// stop and abort seen by a blocked waiter, the frame pattern, free-running rates and injected faults.
#include "SimTestSupport.h"
#include "Wait.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

VnsimFrameStats stats(int board)
{
    VnsimFrameStats result{};
    EXPECT_EQ(vnsim_frame_stats(board, &result), 0);
    return result;
}

void configure(const std::string& json)
{
    ASSERT_EQ(vnsim_configure(json.c_str()), 0) << vnsim_last_error();
}

const std::byte* frame_data(const VB_FRAME_RECORD& record)
{
    return reinterpret_cast<const std::byte*>(static_cast<uintptr_t>(record.data_address));
}

}  // namespace

class SimAcquisitionTest : public SimTest {
protected:
    // Takes the next frame of board 0 (triggering one first when `trigger`): it must be frame `counter`, in
    // buffer `index` unless that is negative, holding its pattern.
    static void expect_next(VN_HANDLE handle, VB_CIRC_DESC& desc, uint64_t counter, int index = -1, bool trigger = true)
    {
        SCOPED_TRACE("frame " + std::to_string(counter));
        ASSERT_TRUE(!trigger || vnsim_trigger(0, 1) == 1);
        VB_FRAME_RECORD record{};
        ASSERT_EQ(take(handle, desc, record), 0);
        EXPECT_EQ(record.frame_counter, counter);
        EXPECT_TRUE(index < 0 || record.buffer_index == static_cast<uint32_t>(index)) << record.buffer_index;
        EXPECT_EQ(vnsim_check_frame(frame_data(record), desc.frame_size, 1024, 768, 8, counter), 0);
    }
};

TEST_F(SimAcquisitionTest, AllocationFillsTheDescriptorWithinTheBoardsMemoryLimit)
{
    VN_HANDLE handle = open(0);
    VB_CIRC_DESC desc{};
    ASSERT_EQ(VbBufferAllocCam(handle, &desc, 5), 0);
    EXPECT_EQ(desc.buffer_count, 5u);
    EXPECT_EQ(desc.frame_size, 1024u * 768u);
    VB_CIRC_DESC second{};
    EXPECT_NE(VbBufferAllocCam(handle, &second, 5), 0) << "one ring per board";
    EXPECT_NE(VbCircAqSetup(handle, &desc, 2, VB_CIRC_FLAGS), 0);
    EXPECT_NE(VbCircAqSetup(handle, &second, VB_CIRC_MODE, VB_CIRC_FLAGS), 0) << "a descriptor it never filled";
    EXPECT_EQ(VbCircAqSetup(handle, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
    EXPECT_EQ(VbCircCleanUp(handle, &desc), 0);
    EXPECT_EQ(VbBufferFree(handle, &desc), 0);
    EXPECT_NE(VbBufferFree(handle, &desc), 0);

    VN_HANDLE inspect = open(1, VB_OPEN_INSPECT);
    EXPECT_NE(VbBufferAllocCam(inspect, &second, 2), 0) << "inspection handles cannot allocate";
    VN_HANDLE acquire = open(1);
    EXPECT_NE(VbBufferAllocCam(acquire, &second, 0), 0);
    EXPECT_NE(VbBufferAllocCam(acquire, nullptr, 2), 0);

    // The board's memory limit.
    configure(R"({"boards": [{"kind": "CL", "max_buffer_bytes": 4096,
        "camera_files": [{"name": "s.cam", "width": 32, "height": 32, "bits_per_pixel": 16}]}]})");
    VN_HANDLE limited = open(0);
    EXPECT_NE(VbBufferAllocCam(limited, &desc, 3), 0) << "3 x 2048 bytes exceed 4096";
    ASSERT_EQ(VbBufferAllocCam(limited, &desc, 2), 0);
    EXPECT_EQ(desc.frame_size, 2048u);
}

TEST_F(SimAcquisitionTest, ManualFramesComeInOrderRoundRobinWithTheirPattern)
{
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = prepare(0, desc, 3);
    EXPECT_EQ(vnsim_trigger(0, 1), -1) << "not acquiring yet";
    ASSERT_EQ(start(handle, desc), 0);
    EXPECT_NE(start(handle, desc), 0) << "already running";
    ASSERT_EQ(vnsim_trigger(0, 2), 2);

    uint64_t previous_stamp = 0;
    for (uint32_t k = 1; k <= 7; ++k) {
        if (k > 2) {
            ASSERT_EQ(vnsim_trigger(0, 1), 1);
        }
        VB_FRAME_RECORD record{};
        ASSERT_EQ(VbCirWaitDoneFrame(handle, &desc, 100, &record), 0) << "frame " << k;
        EXPECT_EQ(record.frame_counter, k);
        EXPECT_EQ(record.buffer_index, (k - 1) % 3);
        EXPECT_GT(record.board_timestamp, previous_stamp);
        previous_stamp = record.board_timestamp;
        EXPECT_EQ(vnsim_check_frame(frame_data(record), desc.frame_size, 1024, 768, 8, k), 0) << "frame " << k;
        EXPECT_NE(vnsim_check_frame(frame_data(record), desc.frame_size, 1024, 768, 8, k + 1), 0);
        // A buffer goes back only once, and only as the record the board gave.
        VB_FRAME_RECORD forged = record;
        forged.buffer_index = k % 3;
        EXPECT_NE(VbCirStatusSet(handle, &desc, &forged, 0), 0);
        EXPECT_EQ(VbCirStatusSet(handle, &desc, &record, 0), 0);
        EXPECT_NE(VbCirStatusSet(handle, &desc, &record, 0), 0);
    }
    EXPECT_NE(VbCirStatusSet(handle, &desc, nullptr, 0), 0);
    VB_FRAME_RECORD record{};
    EXPECT_EQ(VbCirWaitDoneFrame(handle, &desc, 20, &record), VB_WAIT_TIMEOUT);

    const auto seen = stats(0);
    EXPECT_EQ((std::vector<uint64_t>{seen.generated, seen.delivered, seen.returned, seen.overwritten, seen.running}),
              (std::vector<uint64_t>{7, 7, 7, 0, 1}))
        << "generated, delivered, returned, overwritten, running";
}

// The pattern check finds a changed pixel, a changed stamp and a buffer that is no frame; the benchmark
// pattern writes only the stamp.
TEST_F(SimAcquisitionTest, CorruptedFramesAreDetectedAndTheBenchmarkPatternStampsOnlyTheCounter)
{
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = prepare(1, desc, 2);
    ASSERT_EQ(start(handle, desc), 0);
    ASSERT_EQ(vnsim_trigger(1, 1), 1);
    VB_FRAME_RECORD record{};
    ASSERT_EQ(take(handle, desc, record), 0);
    std::vector<std::byte> copy(frame_data(record), frame_data(record) + desc.frame_size);
    ASSERT_EQ(vnsim_check_frame(copy.data(), copy.size(), 640, 480, 8, 1), 0);
    EXPECT_EQ(vnsim_frame_stamp(copy.data(), copy.size()), 1u);

    copy[1000] ^= std::byte{0x01};
    EXPECT_EQ(vnsim_check_frame(copy.data(), copy.size(), 640, 480, 8, 1), 1001);
    copy[1000] ^= std::byte{0x01};
    copy[3] = std::byte{0x80};  // the stamp
    EXPECT_EQ(vnsim_check_frame(copy.data(), copy.size(), 640, 480, 8, 1), 4);
    EXPECT_EQ(vnsim_check_frame(copy.data(), copy.size() - 1, 640, 480, 8, 1), -1) << "short buffer";
    EXPECT_EQ(vnsim_check_frame(nullptr, copy.size(), 640, 480, 8, 1), -1);
    EXPECT_EQ(vnsim_check_frame(copy.data(), copy.size(), 640, 480, 0, 1), -1);

    ASSERT_EQ(vnsim_set_pattern(1, VNSIM_PATTERN_BENCHMARK), 0);
    ASSERT_EQ(vnsim_trigger(1, 1), 1);
    ASSERT_EQ(take(handle, desc, record), 0);
    ASSERT_EQ(record.buffer_index, 1u) << "a fresh buffer";
    EXPECT_EQ(vnsim_frame_stamp(frame_data(record), desc.frame_size), 2u);
    EXPECT_EQ(std::to_integer<int>(frame_data(record)[100]), 0) << "the rest of a fresh buffer stays zero";
    EXPECT_NE(vnsim_check_frame(frame_data(record), desc.frame_size, 640, 480, 8, 2), 0);
}

class SimPatternDepthTest : public SimTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(SimPatternDepthTest, FramesOfEveryDepthPassTheCheck)
{
    const uint32_t bits = GetParam();
    configure(R"({"boards": [{"kind": "CXP", "camera_files": [{"name": "c.cam", "width": 300, "height": 7,
        "bits_per_pixel": )" + std::to_string(bits) + "}]}]}");
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = prepare(0, desc, 2);
    EXPECT_EQ(desc.frame_size, 300u * 7u * ((bits + 7) / 8));
    ASSERT_EQ(start(handle, desc), 0);
    ASSERT_EQ(vnsim_trigger(0, 300), 300);
    // With 2 buffers only frames 299 and 300 are left; 298 were overwritten.
    for (uint64_t k : {299u, 300u}) {
        VB_FRAME_RECORD record{};
        ASSERT_EQ(take(handle, desc, record), 0);
        EXPECT_EQ(record.frame_counter, k);
        EXPECT_EQ(vnsim_check_frame(frame_data(record), desc.frame_size, 300, 7, bits, k), 0);
        // Pixel values stay within the depth: 16-bit little-endian words below 2^bits.
        const auto* words = reinterpret_cast<const uint16_t*>(frame_data(record));
        for (size_t i = 4; bits > 8 && bits <= 16 && i < 300 * 7; ++i) {
            ASSERT_LT(words[i], 1u << bits) << "frame " << k << ", pixel " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, SimPatternDepthTest, ::testing::Values(8u, 10u, 12u, 16u, 24u, 32u),
                         [](const auto& param_info) { return std::to_string(param_info.param) + "bit"; });

// A board that stops or aborts by itself, and the counter going on after the host's restart, are met through the
// stream: FaultCampaignTest (AcquisitionFaultTest rows and FramesAnAbortDiscardedAreNeverDeliveredFromAnEarlierLap).
TEST_F(SimAcquisitionTest, HostFallingBehindLosesTheOldestFramesAndAHostStartRestartsTheCounter)
{
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = prepare(0, desc, 4);
    ASSERT_EQ(start(handle, desc), 0);
    ASSERT_EQ(vnsim_trigger(0, 10), 10);
    auto seen = stats(0);
    EXPECT_EQ((std::vector<uint64_t>{seen.overwritten, seen.pending}), (std::vector<uint64_t>{6, 4}))
        << "overwritten, pending";
    // The next record is the oldest frame still in the ring; the counter jumps from 0 to 7.
    for (uint32_t k = 7; k <= 10; ++k) {
        expect_next(handle, desc, k, static_cast<int>((k - 1) % 4), false);
    }
    // The overflow is stacked for the host, once per lost frame.
    int overflows = 0;
    while (int32_t code = VbCirErrorCheck(handle, &desc)) {
        EXPECT_EQ(code, 220);
        ++overflows;
    }
    EXPECT_EQ(overflows, 6);

    // A host start restarts the counter after a stop, an abort or a clean-up.
    ASSERT_EQ(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_WAIT), 0);
    ASSERT_EQ(start(handle, desc), 0);
    ASSERT_EQ(vnsim_trigger(0, 2), 2);
    expect_next(handle, desc, 1, 0, false);
    ASSERT_EQ(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_NO_WAIT), 0);
    EXPECT_NE(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_NO_WAIT), 0) << "already stopped";
    // A frame completed before the stop is still handed out, then the stop is reported.
    expect_next(handle, desc, 2, 1, false);
    VB_FRAME_RECORD record{};
    EXPECT_EQ(VbCirWaitDoneFrame(handle, &desc, 100, &record), VB_ACQ_STOPPED);
    EXPECT_EQ(vnsim_trigger(0, 1), -1);

    // Host start after a stop: the counter and the buffer order begin again.
    ASSERT_EQ(start(handle, desc), 0);
    expect_next(handle, desc, 1, 0);

    // After an abort, waiting frames are dropped and the start begins at 1 as well.
    ASSERT_EQ(vnsim_trigger(0, 2), 2);
    ASSERT_EQ(VbCirControl(handle, &desc, VB_CIR_ABORT, VB_CIR_NO_WAIT), 0);
    EXPECT_EQ(VbCirWaitDoneFrame(handle, &desc, 100, &record), VB_ACQ_ABORTED);
    ASSERT_EQ(start(handle, desc), 0);
    expect_next(handle, desc, 1);

    // Set-up again after a clean-up: from 1.
    ASSERT_EQ(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_WAIT), 0);
    ASSERT_EQ(VbCircCleanUp(handle, &desc), 0);
    EXPECT_EQ(VbCirWaitDoneFrame(handle, &desc, 10, &record), VB_NOT_CONFIGURED);
    ASSERT_EQ(VbCircAqSetup(handle, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
    ASSERT_EQ(start(handle, desc), 0);
    expect_next(handle, desc, 1);
}

TEST_F(SimAcquisitionTest, ClosingReleasesTheRingAndWakesTheWaiter)
{
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = prepare(0, desc, 4);
    ASSERT_EQ(vnsim_set_trigger_mode(0, VNSIM_TRIGGER_FREE), 0);
    ASSERT_EQ(vnsim_set_rate(0, 0), 0);
    ASSERT_EQ(start(handle, desc), 0);
    int32_t result = 0;
    std::thread waiter([&] {
        VB_FRAME_RECORD record{};
        while ((result = VbCirWaitDoneFrame(handle, &desc, 10000, &record)) == 0) {
            VbCirStatusSet(handle, &desc, &record, 0);
        }
    });
    ASSERT_TRUE(vntest::wait_until([] { return stats(0).delivered > 2; }));
    close(handle);
    waiter.join();
    EXPECT_NE(result, 0);
    EXPECT_EQ(stats(0).running, 0u);
}

// A free-running board at a slow rate, then a rate changed during acquisition, which is roughly kept. That
// manual mode makes no frame by itself: ManualFramesComeInOrderRoundRobinWithTheirPattern; that a stopped
// board makes none: DataStreamTest.StartAndStopAnswerByStateFlagsAndCountAndKillAbortsTheBoard.
TEST_F(SimAcquisitionTest, FreeRunningRateChangesAtOnceAndIsRoughlyKept)
{
    // Small frames, so that checking each one stays far quicker than the frame period even under a
    // sanitizer on a busy machine: the host must keep up for the counters to run without gaps.
    configure(R"({"boards": [{"kind": "CXP"}, {"kind": "CL", "frame_source": {"rate": 0.5},
        "camera_files": [{"name": "small.cam", "width": 64, "height": 48}]}]})");
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = open(1);
    // 64 buffers: the host may be held off for over half a second before a frame is overwritten.
    ASSERT_EQ(VbBufferAllocCam(handle, &desc, 64), 0);
    ASSERT_EQ(VbCircAqSetup(handle, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
    ASSERT_EQ(start(handle, desc), 0);
    VB_FRAME_RECORD record{};
    EXPECT_EQ(VbCirWaitDoneFrame(handle, &desc, 100, &record), VB_WAIT_TIMEOUT) << "one frame every 2 s";
    ASSERT_EQ(vnsim_set_rate(1, 100), 0);
    const auto begin = std::chrono::steady_clock::now();
    uint32_t expected = 1;
    while (std::chrono::steady_clock::now() - begin < std::chrono::milliseconds(500)) {
        // The first wait is short too: the new rate applies at once.
        ASSERT_EQ(VbCirWaitDoneFrame(handle, &desc, 200, &record), 0);
        ASSERT_EQ(record.frame_counter, expected++) << "no frame lost while the host keeps up";
        ASSERT_EQ(vnsim_check_frame(frame_data(record), desc.frame_size, 64, 48, 8, record.frame_counter), 0);
        ASSERT_EQ(VbCirStatusSet(handle, &desc, &record, 0), 0);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double rate = static_cast<double>(expected - 1) / seconds;
    EXPECT_GT(rate, 100.0 / 3);
    EXPECT_LT(rate, 100.0 * 3);

    ASSERT_EQ(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_WAIT), 0);
}

TEST_F(SimAcquisitionTest, ABusBandwidthPacesTheBoardAtItsHighestRate)
{
    // 1 MiB frames with only their stamp written: unpaced, the board completes thousands a second. At
    // 100 MB/s the bus carries about 95 of them a second, whether or not the host takes them.
    configure(R"({"boards": [{"kind": "CL", "camera_files": [{"name": "mega.cam", "width": 1024, "height": 1024}],
        "frame_source": {"rate": 0, "pattern": "benchmark", "bus_bandwidth": 100000000}}]})");
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = open(0);
    ASSERT_EQ(VbBufferAllocCam(handle, &desc, 4), 0);
    ASSERT_EQ(VbCircAqSetup(handle, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
    const uint64_t before = stats(0).generated;
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(start(handle, desc), 0);
    // The rate is measured over a stretch of time.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const uint64_t made = stats(0).generated - before;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    ASSERT_EQ(desc.frame_size, 1024u * 1024u);
    EXPECT_LE(static_cast<double>(made), 100e6 / static_cast<double>(desc.frame_size) * seconds + 2)
        << "faster than the bus";
    EXPECT_GE(made, 5u) << "the board made hardly any frame";
    ASSERT_EQ(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_WAIT), 0);
}
