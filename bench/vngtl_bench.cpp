// vngtl_bench: measures the producer through its exported functions, loaded with dlopen as a consumer loads
// it, against the simulated boards in benchmark mode (each frame only stamped with its counter, so that the
// simulator costs little next to the producer's copy). Prints one table and writes the figures as JSON.
// `--only large,boards,small,latency,port,serial` runs the parts named (`small-max`: only the small frames at
// the simulator's highest rate).
//
//   large frames   4096 x 3072 Mono8 as fast as the board's bus (16 GB/s) carries them: delivered frames/s, GB/s,
//                  next to memcpy over the same number of buffers of the same size by one thread and split
//                  across as many threads as the producer copies with (each measured right before and right
//                  after the runs, since the machine's memory bandwidth moves with its neighbours), and next
//                  to the lower of that and the bus; once with the frame copied by the copy thread alone and
//                  once by the producer's chosen thread count
//   boards         2048 x 2048 Mono8 on 4 and on 8 boards at once, one consumer thread each: aggregate GB/s
//                  next to memcpy by one thread and by as many threads as copy at once, each copying frames
//                  of its own (before and after, rate 0), and frames lost per stream at 100 frames/s each
//   small frames   64 x 64 Mono8 as fast as possible: delivered frames/s, with the default ring and with 64
//                  board buffers and 64 consumer buffers; at a fixed 10,000 frames/s: lost,
//                  in one run and in ten more short runs from fresh starts (ten more on one CPU)
//   latency        at 1,000 frames/s, from the simulator completing a frame to EventGetData returning it, and
//                  hop by hop (board -> acquisition thread -> copied -> EventGetData) from the buffer's host
//                  time stamps; the CPU time per frame of the stream's threads and of the process, and of the
//                  stream's threads with no frames coming; with the threads placed by the system and with the
//                  consumer kept on one CPU (the stream's threads follow it), next to what one thread
//                  hand-off costs on one CPU and across two
//   port reads     GCReadPort of one 4-byte register of the data-stream module, calls per second of the wall
//                  clock and of the calling thread's CPU time
//   serial camera  the Camera Link camera's port: opening the device (probe, connect, rate change), loading
//                  the camera's description into the cache (at the fastest common rate and at 9600 baud),
//                  and GCReadPort of one camera register over the serial line, reads per second
#include "Producer.h"
#include "SimBoards.h"

#include <vnsim.h>

#include <algorithm>
#include <barrier>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The simulator's control functions, from the libvnsim.so beside the producer (the instance it uses).
struct Sim {
    void* library = nullptr;
    decltype(&vnsim_configure) configure = nullptr;
    decltype(&vnsim_last_error) last_error = nullptr;
    decltype(&vnsim_set_rate) set_rate = nullptr;
    decltype(&vnsim_set_trigger_mode) set_trigger_mode = nullptr;
    decltype(&vnsim_trigger) trigger = nullptr;
    decltype(&vnsim_frame_stats) frame_stats = nullptr;
    decltype(&vnsim_cl_stats) cl_stats = nullptr;
};

bool load_sim(const std::string& cti, Sim& sim)
{
    const std::string path = (std::filesystem::path(cti).parent_path() / "libvnsim.so").string();
    sim.library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (sim.library == nullptr) {
        std::fprintf(stderr, "vngtl_bench: cannot load %s: %s\n", path.c_str(), dlerror());
        return false;
    }
    const auto resolve = [&](auto& function, const char* name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(sim.library, name));
        return function != nullptr;
    };
    return resolve(sim.configure, "vnsim_configure") && resolve(sim.last_error, "vnsim_last_error") &&
           resolve(sim.set_rate, "vnsim_set_rate") && resolve(sim.set_trigger_mode, "vnsim_set_trigger_mode") &&
           resolve(sim.trigger, "vnsim_trigger") && resolve(sim.frame_stats, "vnsim_frame_stats") &&
           resolve(sim.cl_stats, "vnsim_cl_stats");
}

// What the simulated board's DMA moves per second: about what a frame grabber on sixteen lanes of a
// third-generation PCI Express bus carries. In benchmark mode a board only stamps its frames, so unpaced it
// would "write" a 12 MB frame in microseconds, faster than any host copies it, and the large-frame figures
// would measure only how many copies the board overwrote.
constexpr double bus_bandwidth = 16e9;

// One CoaXPress board with one camera file of the given size, free running at `rate` in benchmark mode.
vntest::SimBoard bench_board(uint32_t width, uint32_t height, double rate, const char* trigger = "free")
{
    const std::string camera_file = "Bench_" + std::to_string(width) + "x" + std::to_string(height) + "_Mono8.cam";
    return vntest::SimBoard(width, height, camera_file)
        .rate(rate)
        .trigger(trigger)
        .pattern("benchmark")
        .bus_bandwidth(bus_bandwidth)
        .extra(R"(, "max_buffer_bytes": 4294967296)");
}

std::string board_config(uint32_t width, uint32_t height, double rate, const char* trigger = "free")
{
    return vntest::sim_config({bench_board(width, height, rate, trigger)});
}

[[noreturn]] void die(const char* what, const std::string& why)
{
    std::fprintf(stderr, "vngtl_bench: %s: %s\n", what, why.c_str());
    std::exit(1);
}

// An opened data stream on board 0 with `count` library-allocated buffers queued and the new-buffer event.
struct Session {
    Producer* producer = nullptr;
    TL_HANDLE system = nullptr;
    IF_HANDLE iface = nullptr;
    DEV_HANDLE device = nullptr;
    DS_HANDLE stream = nullptr;
    EVENT_HANDLE event = nullptr;
    std::vector<BUFFER_HANDLE> buffers;
    size_t payload = 0;
};

void check(Producer& producer, GC_ERROR code, const char* what)
{
    if (code != GC_ERR_SUCCESS) {
        die(what, producer.last_error());
    }
}

void open_stream(Session& s, uint32_t board, size_t buffer_count, uint64_t board_buffers);

// `board_buffers` (when not 0) is written to the stream's GrabberBufferCountDesired first: the depth of the
// board's own ring, which decides how long the host may fall behind before frames are overwritten.
Session open_session(Producer& producer, Sim& sim, const std::string& config, size_t buffer_count,
                     uint64_t board_buffers = 0)
{
    if (sim.configure(config.c_str()) != 0) {
        die("simulator configuration", sim.last_error());
    }
    check(producer, producer.GCInitLib(), "GCInitLib");
    Session s;
    s.producer = &producer;
    check(producer, producer.TLOpen(&s.system), "TLOpen");
    producer.TLUpdateInterfaceList(s.system, nullptr, 1000);
    open_stream(s, 0, buffer_count, board_buffers);
    return s;
}

