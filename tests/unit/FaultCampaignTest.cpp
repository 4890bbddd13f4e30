// Every fault the simulated board offers, injected while the stream acquires (or where the fault bites,
// while buffers are announced or the device is opened): the stream either carries on or stops cleanly with
// its record, and afterwards stop, flush and revoke account for every announced buffer exactly once.
#include "StreamFixture.h"

#include "sim/CxpCameraRegisters.h"

#include <functional>
#include <optional>
#include <set>
#include <string>

namespace cxp = vnsim::cxp;

namespace {

constexpr size_t frame_bytes = size_t{1024} * 768;

// What a fault leaves behind, checked after it was injected and frames were triggered.
enum class Outcome {
    Continues,  // acquisition goes on; every frame triggered after the fault is delivered
    Restarts,   // the board stopped by itself; the engine logs it, restarts and delivers later frames
};

struct Fault {
    const char* name;
    // Arms the fault on the running stream's board.
    std::function<void()> arm;
    // Triggered after arming; a self-stop consumes some of them.
    int frames;
    Outcome outcome;
    // Frames an abort may discard: it drops every frame in flight that was not yet copied.
    size_t lost_in_flight;
    // Texts the debug output must hold afterwards ("" when the fault leaves none).
    std::vector<std::string> log;
};

std::string fault_name(const ::testing::TestParamInfo<Fault>& info) { return info.param.name; }

const std::string restart_note = "VNAcquisition::frame_loop: Acquisition on board 0 stopped or aborted unexpectedly. "
                                 "Dumping the Vantrel error stacks, then restarting.";

const std::vector<Fault> acquisition_faults = {
    {"SelfStopAfterOneFrame", [] { vnsim_fault_stop_after(0, 1, 0); }, 3, Outcome::Restarts, 0,
     {restart_note, "Vb[222] = Acquisition stopped: the camera signal was lost."}},
    {"AbortAfterOneFrame", [] { vnsim_fault_stop_after(0, 1, 1); }, 3, Outcome::Restarts, 1,
     {restart_note, "Vb[223] = Acquisition aborted"}},
    {"AbortAfterTwoFrames", [] { vnsim_fault_stop_after(0, 2, 1); }, 3, Outcome::Restarts, 2,
     {restart_note, "Vb[223]"}},
    {"PushedBoardErrorThenStop",
     [] {
         vnsim_push_vb_error(0, 220);
         vnsim_fault_stop_after(0, 1, 0);
     },
     2, Outcome::Restarts, 0, {restart_note, "VNAcquisition::dump_vantrel_errors: Vb[220] = "}},
    {"PushedDriverErrorThenAbort",
     [] {
         vnsim_push_vn_error(0, 3006);
         vnsim_fault_stop_after(0, 1, 1);
     },
     2, Outcome::Restarts, 1,
     {restart_note, "VNAcquisition::dump_vantrel_errors: VN[3006] = The region of interest lies outside the "
                    "camera's sensor."}},
    // Codes pushed with no stop are only read when the board stops: frames carry on.
    {"PushedErrorsWithoutAStop",
     [] {
         vnsim_push_vb_error(0, 222);
         vnsim_push_vn_error(0, 3006);
     },
     3, Outcome::Continues, 0, {}},
    // Remote-device faults (RemotePortFailsDuringAcquisition...) and the one-shot set-up failures
    // (OneShotSetUpFaults...) do not touch a running stream's frames; they have cases of their own below.
};

}  // namespace

class FaultCampaignTest : public StreamTest {
protected:
    void SetUp() override
    {
        StreamTest::SetUp();
        buffers = announce_and_queue(6, frame_bytes);
        event = register_new_buffer();
    }

