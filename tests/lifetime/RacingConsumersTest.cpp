// Racing consumers: two consumers (checking every delivered frame's pixels), a controller (starts, stops,
// flushes, queues, revokes, EventKill), a port reader/writer and a closer (DSClose, DevClose, IFClose,
// TLUpdateInterfaceList, GCCloseLib) call legal but racy sequences on one tree of shared handles while board
// 0 runs free faster than the consumers take frames; a watchdog fails any call that outlives its time-out
// plus a margin. docs/reliability.md ("Racing consumers") has the details and the environment variables; the
// comments at `still_held` and in `consumer` say when a pixel mismatch counts.
#include "FrameCheck.h"
#include "GenTLFixture.h"
#include "Wait.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using frame_check::buffer_info;

int env_int(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

bool is_gentl_code(GC_ERROR code)
{
    return code == GC_ERR_SUCCESS || (code <= GC_ERR_ERROR && code >= GC_ERR_OUT_OF_MEMORY) || code < -9999;
}

// What one thread is calling now, for the watchdog.
struct CallSlot {
    std::atomic<int64_t> started_ns{0};  // 0: not inside a call
    std::atomic<int64_t> limit_ms{0};
    std::atomic<const char*> name{""};
};

class RacingConsumersTest : public GenTLTest {
protected:
    static constexpr int board_buffers = 6;
    static constexpr uint64_t wait_ms = 200;

    // Runs `call` as the call `name` of thread `slot`, allowed `limit_ms` (call_ms_ when 0); checks that it
    // answers a code.
    GC_ERROR timed(CallSlot& slot, const char* name, const std::function<GC_ERROR()>& call, int64_t limit_ms = 0)
    {
        slot.name = name;
        slot.limit_ms = limit_ms != 0 ? limit_ms : call_ms_;
        slot.started_ns = Clock::now().time_since_epoch().count();
        const GC_ERROR code = call();
        slot.started_ns = 0;
        if (!is_gentl_code(code)) {
            std::lock_guard guard(report_lock_);
            if (not_a_code_.empty()) {
                not_a_code_ = std::string(name) + " answered " + std::to_string(code);
            }
        }
        return code;
    }

    // Builds the tree from GCInitLib on (when `init`) or from the interface on, announces the memory blocks
    // as buffers, queues them, registers the event and starts. Only the closer thread calls it.
    GC_ERROR build(CallSlot& slot, bool init)
    {
        GC_ERROR code = GC_ERR_SUCCESS;
        if (init) {
            if ((code = timed(slot, "GCInitLib", [] { return GCInitLib(); })) != GC_ERR_SUCCESS) {
                return code;
            }
            TL_HANDLE system = nullptr;
            if ((code = timed(slot, "TLOpen", [&] { return TLOpen(&system); })) != GC_ERR_SUCCESS) {
                return code;
            }
            system_ = system;
            char id[512] = {};
            size_t size = sizeof id;
            if ((code = TLGetInterfaceID(system, 0, id, &size)) != GC_ERR_SUCCESS) {
                return code;
            }
            interface_id_ = id;
        }
        IF_HANDLE iface = iface_.load();
        code = timed(slot, "TLOpenInterface",
                     [&] { return TLOpenInterface(system_.load(), interface_id_.c_str(), &iface); });
        if (code != GC_ERR_SUCCESS && code != GC_ERR_RESOURCE_IN_USE) {
            return code;
        }
        iface_ = iface;
        DEV_HANDLE device = device_.load();
        code = timed(slot, "IFOpenDevice",
                     [&] { return IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_EXCLUSIVE, &device); });
        if (code != GC_ERR_SUCCESS && code != GC_ERR_RESOURCE_IN_USE) {
            return code;
        }
        device_ = device;
        return open_stream(slot);
    }

    GC_ERROR open_stream(CallSlot& slot)
    {
        DS_HANDLE stream = nullptr;
        GC_ERROR code = timed(slot, "DevOpenDataStream",
                              [&] { return DevOpenDataStream(device_.load(), "TLDataStream", &stream); });
        if (code != GC_ERR_SUCCESS) {
            return code;
        }
        stream_ = stream;
        if (payload_ == 0) {
            INFO_DATATYPE type = 0;
            size_t payload = 0;
            size_t size = sizeof payload;
            if ((code = DSGetInfo(stream, STREAM_INFO_PAYLOAD_SIZE, &type, &payload, &size)) != GC_ERR_SUCCESS) {
                return code;
            }
            payload_ = payload;
            for (auto& block : memory_) {
                block = std::make_unique<uint8_t[]>(payload);
            }
        }
        for (int i = 0; i < board_buffers; ++i) {
            announce(slot, stream, i);
        }
        EVENT_HANDLE event = nullptr;
        code = timed(slot, "GCRegisterEvent", [&] { return GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event); });
        if (code != GC_ERR_SUCCESS) {
            return code;
        }
        event_ = event;
        return timed(slot, "DSStartAcquisition",
                     [&] { return DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE); });
    }

    // Announces memory block `index` on `stream` and queues it.
    void announce(CallSlot& slot, DS_HANDLE stream, int index)
    {
        BUFFER_HANDLE buffer = nullptr;
        const GC_ERROR code = timed(slot, "DSAnnounceBuffer", [&] {
            return DSAnnounceBuffer(stream, memory_[static_cast<size_t>(index)].get(), payload_, nullptr, &buffer);
        });
        if (code == GC_ERR_SUCCESS) {
            timed(slot, "DSQueueBuffer", [&] { return DSQueueBuffer(stream, buffer); });
        }
    }

    // Whether `buffer` is still delivered to its consumer with the fill that recorded `frame` at `timestamp`:
    // neither queued nor being acquired, and not filled since.
    static bool still_held(DS_HANDLE stream, BUFFER_HANDLE buffer, uint64_t frame, uint64_t timestamp)
    {
        bool8_t queued = 1;
        bool8_t acquiring = 1;
        uint64_t frame_now = 0;
        uint64_t timestamp_now = 0;
        return buffer_info(stream, buffer, BUFFER_INFO_IS_QUEUED, queued) && queued == 0 &&
               buffer_info(stream, buffer, BUFFER_INFO_IS_ACQUIRING, acquiring) && acquiring == 0 &&
               buffer_info(stream, buffer, BUFFER_INFO_FRAMEID, frame_now) && frame_now == frame &&
               buffer_info(stream, buffer, BUFFER_INFO_TIMESTAMP, timestamp_now) && timestamp_now == timestamp;
    }

    // Checks a delivered buffer's pixels (and its size and time stamps) against the pattern of its frame ID, in
    // the size and depth the buffer gives; counts a mismatch only when the buffer is still the consumer's.
    void check_pixels(DS_HANDLE stream, BUFFER_HANDLE buffer)
    {
        size_t filled = 0;
        size_t width = 0;
        size_t height = 0;
        uint64_t pixel_format = 0;
        if (!buffer_info(stream, buffer, BUFFER_INFO_SIZE_FILLED, filled) || filled == 0 ||
            !buffer_info(stream, buffer, BUFFER_INFO_WIDTH, width) ||
            !buffer_info(stream, buffer, BUFFER_INFO_HEIGHT, height) ||
            !buffer_info(stream, buffer, BUFFER_INFO_PIXELFORMAT, pixel_format)) {
            return;  // taken back meanwhile, or delivered unfilled by a flush of the input queue
        }
        const ExpectedFrames expected{static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                      static_cast<uint32_t>((pixel_format >> 16) & 0xff)};
        DeliveredFrame frame;
        const std::string wrong = check_delivered_frame(stream, buffer, expected, frame);
        if (wrong.empty()) {
            ++frames_checked_;
            return;
        }
        if (!still_held(stream, buffer, frame.id, frame.timestamp)) {
            return;
        }
        ++wrong_frames_;
        std::lock_guard guard(report_lock_);
        if (first_wrong_frame_.empty()) {
            first_wrong_frame_ = wrong + " (" + std::to_string(filled) + " bytes)";
        }
    }

    void consumer(CallSlot& slot)
    {
        while (!stop_.load()) {
            const EVENT_HANDLE event = event_.load();
            const DS_HANDLE stream = stream_.load();
            EVENT_NEW_BUFFER_DATA data{};
            size_t size = sizeof data;
            const GC_ERROR code = timed(
                slot, "EventGetData", [&] { return EventGetData(event, &data, &size, wait_ms); }, wait_ms);
            if (code != GC_ERR_SUCCESS) {
                if (code != GC_ERR_TIMEOUT && code != GC_ERR_ABORT) {
                    std::this_thread::yield();  // a stale or closed tree: the closer is rebuilding it
                }
                continue;
            }
            ++delivered_;
            bool mine = false;
            {
                // From here on the controller leaves the buffer alone; it may have queued it just before.
                std::lock_guard guard(hold_lock_);
                bool8_t queued = 1;
                bool8_t acquiring = 1;
                const bool claimed = held_.insert(data.BufferHandle).second;
                const BUFFER_HANDLE buffer = data.BufferHandle;
                mine = claimed && buffer_info(stream, buffer, BUFFER_INFO_IS_QUEUED, queued) && queued == 0 &&
                       buffer_info(stream, buffer, BUFFER_INFO_IS_ACQUIRING, acquiring) && acquiring == 0;
                if (claimed && !mine) {
                    held_.erase(data.BufferHandle);  // queued again before it was claimed: not this consumer's
                }
            }
            if (mine) {
                check_pixels(stream, data.BufferHandle);
                std::lock_guard guard(hold_lock_);
                held_.erase(data.BufferHandle);
            }
            timed(slot, "DSQueueBuffer", [&] { return DSQueueBuffer(stream, data.BufferHandle); });
        }
    }

    void controller(CallSlot& slot, std::mt19937& random)
    {
        while (!stop_.load()) {
            const DS_HANDLE stream = stream_.load();
            switch (random() % 8) {
            case 0:
                timed(slot, "DSStartAcquisition",
                      [&] { return DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE); });
                break;
            case 1:
                timed(slot, "DSStopAcquisition", [&] { return DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT); });
                break;
            case 2: {
                static constexpr ACQ_QUEUE_TYPE flushes[] = {ACQ_QUEUE_INPUT_TO_OUTPUT, ACQ_QUEUE_OUTPUT_DISCARD,
                                                             ACQ_QUEUE_ALL_DISCARD, ACQ_QUEUE_ALL_TO_INPUT};
                const ACQ_QUEUE_TYPE flush = flushes[random() % 4];
                // Moving every buffer to the input takes the consumers' too: only while they hold none.
                std::lock_guard guard(hold_lock_);
                if (flush != ACQ_QUEUE_ALL_TO_INPUT || held_.empty()) {
                    timed(slot, "DSFlushQueue", [&] { return DSFlushQueue(stream, flush); });
                }
                break;
            }
            case 3:
            case 4: {
                // A buffer that may be queued already or delivered, but that no consumer is checking.
                BUFFER_HANDLE buffer = nullptr;
                if (DSGetBufferID(stream, static_cast<uint32_t>(random() % board_buffers), &buffer) == GC_ERR_SUCCESS) {
                    std::lock_guard guard(hold_lock_);
                    if (held_.count(buffer) == 0) {
                        timed(slot, "DSQueueBuffer", [&] { return DSQueueBuffer(stream, buffer); });
                    }
                }
                break;
            }
            case 5: {
                // Revoked while the consumers wait; its memory is announced again.
                const auto index = static_cast<uint32_t>(random() % board_buffers);
                BUFFER_HANDLE buffer = nullptr;
                void* base = nullptr;
                if (DSGetBufferID(stream, index, &buffer) == GC_ERR_SUCCESS &&
                    timed(slot, "DSRevokeBuffer", [&] { return DSRevokeBuffer(stream, buffer, &base, nullptr); }) ==
                        GC_ERR_SUCCESS) {
                    for (int i = 0; i < board_buffers; ++i) {
                        if (memory_[static_cast<size_t>(i)].get() == base) {
                            announce(slot, stream, i);
                        }
                    }
                }
                break;
            }
            case 6:
                timed(slot, "EventKill", [&] { return EventKill(event_.load()); });
                break;
            default:
                // An idle turn: the consumer pauses, as consumers do.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                break;
            }
        }
    }

    void ports(CallSlot& slot, std::mt19937& random)
    {
        while (!stop_.load()) {
            void* port = nullptr;
            uint64_t address = (random() % 0x6000) & ~uint64_t{3};
            switch (random() % 6) {
            case 0: port = system_.load(); break;
            case 1: port = iface_.load(); break;
            case 2: port = device_.load(); break;
            case 3: port = stream_.load(); break;
            case 4: {
                BUFFER_HANDLE buffer = nullptr;
                if (DSGetBufferID(stream_.load(), static_cast<uint32_t>(random() % board_buffers), &buffer) == GC_ERR_SUCCESS) {
                    port = buffer;
                }
                break;
            }
            default: {
                PORT_HANDLE remote = nullptr;
                if (timed(slot, "DevGetPort", [&] { return DevGetPort(device_.load(), &remote); }) == GC_ERR_SUCCESS) {
                    port = remote;
                    address = (random() % 0x8000) & ~uint64_t{3};
                }
                break;
            }
            }
            uint32_t value = 0;
            size_t size = sizeof value;
            if (timed(slot, "GCReadPort", [&] { return GCReadPort(port, address, &value, &size); }) == GC_ERR_SUCCESS) {
                size = sizeof value;
                timed(slot, "GCWritePort", [&] { return GCWritePort(port, address, &value, &size); });
            }
        }
    }

    void closer(CallSlot& slot, std::mt19937& random)
    {
        while (!stop_.load()) {
            // The pause is the point: closes come now and then, between the other threads' calls.
            std::this_thread::sleep_for(std::chrono::milliseconds(10 + random() % 30));
            switch (random() % 6) {
            case 0:
                if (timed(slot, "DSClose", [&] { return DSClose(stream_.load()); }) == GC_ERR_SUCCESS) {
                    open_stream(slot);
                }
                break;
            case 1:
                if (timed(slot, "DevClose", [&] { return DevClose(device_.load()); }) == GC_ERR_SUCCESS) {
                    build(slot, false);
                }
                break;
            case 2:
                if (timed(slot, "IFClose", [&] { return IFClose(iface_.load()); }) == GC_ERR_SUCCESS) {
                    build(slot, false);
                }
                break;
            case 3: {
                bool8_t changed = 0;
                timed(
                    slot, "TLUpdateInterfaceList",
                    [&] { return TLUpdateInterfaceList(system_.load(), &changed, 500); }, 500 + call_ms_);
                break;
            }
            default:
                if (timed(slot, "GCCloseLib", [] { return GCCloseLib(); }) == GC_ERR_SUCCESS) {
                    ++library_closes_;
                    iface_ = nullptr;
                    device_ = nullptr;
                    build(slot, true);
                }
                break;
            }
        }
    }

    int64_t call_ms_ = env_int("VNGTL_STRESS_CALL_MS", 2000);
    std::atomic<bool> stop_{false};
    std::atomic<TL_HANDLE> system_{nullptr};
    std::atomic<IF_HANDLE> iface_{nullptr};
    std::atomic<DEV_HANDLE> device_{nullptr};
    std::atomic<DS_HANDLE> stream_{nullptr};
    std::atomic<EVENT_HANDLE> event_{nullptr};
    std::string interface_id_;
    size_t payload_ = 0;
    std::unique_ptr<uint8_t[]> memory_[board_buffers];
    std::atomic<int> delivered_{0};
    std::atomic<int> frames_checked_{0};
    std::atomic<int> wrong_frames_{0};
    std::atomic<int> library_closes_{0};
    // The buffers the consumers are checking; the controller does not queue them or flush them to the input.
    std::mutex hold_lock_;
    std::set<BUFFER_HANDLE> held_;
    std::mutex report_lock_;
    std::string not_a_code_;
    std::string first_wrong_frame_;
};

