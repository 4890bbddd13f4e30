// Long-running checks of the producer through its exported functions on the simulated boards:
//   frames  - board 0 runs free as fast as it can while three consumer threads take buffers with
//             EventGetData and give them back with DSQueueBuffer, and a fault thread makes the board stop or
//             abort by itself and pushes driver errors; no buffer may be lost or delivered twice, frame
//             IDs increase for each consumer, and every delivered buffer holds, pixel for pixel, the frame
//             its FRAMEID names (with its size, width, height and time stamps).
//   cycles  - the whole life of a consumer (init, open everything, acquire a few frames, stop, close) many
//             times over, with the process's RSS, heap bytes in use, open descriptors and threads counted
//             before and after.
//   close   - GCCloseLib and DSClose while consumer threads wait in EventGetData: every call returns promptly.
// Usage: soak [--frames N] [--cycles M] [--seed S]; exits non-zero on the first failed check.
#include "FrameCheck.h"
#include "SimBoards.h"
#include "Wait.h"

#include <gentl/GenTL.h>
#include <vnsim.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <future>
#include <malloc.h>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

using namespace GenTL;
using Clock = std::chrono::steady_clock;

namespace {

[[noreturn]] void fail(const std::string& what)
{
    GC_ERROR code = 0;
    char text[1024] = {};
    size_t size = sizeof text;
    if (GCGetLastError(&code, text, &size) != GC_ERR_SUCCESS) {
        text[0] = '\0';
    }
    std::fprintf(stderr, "soak: FAILED: %s (last error: %s)\n", what.c_str(), text);
    std::exit(1);
}

void check(GC_ERROR code, const char* call)
{
    if (code != GC_ERR_SUCCESS) {
        fail(std::string(call) + " answered " + std::to_string(code));
    }
}
#define CHECK(call) check((call), #call)

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// ---- The process's resources -------------------------------------------------------------------------

size_t count_entries(const char* dir)
{
    size_t count = 0;
    if (DIR* d = opendir(dir)) {
        while (const dirent* entry = readdir(d)) {
            if (entry->d_name[0] != '.') {
                ++count;
            }
        }
        closedir(d);
    }
    return count;
}

struct Resources {
    long rss_kib = 0;
    long heap_kib = 0;  // bytes the allocator has handed out and not had back, heap and mapped chunks alike
    size_t fds = 0;
    size_t threads = 0;
};

Resources resources()
{
    Resources now;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            now.rss_kib = std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    const struct mallinfo2 heap = mallinfo2();
    now.heap_kib = static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
    now.fds = count_entries("/proc/self/fd") - 1;  // less the directory stream reading it
    now.threads = count_entries("/proc/self/task");
    return now;
}

void print(const char* when, const Resources& r)
{
    std::printf("  %-5s RSS %ld KiB, heap in use %ld KiB, %zu open fds, %zu threads\n", when, r.rss_kib, r.heap_kib,
                r.fds, r.threads);
}

// ---- An open stream on board 0 ------------------------------------------------------------------------

struct Stream {
    TL_HANDLE system = nullptr;
    IF_HANDLE iface = nullptr;
    DEV_HANDLE device = nullptr;
    DS_HANDLE stream = nullptr;
    EVENT_HANDLE event = nullptr;
    std::vector<BUFFER_HANDLE> buffers;