// Opens interface `board` of the session's system, its device and its data stream, with `buffer_count`
// buffers queued and the new-buffer event registered.
void open_stream(Session& s, uint32_t board, size_t buffer_count, uint64_t board_buffers)
{
    Producer& producer = *s.producer;
    char id[512] = {};
    size_t size = sizeof id;
    check(producer, producer.TLGetInterfaceID(s.system, board, id, &size), "TLGetInterfaceID");
    check(producer, producer.TLOpenInterface(s.system, id, &s.iface), "TLOpenInterface");
    producer.IFUpdateDeviceList(s.iface, nullptr, 1000);
    check(producer, producer.IFOpenDevice(s.iface, "TLDevice", DEVICE_ACCESS_CONTROL, &s.device), "IFOpenDevice");
    check(producer, producer.DevOpenDataStream(s.device, "TLDataStream", &s.stream), "DevOpenDataStream");
    INFO_DATATYPE type = 0;
    size = sizeof s.payload;
    check(producer, producer.DSGetInfo(s.stream, STREAM_INFO_PAYLOAD_SIZE, &type, &s.payload, &size), "payload size");
    if (board_buffers != 0) {
        constexpr uint64_t desired_register = 0x0508;
        size = sizeof board_buffers;
        check(producer, producer.GCWritePort(s.stream, desired_register, &board_buffers, &size),
              "GrabberBufferCountDesired");
    }
    for (size_t i = 0; i < buffer_count; ++i) {
        BUFFER_HANDLE buffer = nullptr;
        check(producer, producer.DSAllocAndAnnounceBuffer(s.stream, s.payload, nullptr, &buffer), "announce");
        check(producer, producer.DSQueueBuffer(s.stream, buffer), "queue");
        s.buffers.push_back(buffer);
    }
    check(producer, producer.GCRegisterEvent(s.stream, EVENT_NEW_BUFFER, &s.event), "GCRegisterEvent");
}

// Closes the stream, device and interface of a session, not its system.
void close_stream(Session& s)
{
    Producer& producer = *s.producer;
    producer.DSStopAcquisition(s.stream, ACQ_STOP_FLAGS_KILL);
    producer.DSFlushQueue(s.stream, ACQ_QUEUE_ALL_DISCARD);
    producer.EventFlush(s.event);
    producer.GCUnregisterEvent(s.stream, EVENT_NEW_BUFFER);
    for (BUFFER_HANDLE buffer : s.buffers) {
        producer.DSRevokeBuffer(s.stream, buffer, nullptr, nullptr);
    }
    producer.DSClose(s.stream);
    producer.DevClose(s.device);
    producer.IFClose(s.iface);
}

void close_session(Session& s)
{
    close_stream(s);
    s.producer->TLClose(s.system);
    check(*s.producer, s.producer->GCCloseLib(), "GCCloseLib");
}

template <class T>
T buffer_info(Session& s, BUFFER_HANDLE buffer, BUFFER_INFO_CMD command)
{
    T value{};
    INFO_DATATYPE type = 0;
    size_t size = sizeof value;
    s.producer->DSGetBufferInfo(s.stream, buffer, command, &type, &value, &size);
    return value;
}

struct StreamRun {
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t lost = 0;  // gaps in the frame IDs
    uint64_t dropped = 0;  // copies the board overwrote, dropped by the producer (part of the gaps)
    double seconds = 0;
};

