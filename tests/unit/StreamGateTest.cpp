// The data stream's state gate: every DS call tried in every state the stream can be brought to through
// the exported functions, with the answer each must give.
#include "StreamFixture.h"

#include <array>
#include <string>
#include <tuple>

namespace {

enum class Call { Announce, AllocAndAnnounce, Revoke, Queue, Flush, GetBufferId, Start, Stop };
enum class Stage { Closed, NotConfigured, Ready, Running, Completed };

constexpr std::array all_calls = {Call::Announce, Call::AllocAndAnnounce, Call::Revoke, Call::Queue,
                                  Call::Flush,    Call::GetBufferId,      Call::Start,  Call::Stop};
constexpr std::array all_stages = {Stage::Closed, Stage::NotConfigured, Stage::Ready, Stage::Running,
                                   Stage::Completed};

const char* call_name(Call call)
{
    switch (call) {
    case Call::Announce: return "Announce";
    case Call::AllocAndAnnounce: return "AllocAndAnnounce";
    case Call::Revoke: return "Revoke";
    case Call::Queue: return "Queue";
    case Call::Flush: return "Flush";
    case Call::GetBufferId: return "GetBufferId";
    case Call::Start: return "Start";
    case Call::Stop: return "Stop";
    }
    return "?";
}

const char* stage_name(Stage stage)
{
    switch (stage) {
    case Stage::Closed: return "Closed";
    case Stage::NotConfigured: return "NotConfigured";
    case Stage::Ready: return "Ready";
    case Stage::Running: return "Running";
    case Stage::Completed: return "Completed";
    }
    return "?";
}

// What a call must answer in a stage, and the operation that records a refusal.
struct Expected {
    GC_ERROR code;
    const char* code_name = "GC_ERR_SUCCESS";
    const char* function = nullptr;  // set for a refusal
    const char* message = nullptr;
};

Expected expected(Call call, Stage stage)
{
    if (stage == Stage::Closed) {
        return {GC_ERR_INVALID_HANDLE, "GC_ERR_INVALID_HANDLE", nullptr, "The \"TLDataStream\" data-stream exists, but is not open."};
    }
    switch (call) {
    case Call::Start:
        switch (stage) {
        case Stage::NotConfigured:
            return {GC_ERR_INVALID_BUFFER, "GC_ERR_INVALID_BUFFER", "DSModule::start_acquisition",
                    "No buffers have been announced for data-stream \"TLDataStream\", so acquisition cannot be "
                    "started."};
        case Stage::Running:
            return {GC_ERR_RESOURCE_IN_USE, "GC_ERR_RESOURCE_IN_USE", "DSModule::start_acquisition",
                    "Acquisition has already been started on data-stream \"TLDataStream\"."};
        case Stage::Completed:
            return {GC_ERR_RESOURCE_IN_USE, "GC_ERR_RESOURCE_IN_USE", "DSModule::start_acquisition",
                    "Acquisition has completed on data-stream \"TLDataStream\", but it has not been formally "
                    "stopped."};
        default:
            return {GC_ERR_SUCCESS};
        }
    case Call::Stop:
        if (stage == Stage::Running || stage == Stage::Completed) {
            return {GC_ERR_SUCCESS};
        }
        return {GC_ERR_RESOURCE_IN_USE, "GC_ERR_RESOURCE_IN_USE", "DSModule::stop_acquisition",
                "Acquisition on data-stream \"TLDataStream\" cannot be stopped because it is not running."};
    default:
        return {GC_ERR_SUCCESS};
    }
}

class StreamGateTest : public StreamTest, public ::testing::WithParamInterface<std::tuple<Call, Stage>> {
protected:
    // Brings the stream to `stage`, with `spare` an announced buffer the consumer holds (in no queue).
    void bring_to(Stage stage)
    {
        if (stage == Stage::NotConfigured) {
            // The board refuses its buffers, so the announced buffer leaves the stream unconfigured.
            ASSERT_EQ(vnsim_fault_next_fails(board, VNSIM_FAIL_BUFFER_ALLOC), 0);
            EXPECT_EQ(DSAllocAndAnnounceBuffer(stream, frame_bytes, nullptr, &spare), GC_ERR_ACCESS_DENIED);
            ASSERT_EQ(DSGetBufferID(stream, 0, &spare), GC_ERR_SUCCESS);
            return;
        }
        if (stage == Stage::Closed) {
            ASSERT_EQ(DSAllocAndAnnounceBuffer(stream, frame_bytes, nullptr, &spare), GC_ERR_SUCCESS);
            ASSERT_EQ(DSClose(stream), GC_ERR_SUCCESS);
            return;
        }
        ASSERT_EQ(DSAllocAndAnnounceBuffer(stream, frame_bytes, nullptr, &spare), GC_ERR_SUCCESS);
        announce_and_queue(2);
        if (stage == Stage::Ready) {
            return;
        }
        event = register_new_buffer();
        if (stage == Stage::Running) {
            ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
            return;
        }
        // A sequence of one completes when the next frame shows up.
        ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, 1), GC_ERR_SUCCESS);
        ASSERT_EQ(vnsim_trigger(board, 2), 2);
        ASSERT_NE(next_buffer(event), nullptr);
        ASSERT_TRUE(wait_not_grabbing());
    }

    GC_ERROR make(Call call)
    {
        BUFFER_HANDLE buffer = nullptr;
        switch (call) {
        case Call::Announce:
            return DSAnnounceBuffer(stream, own_memory.data(), own_memory.size(), nullptr, &buffer);
        case Call::AllocAndAnnounce:
            return DSAllocAndAnnounceBuffer(stream, frame_bytes, nullptr, &buffer);
        case Call::Revoke:
            return DSRevokeBuffer(stream, spare, nullptr, nullptr);
        case Call::Queue:
            return DSQueueBuffer(stream, spare);
        case Call::Flush:
            return DSFlushQueue(stream, ACQ_QUEUE_OUTPUT_DISCARD);
        case Call::GetBufferId:
            return DSGetBufferID(stream, 0, &buffer);
        case Call::Start:
            return DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE);
        case Call::Stop:
            return DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT);
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
    const auto [call, stage] = GetParam();
    bring_to(stage);
    if (HasFatalFailure()) {
        return;
    }
    const Expected want = expected(call, stage);
    EXPECT_EQ(make(call), want.code) << last_error();
    if (want.function != nullptr) {
        EXPECT_TRUE(recorded(want.code_name, "DSModule.cpp", want.function, want.message)) << last_error();
    } else if (want.message != nullptr) {
        const std::string record = last_error();
        EXPECT_NE(record.find(want.message), std::string::npos) << record;
    }
}

INSTANTIATE_TEST_SUITE_P(AllCallsAllStates, StreamGateTest,
                         ::testing::Combine(::testing::ValuesIn(all_calls), ::testing::ValuesIn(all_stages)),
                         [](const ::testing::TestParamInfo<StreamGateTest::ParamType>& case_info) {
                             return std::string(call_name(std::get<0>(case_info.param))) + "In" +
                                    stage_name(std::get<1>(case_info.param));
                         });

}  // namespace
