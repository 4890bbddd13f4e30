// Waits and closes while consumer threads keep calling EventGetData, through the exported functions: a wait
// ends at its own time-out whatever other threads wait on the same event, and every close that ends the
// event ends every wait at once and refuses the calls that follow. The board's frames come only from
// vnsim_trigger, which these tests never call, so every wait here waits for nothing.
#include "StreamFixture.h"
#include "Wait.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A loaded machine may answer late, never early: the upper bounds are generous.
constexpr milliseconds late_margin{400};

GC_ERROR get_data(EVENT_HANDLE event, uint64_t timeout_ms)
{
    EVENT_NEW_BUFFER_DATA data{};
    size_t size = sizeof data;
    return EventGetData(event, &data, &size, timeout_ms);
}

milliseconds since(Clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

IF_HANDLE parent_interface(DEV_HANDLE device)
{
    IF_HANDLE iface = nullptr;
    EXPECT_EQ(DevGetParentIF(device, &iface), GC_ERR_SUCCESS);
    return iface;
}

TL_HANDLE parent_system(DEV_HANDLE device)
{
    TL_HANDLE system = nullptr;
    EXPECT_EQ(IFGetParentTL(parent_interface(device), &system), GC_ERR_SUCCESS);
    return system;
}

}  // namespace

class BoundedWaitTest : public StreamTest {
protected:
    // Buffers queued, the new-buffer event registered and acquisition started, so that waits wait.
    EVENT_HANDLE start_waiting_stream()
    {
        announce_and_queue(2);
        const EVENT_HANDLE event = register_new_buffer();
        EXPECT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS) << last_error();
        return event;
    }
};

TEST_F(BoundedWaitTest, AWaitBehindAnUnlimitedOneEndsAtItsOwnTimeOut)
{
    const EVENT_HANDLE event = start_waiting_stream();
    std::atomic<pid_t> tid{0};
    auto unlimited = std::async(std::launch::async, [&] {
        tid = vntest::thread_id();
        return get_data(event, GENTL_INFINITE);
    });
    // The unlimited wait has the event's turn, so that the waits below queue behind it.
    ASSERT_TRUE(vntest::wait_blocked(tid));

    for (int round = 0; round < 3; ++round) {
        auto limited = std::async(std::launch::async, [&] {
            const auto start = Clock::now();
            const GC_ERROR code = get_data(event, 500);
            return std::make_pair(code, since(start));
        });
        const bool in_time = limited.wait_for(milliseconds(500) + late_margin) == std::future_status::ready;
        if (!in_time) {
            // Ends the unlimited wait, so that the late one gets its turn and the test can finish.
            EventKill(event);
        }
        const auto [code, took] = limited.get();
        EXPECT_TRUE(in_time) << "round " << round << ": the 500 ms wait took " << took.count() << " ms";
        EXPECT_EQ(code, GC_ERR_TIMEOUT) << "round " << round;
        EXPECT_GE(took, milliseconds(500)) << "round " << round;
        EXPECT_LE(took, milliseconds(500) + late_margin) << "round " << round;
        if (!in_time) {
            break;
        }
        EXPECT_EQ(unlimited.wait_for(milliseconds(0)), std::future_status::timeout) << "round " << round;
    }

    EXPECT_EQ(EventKill(event), GC_ERR_SUCCESS);
    ASSERT_EQ(unlimited.wait_for(milliseconds(1000)), std::future_status::ready);
    EXPECT_EQ(unlimited.get(), GC_ERR_ABORT);
}

// One way of ending the new-buffer event of the stream under test.
struct CloseCase {
    const char* name;
    std::function<GC_ERROR(DS_HANDLE stream, DEV_HANDLE device)> close;
};

class CloseEndsWaitsTest : public BoundedWaitTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseEndsWaitsTest, EveryWaitEndsAtOnceAndLaterCallsAreRefused)
{
    const EVENT_HANDLE event = start_waiting_stream();
    constexpr int waiter_count = 4;
    constexpr int calls_after_close = 3;
    std::atomic<int> calls_ended{0};
    std::atomic<bool> closed{false};
    // Set only when the close itself hangs, so that the waiters stop and the test can finish.
    std::atomic<bool> give_up{false};

    // Each waiter answers the codes of the calls that answered what they must not.
    std::vector<std::future<std::string>> waiters;
    for (int w = 0; w < waiter_count; ++w) {
        waiters.push_back(std::async(std::launch::async, [&] {
            std::string wrong_codes;
            int after = 0;
            while (after < calls_after_close && !give_up.load()) {
                const bool began_after_close = closed.load();
                const GC_ERROR code = get_data(event, 1000);
                // Before the close a wait times out (no frame comes); one in progress at the close is ended
                // with GC_ERR_ABORT or, if it had not reached the event yet, refused as a dead handle. Every
                // call that begins after the close is refused.
                const bool allowed = code == GC_ERR_ABORT || code == GC_ERR_INVALID_HANDLE ||
                                     (!began_after_close && code == GC_ERR_TIMEOUT);
                if (!allowed) {
                    wrong_codes += std::to_string(code) + (began_after_close ? " (after) " : " ");
                }
                after += began_after_close ? 1 : 0;
                ++calls_ended;
            }
            return wrong_codes;
        }));
    }
    // Every waiter is in its loop, re-entering EventGetData.
    ASSERT_TRUE(vntest::wait_until([&] { return calls_ended.load() >= waiter_count; }, milliseconds(20000)));

    const auto close_start = Clock::now();
    auto closing = std::async(std::launch::async, [&] { return GetParam().close(stream, device); });
    const bool close_in_time = closing.wait_for(milliseconds(1000)) == std::future_status::ready;
    if (!close_in_time) {
        give_up = true;
    }
    const GC_ERROR close_code = closing.get();
    const auto close_end = Clock::now();
    closed = true;
    EXPECT_TRUE(close_in_time) << GetParam().name << " took " << since(close_start).count() << " ms";
    EXPECT_EQ(close_code, GC_ERR_SUCCESS) << last_error();

    for (auto& waiter : waiters) {
        const bool finished = waiter.wait_until(close_end + milliseconds(1000)) == std::future_status::ready;
        if (!finished) {
            give_up = true;
        }
        const std::string wrong_codes = waiter.get();
        EXPECT_TRUE(finished) << "a waiter went on for " << since(close_end).count() << " ms after the close";
        EXPECT_EQ(wrong_codes, "") << "unexpected answers";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Closes, CloseEndsWaitsTest,
    ::testing::Values(
        CloseCase{"DSClose", [](DS_HANDLE stream, DEV_HANDLE) { return DSClose(stream); }},
        CloseCase{"DevClose", [](DS_HANDLE, DEV_HANDLE device) { return DevClose(device); }},
        CloseCase{"IFClose", [](DS_HANDLE, DEV_HANDLE device) { return IFClose(parent_interface(device)); }},
        CloseCase{"TLClose", [](DS_HANDLE, DEV_HANDLE device) { return TLClose(parent_system(device)); }},
        CloseCase{"GCUnregisterEvent",
                  [](DS_HANDLE stream, DEV_HANDLE) { return GCUnregisterEvent(stream, EVENT_NEW_BUFFER); }}),
    [](const ::testing::TestParamInfo<CloseCase>& close_case) { return std::string(close_case.param.name); });
