// Where the stream's two threads run, seen as the kernel sees them: while frames come far apart they move to
// the CPU the consumer waits on (and with it when it moves there for good, not when it only passes by); when
// frames come close together, also in a later acquisition, they go back to every CPU they started with;
// VNGTL_STREAM_PLACEMENT=system leaves them there throughout.
#include "StreamFixture.h"

#include <dirent.h>
#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The CPUs each of the stream's threads ("vngtl-acq", "vngtl-copy") may run on.
std::vector<cpu_set_t> stream_thread_cpus()
{
    std::vector<cpu_set_t> found;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return found;
    }
    while (const dirent* entry = readdir(tasks)) {
        std::string name;
        std::getline(std::ifstream(std::string("/proc/self/task/") + entry->d_name + "/comm"), name);
        cpu_set_t cpus;
        CPU_ZERO(&cpus);
        if ((name == "vngtl-acq" || name == "vngtl-copy") &&
            sched_getaffinity(std::atoi(entry->d_name), sizeof cpus, &cpus) == 0) {
            found.push_back(cpus);
        }
    }
    closedir(tasks);
    return found;
}

// Both stream threads may run on exactly `expected`.
bool stream_threads_on(const cpu_set_t& expected)
{
    const std::vector<cpu_set_t> threads = stream_thread_cpus();
    return threads.size() == 2 && CPU_EQUAL(&threads[0], &expected) && CPU_EQUAL(&threads[1], &expected);
}

cpu_set_t only(int cpu)
{
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return one;
}

}  // namespace

class StreamPlacementTest : public StreamTest {
protected:
    void SetUp() override
    {
        StreamTest::SetUp();
        ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof all_, &all_), 0);
        for (int cpu = 0; cpu < CPU_SETSIZE && cpus_.size() < 2; ++cpu) {
            if (CPU_ISSET(cpu, &all_)) {
                cpus_.push_back(cpu);
            }
        }
    }
    void TearDown() override
    {
        pthread_setaffinity_np(pthread_self(), sizeof all_, &all_);
        StreamTest::TearDown();
    }

    void start()
    {
        announce_and_queue(4);
        event_ = register_new_buffer();
        ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS) << last_error();
    }

    // One frame twenty milliseconds after the last (far apart), received and queued again on the calling thread.
    bool one_slow_frame()
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (vnsim_trigger(board, 1) != 1) {
            return false;
        }
        return requeue_next();
    }

    bool requeue_next()
    {
        const BUFFER_HANDLE buffer = next_buffer(event_);
        return buffer != nullptr && DSQueueBuffer(stream, buffer) == GC_ERR_SUCCESS;
    }

    cpu_set_t all_{};
    std::vector<int> cpus_;
    EVENT_HANDLE event_ = nullptr;
};

TEST_F(StreamPlacementTest, TheThreadsFollowTheConsumerWhileFramesComeFarApartAndSpreadWhenTheyComeClose)
{
    if (cpus_.size() < 2) {
        GTEST_SKIP() << "needs two CPUs";
    }
    start();
    ASSERT_EQ(stream_thread_cpus().size(), 2u);
    // A consumer that waits on one CPU, then the other, a few frames each (as one the system wakes wherever a
    // CPU is free does) is not followed: the threads stay where they started.
    for (int turn = 0; turn < 6; ++turn) {
        const cpu_set_t consumer = only(cpus_[static_cast<size_t>(turn % 2)]);
        ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof consumer, &consumer), 0);
        for (int frame = 0; frame < 4; ++frame) {
            ASSERT_TRUE(one_slow_frame());
            EXPECT_TRUE(stream_threads_on(all_)) << "turn " << turn << ", frame " << frame;
        }
    }
    for (const int cpu : {cpus_[0], cpus_[1], cpus_[0]}) {
        SCOPED_TRACE("consumer on CPU " + std::to_string(cpu));
        const cpu_set_t consumer = only(cpu);
        ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof consumer, &consumer), 0);
        EXPECT_TRUE(vntest::wait_until([&] { return one_slow_frame() && stream_threads_on(consumer); }));
    }

    // A new acquisition starts from where the threads are, and as fast as the board runs they go back to
    // every CPU they started with, whichever one the consumer waits on.
    ASSERT_EQ(DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL), GC_ERR_SUCCESS);
    ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS) << last_error();
    ASSERT_EQ(vnsim_set_rate(board, 0), 0);
    ASSERT_EQ(vnsim_set_trigger_mode(board, VNSIM_TRIGGER_FREE), 0);
    EXPECT_TRUE(vntest::wait_until([&] { return requeue_next() && stream_threads_on(all_); }));
    EXPECT_EQ(DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL), GC_ERR_SUCCESS);
}

// The stream is built while VNGTL_STREAM_PLACEMENT=system is set.
class SystemPlacementTest : public StreamPlacementTest {
protected:
    void SetUp() override
    {
        setenv("VNGTL_STREAM_PLACEMENT", "system", 1);
        StreamPlacementTest::SetUp();
        unsetenv("VNGTL_STREAM_PLACEMENT");
    }
};

TEST_F(SystemPlacementTest, LeavesTheThreadsOnEveryCpu)
{
    if (cpus_.size() < 2) {
        GTEST_SKIP() << "needs two CPUs";
    }
    start();
    const cpu_set_t consumer = only(cpus_[1]);
    ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof consumer, &consumer), 0);
    for (int frame = 0; frame < 20; ++frame) {
        ASSERT_TRUE(one_slow_frame()) << frame;
    }
    EXPECT_TRUE(stream_threads_on(all_));
    EXPECT_EQ(DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL), GC_ERR_SUCCESS);
}