    void open(size_t buffer_count)
    {
        CHECK(TLOpen(&system));
        uint32_t count = 0;
        CHECK(TLUpdateInterfaceList(system, nullptr, 1000));
        CHECK(TLGetNumInterfaces(system, &count));
        if (count == 0) {
            fail("no interface");
        }
        char id[512] = {};
        size_t size = sizeof id;
        CHECK(TLGetInterfaceID(system, 0, id, &size));
        CHECK(TLOpenInterface(system, id, &iface));
        CHECK(IFUpdateDeviceList(iface, nullptr, 1000));
        CHECK(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device));
        CHECK(DevOpenDataStream(device, "TLDataStream", &stream));
        size_t payload = 0;
        INFO_DATATYPE type = 0;
        size = sizeof payload;
        CHECK(DSGetInfo(stream, STREAM_INFO_PAYLOAD_SIZE, &type, &payload, &size));
        buffers.assign(buffer_count, nullptr);
        for (BUFFER_HANDLE& buffer : buffers) {
            CHECK(DSAllocAndAnnounceBuffer(stream, payload, nullptr, &buffer));
            CHECK(DSQueueBuffer(stream, buffer));
        }
        CHECK(GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event));
    }

    size_t info(STREAM_INFO_CMD command) const
    {
        size_t value = 0;
        INFO_DATATYPE type = 0;
        size_t size = sizeof value;
        CHECK(DSGetInfo(stream, command, &type, &value, &size));
        return value;
    }

    // Stops, flushes and revokes every buffer; the number of buffers that could not be accounted for.
    size_t stop_and_revoke(size_t held_by_consumers)
    {
        CHECK(DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL));
        const size_t accounted = info(STREAM_INFO_NUM_QUEUED) + info(STREAM_INFO_NUM_AWAIT_DELIVERY) + held_by_consumers;
        CHECK(DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD));
        size_t revoked = 0;
        for (const BUFFER_HANDLE buffer : buffers) {
            if (DSRevokeBuffer(stream, buffer, nullptr, nullptr) == GC_ERR_SUCCESS) {
                ++revoked;
            }
        }
        if (revoked != buffers.size() || info(STREAM_INFO_NUM_ANNOUNCED) != 0) {
            fail("revoking left buffers announced");
        }
        CHECK(GCUnregisterEvent(stream, EVENT_NEW_BUFFER));
        return buffers.size() - std::min(accounted, buffers.size());
    }
};

// ---- frames ------------------------------------------------------------------------------------------

constexpr double frame_rate = 20000;

// One CoaXPress board, 1024 x 768 Mono8, whose frames come at frame_rate or from vnsim_trigger.
void configure_board(const char* trigger)
{
    const std::string config = vntest::sim_config({vntest::SimBoard(1024, 768, "Soak.cam").rate(frame_rate).trigger(trigger)});
    if (vnsim_configure(config.c_str()) != 0) {
        fail(std::string("cannot configure the board: ") + vnsim_last_error());
    }
}

