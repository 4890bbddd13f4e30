// The data stream's state gate: every stream call in every acquisition state through the exported functions
// (checking the answer, the record of each refusal and the state the call leaves, as the stream's grabbing flag
// and the board's buffers show it), and the gate's check and change as one step on the engine itself. The engine
// without a board, which no stream has: NewBufferEventTest.WithoutABoardTheEngineReportsNoBoard.
#include "AcquisitionFixture.h"
#include "StreamFixture.h"

#include "acquisition/StreamCall.h"

#include <array>
#include <atomic>
#include <latch>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using vngtl::StreamCall;
using vngtl::VNAcquisition;
using State = VNAcquisition::State;
using enum vngtl::AcquisitionState;
using GateCase = std::tuple<StreamCall, State>;

constexpr std::array all_calls = {StreamCall::AnnounceBuffer, StreamCall::AllocAndAnnounceBuffer,
                                  StreamCall::RevokeBuffer,   StreamCall::QueueBuffer,
                                  StreamCall::FlushQueue,     StreamCall::GetBufferId,
                                  StreamCall::StartAcquisition, StreamCall::StopAcquisition};
constexpr std::array all_states = {NoBoard, NotConfigured, Ready, Running, Completed};
constexpr std::array call_names = {"Announce", "AllocAndAnnounce", "Revoke", "Queue",
                                   "Flush",    "GetBufferId",      "Start",  "Stop"};

// A stream always has its board: the NoBoard column stands for a stream that has been closed.
std::string case_name(const ::testing::TestParamInfo<GateCase>& case_info)
{
    const auto [call, state] = case_info.param;
    return call_names.at(static_cast<size_t>(call)) + std::string("In") +
           std::string(state == NoBoard ? "Closed" : vngtl::state_name(state));
}

// An engine on a simulated board with manual triggering, released at the end.
class EngineGateTest : public EngineTest {
protected:
    void TearDown() override
    {
        if (engine && engine->status() > NotConfigured) {
            engine->stop();
            EXPECT_EQ(engine->release(), GC_ERR_SUCCESS);
        }
        engine.reset();
        EngineTest::TearDown();
    }

    std::recursive_mutex settings_lock;
    std::unique_ptr<VNAcquisition> engine;
};

// The check and the change are one step: of several threads starting (then stopping) at once, exactly one
// is let through and the others are refused, however the threads meet.
TEST_F(EngineGateTest, OfRacingStartsAndStopsExactlyOneIsLetThrough)
{
    ASSERT_EQ(vnsim_configure(vntest::sim_config({vntest::SimBoard(32, 16).trigger("manual")}).c_str()), 0)
        << vnsim_last_error();
    VNAcquisition::SettingsSource settings;
    settings.lock = &settings_lock;
    settings.read = [] { return VNAcquisition::Settings{4, {}}; };  // four board buffers
    engine = std::make_unique<VNAcquisition>(std::make_shared<VNBoards::Board>(0), vngtl::BufferHandle::factory(),
                                             std::move(settings));
    ASSERT_EQ(engine->configure(), GC_ERR_SUCCESS) << last_error();
    constexpr int threads = 4;
    const auto race = [&](StreamCall call) {
        std::latch go(threads);
        std::atomic<int> through{0};
        std::atomic<int> refused{0};
        std::vector<std::jthread> racers;
        for (int i = 0; i < threads; ++i) {
            racers.emplace_back([&] {
                go.arrive_and_wait();
                const VNAcquisition::GateAnswer answer = engine->transition(call, "data-stream \"engine\"", [&] {
                    return call == StreamCall::StartAcquisition ? engine->start_acquisition(GENTL_INFINITE)
                                                                : engine->stop_acquisition(false);
                });
                (answer.code == GC_ERR_SUCCESS ? through : refused) += 1;
                EXPECT_TRUE(answer.code == GC_ERR_SUCCESS || answer.code == GC_ERR_RESOURCE_IN_USE) << answer.code;
            });
        }
        racers.clear();
        EXPECT_EQ(through.load(), 1) << call_names.at(static_cast<size_t>(call));
        EXPECT_EQ(refused.load(), threads - 1) << call_names.at(static_cast<size_t>(call));
    };
    for (int round = 0; round < 20; ++round) {
        race(StreamCall::StartAcquisition);
        EXPECT_EQ(engine->status(), Running);
        race(StreamCall::StopAcquisition);
        EXPECT_EQ(engine->status(), Ready);
    }
}

// What a call through the exported functions must answer in a state, and the operation that records a
// refusal (none for the closed stream, whose record is only looked for).
struct Expected {
    GC_ERROR code;
    const char* code_name = "GC_ERR_SUCCESS";
    const char* function = nullptr;
    const char* message = nullptr;
};

