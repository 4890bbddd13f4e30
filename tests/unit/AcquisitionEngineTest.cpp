// The engine's state gate on the engine itself: every stream call in every acquisition state, on the simulated
// board (none for NoBoard), made through VNAcquisition::transition with the engine's own doors as its work,
// checking what the gate answers and the state the call leaves. The same calls through the exported
// functions are StreamGateTest's.
#include "AcquisitionFixture.h"
#include "VNAcquisitionTestAccess.h"

#include "acquisition/StreamCall.h"
#include "acquisition/VNAcquisition.h"
#include "board/VNBoards.h"

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

constexpr std::array all_calls = {StreamCall::AnnounceBuffer, StreamCall::AllocAndAnnounceBuffer,
                                  StreamCall::RevokeBuffer,   StreamCall::QueueBuffer,
                                  StreamCall::FlushQueue,     StreamCall::GetBufferId,
                                  StreamCall::StartAcquisition, StreamCall::StopAcquisition};
constexpr std::array all_states = {State::NoBoard, State::NotConfigured, State::Ready, State::Running,
                                   State::Completed};

const char* call_name(StreamCall call)
{
    switch (call) {
    case StreamCall::AnnounceBuffer: return "Announce";
    case StreamCall::AllocAndAnnounceBuffer: return "AllocAndAnnounce";
    case StreamCall::RevokeBuffer: return "Revoke";
    case StreamCall::QueueBuffer: return "Queue";
    case StreamCall::FlushQueue: return "Flush";
    case StreamCall::GetBufferId: return "GetBufferId";
    case StreamCall::StartAcquisition: return "Start";
    case StreamCall::StopAcquisition: return "Stop";
    }
    return "?";
}

// What a call must come to in a state: the gate's code, whether the gate refused it (and so did not run
// its work), and the state afterwards.
struct Outcome {
    GC_ERROR code;
    bool refused;
    State after;
};

constexpr Outcome pass(State after) noexcept { return {GC_ERR_SUCCESS, false, after}; }
// Let through, but the work failed.
constexpr Outcome fail(GC_ERROR code, State after) noexcept { return {code, false, after}; }
constexpr Outcome refuse(GC_ERROR code, State after) noexcept { return {code, true, after}; }

constexpr State no_board = State::NoBoard;
constexpr State not_configured = State::NotConfigured;
constexpr State ready = State::Ready;
constexpr State running = State::Running;
constexpr State completed = State::Completed;

// Rows by call (all_calls' order), columns by state (all_states' order). Without a board an announcement
// is kept but the board cannot be configured; in NotConfigured it configures the board.
constexpr Outcome table[8][5] = {
    // NoBoard                                 NotConfigured          Ready        Running        Completed
    {fail(GC_ERR_ACCESS_DENIED, no_board),     pass(ready),          pass(ready), pass(running), pass(completed)},
    {fail(GC_ERR_ACCESS_DENIED, no_board),     pass(ready),          pass(ready), pass(running), pass(completed)},
    {pass(no_board),                           pass(not_configured), pass(ready), pass(running), pass(completed)},
    {pass(no_board),                           pass(not_configured), pass(ready), pass(running), pass(completed)},
    {pass(no_board),                           pass(not_configured), pass(ready), pass(running), pass(completed)},
    {pass(no_board),                           pass(not_configured), pass(ready), pass(running), pass(completed)},
    {refuse(GC_ERR_ERROR, no_board),           pass(running),        pass(running),
     refuse(GC_ERR_RESOURCE_IN_USE, running),  refuse(GC_ERR_RESOURCE_IN_USE, completed)},
    {refuse(GC_ERR_RESOURCE_IN_USE, no_board), refuse(GC_ERR_RESOURCE_IN_USE, not_configured),
     refuse(GC_ERR_RESOURCE_IN_USE, ready),    pass(ready),          pass(ready)},
};

// An engine on a simulated board with manual triggering, configured from fixed settings.
class EngineGateTest : public EngineTest {
protected:
    static constexpr uint32_t width = 32;
    static constexpr uint32_t height = 16;
    static constexpr size_t frame_size = size_t{width} * height;
    static constexpr uint64_t board_buffers = 4;

    void make_engine(bool with_board)
    {
        ASSERT_EQ(vnsim_configure(vntest::sim_config({vntest::SimBoard(width, height).trigger("manual")}).c_str()), 0)
            << vnsim_last_error();
        VNAcquisition::SettingsSource settings;
        settings.lock = &settings_lock;
        settings.read = [] { return VNAcquisition::Settings{board_buffers, {}}; };
        engine = std::make_unique<VNAcquisition>(with_board ? std::make_shared<VNBoards::Board>(0) : nullptr,
                                                 vngtl::BufferHandle::factory(), std::move(settings));
    }
    void TearDown() override
    {
        if (engine && engine->status() > State::NotConfigured) {
            engine->stop();
            EXPECT_EQ(engine->release(), GC_ERR_SUCCESS);
        }
        engine.reset();
        EngineTest::TearDown();
    }

    std::recursive_mutex settings_lock;
    std::unique_ptr<VNAcquisition> engine;
};