    void start()
    {
        ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS) << last_error();
    }

    // Takes up to `expected` buffers (waiting up to two seconds for each), then any extra that shows up
    // within 20 ms, requeueing each; a buffer is never handed out twice while the consumer holds it and
    // frame IDs only increase.
    size_t drain(size_t expected)
    {
        size_t taken = 0;
        while (const BUFFER_HANDLE buffer = next_buffer(event, taken < expected ? 2000 : 20)) {
            EXPECT_TRUE(held.insert(buffer).second) << "a buffer delivered twice";
            const uint64_t id = buffer_info<uint64_t>(stream, buffer, BUFFER_INFO_FRAMEID);
            EXPECT_TRUE(!last_id || id > *last_id) << "frame " << id << " after " << last_id.value_or(0);
            last_id = id;
            ++taken;
            held.erase(buffer);
            EXPECT_EQ(DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS) << last_error();
        }
        return taken;
    }

    // Stops, flushes and revokes: each announced buffer comes back once, and none is left.
    void expect_every_buffer_accounted_for()
    {
        EXPECT_EQ(DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL), GC_ERR_SUCCESS) << last_error();
        EXPECT_EQ(stream_info<size_t>(STREAM_INFO_NUM_ANNOUNCED), buffers.size());
        EXPECT_EQ(stream_info<size_t>(STREAM_INFO_NUM_QUEUED) + stream_info<size_t>(STREAM_INFO_NUM_AWAIT_DELIVERY),
                  buffers.size())
            << "a buffer went missing while the consumer held none";
        ASSERT_EQ(DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS) << last_error();
        ASSERT_EQ(DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS) << "flushing twice is harmless";
        for (const BUFFER_HANDLE buffer : buffers) {
            void* base = nullptr;
            void* context = nullptr;
            EXPECT_EQ(DSRevokeBuffer(stream, buffer, &base, &context), GC_ERR_SUCCESS) << last_error();
        }
        EXPECT_EQ(stream_info<size_t>(STREAM_INFO_NUM_ANNOUNCED), 0u);
        EXPECT_EQ(board_stats().running, 0u);
    }

    // Holds every buffer: all six frames were triggered.
    std::vector<BUFFER_HANDLE> hold_all()
    {
        std::vector<BUFFER_HANDLE> taken;
        while (const BUFFER_HANDLE buffer = next_buffer(event, taken.size() < 6 ? 2000 : 20)) {
            taken.push_back(buffer);
        }
        EXPECT_EQ(taken.size(), buffers.size());
        return taken;
    }

    void requeue(const std::vector<BUFFER_HANDLE>& taken)
    {
        for (const BUFFER_HANDLE buffer : taken) {
            ASSERT_EQ(DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS);
        }
    }

    // Whether the engine has taken from the board every frame it completed (or lost it to an overrun), and
    // handed each buffer back, which it does just before it records the frame for the copy thread.
    static bool all_taken()
    {
        return vntest::wait_until([] {
            const VnsimFrameStats stats = board_stats();
            return stats.pending == 0 && stats.returned == stats.delivered;
        });
    }

    static VnsimFrameStats board_stats()
    {
        VnsimFrameStats stats{};
        EXPECT_EQ(vnsim_frame_stats(board, &stats), 0);
        return stats;
    }

    std::vector<BUFFER_HANDLE> buffers;
    EVENT_HANDLE event = nullptr;
    std::set<BUFFER_HANDLE> held;
    std::optional<uint64_t> last_id;
};

// ---- Faults of the running acquisition ---------------------------------------------------------------

class AcquisitionFaultTest : public FaultCampaignTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(AcquisitionFaultTest, StreamRecoversAndEveryBufferIsAccountedFor)
{
    const Fault& fault = GetParam();
    start();
    ASSERT_EQ(vnsim_trigger(board, 2), 2);
    ASSERT_EQ(drain(2), 2u);

    fault.arm();
    const int made = vnsim_trigger(board, fault.frames);
    if (fault.outcome == Outcome::Continues) {
        ASSERT_EQ(made, fault.frames);
        EXPECT_EQ(drain(size_t(made)), size_t(made));
    } else {
        // The board completes frames up to its stop; an abort may lose the one in flight. The restart
        // has to come before new frames arrive.
        ASSERT_GE(made, 1);
        ASSERT_LT(made, fault.frames) << "the board did not stop";
        const size_t during = drain(size_t(made) - fault.lost_in_flight);
        EXPECT_GE(during + fault.lost_in_flight, size_t(made));
        EXPECT_LE(during, size_t(made));
        ASSERT_TRUE(vntest::wait_until(
            [] { return board_stats().running == 1 && debug_output().find("restarting") != std::string::npos; }))
            << "the engine did not restart the board";
    }
    for (const std::string& text : fault.log) {
        EXPECT_NE(debug_output().find(text), std::string::npos) << text << "\nin\n" << debug_output();
    }
    EXPECT_EQ(stream_info<uint8_t>(STREAM_INFO_IS_GRABBING), 1) << "the stream stays grabbing";

    // Frames after the fault come through.
    ASSERT_EQ(vnsim_trigger(board, 3), 3);
    EXPECT_EQ(drain(3), 3u);
    expect_every_buffer_accounted_for();
}


INSTANTIATE_TEST_SUITE_P(Faults, AcquisitionFaultTest, ::testing::ValuesIn(acquisition_faults), fault_name);

// ---- Faults in set-up ----------------------------------------------------------------------------------