bool run_frames(uint64_t frames, uint32_t seed, int fault_kinds)
{
    std::printf("frames: %llu frames, 3 consumers, random faults (seed %u)\n",
                static_cast<unsigned long long>(frames), seed);
    // A fixed high rate rather than "as fast as possible": the unpaced generator takes the board's lock back
    // at once after each frame, and on a loaded machine the host's calls would starve behind it.
    configure_board("free");
    CHECK(GCInitLib());
    Stream s;
    s.open(16);
    std::map<BUFFER_HANDLE, size_t> index;
    for (size_t i = 0; i < s.buffers.size(); ++i) {
        index[s.buffers[i]] = i;
    }
    std::vector<std::atomic<bool>> held(s.buffers.size());
    std::atomic<uint64_t> delivered{0};
    std::atomic<uint64_t> duplicates{0};
    std::atomic<uint64_t> out_of_order{0};
    std::atomic<uint64_t> wrong{0};
    std::atomic<uint64_t> timeouts{0};
    // Board 0's default camera file.
    const ExpectedFrames expected{1024, 768, 8};
    if (s.info(STREAM_INFO_PAYLOAD_SIZE) != expected.frame_bytes()) {
        fail("board 0 does not make 1024x768 Mono8 frames");
    }
    std::atomic<bool> done{false};
    std::mutex seen_lock;
    std::unordered_set<uint64_t> seen;
    seen.reserve(frames + 64);

    const auto start = Clock::now();
    CHECK(DSStartAcquisition(s.stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE));
    auto consumer = [&] {
        uint64_t last_id = 0;
        bool first = true;
        while (!done.load()) {
            EVENT_NEW_BUFFER_DATA data{};
            size_t size = sizeof data;
            const GC_ERROR code = EventGetData(s.event, &data, &size, 1000);
            if (code == GC_ERR_TIMEOUT) {
                ++timeouts;
                continue;
            }
            if (code == GC_ERR_ABORT) {
                break;
            }
            check(code, "EventGetData");
            const auto found = index.find(data.BufferHandle);
            if (found == index.end()) {
                fail("EventGetData delivered a buffer that was never announced");
            }
            if (held[found->second].exchange(true)) {
                ++duplicates;
            }
            DeliveredFrame frame;
            const std::string why = check_delivered_frame(s.stream, data.BufferHandle, expected, frame);
            if (!why.empty() && ++wrong <= 5) {
                std::printf("  %s\n", why.c_str());
            }
            const uint64_t id = frame.id;
            if (!first && id <= last_id) {
                if (++out_of_order <= 5) {
                    std::printf("  frame %llu after %llu in one consumer\n", static_cast<unsigned long long>(id),
                                static_cast<unsigned long long>(last_id));
                }
            }
            first = false;
            last_id = id;
            {
                const std::lock_guard<std::mutex> lock(seen_lock);
                if (!seen.insert(id).second) {
                    ++duplicates;
                }
            }
            held[found->second] = false;
            check(DSQueueBuffer(s.stream, data.BufferHandle), "DSQueueBuffer");
            if (++delivered >= frames) {
                done = true;
            }
        }
    };
    std::atomic<uint64_t> faults{0};
    std::thread faulter([&] {
        std::mt19937 random(seed);
        while (!done.load()) {
            // The pause is the point: faults come at random moments of the run.
            std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 20));
            if (fault_kinds == 0) {
                continue;
            }
            switch (random() % uint32_t(fault_kinds)) {
            case 0:
                vnsim_fault_stop_after(0, static_cast<uint32_t>(1 + random() % 200), 0);
                break;
            case 1:
                vnsim_fault_stop_after(0, static_cast<uint32_t>(1 + random() % 200), 1);
                break;
            case 2:
                vnsim_push_vb_error(0, 220);
                vnsim_push_vn_error(0, 3006);
                break;
            default:
                vnsim_fault_next_fails(0, static_cast<int>(random() % 3));
                break;
            }
            ++faults;
        }
    });
    std::vector<std::thread> consumers;
    for (int i = 0; i < 3; ++i) {
        consumers.emplace_back(consumer);
    }
    // A stream that stops delivering for five seconds is a failure of its own; the run ends there.
    bool stalled = false;
    uint64_t progress = 0;
    auto last_progress = Clock::now();
    while (!done.load()) {
        // The progress watch's interval.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (delivered.load() != progress) {
            progress = delivered.load();
            last_progress = Clock::now();
        } else if (seconds_since(last_progress) > 5.0) {
            VnsimFrameStats stats{};
            vnsim_frame_stats(0, &stats);
            uint8_t grabbing = 0;
            INFO_DATATYPE type = 0;
            size_t size = sizeof grabbing;
            DSGetInfo(s.stream, STREAM_INFO_IS_GRABBING, &type, &grabbing, &size);
            std::printf("  STALLED after %llu frames: stream grabbing %zu, board running %u, generated %llu, "
                        "queued %zu, awaiting delivery %zu\n", 
                        static_cast<unsigned long long>(progress), size_t{grabbing},
                        unsigned(stats.running), static_cast<unsigned long long>(stats.generated),
                        s.info(STREAM_INFO_NUM_QUEUED), s.info(STREAM_INFO_NUM_AWAIT_DELIVERY));
            stalled = true;
            done = true;
        }
    }
    for (std::thread& t : consumers) {
        t.join();
    }
    faulter.join();
    const double seconds = seconds_since(start);
    const size_t losses = s.stop_and_revoke(0);
    CHECK(GCCloseLib());
    std::printf("  frames %llu (pixels checked), faults %llu, losses %zu, duplicates %llu, out of order %llu, "
                "wrong %llu, time-outs %llu, %.1f s (%.0f frames/s)\n",
                static_cast<unsigned long long>(delivered.load()), static_cast<unsigned long long>(faults.load()),
                losses, static_cast<unsigned long long>(duplicates.load()),
                static_cast<unsigned long long>(out_of_order.load()), static_cast<unsigned long long>(wrong.load()),
                static_cast<unsigned long long>(timeouts.load()), seconds, double(delivered.load()) / seconds);
    return !stalled && losses == 0 && duplicates == 0 && out_of_order == 0 && wrong == 0;
}

// ---- cycles ------------------------------------------------------------------------------------------