Expected expected(StreamCall call, State state)
{
    if (state == NoBoard) {
        return {GC_ERR_INVALID_HANDLE, "GC_ERR_INVALID_HANDLE", nullptr,
                "The \"TLDataStream\" data-stream exists, but is not open."};
    }
    if (call == StreamCall::StartAcquisition && state == NotConfigured) {
        return {GC_ERR_INVALID_BUFFER, "GC_ERR_INVALID_BUFFER", "DSModule::start_acquisition",
                "No buffers have been announced for data-stream \"TLDataStream\", so acquisition cannot be started."};
    }
    if (call == StreamCall::StartAcquisition && state == Running) {
        return {GC_ERR_RESOURCE_IN_USE, "GC_ERR_RESOURCE_IN_USE", "DSModule::start_acquisition",
                "Acquisition has already been started on data-stream \"TLDataStream\"."};
    }
    if (call == StreamCall::StartAcquisition && state == Completed) {
        return {GC_ERR_RESOURCE_IN_USE, "GC_ERR_RESOURCE_IN_USE", "DSModule::start_acquisition",
                "Acquisition has completed on data-stream \"TLDataStream\", but it has not been formally stopped."};
    }
    if (call == StreamCall::StopAcquisition && state != Running && state != Completed) {
        return {GC_ERR_RESOURCE_IN_USE, "GC_ERR_RESOURCE_IN_USE", "DSModule::stop_acquisition",
                "Acquisition on data-stream \"TLDataStream\" cannot be stopped because it is not running."};
    }
    return {GC_ERR_SUCCESS};
}

class StreamGateTest : public StreamTest, public ::testing::WithParamInterface<GateCase> {
protected:
    // Brings the stream to `state`, with `spare` an announced buffer the consumer holds (in no queue).
    void bring_to(State state)
    {
        if (state == NotConfigured) {
            // The board refuses its buffers, so the announced buffer leaves the stream unconfigured.
            ASSERT_EQ(vnsim_fault_next_fails(board, VNSIM_FAIL_BUFFER_ALLOC), 0);
            EXPECT_EQ(DSAllocAndAnnounceBuffer(stream, frame_bytes, nullptr, &spare), GC_ERR_ACCESS_DENIED);
            ASSERT_EQ(DSGetBufferID(stream, 0, &spare), GC_ERR_SUCCESS);
            return;
        }
        ASSERT_EQ(DSAllocAndAnnounceBuffer(stream, frame_bytes, nullptr, &spare), GC_ERR_SUCCESS);
        if (state == NoBoard) {
            ASSERT_EQ(DSClose(stream), GC_ERR_SUCCESS);
            return;
        }
        announce_and_queue(2);
        if (state == Ready) {
            return;
        }
        event = register_new_buffer();
        // A sequence of one completes when the next frame shows up.
        ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, state == Running ? GENTL_INFINITE : 1),
                  GC_ERR_SUCCESS);
        if (state == Completed) {
            ASSERT_EQ(vnsim_trigger(board, 2), 2);
            ASSERT_NE(next_buffer(event), nullptr);
            ASSERT_TRUE(wait_not_grabbing());
        }
    }

    GC_ERROR make(StreamCall call)
    {
        BUFFER_HANDLE buffer = nullptr;
        switch (call) {
        case StreamCall::AnnounceBuffer:
            return DSAnnounceBuffer(stream, own_memory.data(), own_memory.size(), nullptr, &buffer);
        case StreamCall::AllocAndAnnounceBuffer: return DSAllocAndAnnounceBuffer(stream, frame_bytes, nullptr, &buffer);
        case StreamCall::RevokeBuffer: return DSRevokeBuffer(stream, spare, nullptr, nullptr);
        case StreamCall::QueueBuffer: return DSQueueBuffer(stream, spare);
        case StreamCall::FlushQueue: return DSFlushQueue(stream, ACQ_QUEUE_OUTPUT_DISCARD);
        case StreamCall::GetBufferId: return DSGetBufferID(stream, 0, &buffer);
        case StreamCall::StartAcquisition: return DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE);
        case StreamCall::StopAcquisition: return DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT);
        }
        return GC_ERR_ERROR;
    }

    static constexpr size_t frame_bytes = size_t{width} * height;
    std::vector<uint8_t> own_memory = std::vector<uint8_t>(frame_bytes);
    BUFFER_HANDLE spare = nullptr;
    EVENT_HANDLE event = nullptr;
};

TEST_P(StreamGateTest, EveryCallAnswersAsTheStateAllows)
{
    const auto [call, state] = GetParam();
    ASSERT_NO_FATAL_FAILURE(bring_to(state));
    const Expected want = expected(call, state);
    EXPECT_EQ(make(call), want.code) << last_error();
    if (want.function != nullptr) {
        EXPECT_TRUE(recorded(want.code_name, "DSModule.cpp", want.function, want.message)) << last_error();
    } else if (want.message != nullptr) {
        const std::string record = last_error();
        EXPECT_NE(record.find(want.message), std::string::npos) << record;
    }
    if (state == NoBoard) {
        return;
    }
    // The state left: running after a start from Ready or any call but a stop while running; the board
    // configured (with the stream's default ring) unless it was not and the call announced nothing.
    const bool grabbing = (state == Running && call != StreamCall::StopAcquisition) ||
                          (state == Ready && call == StreamCall::StartAcquisition);
    EXPECT_EQ(stream_info<uint8_t>(STREAM_INFO_IS_GRABBING), grabbing ? 1 : 0);
    const bool configured = state != NotConfigured || call == StreamCall::AnnounceBuffer ||
                            call == StreamCall::AllocAndAnnounceBuffer;
    EXPECT_EQ(read_u64(stream, vngtl::reg::datastream::Reg_GrabberBufferCountAllocated), configured ? 10u : 0u);
}

INSTANTIATE_TEST_SUITE_P(AllCallsAllStates, StreamGateTest,
                         ::testing::Combine(::testing::ValuesIn(all_calls), ::testing::ValuesIn(all_states)),
                         [](const auto& case_info) { return case_name(case_info); });

}  // namespace