TEST_F(RacingConsumersTest, RacyCallsOnSharedHandlesAnswerCodesInTimeAndDeliverIntactFrames)
{
    const int seconds = env_int("VNGTL_STRESS_SECONDS", 3);
    const int64_t margin_ms = env_int("VNGTL_STRESS_MARGIN_MS", 2000);
    ASSERT_EQ(vnsim_set_trigger_mode(0, VNSIM_TRIGGER_FREE), 0);
    ASSERT_EQ(vnsim_set_rate(0, 2000), 0);  // faster than the consumers take frames
    CallSlot setup;
    ASSERT_EQ(build(setup, true), GC_ERR_SUCCESS) << last_error();

    CallSlot slots[5];
    std::mt19937 randoms[3] = {std::mt19937(1), std::mt19937(2), std::mt19937(3)};
    std::vector<std::thread> threads;
    threads.emplace_back([&] { consumer(slots[0]); });
    threads.emplace_back([&] { consumer(slots[1]); });
    threads.emplace_back([&] { controller(slots[2], randoms[0]); });
    threads.emplace_back([&] { ports(slots[3], randoms[1]); });
    threads.emplace_back([&] { closer(slots[4], randoms[2]); });

    // The watchdog: any call past its own time-out plus the margin fails the test.
    std::string overrun;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end && overrun.empty()) {
        // The watchdog's scan interval, far below any margin it checks.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const int64_t now = Clock::now().time_since_epoch().count();
        for (CallSlot& slot : slots) {
            const int64_t started = slot.started_ns.load();
            const int64_t ran_ms = started == 0 ? 0 : (now - started) / 1000000;
            if (started != 0 && ran_ms > slot.limit_ms.load() + margin_ms) {
                overrun = std::string(slot.name.load()) + " still running after " + std::to_string(ran_ms) + " ms";
            }
        }
    }
    stop_ = true;
    // The threads end within one call each; a call that hangs for good is reported and left behind.
    const bool all_idle = vntest::wait_until(
        [&] { return std::all_of(std::begin(slots), std::end(slots), [](const CallSlot& slot) { return slot.started_ns.load() == 0; }); },
        std::chrono::seconds(30));
    for (std::thread& thread : threads) {
        if (all_idle) {
            thread.join();
        } else {
            thread.detach();
        }
    }
    EXPECT_TRUE(overrun.empty()) << overrun;
    ASSERT_TRUE(all_idle) << "a call never returned";
    EXPECT_TRUE(not_a_code_.empty()) << not_a_code_;
    EXPECT_EQ(wrong_frames_.load(), 0) << first_wrong_frame_;
    EXPECT_GT(frames_checked_.load(), 0) << delivered_.load() << " buffers delivered";
    std::printf("racing consumers: %d s, %d buffers delivered, %d frames checked, %d library closes\n", seconds,
                delivered_.load(), frames_checked_.load(), library_closes_.load());
    // GCCloseLib succeeds once the threads are gone.
    GCCloseLib();
}

}  // namespace