void one_cycle()
{
    CHECK(GCInitLib());
    Stream s;
    s.open(3);
    CHECK(DSStartAcquisition(s.stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE));
    for (int i = 0; i < 2; ++i) {
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        CHECK(EventGetData(s.event, &data, &size, 5000));
        CHECK(DSQueueBuffer(s.stream, data.BufferHandle));
    }
    if (s.stop_and_revoke(0) != 0) {
        fail("a buffer was lost in a cycle");
    }
    CHECK(DSClose(s.stream));
    CHECK(DevClose(s.device));
    CHECK(IFClose(s.iface));
    CHECK(TLClose(s.system));
    CHECK(GCCloseLib());
}

// Cycles run before the counts are taken, and the growth allowed for each count.
constexpr uint64_t warm_up_cycles = 10;
constexpr long heap_noise_kib = 256;
constexpr long rss_noise_kib = 8 * 1024;

bool run_cycles(uint64_t cycles)
{
    std::printf("cycles: %llu of init, open, acquire 2 frames, stop, close\n", static_cast<unsigned long long>(cycles));
    if (vnsim_set_trigger_mode(0, VNSIM_TRIGGER_FREE) != 0 || vnsim_set_rate(0, frame_rate) != 0) {
        fail("cannot set board 0 running free");
    }
    vnsim_reset();  // no fault left armed by the frames
    // The simulated driver keeps the text of its debug output (up to a megabyte) for the tests to read; it is
    // the board's, not the producer's, so it is emptied after every cycle and does not count as growth.
    auto cycle = [] {
        one_cycle();
        vnsim_debug_clear();
    };
    // The first cycles bring in what is loaded once: the library's statics, and the allocator's own state.
    // Once the first large buffers (mapped on their own) are freed, glibc raises its mmap threshold to their
    // size and takes the next ones from the heap, whose freed top it then keeps: about 9 MiB more RSS by the
    // third cycle, in use by no one, and no more after that.
    for (uint64_t i = 0; i < std::min<uint64_t>(warm_up_cycles, cycles); ++i) {
        cycle();
    }
    const Resources before = resources();
    const auto start = Clock::now();
    for (uint64_t i = warm_up_cycles; i < cycles; ++i) {
        cycle();
    }
    const Resources after = resources();
    print("start", before);
    print("end", after);
    const uint64_t measured = cycles - std::min(warm_up_cycles, cycles);
    std::printf("  %llu cycles after %llu to warm up, %.1f s (%.1f cycles/s)\n",
                static_cast<unsigned long long>(measured), static_cast<unsigned long long>(cycles - measured),
                seconds_since(start), double(measured) / seconds_since(start));
    // The heap bytes in use are exact: a table that gains an entry each cycle shows there. RSS also counts
    // freed pages the allocator keeps, so it is allowed a few MiB; a buffer lost each cycle would not hide.
    const long rss_growth = after.rss_kib - before.rss_kib;
    const long heap_growth = after.heap_kib - before.heap_kib;
    const long fd_growth = long(after.fds) - long(before.fds);
    const long thread_growth = long(after.threads) - long(before.threads);
    std::string failed;
    const auto fails_on = [&failed](bool grew, const char* what) {
        if (grew) {
            failed += failed.empty() ? what : std::string(", ") + what;
        }
    };
    fails_on(heap_growth >= heap_noise_kib, "heap in use");
    fails_on(rss_growth >= rss_noise_kib, "RSS");
    fails_on(fd_growth > 0, "open fds");
    fails_on(thread_growth > 0, "threads");
    std::printf("  growth: RSS %+ld KiB, heap in use %+ld KiB, fds %+ld, threads %+ld%s%s\n", rss_growth, heap_growth,
                fd_growth, thread_growth, failed.empty() ? "" : "; FAILED on ", failed.c_str());
    return failed.empty();
}

// ---- close -------------------------------------------------------------------------------------------