// Receives and requeues buffers for `duration` (after `warmup` frames), counting frames, bytes and gaps.
StreamRun run_stream(Session& s, std::chrono::duration<double> duration, uint64_t warmup = 10)
{
    Producer& producer = *s.producer;
    check(producer, producer.DSStartAcquisition(s.stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), "start");
    StreamRun run;
    uint64_t previous = 0;
    Clock::time_point start;
    uint64_t seen = 0;
    while (true) {
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        check(producer, producer.EventGetData(s.event, &data, &size, 5000), "EventGetData");
        const auto id = buffer_info<uint64_t>(s, data.BufferHandle, BUFFER_INFO_FRAMEID);
        const auto filled = buffer_info<size_t>(s, data.BufferHandle, BUFFER_INFO_SIZE_FILLED);
        check(producer, producer.DSQueueBuffer(s.stream, data.BufferHandle), "requeue");
        ++seen;
        if (seen == warmup) {
            start = Clock::now();
        } else if (seen > warmup) {
            ++run.frames;
            run.bytes += filled;
            if (id > previous + 1) {
                run.lost += id - previous - 1;
            }
            if (Clock::now() - start >= duration) {
                break;
            }
        }
        previous = id;
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    check(producer, producer.DSStopAcquisition(s.stream, ACQ_STOP_FLAGS_KILL), "stop");
    // The stream's count of copies dropped because the board overwrote the frame (a custom info value).
    INFO_DATATYPE type = 0;
    size_t size = sizeof run.dropped;
    producer.DSGetInfo(s.stream, static_cast<STREAM_INFO_CMD>(STREAM_INFO_CUSTOM_ID), &type, &run.dropped, &size);
    return run;
}

// How the threads of a memcpy baseline share the copies: each copy split into parts copied at once (cache-line
// aligned, the calling thread taking the first), as the producer splits a large frame across its copy
// threads; or each thread copying whole blocks of its own, as the copy threads of several streams do.
enum class Copies { Split, Independent };

// memcpy from a ring of `sources` blocks into `destinations` blocks of `size` bytes, `count` copies in all, as
// the producer copies board buffers into consumer buffers, by `threads` threads sharing them as `how` says
// (with Independent each thread has rings of its own). Answers bytes per second.
double memcpy_bandwidth(size_t size, size_t sources, size_t destinations, uint64_t count, unsigned threads = 1,
                        Copies how = Copies::Split)
{
    threads = std::max(threads, 1u);
    const size_t rings = how == Copies::Independent ? threads : 1;
    std::vector<std::vector<std::vector<uint8_t>>> from(rings), to(rings);
    for (size_t r = 0; r < rings; ++r) {
        from[r].assign(sources, std::vector<uint8_t>(size, 1));
        to[r].assign(destinations, std::vector<uint8_t>(size, 0));
        for (size_t i = 0; i < destinations; ++i) {
            std::memcpy(to[r][i].data(), from[r][i % sources].data(), size);  // touch every page first
        }
    }
    const size_t part = how == Copies::Split ? ((size + threads - 1) / threads + 63) / 64 * 64 : size;
    const uint64_t per_thread = how == Copies::Split ? count : std::max<uint64_t>(count / threads, 1);
    std::barrier copied(static_cast<std::ptrdiff_t>(threads));
    const auto copy_part = [&](unsigned index) {
        const size_t ring = how == Copies::Split ? 0 : index;
        const size_t begin = how == Copies::Split ? std::min(size, part * index) : 0;
        const size_t end = std::min(size, begin + part);
        for (uint64_t i = 0; i < per_thread; ++i) {
            std::memcpy(to[ring][i % destinations].data() + begin, from[ring][i % sources].data() + begin, end - begin);
            if (how == Copies::Split && threads > 1) {
                copied.arrive_and_wait();
            }
        }
    };
    const auto start = Clock::now();
    {
        std::vector<std::jthread> helpers;
        for (unsigned index = 1; index < threads; ++index) {
            helpers.emplace_back(copy_part, index);
        }
        copy_part(0);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    volatile uint8_t sink = to[0][per_thread % destinations][size / 2];
    (void)sink;
    const uint64_t copies = how == Copies::Split ? per_thread : per_thread * threads;
    return static_cast<double>(size) * static_cast<double>(copies) / seconds;
}

// `value` with `decimals` digits after the point.
std::string number(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return std::string(text);
}

// A memcpy baseline measured right before and right after a producer run: the machine's memory bandwidth
// moves with what its neighbours do (here by a factor of two within minutes), so a baseline taken at another
// time compares nothing.
struct Baseline {
    double before = 0;
    double after = 0;
    double mean() const noexcept { return (before + after) / 2; }
    std::string text() const { return number(before / 1e9, 2) + " / " + number(after / 1e9, 2); }
};

// `boards` CoaXPress boards alike, each with one camera file of the given size, free running at `rate`.
std::string boards_config(unsigned boards, uint32_t width, uint32_t height, double rate)
{
    return vntest::sim_config(bench_board(width, height, rate), boards);
}

struct ScaleRun {
    std::vector<StreamRun> streams;
    double bytes_per_second = 0;  // the streams' rates added up
};

// `boards` boards streaming at once from one system, each stream received by a consumer thread of its own.
ScaleRun run_boards(Producer& producer, Sim& sim, unsigned boards, uint32_t width, uint32_t height, double rate,
                    std::chrono::duration<double> duration)
{
    const std::string config = boards_config(boards, width, height, rate);
    if (sim.configure(config.c_str()) != 0) {
        die("simulator configuration", sim.last_error());
    }
    check(producer, producer.GCInitLib(), "GCInitLib");
    TL_HANDLE system = nullptr;
    check(producer, producer.TLOpen(&system), "TLOpen");
    producer.TLUpdateInterfaceList(system, nullptr, 1000);
    std::vector<Session> sessions(boards);
    for (unsigned i = 0; i < boards; ++i) {
        sessions[i].producer = &producer;
        sessions[i].system = system;
        open_stream(sessions[i], i, 8, 0);
    }
    ScaleRun run;
    run.streams.resize(boards);
    {
        std::vector<std::jthread> consumers;
        for (unsigned i = 0; i < boards; ++i) {
            consumers.emplace_back([&, i] { run.streams[i] = run_stream(sessions[i], duration); });
        }
    }
    for (Session& s : sessions) {
        close_stream(s);
    }
    producer.TLClose(system);
    check(producer, producer.GCCloseLib(), "GCCloseLib");
    for (const StreamRun& stream : run.streams) {
        run.bytes_per_second += static_cast<double>(stream.bytes) / stream.seconds;
    }
    return run;
}

// Keeps the calling thread, and every thread started while it lives (the producer starts a stream's threads
// when the stream opens, the simulator its frame clock when acquisition starts), on the one CPU it runs on
// now: as a latency-minded consumer runs with `taskset -c N`. The thread's former CPU set comes back after.
class OneCpu {
public:
    OneCpu()
    {
        pthread_getaffinity_np(pthread_self(), sizeof saved_, &saved_);
        cpu_ = sched_getcpu();
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu_, &one);
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
    }
    ~OneCpu() { pthread_setaffinity_np(pthread_self(), sizeof saved_, &saved_); }
    OneCpu(const OneCpu&) = delete;
    OneCpu& operator=(const OneCpu&) = delete;
    int cpu() const { return cpu_; }

private:
    cpu_set_t saved_{};
    int cpu_ = 0;
};

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
    return values[index];
}

// Median, 99th percentile and maximum of a set of times in microseconds.
struct Spread {
    double median_us = 0;
    double p99_us = 0;
    double max_us = 0;
};

Spread spread(const std::vector<double>& values)
{
    if (values.empty()) {
        return {};
    }
    return {percentile(values, 0.5), percentile(values, 0.99), *std::max_element(values.begin(), values.end())};
}

// What the process's threads whose names begin with `prefix` have used so far: CPU time (ns) from the
// scheduler's own accounting (/proc/self/task/*/schedstat), and context switches, voluntary and not
// (/proc/self/task/*/status). The producer names its stream threads "vngtl-acq", "vngtl-copy" and
// "vngtl-split". Switches per frame show how the threads hand frames on, which a loaded machine's timing
// hides.
struct ThreadsUse {
    uint64_t cpu_ns = 0;
    uint64_t switches = 0;
};

ThreadsUse threads_use(const std::string& prefix)
{
    ThreadsUse total;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind(prefix, 0) != 0) {
            continue;
        }
        std::ifstream schedstat(task.path() / "schedstat");
        uint64_t on_cpu = 0;
        schedstat >> on_cpu;
        total.cpu_ns += on_cpu;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.find("ctxt_switches:") != std::string::npos) {
                total.switches += std::strtoull(line.c_str() + line.find(':') + 1, nullptr, 10);
            }
        }
    }
    return total;
}

uint64_t threads_cpu_ns(const std::string& prefix)
{
    return threads_use(prefix).cpu_ns;
}

// CPU time (ns) of the whole process so far.
uint64_t process_cpu_ns()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

struct Latency {
    Spread total;  // board completes the frame -> EventGetData returns it
    // The hops, from the buffer's host time stamps (BUFFER_INFO_CUSTOM_ID + 1, + 2): board -> acquisition
    // thread has the frame, -> copy thread has copied it, -> EventGetData returns it. Empty when the
    // producer does not give them.
    bool hops = false;
    Spread to_acquisition;
    Spread to_copied;
    Spread to_consumer;
    double calibration_us = 0;  // uncertainty of the board clock's origin
    size_t samples = 0;
    double stream_cpu_us_per_frame = 0;   // the stream's own threads
    double stream_switches_per_frame = 0;
    double process_cpu_us_per_frame = 0;  // everything: consumer, stream threads, the simulator's clock
    double idle_stream_cpu_ms_per_s = 0;  // the stream's threads while started with no frames coming
};

