// Races that the library closes: callers on several threads reading one computed register of a module,
// writes of the stream's region of interest racing buffer announcements, and GCGetInfo running while the
// first TLOpen sets up the system module's port. Each case shows its fault surely only under ThreadSanitizer
// (scripts/build.sh tsan): there the unsynchronised version is reported as a data race.
#include "StreamFixture.h"
#include "modules/RegisterAddresses.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace ds = vngtl::reg::datastream;

// Runs `work(thread_index)` on `count` threads at once and joins them.
template <class Work>
void on_threads(int count, Work&& work)
{
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() < count) {
                std::this_thread::yield();
            }
            work(t);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

}  // namespace

using ConcurrentRegisterAccessTest = StreamTest;

TEST_F(ConcurrentRegisterAccessTest, ReadersOfComputedRegistersAndAWriterOfAnActingOneAgree)
{
    // The maximum width is computed into the register's bytes by a hook before every read; Width is read
    // through a hook (the region of interest) and written through one (it acts on the board). Two threads
    // read both while a third writes Width.
    std::atomic<int> failed{0};
    on_threads(3, [&](int t) {
        for (int i = 0; i < 1000; ++i) {
            uint32_t value = 0;
            if (t == 0) {
                failed += write_u32(stream, ds::Reg_Width, i % 2 == 0 ? 512u : width) != GC_ERR_SUCCESS;
                continue;
            }
            failed += read_u32(stream, ds::Reg_WidthMax, value) != GC_ERR_SUCCESS || value != width;
            failed += read_u32(stream, ds::Reg_Width, value) != GC_ERR_SUCCESS || (value != 512u && value != width);
        }
    });
    EXPECT_EQ(failed.load(), 0);
}

TEST_F(ConcurrentRegisterAccessTest, RegionWritesRacingAnnouncementsLeaveTheBoardAsLastWritten)
{
    // Each announcement configures the board with the region its registers hold, while another thread
    // rewrites the region. An announcement that read a region the writer has since replaced, and applied
    // it after the writer's own reconfiguration, leaves the board on a region no register asks for.
    const uint32_t heights[2] = {200u, 400u};
    const uint32_t widths[2] = {320u, 640u};
    // Each write and each announcement reconfigures the board, which ThreadSanitizer makes slow.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    constexpr int rounds = 40;
#else
    constexpr int rounds = 200;
#endif
    BUFFER_HANDLE kept = nullptr;
    ASSERT_EQ(DSAllocAndAnnounceBuffer(stream, size_t{width} * height, nullptr, &kept), GC_ERR_SUCCESS);
    // Each thread keeps its first failure: the call, its code and the record it left.
    std::string failures[2];
    const auto check = [&](int t, int round, const char* call, GC_ERROR code) {
        if (code != GC_ERR_SUCCESS && failures[t].empty()) {
            failures[t] = std::string(call) + " in round " + std::to_string(round) + ": " + std::to_string(code) +
                          " " + last_error();
        }
    };
    on_threads(2, [&](int t) {
        for (int i = 0; i < rounds; ++i) {
            if (t == 0) {
                check(t, i, "width write", write_u32(stream, ds::Reg_Width, widths[i % 2]));
                check(t, i, "height write", write_u32(stream, ds::Reg_Height, heights[i % 2]));
            } else {
                BUFFER_HANDLE buffer = nullptr;
                check(t, i, "announcement", DSAllocAndAnnounceBuffer(stream, 4096, nullptr, &buffer));
                check(t, i, "revocation", DSRevokeBuffer(stream, buffer, nullptr, nullptr));
            }
        }
    });
    EXPECT_EQ(failures[0], "");
    EXPECT_EQ(failures[1], "");
    // The registers read back the board's region: the one written last.
    EXPECT_EQ(u32(stream, ds::Reg_Width), widths[(rounds - 1) % 2]);
    EXPECT_EQ(u32(stream, ds::Reg_Height), heights[(rounds - 1) % 2]);
    EXPECT_EQ(stream_info<size_t>(STREAM_INFO_PAYLOAD_SIZE),
              size_t{widths[(rounds - 1) % 2]} * heights[(rounds - 1) % 2]);
}

using SystemModuleSetUpRaceTest = GenTLTest;

TEST_F(SystemModuleSetUpRaceTest, GCGetInfoAlongsideTheFirstTLOpen)
{
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
        std::atomic<bool> opened{false};
        std::atomic<int> failures{0};
        TL_HANDLE system = nullptr;
        on_threads(2, [&](int t) {
            if (t == 0) {
                failures += TLOpen(&system) != GC_ERR_SUCCESS;
                opened = true;
                return;
            }
            // Queries for values that exist before and after the set-up, until the open has finished.
            do {
                for (const TL_INFO_CMD command : {TL_INFO_ID, TL_INFO_VENDOR, TL_INFO_TLTYPE, TL_INFO_CHAR_ENCODING}) {
                    INFO_DATATYPE type = 0;
                    char text[256] = {};
                    size_t size = sizeof text;
                    failures += GCGetInfo(command, &type, text, &size) != GC_ERR_SUCCESS;
                }
            } while (!opened.load());
        });
        EXPECT_EQ(failures.load(), 0) << "round " << round;
        ASSERT_NE(system, nullptr);
        EXPECT_EQ(TLClose(system), GC_ERR_SUCCESS);
        ASSERT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
    }
}