// Three threads wait in EventGetData on a stream that delivers nothing (concurrent waits on one event are
// served one at a time: one waits for a buffer, the others for the event). `close` runs against them;
// each waiter must then return with a code within `bound` seconds of the previous one.
bool close_while_waiting(const char* what, const std::function<GC_ERROR(Stream&, std::vector<std::future<GC_ERROR>>&)>& close,
                         GC_ERROR expected)
{
    configure_board("manual");
    CHECK(GCInitLib());
    Stream s;
    s.open(2);
    CHECK(DSStartAcquisition(s.stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE));
    std::array<std::atomic<pid_t>, 3> tids{};
    std::vector<std::future<GC_ERROR>> waiters;
    for (size_t i = 0; i < tids.size(); ++i) {
        waiters.push_back(std::async(std::launch::async, [&, i] {
            EVENT_NEW_BUFFER_DATA data{};
            size_t size = sizeof data;
            tids[i] = vntest::thread_id();
            return EventGetData(s.event, &data, &size, GENTL_INFINITE);
        }));
    }
    for (const std::atomic<pid_t>& tid : tids) {
        if (!vntest::wait_blocked(tid)) {
            fail(std::string(what) + ": a consumer never waited");
        }
    }
    const auto start = Clock::now();
    const GC_ERROR code = close(s, waiters);
    const double took = seconds_since(start);
    bool ok = code == expected;
    std::printf("  %s with 3 threads in EventGetData: answered %d, all returned within %.3f s, with:", what, code,
                took);
    for (auto& waiter : waiters) {
        if (waiter.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            std::printf(" (one still waiting)\n");
            fail(std::string(what) + " left a waiter hanging");
        }
        const GC_ERROR returned = waiter.get();
        std::printf(" %d", returned);
        ok = ok && returned != GC_ERR_SUCCESS;
    }
    std::printf("\n");
    const GC_ERROR closed = GCCloseLib();
    if (closed != GC_ERR_SUCCESS) {
        std::printf("  GCCloseLib afterwards answered %d\n", closed);
        ok = false;
    }
    return ok;
}

// Waits until `count` of the waiters have returned, at most `seconds`; false when they did not.
bool returned(std::vector<std::future<GC_ERROR>>& waiters, size_t count, double seconds)
{
    return vntest::wait_until(
        [&] {
            return static_cast<size_t>(std::count_if(waiters.begin(), waiters.end(), [](auto& waiter) {
                       return waiter.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
                   })) >= count;
        },
        std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000)));
}

bool run_close()
{
    std::printf("close: closing while consumers wait\n");
    // The library refuses to close under waiting threads and leaves them waiting; each EventKill then ends
    // one wait, and the library closes.
    bool ok = close_while_waiting("GCCloseLib", [](Stream& s, std::vector<std::future<GC_ERROR>>& waiters) {
        const GC_ERROR refused = GCCloseLib();
        if (returned(waiters, 1, 0.2)) {
            fail("GCCloseLib ended a wait it refused to close under");
        }
        for (size_t killed = 1; killed <= waiters.size(); ++killed) {
            CHECK(EventKill(s.event));
            if (!returned(waiters, killed, 2.0)) {
                fail("EventKill did not end a wait");
            }
        }
        return refused;
    }, GC_ERR_RESOURCE_IN_USE);
    // Closing the stream unregisters its event, which ends every wait on it.
    ok = close_while_waiting("DSClose", [](Stream& s, std::vector<std::future<GC_ERROR>>& waiters) {
        const GC_ERROR code = DSClose(s.stream);
        if (!returned(waiters, waiters.size(), 5.0)) {
            fail("DSClose left a waiter hanging");
        }
        return code;
    }, GC_ERR_SUCCESS) && ok;
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    uint64_t frames = 1000000;
    uint64_t cycles = 10000;
    uint32_t seed = 1;
    int fault_kinds = 4;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 < argc && arg == "--frames") {
            frames = std::strtoull(argv[++i], nullptr, 10);
        } else if (i + 1 < argc && arg == "--cycles") {
            cycles = std::strtoull(argv[++i], nullptr, 10);
        } else if (i + 1 < argc && arg == "--fault-kinds") {
            fault_kinds = std::atoi(argv[++i]);
        } else if (i + 1 < argc && arg == "--seed") {
            seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: soak [--frames N] [--cycles M] [--seed S] [--fault-kinds 0..4]\n");
            return 2;
        }
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bool ok = true;
    if (frames > 0) {
        ok = run_frames(frames, seed, fault_kinds) && ok;
    }
    if (cycles > 0) {
        ok = run_cycles(cycles) && ok;
    }
    ok = run_close() && ok;
    std::printf("soak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