// The board stamps each frame with its own clock (the monotonic clock, counted from the board's creation in
// 8 ns ticks). The origin is found by triggering frames by hand between two readings of the monotonic clock;
// then the stream waits one second with no frames coming (its threads' CPU time is taken), then frames come
// free-running at 1,000 frames/s and each is timed as EventGetData returns it, hop by hop.
Latency measure_latency(Producer& producer, Sim& sim)
{
    Session s = open_session(producer, sim, board_config(64, 64, 1000, "manual"), 16);
    check(producer, producer.DSStartAcquisition(s.stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), "start");
    using Ns = std::chrono::nanoseconds;
    int64_t origin_low = INT64_MIN;
    int64_t origin_high = INT64_MAX;
    for (int i = 0; i < 200; ++i) {
        const int64_t before = std::chrono::duration_cast<Ns>(Clock::now().time_since_epoch()).count();
        sim.trigger(0, 1);
        const int64_t after = std::chrono::duration_cast<Ns>(Clock::now().time_since_epoch()).count();
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        check(producer, producer.EventGetData(s.event, &data, &size, 5000), "EventGetData");
        const auto stamp = static_cast<int64_t>(buffer_info<uint64_t>(s, data.BufferHandle, BUFFER_INFO_TIMESTAMP) * 8);
        producer.DSQueueBuffer(s.stream, data.BufferHandle);
        origin_low = std::max(origin_low, before - stamp);
        origin_high = std::min(origin_high, after - stamp);
    }
    const int64_t origin = (origin_low + origin_high) / 2;

    Latency result;
    {
        const uint64_t idle_before = threads_cpu_ns("vngtl-");
        const auto idle_start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double idle_seconds = std::chrono::duration<double>(Clock::now() - idle_start).count();
        result.idle_stream_cpu_ms_per_s = static_cast<double>(threads_cpu_ns("vngtl-") - idle_before) / 1e6 / idle_seconds;
    }

    sim.set_trigger_mode(0, VNSIM_TRIGGER_FREE);
    std::vector<double> latencies;
    std::vector<double> to_acquisition;
    std::vector<double> to_copied;
    std::vector<double> to_consumer;
    const ThreadsUse stream_before = threads_use("vngtl-");
    const uint64_t process_cpu_before = process_cpu_ns();
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < end) {
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        check(producer, producer.EventGetData(s.event, &data, &size, 5000), "EventGetData");
        const int64_t now = std::chrono::duration_cast<Ns>(Clock::now().time_since_epoch()).count();
        const auto stamp = static_cast<int64_t>(buffer_info<uint64_t>(s, data.BufferHandle, BUFFER_INFO_TIMESTAMP) * 8);
        const auto received = static_cast<int64_t>(
            buffer_info<uint64_t>(s, data.BufferHandle, static_cast<BUFFER_INFO_CMD>(BUFFER_INFO_CUSTOM_ID + 1)));
        const auto copied = static_cast<int64_t>(
            buffer_info<uint64_t>(s, data.BufferHandle, static_cast<BUFFER_INFO_CMD>(BUFFER_INFO_CUSTOM_ID + 2)));
        producer.DSQueueBuffer(s.stream, data.BufferHandle);
        const int64_t completed = origin + stamp;
        latencies.push_back(static_cast<double>(now - completed) / 1000.0);
        if (received != 0 && copied != 0) {
            to_acquisition.push_back(static_cast<double>(received - completed) / 1000.0);
            to_copied.push_back(static_cast<double>(copied - received) / 1000.0);
            to_consumer.push_back(static_cast<double>(now - copied) / 1000.0);
        }
    }
    const auto frames = static_cast<double>(latencies.size());
    const ThreadsUse stream_after = threads_use("vngtl-");
    result.stream_cpu_us_per_frame = static_cast<double>(stream_after.cpu_ns - stream_before.cpu_ns) / 1000.0 / frames;
    result.stream_switches_per_frame = static_cast<double>(stream_after.switches - stream_before.switches) / frames;
    result.process_cpu_us_per_frame = static_cast<double>(process_cpu_ns() - process_cpu_before) / 1000.0 / frames;
    close_session(s);
    result.samples = latencies.size();
    result.total = spread(latencies);
    result.hops = to_acquisition.size() == latencies.size();
    result.to_acquisition = spread(to_acquisition);
    result.to_copied = spread(to_copied);
    result.to_consumer = spread(to_consumer);
    result.calibration_us = static_cast<double>(origin_high - origin_low) / 2000.0;
    return result;
}

// What one hand-off between two threads costs on this machine, as the producer's threads hand a frame on:
// the waiting thread is woken through a condition variable a millisecond after it began to wait (the
// waker sleeps in between, as the board's clock does), both at the priority the producer gives its stream
// threads where the process may raise it. Once with both threads on one CPU, once on two different CPUs.
struct WakeCost {
    double median_us = 0;
    double p99_us = 0;
};

void raise_to_stream_priority()
{
    sched_param parameters{};
    parameters.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters);  // left as it is where not permitted
}

void run_on(int cpu)
{
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    pthread_setaffinity_np(pthread_self(), sizeof one, &one);
}

