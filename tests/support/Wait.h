// Waiting on the condition a test expects instead of on time: the time-outs are generous and only decide how
// long a failing test takes, never whether a passing one passes.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace vntest {

// Polls `condition` until it holds or `timeout` has passed; answers the last result.
template <class Condition>
bool wait_until(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));  // the polling interval
    }
    return true;
}

// The calling thread's kernel ID, for thread_blocked.
inline pid_t thread_id() { return gettid(); }

// True while thread `tid` of this process is asleep in the kernel (a wait on a condition, a lock or a
// descriptor): once a thread that was told to call a blocking function sleeps, the call is in its wait.
inline bool thread_blocked(pid_t tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const size_t name_end = text.rfind(')');
    return name_end != std::string::npos && name_end + 2 < text.size() &&
           (text[name_end + 2] == 'S' || text[name_end + 2] == 'D');
}

// Waits until thread `tid` (which publishes itself before its blocking call) is asleep in that call.
inline bool wait_blocked(const std::atomic<pid_t>& tid, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    return wait_until([&] { return tid.load() != 0 && thread_blocked(tid.load()); }, timeout);
}

}  // namespace vntest
