// A buffer delivered as frame N holds frame N, whole, or is not delivered: each board runs free at the
// simulator's highest rate while three consumer threads, slower than the board, take buffers from one stream
// with EventGetData, check every pixel of each against the board's pattern for its FRAMEID (and its size,
// width, height and time stamps) and queue it again. The board then comes round to a buffer whose frame is
// still being copied, so the copy must be found out and dropped.
//
// VNGTL_EXACT_FRAMES sets the frames to verify per board, VNGTL_EXACT_SECONDS the time limit per board.
#include "FrameCheck.h"
#include "ModuleFixture.h"
#include "SimBoards.h"

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

uint64_t env_number(const char* name, uint64_t fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

double env_seconds(const char* name, double fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtod(text, nullptr) : fallback;
}

struct Tally {
    std::mutex mutex;
    std::vector<DeliveredFrame> frames;
    uint64_t wrong = 0;
    std::string first_wrong;
    std::string failure;
};

}  // namespace

class ExactFramesTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
        ASSERT_EQ(vnsim_configure(vntest::sim_config({vntest::SimBoard(640, 512, "Exact.cam"),
                                                      vntest::SimBoard(641, 480, "ExactCL.cam").kind("CL")})
                                      .c_str()), 0) << vnsim_last_error();
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    }

    void run(uint32_t board, const ExpectedFrames& expected)
    {
        const uint64_t target = env_number("VNGTL_EXACT_FRAMES", default_frames);
        const auto limit = std::chrono::duration<double>(env_seconds("VNGTL_EXACT_SECONDS", default_seconds));

        const TL_HANDLE system = open_system();
        ASSERT_NE(system, nullptr);
        const IF_HANDLE iface = open_interface(system, board);
        ASSERT_NE(iface, nullptr);
        DEV_HANDLE device = nullptr;
        ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS) << last_error();
        DS_HANDLE stream = nullptr;
        ASSERT_EQ(DevOpenDataStream(device, "TLDataStream", &stream), GC_ERR_SUCCESS) << last_error();
        std::vector<BUFFER_HANDLE> announced;
        for (size_t b = 0; b < buffers; ++b) {
            BUFFER_HANDLE buffer = nullptr;
            ASSERT_EQ(DSAllocAndAnnounceBuffer(stream, expected.frame_bytes(), nullptr, &buffer), GC_ERR_SUCCESS)
                << last_error();
            ASSERT_EQ(DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS);
            announced.push_back(buffer);
        }
        EVENT_HANDLE event = nullptr;
        ASSERT_EQ(GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event), GC_ERR_SUCCESS);
        VnsimFrameStats before{};
        ASSERT_EQ(vnsim_frame_stats(static_cast<int>(board), &before), 0);
        ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS) << last_error();

        Tally tally;
        std::atomic<uint64_t> verified{0};
        const auto started = std::chrono::steady_clock::now();
        {
            std::vector<std::jthread> threads;
            for (int c = 0; c < consumers; ++c) {
                threads.emplace_back([&] {
                    std::vector<DeliveredFrame> mine;
                    while (verified.load() < target && std::chrono::steady_clock::now() - started < limit) {
                        EVENT_NEW_BUFFER_DATA data{};
                        size_t size = sizeof data;
                        if (EventGetData(event, &data, &size, 1000) != GC_ERR_SUCCESS) {
                            std::lock_guard guard(tally.mutex);
                            tally.failure = "EventGetData: " + last_error();
                            break;
                        }
                        DeliveredFrame frame;
                        const std::string wrong = check_delivered_frame(stream, data.BufferHandle, expected, frame);
                        // Deliberately slow: the consumers must fall behind the board.
                        std::this_thread::sleep_for(hold);
                        if (DSQueueBuffer(stream, data.BufferHandle) != GC_ERR_SUCCESS) {
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
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_EQ(DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS) << last_error();
        VnsimFrameStats after{};
        ASSERT_EQ(vnsim_frame_stats(static_cast<int>(board), &after), 0);
        uint64_t discarded = 0;
        {
            INFO_DATATYPE type = 0;
            size_t size = sizeof discarded;
            EXPECT_EQ(DSGetInfo(stream, STREAM_INFO_CUSTOM_ID, &type, &discarded, &size), GC_ERR_SUCCESS);
        }

        EXPECT_EQ(tally.failure, "");
        EXPECT_EQ(tally.wrong, 0u) << "first: " << tally.first_wrong;
        EXPECT_EQ(check_time_stamps_rise(tally.frames), "");
        const uint64_t made = after.generated - before.generated;
        std::cout << "[ frames   ] board " << board << ": " << tally.frames.size() << " verified in " << seconds
                  << " s, " << tally.wrong << " wrong; the board made " << made << ", " << discarded
                  << " copies were discarded as overwritten\n";
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
        EXPECT_GE(tally.frames.size(), std::min(target, default_frames)) << "too few frames verified in the time";
        // What the test is about: the board was faster than the consumers, so frames were lost. (Under a
        // sanitizer, whose instrumentation slows the board as much as the consumers, the runs are for races.)
        EXPECT_GT(made, tally.frames.size() + buffers) << "the consumers kept up with the board";
#endif

        // Every buffer comes back exactly once.
        EXPECT_EQ(DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS);
        for (BUFFER_HANDLE buffer : announced) {
            EXPECT_EQ(DSRevokeBuffer(stream, buffer, nullptr, nullptr), GC_ERR_SUCCESS) << last_error();
        }
    }
};

TEST_F(ExactFramesTest, CoaXPressBoardDeliversEachFrameExactlyOrNotAtAll)
{
    run(0, ExpectedFrames{640, 512, 8});
}

TEST_F(ExactFramesTest, CameraLinkBoardDeliversEachFrameExactlyOrNotAtAll)
{
    run(1, ExpectedFrames{641, 480, 8});
}

// Buffer info may be asked for at any time from any thread, also about a buffer that is queued or being
// filled: another thread reads every announced buffer's values while the consumer takes and queues them.
// A buffer's frame ID never goes back, and its size and transport type are those of no fill or of a whole one.
TEST_F(ExactFramesTest, BufferInfoIsReadableFromAnyThreadWhileBuffersAreFilledAndQueued)
{
    const ExpectedFrames expected{640, 512, 8};
    const TL_HANDLE system = open_system();
    ASSERT_NE(system, nullptr);
    const IF_HANDLE iface = open_interface(system, 0);
    ASSERT_NE(iface, nullptr);
    DEV_HANDLE device = nullptr;
    ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS) << last_error();
    DS_HANDLE stream = nullptr;
    ASSERT_EQ(DevOpenDataStream(device, "TLDataStream", &stream), GC_ERR_SUCCESS) << last_error();
    std::vector<BUFFER_HANDLE> announced(buffers, nullptr);
    for (BUFFER_HANDLE& buffer : announced) {
        ASSERT_EQ(DSAllocAndAnnounceBuffer(stream, expected.frame_bytes(), nullptr, &buffer), GC_ERR_SUCCESS);
        ASSERT_EQ(DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS);
    }
    EVENT_HANDLE event = nullptr;
    ASSERT_EQ(GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event), GC_ERR_SUCCESS);
    ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS) << last_error();

    std::atomic<bool> done{false};
    std::atomic<uint64_t> taken{0};
    std::atomic<bool> failed{false};
    std::string wrong;  // written by the reader only, read after it has been joined
    std::jthread reader([&](std::stop_token stop) {
        std::vector<uint64_t> last_id(announced.size(), 0);
        uint64_t reads = 0;
        while (((!done.load() && !stop.stop_requested()) || reads == 0) && !failed.load()) {
            for (size_t b = 0; b < announced.size() && !failed.load(); ++b, ++reads) {
                uint64_t id = 0;
                size_t filled = 0;
                char tltype[64] = {};
                INFO_DATATYPE type = 0;
                size_t size = sizeof id;
                const bool ok = DSGetBufferInfo(stream, announced[b], BUFFER_INFO_FRAMEID, &type, &id, &size) == GC_ERR_SUCCESS &&
                                (size = sizeof filled,
                                 DSGetBufferInfo(stream, announced[b], BUFFER_INFO_SIZE_FILLED, &type, &filled, &size) ==
                                     GC_ERR_SUCCESS) &&
                                (size = sizeof tltype,
                                 DSGetBufferInfo(stream, announced[b], BUFFER_INFO_TLTYPE, &type, tltype, &size) ==
                                     GC_ERR_SUCCESS);
                const std::string kind(tltype);
                if (!ok || id < last_id[b] || (filled != 0 && filled != expected.frame_bytes()) ||
                    (kind != "Custom" && kind != "CXP")) {
                    wrong = "buffer " + std::to_string(b) + ": frame " + std::to_string(id) + " after " +
                            std::to_string(last_id[b]) + ", " + std::to_string(filled) + " bytes, \"" + kind + "\"";
                    failed = true;
                }
                last_id[b] = id;
            }
        }
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < end && !failed.load()) {
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        ASSERT_EQ(EventGetData(event, &data, &size, 1000), GC_ERR_SUCCESS) << last_error();
        ASSERT_EQ(DSQueueBuffer(stream, data.BufferHandle), GC_ERR_SUCCESS);
        taken += 1;
    }
    done = true;
    reader.join();
    EXPECT_EQ(wrong, "");
    EXPECT_GT(taken.load(), 0u);
    EXPECT_EQ(DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    EXPECT_EQ(DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS);
    for (BUFFER_HANDLE buffer : announced) {
        EXPECT_EQ(DSRevokeBuffer(stream, buffer, nullptr, nullptr), GC_ERR_SUCCESS) << last_error();
    }
}