TEST_F(FaultCampaignTest, RemotePortFailsDuringAcquisitionWithTheReadsCodeAndFramesGoOn)
{
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(DevGetPort(device, &remote), GC_ERR_SUCCESS);
    start();
    ASSERT_EQ(vnsim_cxp_fault_read(0, cxp::device_model_name, 1), 0);
    char model[32] = {};
    size_t size = sizeof model;
    EXPECT_NE(GCReadPort(remote, cxp::device_model_name, model, &size), GC_ERR_SUCCESS);
    EXPECT_FALSE(last_error().empty());
    ASSERT_EQ(vnsim_trigger(board, 2), 2);
    EXPECT_EQ(drain(2), 2u);
    size = sizeof model;
    EXPECT_EQ(GCReadPort(remote, cxp::device_model_name, model, &size), GC_ERR_SUCCESS) << "the fault was one read";

    ASSERT_EQ(vnsim_cxp_fault_silent(0, 1), 0);
    size = sizeof model;
    EXPECT_EQ(GCReadPort(remote, cxp::device_model_name, model, &size), GC_ERR_IO);
    ASSERT_EQ(vnsim_trigger(board, 2), 2);
    EXPECT_EQ(drain(2), 2u);
    ASSERT_EQ(vnsim_cxp_fault_silent(0, 0), 0);
    expect_every_buffer_accounted_for();
}

TEST_F(FaultCampaignTest, OneShotSetUpFaultsArmedOnAConfiguredBoardLeaveAnnounceAndStartAlone)
{
    // The buffers announced in SetUp configured the board; one more is added to the stream without a new
    // board set-up, so the armed faults do not bite and all seven buffers take frames.
    ASSERT_EQ(vnsim_fault_next_fails(board, VNSIM_FAIL_BUFFER_ALLOC), 0);
    ASSERT_EQ(vnsim_fault_next_fails(board, VNSIM_FAIL_CIRC_SETUP), 0);
    ASSERT_EQ(vnsim_fault_next_fails(board, VNSIM_FAIL_ROI_SET), 0);
    BUFFER_HANDLE extra = nullptr;
    ASSERT_EQ(DSAllocAndAnnounceBuffer(stream, frame_bytes, nullptr, &extra), GC_ERR_SUCCESS) << last_error();
    buffers.push_back(extra);
    ASSERT_EQ(DSQueueBuffer(stream, extra), GC_ERR_SUCCESS);
    start();
    ASSERT_EQ(vnsim_trigger(board, 7), 7);
    EXPECT_EQ(drain(7), 7u);
    expect_every_buffer_accounted_for();
}

TEST_F(FaultCampaignTest, SelfStopWithEveryBufferHeldLosesNoneWhenTheyComeBack)
{
    start();
    // Hold all six, then the board stops by itself while frames wait for buffers.
    ASSERT_EQ(vnsim_trigger(board, 6), 6);
    const std::vector<BUFFER_HANDLE> taken = hold_all();
    ASSERT_EQ(vnsim_fault_stop_after(board, 1, 0), 0);
    ASSERT_EQ(vnsim_trigger(board, 2), 1) << "the board stops after one more frame";
    ASSERT_TRUE(all_taken());
    ASSERT_NO_FATAL_FAILURE(requeue(taken));
    // The frame that waited for a buffer, and one after the restart.
    ASSERT_TRUE(vntest::wait_until([] { return board_stats().running == 1; }));
    ASSERT_EQ(vnsim_trigger(board, 1), 1);
    EXPECT_GE(drain(1), 1u);
    expect_every_buffer_accounted_for();
}

TEST_F(FaultCampaignTest, FramesAnAbortDiscardedAreNeverDeliveredFromAnEarlierLap)
{
    start();
    // Frames pile up with every buffer held, then are flushed: the board's buffers keep frames nobody took.
    ASSERT_EQ(vnsim_trigger(board, 6), 6);
    const std::vector<BUFFER_HANDLE> taken = hold_all();
    ASSERT_EQ(vnsim_trigger(board, 40), 40);
    // The acquisition thread must have seen all forty (none can be copied: no buffer is queued) before the
    // buffers come back, or the last of them are rightly delivered.
    ASSERT_TRUE(all_taken());
    ASSERT_EQ(EventFlush(event), GC_ERR_SUCCESS);
    last_id = 46;
    ASSERT_NO_FATAL_FAILURE(requeue(taken));
    // The abort throws away the frames it completed; after the restart the next frame is counted past
    // them. Only that frame may come out: the gap's buffers hold frames of the lap before.
    ASSERT_EQ(vnsim_fault_stop_after(board, 3, 1), 0);
    ASSERT_EQ(vnsim_trigger(board, 3), 3);
    ASSERT_TRUE(vntest::wait_until([] { return board_stats().running == 1; }));
    ASSERT_EQ(vnsim_trigger(board, 1), 1);
    const BUFFER_HANDLE buffer = next_buffer(event, 2000);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer_info<uint64_t>(stream, buffer, BUFFER_INFO_FRAMEID), 50u);
    EXPECT_EQ(DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS);
    EXPECT_EQ(drain(0), 0u) << "nothing else was made";
    expect_every_buffer_accounted_for();
}
