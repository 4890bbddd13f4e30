// A consumer that ends its process with the producer in full use: it loads VNGTL.cti with dlopen, takes every
// buffer of board 0's free-running stream so that a thread waits in EventGetData with no time-out, then:
//   return     main returns (the waiting thread is still inside the library)
//   exit       another thread calls exit() while main and the consumer thread wait in EventGetData
//   dlclose    main unloads the library under the waiting thread, checks that the wait ended, that no
//              thread of the library is left and that the library is gone, then returns
//   dlclose_exit   as dlclose, then exit() from another thread
//   closed_device  no stream: opens the device and its remote port, closes the device, returns from main
//
// Exit status 0 when the process ended as the mode says; 2 for a usage or set-up failure, 3 for a failed check.
#include "Wait.h"

#include <gentl/GenTL.h>

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

using namespace GenTL;

namespace {

struct Api {
#define VNGTL_POINTER(name, params) P##name name = nullptr;
    VNGTL_GENTL_FUNCTIONS(VNGTL_POINTER)
#undef VNGTL_POINTER
    int (*set_trigger_mode)(int, int) = nullptr;
    int (*set_rate)(int, double) = nullptr;
};

Api api;
std::atomic<int> taken{0};           // buffers the consumer thread received
std::atomic<bool> waiting{false};    // the consumer thread is about to wait with every buffer taken
std::atomic<bool> unloading{false};  // no call into the library after this is set
std::atomic<bool> consumer_done{false};
std::atomic<pid_t> consumer_tid{0};      // the consumer thread, to see it in its wait

[[noreturn]] void fail(int status, const std::string& why)
{
    std::fprintf(stderr, "exit_child: %s\n", why.c_str());
    std::fflush(stderr);
    _exit(status);
}

void check(GC_ERROR code, const char* what)
{
    if (code != GC_ERR_SUCCESS) {
        fail(2, std::string(what) + " answered " + std::to_string(code));
    }
}

int thread_count()
{
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(tasks);
    }
    return count;
}

// Takes buffers until none is left, then waits for one more with no time-out; ends when a wait fails.
void consume(EVENT_HANDLE event, int buffers)
{
    consumer_tid = vntest::thread_id();
    for (;;) {
        if (taken.load() == buffers) {
            waiting = true;
        }
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        if (api.EventGetData(event, &data, &size, GENTL_INFINITE) != GC_ERR_SUCCESS || unloading.load()) {
            break;
        }
        ++taken;
    }
    consumer_done = true;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc == 3 ? argv[2] : "";
    if (mode != "return" && mode != "exit" && mode != "dlclose" && mode != "dlclose_exit" && mode != "closed_device") {
        fail(2, "usage: exit_child <VNGTL.cti> return|exit|dlclose|dlclose_exit|closed_device");
    }
    void* const library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        fail(2, std::string("cannot load ") + argv[1] + ": " + dlerror());
    }
#define VNGTL_LOAD(name, params) api.name = reinterpret_cast<P##name>(dlsym(library, #name));
    VNGTL_GENTL_FUNCTIONS(VNGTL_LOAD)
#undef VNGTL_LOAD
    // The simulated board SDK is the library's dependency; dlsym on the library's handle finds it there.
    api.set_trigger_mode = reinterpret_cast<int (*)(int, int)>(dlsym(library, "vnsim_set_trigger_mode"));
    api.set_rate = reinterpret_cast<int (*)(int, double)>(dlsym(library, "vnsim_set_rate"));
    if (api.GCInitLib == nullptr || api.EventGetData == nullptr || api.set_trigger_mode == nullptr ||
        api.set_rate == nullptr) {
        fail(2, "a function is missing");
    }
    // A sanitizer's run time starts a thread of its own with the process's first thread: let it, so that
    // the count before loading is the one to come back to.
    std::thread([] {}).join();
    const int threads_before = thread_count();

    check(api.GCInitLib(), "GCInitLib");
    TL_HANDLE system = nullptr;
    check(api.TLOpen(&system), "TLOpen");
    uint32_t interfaces = 0;
    check(api.TLUpdateInterfaceList(system, nullptr, 1000), "TLUpdateInterfaceList");
    check(api.TLGetNumInterfaces(system, &interfaces), "TLGetNumInterfaces");
    char id[512] = {};
    size_t size = sizeof id;
    check(api.TLGetInterfaceID(system, 0, id, &size), "TLGetInterfaceID");
    IF_HANDLE iface = nullptr;
    check(api.TLOpenInterface(system, id, &iface), "TLOpenInterface");
    DEV_HANDLE device = nullptr;
    check(api.IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_EXCLUSIVE, &device), "IFOpenDevice");
    PORT_HANDLE remote = nullptr;
    check(api.DevGetPort(device, &remote), "DevGetPort");
    if (mode == "closed_device") {
        check(api.DevClose(device), "DevClose");
        return 0;
    }
    DS_HANDLE stream = nullptr;
    check(api.DevOpenDataStream(device, "TLDataStream", &stream), "DevOpenDataStream");
    constexpr int buffers = 4;
    for (int i = 0; i < buffers; ++i) {
        BUFFER_HANDLE buffer = nullptr;
        check(api.DSAllocAndAnnounceBuffer(stream, 1024 * 1024, nullptr, &buffer), "DSAllocAndAnnounceBuffer");
        check(api.DSQueueBuffer(stream, buffer), "DSQueueBuffer");
    }
    EVENT_HANDLE event = nullptr;
    check(api.GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event), "GCRegisterEvent");
    if (api.set_trigger_mode(0, 0) != 0 || api.set_rate(0, 1000) != 0) {
        fail(2, "the simulated board does not run free");
    }
    check(api.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), "DSStartAcquisition");

    std::thread consumer(consume, event, buffers);
    consumer.detach();
    if (!vntest::wait_until([] { return waiting.load(); }, std::chrono::seconds(20))) {
        fail(2, "the stream delivered " + std::to_string(taken.load()) + " buffers, not all");
    }
    if (!vntest::wait_blocked(consumer_tid)) {
        fail(2, "the consumer never waited");
    }

    if (mode == "return") {
        return 0;
    }
    if (mode == "exit") {
        // main waits too: a second wait on the same event.
        std::thread([main_tid = vntest::thread_id()] {
            std::atomic<pid_t> tid{main_tid};
            vntest::wait_blocked(tid);
            std::exit(0);
        }).detach();
        EVENT_NEW_BUFFER_DATA data{};
        size_t data_size = sizeof data;
        api.EventGetData(event, &data, &data_size, GENTL_INFINITE);
        for (;;) {
            pause();
        }
    }
    // dlclose: the consumer's wait must end, and with the library gone no thread of it may be left.
    unloading = true;
    if (dlclose(library) != 0) {
        fail(3, std::string("dlclose failed: ") + dlerror());
    }
    if (!vntest::wait_until([] { return consumer_done.load(); }, std::chrono::seconds(20))) {
        fail(3, "the consumer's wait did not end when the library was unloaded");
    }
    if (!vntest::wait_until([&] { return thread_count() <= threads_before; }, std::chrono::seconds(20))) {
        fail(3, std::to_string(thread_count()) + " threads left after unloading, " + std::to_string(threads_before) +
                    " before loading");
    }
    if (dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD) != nullptr) {
        fail(3, "the library is still loaded after dlclose");
    }
    if (mode == "dlclose_exit") {
        std::thread([] { std::exit(0); }).detach();
        for (;;) {
            pause();
        }
    }
    return 0;
}