class AcquisitionEngineTest : public EngineGateTest,
                              public ::testing::WithParamInterface<std::tuple<StreamCall, State>> {
protected:
    void SetUp() override
    {
        EngineGateTest::SetUp();
        make_engine(std::get<1>(GetParam()) != State::NoBoard);
    }

    // A buffer announced below the doors (so that the board is not configured by it).
    vngtl::PoolBuffer* announce_quietly()
    {
        std::shared_ptr<vngtl::PoolBuffer> buffer;
        EXPECT_EQ(pool_of(*engine).announce_shared(&buffer, frame_size, nullptr), GC_ERR_SUCCESS);
        return buffer.get();
    }

    // `spare` announced and held by the consumer, two more queued, and the engine brought to `state`.
    void bring_to(State state)
    {
        spare = announce_quietly();
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(pool_of(*engine).queue_to_input(announce_quietly()), GC_ERR_SUCCESS);
        }
        if (state == State::Ready || state == State::Running) {
            ASSERT_EQ(engine->configure(), GC_ERR_SUCCESS) << last_error();
        }
        if (state == State::Running) {
            ASSERT_EQ(engine->start(GENTL_INFINITE), State::Running);
        }
        if (state == State::Completed) {
            // A sequence of one completes when the frame after it shows up.
            ASSERT_EQ(engine->start_acquisition(1), GC_ERR_SUCCESS) << last_error();
            ASSERT_EQ(vnsim_trigger(0, 2), 2);
            ASSERT_TRUE(wait_until([&] { return engine->status() == State::Completed; }));
        }
        ASSERT_EQ(engine->status(), state);
    }

    // The call's work through the engine's doors.
    GC_ERROR work(StreamCall call)
    {
        std::shared_ptr<vngtl::PoolBuffer> buffer;
        switch (call) {
        case StreamCall::AnnounceBuffer: return engine->announce(own_memory.data(), own_memory.size(), nullptr, &buffer);
        case StreamCall::AllocAndAnnounceBuffer: return engine->announce(frame_size, nullptr, &buffer);
        case StreamCall::RevokeBuffer: return engine->revoke(spare, nullptr, nullptr);
        case StreamCall::QueueBuffer: return engine->queue(spare);
        case StreamCall::FlushQueue: return engine->flush(ACQ_QUEUE_OUTPUT_DISCARD);
        case StreamCall::GetBufferId: return engine->buffer_from_id(0, &buffer);
        case StreamCall::StartAcquisition: return engine->start_acquisition(GENTL_INFINITE);
        case StreamCall::StopAcquisition: return engine->stop_acquisition(false);
        }
        return GC_ERR_ERROR;
    }

    std::vector<uint8_t> own_memory = std::vector<uint8_t>(frame_size);
    vngtl::PoolBuffer* spare = nullptr;
};

TEST_P(AcquisitionEngineTest, TheGateAnswersAndChangesTheStateAsItsRulesSay)
{
    const auto [call, state] = GetParam();
    bring_to(state);
    if (HasFatalFailure()) {
        return;
    }
    const Outcome want = table[static_cast<size_t>(call)][static_cast<size_t>(state)];
    bool worked = false;
    const VNAcquisition::GateAnswer answer = engine->transition(call, "data-stream \"engine\"", [&] {
        worked = true;
        return work(call);
    });
    EXPECT_EQ(answer.code, want.code) << last_error();
    EXPECT_EQ(answer.state, state);
    EXPECT_EQ(worked, !want.refused);
    EXPECT_EQ(answer.refusal.empty(), !want.refused) << answer.refusal;
    if (want.refused) {
        EXPECT_NE(answer.refusal.find("data-stream \"engine\""), std::string::npos) << answer.refusal;
    }
    EXPECT_EQ(engine->status(), want.after);
    if (want.after == State::NotConfigured || want.after == State::NoBoard) {
        return;
    }
    // A configured board has the count and region that the settings ask for.
    EXPECT_EQ(engine->board()->buffer_count(), board_buffers);
    EXPECT_TRUE(engine->roi_matches({}));
}

INSTANTIATE_TEST_SUITE_P(AllCallsAllStates, AcquisitionEngineTest,
                         ::testing::Combine(::testing::ValuesIn(all_calls), ::testing::ValuesIn(all_states)),
                         [](const ::testing::TestParamInfo<AcquisitionEngineTest::ParamType>& case_info) {
                             return std::string(call_name(std::get<0>(case_info.param))) + "In" +
                                    std::string(vngtl::state_name(std::get<1>(case_info.param)));
                         });

// The check and the change are one step: of several threads starting (then stopping) at once, exactly one
// is let through and the others are refused, however the threads meet.
TEST_F(EngineGateTest, OfRacingStartsAndStopsExactlyOneIsLetThrough)
{
    make_engine(true);
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
        EXPECT_EQ(through.load(), 1) << call_name(call);
        EXPECT_EQ(refused.load(), threads - 1) << call_name(call);
    };
    for (int round = 0; round < 20; ++round) {
        race(StreamCall::StartAcquisition);
        EXPECT_EQ(engine->status(), State::Running);
        race(StreamCall::StopAcquisition);
        EXPECT_EQ(engine->status(), State::Ready);
    }
}

}  // namespace
