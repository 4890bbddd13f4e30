// Four boards streaming at once through the exported functions, each stream received by a consumer thread of
// its own: at a modest rate no stream loses a frame, and every frame (large enough to be copied in parts)
// arrives intact and in order.
#include "ModuleFixture.h"
#include "SimBoards.h"
#include "StreamSession.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t boards = 4;
constexpr uint32_t width = 1024;
constexpr uint32_t height = 1024;  // 1 MiB frames: split by the copiers (two threads each, see SetUp)
constexpr int frames_per_stream = 12;
constexpr size_t buffers_per_stream = 6;
// The boards' rings hold three seconds of frames, so that a host slowed by a sanitizer still keeps up.
constexpr double frame_rate = 10;
constexpr uint64_t board_buffers = 32;

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
    uint32_t count = 0;
    ASSERT_EQ(TLGetNumInterfaces(system, &count), GC_ERR_SUCCESS);
    ASSERT_EQ(count, boards);
    // Each session checks every frame's pixels against its frame ID, and that the IDs only increase.
    std::vector<std::unique_ptr<StreamSession>> sessions;
    for (uint32_t i = 0; i < boards; ++i) {
        DEV_HANDLE device = nullptr;
        ASSERT_EQ(IFOpenDevice(open_interface(system, i), "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS)
            << last_error();
        sessions.push_back(std::make_unique<StreamSession>(device, buffers_per_stream, ExpectedFrames{width, height},
                                                           true, board_buffers));
    }
    std::vector<uint64_t> first_ids(boards, 0);
    {
        std::vector<std::jthread> consumers;
        for (uint32_t i = 0; i < boards; ++i) {
            consumers.emplace_back([&, i] {
                if (sessions[i]->take(1, -1, 10000) == 1) {
                    first_ids[i] = sessions[i]->last_id.value_or(0);
                    sessions[i]->take(frames_per_stream - 1, -1, 10000);
                }
            });
        }
    }
    for (uint32_t i = 0; i < boards; ++i) {
        SCOPED_TRACE("board " + std::to_string(i));
        // Rising IDs that span exactly the frames taken: none was lost.
        EXPECT_EQ(sessions[i]->last_id.value_or(0) - first_ids[i], uint64_t{frames_per_stream - 1}) << "frames lost";
        sessions[i]->finish();
    }
}
