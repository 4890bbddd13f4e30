// A buffer delivered as frame N holds frame N, whole, or is not delivered: each board runs free at the
// simulator's highest rate while three consumer threads, slower than the board, take buffers from one stream
// with EventGetData, check every pixel of each against the board's pattern for its FRAMEID (and its size,
// width, height and time stamps) and queue it again. The board then comes round to a buffer whose frame is
// still being copied, so the copy must be found out and dropped. Meanwhile another thread reads every
// announced buffer's info, also of buffers queued or being filled: a buffer's frame ID never goes back, and
// its size and transport type are those of no fill or of a whole one.
//
// Small frames on a deep ring and bursts of frames completed at once check the same of frames taken in bursts.
//
// VNGTL_EXACT_FRAMES sets the frames to verify per board, VNGTL_EXACT_SECONDS the time limit per board.
#include "ModuleFixture.h"
#include "SimBoards.h"
#include "StreamSession.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// What each consumer does with a buffer besides checking it, so that together they are slower than the board
// (whose frame writes a sanitizer slows down too).
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr uint64_t default_frames = 1'000'000'000;  // the time limit decides
constexpr double default_seconds = 4;
constexpr auto hold = std::chrono::milliseconds(2);
#else
constexpr uint64_t default_frames = 50'000;  // per board: 100,000 over both
constexpr double default_seconds = 120;
constexpr auto hold = std::chrono::microseconds(300);
#endif

constexpr int consumers = 3;
constexpr size_t buffers = 6;

template <class T>
T env_value(const char* name, T fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? static_cast<T>(std::strtod(text, nullptr)) : fallback;
}

struct Tally {
    std::mutex mutex;
    std::vector<DeliveredFrame> frames;
    uint64_t wrong = 0;
    std::string first_wrong;
    std::string failure;
};

// Reads the frame ID, filled size and transport type of every buffer of `session` until `done`; returns what
// was wrong, or "".
std::string read_buffer_info(const StreamSession& session, const ExpectedFrames& expected, const std::string& kind,
                             const std::atomic<bool>& done)
{
    std::vector<uint64_t> last_id(session.buffers.size(), 0);
    for (uint64_t sweeps = 0; !done.load() || sweeps == 0; ++sweeps) {
        for (size_t b = 0; b < session.buffers.size(); ++b) {
            const BUFFER_HANDLE buffer = session.buffers[b];
            uint64_t id = 0;
            size_t filled = 0;
            char tltype[64] = {};
            INFO_DATATYPE type = 0;
            size_t size = sizeof tltype;
            const bool ok = frame_check::buffer_info(session.stream, buffer, BUFFER_INFO_FRAMEID, id) &&
                            frame_check::buffer_info(session.stream, buffer, BUFFER_INFO_SIZE_FILLED, filled) &&
                            DSGetBufferInfo(session.stream, buffer, BUFFER_INFO_TLTYPE, &type, tltype, &size) ==
                                GC_ERR_SUCCESS;
            if (!ok || id < last_id[b] || (filled != 0 && filled != expected.frame_bytes()) ||
                (tltype != std::string("Custom") && tltype != kind)) {
                return "buffer " + std::to_string(b) + ": frame " + std::to_string(id) + " after " +
                       std::to_string(last_id[b]) + ", " + std::to_string(filled) + " bytes, \"" + tltype + "\"";
            }
            last_id[b] = id;
        }
        // The reader's pace: it reads between the board's and the consumers' steps, not instead of them.
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return "";
}

}  // namespace

class ExactFramesTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
        ASSERT_EQ(vnsim_configure(vntest::sim_config({vntest::SimBoard(640, 512, "Exact.cam"),
                                                      vntest::SimBoard(641, 480, "ExactCL.cam").kind("CL"),
                                                      vntest::SimBoard(64, 64, "ExactSmall.cam"),
                                                      vntest::SimBoard(64, 64, "ExactBurst.cam").trigger("manual")})
                                      .c_str()), 0) << vnsim_last_error();
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    }

    // `board_buffers`: the board's circular buffers (0: the stream's default); `frames`: the frames to verify.
    void run(uint32_t board, const ExpectedFrames& expected, const std::string& kind, uint64_t board_buffers = 0,
             uint64_t frames = default_frames)
    {
        const uint64_t target = env_value("VNGTL_EXACT_FRAMES", frames);
        const auto limit = std::chrono::duration<double>(env_value("VNGTL_EXACT_SECONDS", default_seconds));

        const DEV_HANDLE device = open_device(board);
        ASSERT_NE(device, nullptr) << last_error();
        VnsimFrameStats before{};
        ASSERT_EQ(vnsim_frame_stats(static_cast<int>(board), &before), 0);
        StreamSession session(device, buffers, expected, true, board_buffers);
        ASSERT_FALSE(HasFailure());

        Tally tally;
        std::atomic<uint64_t> verified{0};
        std::atomic<bool> done{false};
        std::string info_wrong;
        const auto started = std::chrono::steady_clock::now();
        {
            std::jthread reader([&] { info_wrong = read_buffer_info(session, expected, kind, done); });
            std::vector<std::jthread> threads;
            for (int c = 0; c < consumers; ++c) {
                threads.emplace_back([&] {
                    std::vector<DeliveredFrame> mine;
                    while (verified.load() < target && std::chrono::steady_clock::now() - started < limit) {
                        EVENT_NEW_BUFFER_DATA data{};
                        size_t size = sizeof data;
                        if (EventGetData(session.event, &data, &size, 1000) != GC_ERR_SUCCESS) {
                            std::lock_guard guard(tally.mutex);
                            tally.failure = "EventGetData: " + last_error();
                            break;
                        }
                        DeliveredFrame frame;
                        const std::string wrong =
                            check_delivered_frame(session.stream, data.BufferHandle, expected, frame);
                        // Deliberately slow: the consumers must fall behind the board.
                        std::this_thread::sleep_for(hold);
                        if (DSQueueBuffer(session.stream, data.BufferHandle) != GC_ERR_SUCCESS) {
                            std::lock_guard guard(tally.mutex);
                            tally.failure = "DSQueueBuffer: " + last_error();
                            break;
                        }
                        mine.push_back(frame);
                        verified += 1;
                        if (!wrong.empty()) {
                            std::lock_guard guard(tally.mutex);
                            if (tally.wrong++ == 0) {
                                tally.first_wrong = wrong;
                            }
                        }
                    }
                    std::lock_guard guard(tally.mutex);
                    tally.frames.insert(tally.frames.end(), mine.begin(), mine.end());
                });
            }
            threads.clear();
            done = true;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        VnsimFrameStats after{};
        ASSERT_EQ(vnsim_frame_stats(static_cast<int>(board), &after), 0);
        const uint64_t discarded = session.stream_info(STREAM_INFO_CUSTOM_ID);

        EXPECT_EQ(tally.failure, "");
        EXPECT_EQ(info_wrong, "");
        EXPECT_EQ(tally.wrong, 0u) << "first: " << tally.first_wrong;
        EXPECT_EQ(check_time_stamps_rise(tally.frames), "");
        const uint64_t made = after.generated - before.generated;
        std::cout << "[ frames   ] board " << board << ": " << tally.frames.size() << " verified in " << seconds
                  << " s, " << tally.wrong << " wrong; the board made " << made << ", " << discarded
                  << " copies were discarded as overwritten\n";
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
        EXPECT_GE(tally.frames.size(), std::min(target, frames)) << "too few frames verified in the time";
        // What the test is about: the board was faster than the consumers, so frames were lost. (Under a
        // sanitizer, whose instrumentation slows the board as much as the consumers, the runs are for races.)
        EXPECT_GT(made, tally.frames.size() + buffers) << "the consumers kept up with the board";
#endif
        // Every buffer comes back exactly once.
        session.finish();
    }
};

TEST_F(ExactFramesTest, CoaXPressBoardDeliversEachFrameExactlyOrNotAtAll)
{
    run(0, ExpectedFrames{640, 512, 8}, "CXP");
}

TEST_F(ExactFramesTest, CameraLinkBoardDeliversEachFrameExactlyOrNotAtAll)
{
    run(1, ExpectedFrames{641, 480, 8}, "CL");
}

// Small frames microseconds apart on a deep ring: the acquisition thread takes them in bursts, pausing between
// polls, and hands each burst on with one wake-up.
TEST_F(ExactFramesTest, SmallFramesTakenInBurstsArriveExactlyOrNotAtAll)
{
    run(2, ExpectedFrames{64, 64, 8}, "CXP", 64, std::min<uint64_t>(default_frames, 20'000));
}

// Bursts of frames completed at once, then none: the last frames of each burst are delivered too, not left
// waiting for a frame that does not come.
TEST_F(ExactFramesTest, EveryFrameOfABurstIsDeliveredWhenNoMoreFollow)
{
    constexpr int bursts = 20;
    constexpr int burst = 37;  // not a multiple of the frames after which a long burst wakes the copy thread
    const DEV_HANDLE device = open_device(3);
    ASSERT_NE(device, nullptr) << last_error();
    StreamSession session(device, burst + 8, ExpectedFrames{64, 64, 8}, true, 64);
    ASSERT_FALSE(HasFailure());
    for (int b = 0; b < bursts && !HasFailure(); ++b) {
        ASSERT_EQ(vnsim_trigger(3, burst), burst);
        EXPECT_EQ(session.take(burst, -1, 1000), burst) << "burst " << b;
    }
    session.finish();
}