WakeCost measure_wake(int waker_cpu, int woken_cpu)
{
    using Ns = std::chrono::nanoseconds;
    std::mutex lock;
    std::condition_variable wake;
    int64_t sent = 0;
    bool pending = false;
    bool done = false;
    std::vector<double> samples;
    std::jthread woken([&] {
        run_on(woken_cpu);
        raise_to_stream_priority();
        std::unique_lock guard(lock);
        for (;;) {
            wake.wait(guard, [&] { return pending || done; });
            if (done) {
                return;
            }
            pending = false;
            const int64_t now = std::chrono::duration_cast<Ns>(Clock::now().time_since_epoch()).count();
            samples.push_back(static_cast<double>(now - sent) / 1000.0);
        }
    });
    std::jthread waker([&] {
        run_on(waker_cpu);
        raise_to_stream_priority();
        for (int i = 0; i < 1000; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            {
                std::lock_guard guard(lock);
                sent = std::chrono::duration_cast<Ns>(Clock::now().time_since_epoch()).count();
                pending = true;
            }
            wake.notify_one();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::lock_guard guard(lock);
        done = true;
        wake.notify_one();
    });
    waker.join();
    woken.join();
    return {percentile(samples, 0.5), percentile(samples, 0.99)};
}

// GCReadPort calls per second, by the wall clock and by the calling thread's own CPU time (which leaves out
// the time the machine's other programs took the CPU from it).
struct PortReads {
    double per_second = 0;
    double per_cpu_second = 0;
};

double thread_cpu_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

PortReads port_reads_per_second(Producer& producer, Sim& sim, std::chrono::duration<double> duration)
{
    Session s = open_session(producer, sim, board_config(64, 64, 0), 1);
    constexpr uint64_t stream_type_register = 0x0504;
    uint32_t value = 0;
    uint64_t calls = 0;
    const auto start = Clock::now();
    const double cpu_start = thread_cpu_seconds();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(duration);
    while (Clock::now() < end) {
        for (int i = 0; i < 1000; ++i) {
            size_t size = sizeof value;
            if (producer.GCReadPort(s.stream, stream_type_register, &value, &size) != GC_ERR_SUCCESS) {
                die("GCReadPort", producer.last_error());
            }
        }
        calls += 1000;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu_seconds = thread_cpu_seconds() - cpu_start;
    close_session(s);
    return {static_cast<double>(calls) / seconds, static_cast<double>(calls) / cpu_seconds};
}

struct SerialRun {
    double open_seconds = 0;  // IFOpenDevice: probing, connecting, moving the line to its fastest rate
    double xml_seconds = 0;   // the first URL query: the description read over the line into the cache
    double reads_per_second = 0;
    uint32_t baud = 0;
    uint64_t xml_bytes_on_line = 0;
};

// The Camera Link board (board 1 of a configuration like the default one) with a fresh description cache.
SerialRun measure_serial(Producer& producer, Sim& sim, const char* camera)
{
    const std::string config = std::string(R"({"boards": [{"kind": "CXP"}, {"kind": "CL", "camera_files": [)"
                                           R"({"name": "Bench_CL.cam", "width": 640, "height": 480,)"
                                           R"( "make": "Vantrel", "model": "SimCam CL-1"}], "camera": )") +
                               camera + "}]}";
    if (sim.configure(config.c_str()) != 0) {
        die("simulator configuration", sim.last_error());
    }
    const auto cache = std::filesystem::temp_directory_path() / ("vngtl-bench-cache-" + std::to_string(getpid()));
    std::filesystem::remove_all(cache);
    setenv("GENICAM_CACHE_V2_4", cache.c_str(), 1);
    check(producer, producer.GCInitLib(), "GCInitLib");
    TL_HANDLE system = nullptr;
    IF_HANDLE iface = nullptr;
    DEV_HANDLE device = nullptr;
    PORT_HANDLE port = nullptr;
    check(producer, producer.TLOpen(&system), "TLOpen");
    producer.TLUpdateInterfaceList(system, nullptr, 1000);
    char id[512] = {};
    size_t size = sizeof id;
    check(producer, producer.TLGetInterfaceID(system, 1, id, &size), "TLGetInterfaceID");
    check(producer, producer.TLOpenInterface(system, id, &iface), "TLOpenInterface");
    producer.IFUpdateDeviceList(iface, nullptr, 1000);
    SerialRun run;
    auto start = Clock::now();
    check(producer, producer.IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), "IFOpenDevice");
    run.open_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    check(producer, producer.DevGetPort(device, &port), "DevGetPort (the Camera Link camera's port)");
    VnsimClStats before{};
    sim.cl_stats(1, &before);
    char url[1024] = {};
    size = sizeof url;
    INFO_DATATYPE type = 0;
    start = Clock::now();
    check(producer, producer.GCGetPortURLInfo(port, 0, URL_INFO_URL, &type, url, &size), "the camera's URL");
    run.xml_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    VnsimClStats after{};
    sim.cl_stats(1, &after);
    run.xml_bytes_on_line = after.bytes_read - before.bytes_read;
    run.baud = after.host_baud;
    constexpr uint64_t width_register = 0x10000;
    uint32_t value = 0;
    uint64_t reads = 0;
    start = Clock::now();
    const auto end = start + std::chrono::seconds(1);
    while (Clock::now() < end) {
        size = sizeof value;
        check(producer, producer.GCReadPort(port, width_register, &value, &size), "GCReadPort (camera Width)");
        ++reads;
    }
    run.reads_per_second = static_cast<double>(reads) / std::chrono::duration<double>(Clock::now() - start).count();
    producer.DevClose(device);
    producer.IFClose(iface);
    producer.TLClose(system);
    check(producer, producer.GCCloseLib(), "GCCloseLib");
    std::filesystem::remove_all(cache);
    unsetenv("GENICAM_CACHE_V2_4");
    return run;
}

std::string default_cti_path(const char* argv0)
{
    if (const char* env = std::getenv("VNGTL_CTI"); env != nullptr && *env != '\0') {
        return env;
    }
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        self = argv0;
    }
    return (self.parent_path().parent_path() / "lib" / "VNGTL.cti").string();
}

}  // namespace

