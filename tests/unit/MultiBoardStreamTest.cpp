// Four boards streaming at once through the exported functions, each stream received by a consumer thread of
// its own: at a modest rate no stream loses a frame, and every frame (large enough to be copied in parts)
// arrives intact and in order.
#include "ModuleFixture.h"
#include "SimBoards.h"

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t boards = 4;
constexpr uint32_t width = 1024;
constexpr uint32_t height = 1024;  // 1 MiB frames: split by the copiers (two threads each, see SetUp)
constexpr uint64_t frames_per_stream = 12;
constexpr size_t buffers_per_stream = 6;
// The boards' rings hold three seconds of frames, so that a host slowed by a sanitizer still keeps up.
constexpr double frame_rate = 10;
constexpr uint64_t board_buffers = 32;
constexpr uint64_t grabber_buffer_count_desired = 0x0508;

struct Received {
    std::vector<uint64_t> ids;
    uint64_t damaged = 0;
    uint64_t failures = 0;
    std::string first_failure;
};

}  // namespace

class MultiBoardStreamTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        // Each stream's copier splits its frames across two threads, whatever the machine's default.
        setenv("VNGTL_COPY_THREADS", "2", 1);
        ASSERT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
        ASSERT_EQ(vnsim_configure(vntest::sim_config(vntest::SimBoard(width, height, "Four.cam").rate(frame_rate), boards).c_str()), 0) << vnsim_last_error();
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    }
    void TearDown() override
    {
        unsetenv("VNGTL_COPY_THREADS");
        ModuleTest::TearDown();
    }
};

TEST_F(MultiBoardStreamTest, FourStreamsAtOnceLoseNothingAndDeliverIntactFramesInOrder)
{
    const TL_HANDLE system = open_system();
    ASSERT_NE(system, nullptr);
    uint32_t count = 0;
    ASSERT_EQ(TLGetNumInterfaces(system, &count), GC_ERR_SUCCESS);
    ASSERT_EQ(count, boards);
    std::vector<DS_HANDLE> streams(boards, nullptr);
    std::vector<EVENT_HANDLE> events(boards, nullptr);
    for (uint32_t i = 0; i < boards; ++i) {
        const IF_HANDLE iface = open_interface(system, i);
        ASSERT_NE(iface, nullptr);
        DEV_HANDLE device = nullptr;
        ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS) << last_error();
        ASSERT_EQ(DevOpenDataStream(device, "TLDataStream", &streams[i]), GC_ERR_SUCCESS) << last_error();
        uint64_t desired = board_buffers;
        size_t length = sizeof desired;
        ASSERT_EQ(GCWritePort(streams[i], grabber_buffer_count_desired, &desired, &length), GC_ERR_SUCCESS)
            << last_error();
        for (size_t b = 0; b < buffers_per_stream; ++b) {
            BUFFER_HANDLE buffer = nullptr;
            ASSERT_EQ(DSAllocAndAnnounceBuffer(streams[i], size_t{width} * height, nullptr, &buffer), GC_ERR_SUCCESS)
                << last_error();
            ASSERT_EQ(DSQueueBuffer(streams[i], buffer), GC_ERR_SUCCESS);
        }
        ASSERT_EQ(GCRegisterEvent(streams[i], EVENT_NEW_BUFFER, &events[i]), GC_ERR_SUCCESS);
    }

    std::vector<Received> received(boards);
    {
        std::vector<std::jthread> consumers;
        for (uint32_t i = 0; i < boards; ++i) {
            consumers.emplace_back([&, i] {
                Received& mine = received[i];
                const auto fail = [&mine](const std::string& why) {
                    if (mine.failures++ == 0) {
                        mine.first_failure = why;
                    }
                };
                if (DSStartAcquisition(streams[i], ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE) != GC_ERR_SUCCESS) {
                    fail("start: " + last_error());
                    return;
                }
                while (mine.ids.size() < frames_per_stream && mine.failures == 0) {
                    EVENT_NEW_BUFFER_DATA data{};
                    size_t size = sizeof data;
                    if (EventGetData(events[i], &data, &size, 10000) != GC_ERR_SUCCESS) {
                        fail("EventGetData: " + last_error());
                        break;
                    }
                    uint64_t id = 0;
                    void* base = nullptr;
                    size_t filled = 0;
                    INFO_DATATYPE type = 0;
                    size = sizeof id;
                    DSGetBufferInfo(streams[i], data.BufferHandle, BUFFER_INFO_FRAMEID, &type, &id, &size);
                    size = sizeof base;
                    DSGetBufferInfo(streams[i], data.BufferHandle, BUFFER_INFO_BASE, &type, &base, &size);
                    size = sizeof filled;
                    DSGetBufferInfo(streams[i], data.BufferHandle, BUFFER_INFO_SIZE_FILLED, &type, &filled, &size);
                    mine.ids.push_back(id);
                    // The frame holds the pattern of its own counter, which is its frame ID.
                    if (filled != size_t{width} * height || vnsim_frame_stamp(base, filled) != id ||
                        vnsim_check_frame(base, filled, width, height, 8, id) != 0) {
                        ++mine.damaged;
                    }
                    DSQueueBuffer(streams[i], data.BufferHandle);
                }
                DSStopAcquisition(streams[i], ACQ_STOP_FLAGS_DEFAULT);
            });
        }
    }

    for (uint32_t i = 0; i < boards; ++i) {
        SCOPED_TRACE("board " + std::to_string(i));
        EXPECT_EQ(received[i].failures, 0u) << received[i].first_failure;
        ASSERT_EQ(received[i].ids.size(), frames_per_stream);
        EXPECT_EQ(received[i].damaged, 0u);
        for (size_t k = 1; k < received[i].ids.size(); ++k) {
            EXPECT_EQ(received[i].ids[k], received[i].ids[k - 1] + 1) << "frame " << k << ": frames lost";
        }
    }
}