int main(int argc, char** argv)
{
    std::string cti;
    std::string json_path = "vngtl-bench.json";
    std::string only;
    double seconds = 3.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--cti") {
            cti = argv[i + 1];
        } else if (arg == "--json") {
            json_path = argv[i + 1];
        } else if (arg == "--seconds") {
            seconds = std::atof(argv[i + 1]);
        } else if (arg == "--only") {
            only = "," + std::string(argv[i + 1]) + ",";
        } else {
            std::fprintf(stderr, "usage: vngtl_bench [--cti PATH] [--json FILE] [--seconds S] [--only "
                                 "large,boards,small,small-max,latency,port,serial]\n");
            return 2;
        }
    }
    // The parts to run: all, or those named by --only.
    const auto wanted = [&only](const char* part) {
        return only.empty() || only.find("," + std::string(part) + ",") != std::string::npos;
    };
    if (cti.empty()) {
        cti = default_cti_path(argv[0]);
    }
    Producer producer;
    Sim sim;
    if (!producer.load(cti) || !load_sim(cti, sim)) {
        return 1;
    }
    const std::chrono::duration<double> duration(seconds);
    const unsigned cores = std::thread::hardware_concurrency();
    // The producer's copier default: one fewer than the cores, at most 4; none on two cores.
    const unsigned producer_default = cores >= 3 ? std::min(cores - 1, 4u) : 1u;
    std::string json = "{\n";
    const auto row = [](const char* what, const std::string& value, const char* target = "") {
        std::printf("%-58s %16s %12s\n", what, value.c_str(), target);
    };
    const auto join = [](const std::vector<uint64_t>& values, const char* separator) {
        std::string text;
        for (uint64_t value : values) {
            text += (text.empty() ? "" : separator) + std::to_string(value);
        }
        return text;
    };
    std::printf("\n%-58s %16s %12s\n", "measurement", "value", "target");

    if (wanted("large")) {
        // Large frames: the board's ring is the default 10 buffers, the consumer announces 8.
        constexpr uint32_t large_w = 4096;
        constexpr uint32_t large_h = 3072;
        constexpr size_t large_buffers = 8;
        // First with the copy made by the copy thread alone (the producer's copier reads VNGTL_COPY_THREADS
        // when a stream opens), then split across threads.
        const char* chosen_threads = std::getenv("VNGTL_COPY_THREADS");
        const std::string chosen = chosen_threads != nullptr ? chosen_threads : "";
        // The split run uses the producer's default but at least two threads, so that the split is
        // measured on every machine.
        const unsigned copy_threads = chosen.empty()
                                          ? std::max(producer_default, 2u)
                                          : std::clamp(static_cast<unsigned>(std::atoi(chosen.c_str())), 1u, 4u);
        const size_t frame = size_t{large_w} * large_h;
        constexpr uint64_t baseline_copies = 400;  // about a quarter of a second
        Baseline copy_one;
        Baseline copy_n;
        copy_one.before = memcpy_bandwidth(frame, 10, large_buffers, baseline_copies);
        copy_n.before = memcpy_bandwidth(frame, 10, large_buffers, baseline_copies, copy_threads);
        setenv("VNGTL_COPY_THREADS", "1", 1);
        Session single = open_session(producer, sim, board_config(large_w, large_h, 0), large_buffers);
        const StreamRun single_run = run_stream(single, duration);
        close_session(single);
        setenv("VNGTL_COPY_THREADS", std::to_string(copy_threads).c_str(), 1);
        Session large = open_session(producer, sim, board_config(large_w, large_h, 0), large_buffers);
        const StreamRun large_run = run_stream(large, duration);
        close_session(large);
        if (chosen.empty()) {
            unsetenv("VNGTL_COPY_THREADS");
        } else {
            setenv("VNGTL_COPY_THREADS", chosen.c_str(), 1);
        }
        copy_one.after = memcpy_bandwidth(frame, 10, large_buffers, baseline_copies);
        copy_n.after = memcpy_bandwidth(frame, 10, large_buffers, baseline_copies, copy_threads);
        const double single_bps = static_cast<double>(single_run.bytes) / single_run.seconds;
        const double large_fps = static_cast<double>(large_run.frames) / large_run.seconds;
        const double large_bps = static_cast<double>(large_run.bytes) / large_run.seconds;
        const double copy_bps = copy_one.mean();
        const double copy_n_bps = copy_n.mean();
        // What no producer can beat: the board's bus, or the memory's bandwidth with as many threads copying.
        const double limit_bps = std::min(bus_bandwidth, copy_n_bps);
        row("large 4096x3072 Mono8: delivered frames/s", number(large_fps, 1));
        row("large: threads copying one frame", std::to_string(copy_threads));
        row("  (the producer's default on this machine)", std::to_string(producer_default));
        row("large: delivered GB/s", number(large_bps / 1e9, 2));
        row("large: memcpy GB/s, one thread, before / after the runs", copy_one.text());
        row("large: memcpy GB/s, as many threads, before / after", copy_n.text());
        row("large: the board's bus GB/s", number(bus_bandwidth / 1e9, 2));
        row("large: delivered / one-thread memcpy", number(100.0 * large_bps / copy_bps, 0) + "%");
        row("large: delivered / memcpy with as many threads", number(100.0 * large_bps / copy_n_bps, 0) + "%");
        row("large: delivered / the lower of the bus and that memcpy", number(100.0 * large_bps / limit_bps, 0) + "%",
            ">= 95%");
        row("large, copied by one thread: delivered GB/s", number(single_bps / 1e9, 2));
        row("large, copied by one thread: delivered / memcpy", number(100.0 * single_bps / copy_bps, 0) + "%");
        row("large, one thread: delivered / lower of bus and memcpy",
            number(100.0 * single_bps / std::min(bus_bandwidth, copy_bps), 0) + "%");
        // At rate 0 the board completes frames as fast as its bus carries them, faster than one thread copies
        // them: frames the host does not get to in time are lost on the board. Reported, not a target.
        row("large: frames lost on the board (rate 0)", std::to_string(large_run.lost));
        json += "  \"large\": {\"width\": " + std::to_string(large_w) + ", \"height\": " + std::to_string(large_h) +
                ", \"frames\": " + std::to_string(large_run.frames) + ", \"frames_per_second\": " + number(large_fps, 1) +
                ", \"gb_per_second\": " + number(large_bps / 1e9, 3) + ", \"memcpy_gb_per_second\": " +
                number(copy_bps / 1e9, 3) + ", \"memcpy_threads_gb_per_second\": " + number(copy_n_bps / 1e9, 3) +
                ", \"memcpy_before_after_gb_per_second\": [" + number(copy_one.before / 1e9, 3) + ", " +
                number(copy_one.after / 1e9, 3) + "], \"memcpy_threads_before_after_gb_per_second\": [" +
                number(copy_n.before / 1e9, 3) + ", " + number(copy_n.after / 1e9, 3) + "], \"bus_gb_per_second\": " +
                number(bus_bandwidth / 1e9, 3) + ", \"ratio\": " + number(large_bps / copy_bps, 3) + ", \"ratio_threads\": " +
                number(large_bps / copy_n_bps, 3) + ", \"ratio_limit\": " + number(large_bps / limit_bps, 3) +
                ", \"lost\": " + std::to_string(large_run.lost) +
                ", \"copy_threads\": " + std::to_string(copy_threads) + ", \"one_thread_gb_per_second\": " +
                number(single_bps / 1e9, 3) + "},\n";
    }

    if (wanted("boards")) {
        // Four and eight boards at once: as fast as they go (bandwidth against memcpy by one thread and by as
        // many threads as copy at once, one per stream), and paced at 100 frames/s each (losses).
        constexpr uint32_t scale_w = 2048;
        constexpr uint32_t scale_h = 2048;
        for (const unsigned boards : {4u, 8u}) {
            const size_t frame = size_t{scale_w} * scale_h;
            constexpr uint64_t baseline_copies = 1000;  // about a quarter of a second
            // The copy threads of the streams each copy frames of their own board.
            const unsigned copiers = boards * producer_default;
            Baseline copy_one;
            Baseline copy_n;
            copy_one.before = memcpy_bandwidth(frame, 10, 8, baseline_copies);
            copy_n.before = memcpy_bandwidth(frame, 10, 8, baseline_copies, copiers, Copies::Independent);
            const ScaleRun scale_run = run_boards(producer, sim, boards, scale_w, scale_h, 0, duration);
            copy_one.after = memcpy_bandwidth(frame, 10, 8, baseline_copies);
            copy_n.after = memcpy_bandwidth(frame, 10, 8, baseline_copies, copiers, Copies::Independent);
            const double copy_bps = copy_one.mean();
            const double copy_n_bps = copy_n.mean();
            const double limit_bps = std::min(bus_bandwidth * boards, copy_n_bps);
            const ScaleRun paced = run_boards(producer, sim, boards, scale_w, scale_h, 100, duration);
            std::vector<uint64_t> losses;
            for (const StreamRun& stream : paced.streams) {
                losses.push_back(stream.lost);
            }
            const std::string name = std::to_string(boards) + " boards";
            row((name + " 2048x2048, rate 0: aggregate delivered GB/s").c_str(), number(scale_run.bytes_per_second / 1e9, 2));
            row((name + ": memcpy GB/s, one thread, before / after the run").c_str(), copy_one.text());
            row((name + ": memcpy GB/s, " + std::to_string(copiers) + " threads, before / after").c_str(), copy_n.text());
            row(("  (each thread copying frames of its own)"), "");
            row((name + ": aggregate / one-thread memcpy").c_str(), number(100.0 * scale_run.bytes_per_second / copy_bps, 0) + "%");
            row((name + ": aggregate / memcpy with as many threads").c_str(),
                number(100.0 * scale_run.bytes_per_second / copy_n_bps, 0) + "%");
            row((name + ": aggregate / the lower of the buses and that").c_str(),
                number(100.0 * scale_run.bytes_per_second / limit_bps, 0) + "%");
            row((name + " at 100 frames/s each: aggregate frames/s").c_str(),
                number(paced.bytes_per_second / static_cast<double>(frame), 0));
            row((name + " at 100 frames/s: frames lost per stream").c_str(), join(losses, " "), "all 0");
            json += "  \"boards_" + std::to_string(boards) + "\": {\"gb_per_second\": " +
                    number(scale_run.bytes_per_second / 1e9, 3) + ", \"memcpy_gb_per_second\": " + number(copy_bps / 1e9, 3) +
                    ", \"memcpy_threads_gb_per_second\": " + number(copy_n_bps / 1e9, 3) + ", \"memcpy_threads\": " +
                    std::to_string(copiers) + ", \"ratio\": " + number(scale_run.bytes_per_second / copy_bps, 3) +
                    ", \"memcpy_before_after_gb_per_second\": [" + number(copy_one.before / 1e9, 3) + ", " +
                    number(copy_one.after / 1e9, 3) + "], \"memcpy_threads_before_after_gb_per_second\": [" +
                    number(copy_n.before / 1e9, 3) + ", " + number(copy_n.after / 1e9, 3) + "]" +
                    ", \"ratio_threads\": " + number(scale_run.bytes_per_second / copy_n_bps, 3) +
                    ", \"ratio_limit\": " + number(scale_run.bytes_per_second / limit_bps, 3) +
                    ", \"lost_at_100_per_second\": [" + join(losses, ", ") + "]},\n";
        }
    }

    if (wanted("small") || wanted("small-max")) {
        // A run at rate 0 with `buffers` consumer buffers and `board_buffers` (0: the default ring), with the
        // CPU time and the context switches of the stream's threads per frame.
        struct ThreadsRun {
            StreamRun run;
            double fps = 0;
            double cpu_us = 0;
            double switches = 0;
        };
        const auto run_at_rate_0 = [&](size_t buffers, uint64_t board_buffers) {
            Session session = open_session(producer, sim, board_config(64, 64, 0), buffers, board_buffers);
            const ThreadsUse before = threads_use("vngtl-");
            ThreadsRun measured;
            measured.run = run_stream(session, duration);
            const ThreadsUse after = threads_use("vngtl-");
            close_session(session);
            const double frames = static_cast<double>(std::max<uint64_t>(measured.run.frames, 1));
            measured.fps = static_cast<double>(measured.run.frames) / measured.run.seconds;
            measured.cpu_us = static_cast<double>(after.cpu_ns - before.cpu_ns) / 1000.0 / frames;
            measured.switches = static_cast<double>(after.switches - before.switches) / frames;
            return measured;
        };
        const ThreadsRun small = run_at_rate_0(16, 0);
        // The same with a ring deep enough for the acquisition thread to take the frames in bursts.
        const ThreadsRun deep = run_at_rate_0(64, 64);
        row("small 64x64 Mono8, rate 0: delivered frames/s", number(small.fps, 0), ">= 200000");
        row("small, rate 0: the stream's threads, CPU us / switches per frame",
            number(small.cpu_us, 1) + " / " + number(small.switches, 2));
        row("small, rate 0: frames overwritten on the board", std::to_string(small.run.lost));
        row("  of them copies the board overwrote, dropped", std::to_string(small.run.dropped));
        row("small, rate 0, deep ring: delivered frames/s", number(deep.fps, 0), ">= 200000");
        row("  (64 board buffers, 64 consumer buffers)", "");
        row("  the stream's threads, CPU us / switches per frame",
            number(deep.cpu_us, 1) + " / " + number(deep.switches, 2));
        json += "  \"small\": {\"frames_per_second\": " + number(small.fps, 0) + ", \"stream_cpu_us_per_frame\": " +
                number(small.cpu_us, 2) + ", \"stream_switches_per_frame\": " + number(small.switches, 2) + ", \"lost\": " +
                std::to_string(small.run.lost) + ", \"copies_dropped\": " + std::to_string(small.run.dropped) + "},\n";
        json += "  \"small_deep_ring\": {\"board_buffers\": 64, \"buffers\": 64, \"frames_per_second\": " +
                number(deep.fps, 0) + ", \"stream_cpu_us_per_frame\": " + number(deep.cpu_us, 2) +
                ", \"stream_switches_per_frame\": " + number(deep.switches, 2) + "},\n";
    }

    if (wanted("small")) {

        Session paced = open_session(producer, sim, board_config(64, 64, 10000), 16);
        const StreamRun paced_run = run_stream(paced, duration);
        VnsimFrameStats paced_stats{};
        sim.frame_stats(0, &paced_stats);
        close_session(paced);
        const double paced_fps = static_cast<double>(paced_run.frames) / paced_run.seconds;

        // Ten short runs more at 10,000 frames/s with the default ring, each from a fresh start: with the
        // threads placed by the system, and with the consumer and so every thread of the stream kept on one CPU.
        const auto paced_repeats = [&] {
            std::vector<uint64_t> lost;
            for (int i = 0; i < 10; ++i) {
                Session again = open_session(producer, sim, board_config(64, 64, 10000), 16);
                lost.push_back(run_stream(again, std::chrono::duration<double>(std::max(1.0, seconds / 3))).lost);
                close_session(again);
            }
            return lost;
        };
        const std::vector<uint64_t> repeats = paced_repeats();
        const std::vector<uint64_t> one_cpu_repeats = [&] {
            const OneCpu one_cpu;
            return paced_repeats();
        }();

        Session deep = open_session(producer, sim, board_config(64, 64, 10000), 16, 64);
        const StreamRun deep_run = run_stream(deep, duration);
        close_session(deep);

        Session fast = open_session(producer, sim, board_config(64, 64, 40000), 16, 64);
        const StreamRun fast_run = run_stream(fast, duration);
        close_session(fast);
        const double fast_fps = static_cast<double>(fast_run.frames) / fast_run.seconds;

        row("small at 10,000 frames/s: delivered frames/s", number(paced_fps, 0));
        row("small at 10,000 frames/s: frames lost", std::to_string(paced_run.lost), "0");
        row("small at 10,000 frames/s, 10 more runs: lost per run", "");
        row("", join(repeats, " "), "all 0");
        row("  the same, consumer and stream on one CPU: lost per run", "");
        row("", join(one_cpu_repeats, " "), "all 0");
        row("small at 10,000 frames/s, 64 board buffers: frames lost", std::to_string(deep_run.lost), "0");
        row("small offered 40,000 frames/s, 64 board buffers: delivered", number(fast_fps, 0));
        row("small offered 40,000 frames/s: frames lost", std::to_string(fast_run.lost));
        json += "  \"small_10000\": {\"frames_per_second\": " + number(paced_fps, 0) + ", \"lost\": " +
                std::to_string(paced_run.lost) + ", \"board_overwritten\": " +
                std::to_string(paced_stats.overwritten) + "},\n" + "  \"small_10000_repeated_lost\": [" +
                join(repeats, ", ") + "],\n" + "  \"small_10000_repeated_lost_one_cpu\": [" +
                join(one_cpu_repeats, ", ") + "],\n" + "  \"small_10000_64_board_buffers\": {\"lost\": " +
                std::to_string(deep_run.lost) + "},\n" + "  \"small_40000_64_board_buffers\": {\"frames_per_second\": " +
                number(fast_fps, 0) + ", \"lost\": " + std::to_string(fast_run.lost) + "},\n";
    }

    if (wanted("latency")) {
        const Latency latency = measure_latency(producer, sim);
        const Latency one_cpu_latency = [&] {
            const OneCpu one_cpu;
            return measure_latency(producer, sim);
        }();
        const int cpus = static_cast<int>(cores);
        const WakeCost wake_same = measure_wake(0, 0);
        const WakeCost wake_across = measure_wake(0, cpus > 1 ? 1 : 0);
        const auto spread_rows = [&](const char* what, const Spread& value, bool targets) {
            row(what, number(value.median_us, 1) + " " + number(value.p99_us, 1) + " " + number(value.max_us, 1),
                targets ? "p99<=200 max<=1000" : "");
        };
        const auto spread_json = [&](const Spread& value) {
            return "{\"median\": " + number(value.median_us, 1) + ", \"p99\": " + number(value.p99_us, 1) +
                   ", \"max\": " + number(value.max_us, 1) + "}";
        };
        const auto latency_rows = [&](const Latency& l) {
            spread_rows("  board -> EventGetData returns", l.total, true);
            if (l.hops) {
                spread_rows("    board -> acquisition thread has the frame", l.to_acquisition, false);
                spread_rows("    acquisition thread -> copy thread has copied it", l.to_copied, false);
                spread_rows("    copied -> consumer's EventGetData returns", l.to_consumer, false);
            }
            row("  CPU per frame, the stream's threads / whole process us",
                number(l.stream_cpu_us_per_frame, 1) + " / " + number(l.process_cpu_us_per_frame, 1));
            row("  context switches per frame, the stream's threads", number(l.stream_switches_per_frame, 2));
            row("  the stream's threads with no frames coming: CPU ms/s", number(l.idle_stream_cpu_ms_per_s, 2), "0");
        };
        const auto latency_json = [&](const Latency& l) {
            return "{\"total\": " + spread_json(l.total) + ", \"to_acquisition\": " + spread_json(l.to_acquisition) +
                   ", \"to_copied\": " + spread_json(l.to_copied) + ", \"to_consumer\": " + spread_json(l.to_consumer) +
                   ", \"samples\": " + std::to_string(l.samples) + ", \"origin_uncertainty\": " +
                   number(l.calibration_us, 2) + ", \"stream_cpu_us_per_frame\": " + number(l.stream_cpu_us_per_frame, 2) +
                   ", \"process_cpu_us_per_frame\": " + number(l.process_cpu_us_per_frame, 2) +
                   ", \"idle_stream_cpu_ms_per_s\": " + number(l.idle_stream_cpu_ms_per_s, 3) +
                   ", \"stream_switches_per_frame\": " + number(l.stream_switches_per_frame, 2) + "}";
        };
        row("latency at 1,000 frames/s, median p99 max us:", "");
        latency_rows(latency);
        row("  clock-origin uncertainty +/- us", number(latency.calibration_us, 2));
        row("the same, consumer and stream on one CPU:", "");
        latency_rows(one_cpu_latency);
        row("one thread hand-off, same CPU: median, p99 us", number(wake_same.median_us, 1) + " " + number(wake_same.p99_us, 1));
        row("one thread hand-off, to another CPU: median, p99 us",
            number(wake_across.median_us, 1) + " " + number(wake_across.p99_us, 1));
        json += "  \"latency_us\": " + latency_json(latency) + ",\n" + "  \"latency_one_cpu_us\": " +
                latency_json(one_cpu_latency) + ",\n" + "  \"hand_off_us\": {\"same_cpu_median\": " +
                number(wake_same.median_us, 1) + ", \"same_cpu_p99\": " + number(wake_same.p99_us, 1) +
                ", \"other_cpu_median\": " + number(wake_across.median_us, 1) + ", \"other_cpu_p99\": " +
                number(wake_across.p99_us, 1) + "},\n";
    }

    if (wanted("port")) {
        const PortReads port = port_reads_per_second(producer, sim, duration);
        const double reads = port.per_second;
        row("GCReadPort of a 4-byte stream register: calls/s", number(reads, 0), ">= 20000000");
        row("  the same per second of the calling thread's CPU time", number(port.per_cpu_second, 0));
        json += "  \"gc_read_port_per_second\": " + number(reads, 0) + ",\n" +
                "  \"gc_read_port_per_cpu_second\": " + number(port.per_cpu_second, 0) + ",\n";
    }

    if (wanted("serial")) {
        const SerialRun fast_serial = measure_serial(producer, sim, "{}");
        const SerialRun slow_serial = measure_serial(producer, sim, R"({"baud_rates": [9600]})");
        row("Camera Link camera register reads over serial: reads/s", number(fast_serial.reads_per_second, 0));
        row("  at baud", std::to_string(fast_serial.baud));
        row("Camera Link device open (probe, connect, rate): s", number(fast_serial.open_seconds, 3));
        row("Camera Link camera description load: s", number(fast_serial.xml_seconds, 3));
        row("  bytes read over the line (zipped description)", std::to_string(fast_serial.xml_bytes_on_line));
        row("the same load with the camera kept at 9600 baud: s", number(slow_serial.xml_seconds, 3));
        row("register reads at 9600 baud: reads/s", number(slow_serial.reads_per_second, 0));
        json += "  \"camera_link_serial\": {\"baud\": " + std::to_string(fast_serial.baud) + ", \"reads_per_second\": " +
                number(fast_serial.reads_per_second, 0) + ", \"device_open_seconds\": " +
                number(fast_serial.open_seconds, 3) + ", \"xml_load_seconds\": " + number(fast_serial.xml_seconds, 3) +
                ", \"xml_bytes_on_line\": " + std::to_string(fast_serial.xml_bytes_on_line) +
                ", \"xml_load_seconds_at_9600\": " + number(slow_serial.xml_seconds, 3) +
                ", \"reads_per_second_at_9600\": " + number(slow_serial.reads_per_second, 0) + "},\n";
    }

    if (json.size() > 2) {
        json.erase(json.size() - 2, 1);  // the last comma
    }
    json += "}\n";
    std::ofstream(json_path) << json;
    std::printf("\nJSON: %s\n", json_path.c_str());
    return 0;
}
