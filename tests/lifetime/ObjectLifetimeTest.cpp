// Objects one thread's call uses while another's destroys them: the camera port behind the device's XML-cache
// registers while the device closes and reopens, and devices an update drops while other threads open them.
// Each answer must be a value or a GenTL code; a freed object shows as a crash, or a sanitizer's report.
#include "ModuleFixture.h"
#include "Wait.h"

#include "modules/RegisterAddresses.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <thread>
#include <unistd.h>
#include <vector>

namespace dev = vngtl::reg::device;
namespace fs = std::filesystem;

namespace {

class ObjectLifetimeTest : public ModuleTest {
protected:
    void SetUp() override
    {
        cache_ = fs::temp_directory_path() / ("vngtl-lifetime-" + std::to_string(getpid()));
        fs::remove_all(cache_);
        fs::create_directories(cache_);
        setenv("GENICAM_CACHE_V2_4", cache_.c_str(), 1);
        ModuleTest::SetUp();
    }
    void TearDown() override
    {
        ModuleTest::TearDown();
        fs::remove_all(cache_);
        unsetenv("GENICAM_CACHE_V2_4");
    }

    // Counts an answer outside `allowed` (with the first such code kept for the message).
    void expect_one_of(GC_ERROR code, std::initializer_list<GC_ERROR> allowed)
    {
        if (std::find(allowed.begin(), allowed.end(), code) == allowed.end()) {
            GC_ERROR none = GC_ERR_SUCCESS;
            first_unexpected_.compare_exchange_strong(none, code);
            ++unexpected_;
        }
    }

    fs::path cache_;
    std::atomic<int> unexpected_{0};
    std::atomic<GC_ERROR> first_unexpected_{GC_ERR_SUCCESS};
};

TEST_F(ObjectLifetimeTest, CacheRegistersReadWhileTheDeviceClosesAndReopensAnswerAValueOrACode)
{
    const TL_HANDLE system = open_system();
    const IF_HANDLE iface = open_interface(system, 0);
    DEV_HANDLE device = nullptr;
    ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS);
    const std::string url = text(device, dev::Reg_XmlUrlPath, 260);
    ASSERT_EQ(url, "file://" + (cache_ / "VantrelSimCamCXP.xml").string());

    std::atomic<int> counts_read{0};
    std::atomic<int> paths_read{0};
    std::atomic<int> statuses_read{0};
    std::atomic<int> wrong_values{0};
    // The answers of a read that meets a closed device or a device without its camera port yet.
    const std::initializer_list<GC_ERROR> closed = {GC_ERR_SUCCESS, GC_ERR_ERROR, GC_ERR_INVALID_HANDLE,
                                                    GC_ERR_ACCESS_DENIED, GC_ERR_NOT_AVAILABLE};
    // The readers stop and are joined when they go out of scope.
    {
        std::vector<std::jthread> readers;
        for (int t = 0; t < 3; ++t) {
            readers.emplace_back([&, t](const std::stop_token& stop) {
                // A read answers a code of `closed`; a successful one is counted and its value judged.
                const auto judge = [&](GC_ERROR code, std::atomic<int>& reads, bool right) {
                    expect_one_of(code, closed);
                    if (code == GC_ERR_SUCCESS) {
                        ++reads;
                        wrong_values += right ? 0 : 1;
                    }
                };
                while (!stop.stop_requested()) {
                    uint32_t count = 0;
                    const GC_ERROR counted = read_u32(device, dev::Reg_XmlFileCount, count);
                    judge(counted, counts_read, count == 1);
                    std::string path;
                    const GC_ERROR pathed = read_text(device, dev::Reg_XmlUrlPath, 260, path);
                    judge(pathed, paths_read, path == url);
                    if (t == 1) {
                        // The access status, which the device's open and close set meanwhile.
                        uint32_t status = 0;
                        const GC_ERROR statused = read_u32(device, dev::Info_DeviceAccessStatus, status);
                        judge(statused, statuses_read, status == DEVICE_ACCESS_STATUS_READWRITE);
                    }
                    if (t == 0) {
                        // The remote port's own registers alongside.
                        PORT_HANDLE remote = nullptr;
                        if (DevGetPort(device, &remote) == GC_ERR_SUCCESS) {
                            char vendor[32] = {};
                            size_t size = sizeof vendor;
                            expect_one_of(GCReadPort(remote, 0x2000, vendor, &size),
                                          {GC_ERR_SUCCESS, GC_ERR_INVALID_HANDLE, GC_ERR_ERROR, GC_ERR_IO});
                        }
                    }
                }
            });
        }
        // This thread closes and reopens the device; each round waits until a reader saw the open device.
        for (int round = 0; round < 200; ++round) {
            const int seen = counts_read.load() + paths_read.load();
            vntest::wait_until([&] { return counts_read.load() + paths_read.load() != seen; }, std::chrono::seconds(5));
            ASSERT_EQ(DevClose(device), GC_ERR_SUCCESS);
            DEV_HANDLE again = nullptr;
            ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &again), GC_ERR_SUCCESS);
            ASSERT_EQ(again, device);
        }
    }
    EXPECT_EQ(unexpected_.load(), 0) << "first unexpected code " << first_unexpected_.load();
    EXPECT_EQ(wrong_values.load(), 0);
    EXPECT_GT(counts_read.load(), 0);
    EXPECT_GT(paths_read.load(), 0);
}

TEST_F(ObjectLifetimeTest, DevicesDroppedByAnUpdateWhileOtherThreadsOpenThemAnswerALiveHandleOrACode)
{
    // A stand-in interface whose device list the test decides: each update drops the device or brings a
    // new one, while other threads open it and use the handle they got.
    auto iface = TestModule::make_root("iface");
    iface->want({"dev"});
    ASSERT_EQ(iface->open(0), GC_ERR_SUCCESS);
    const IF_HANDLE h_if = vngtl::to_handle(iface.get());
    std::atomic<int> opened{0};
    {
        std::vector<std::jthread> users;
        for (int t = 0; t < 2; ++t) {
            users.emplace_back([&](const std::stop_token& stop) {
                while (!stop.stop_requested()) {
                    DEV_HANDLE device = nullptr;
                    const GC_ERROR code = IFOpenDevice(h_if, "dev", DEVICE_ACCESS_CONTROL, &device);
                    expect_one_of(code, {GC_ERR_SUCCESS, GC_ERR_INVALID_ID, GC_ERR_RESOURCE_IN_USE});
                    if (code != GC_ERR_SUCCESS) {
                        continue;
                    }
                    ++opened;
                    // The handle is the device's while it lives, and stale (never followed) once it is gone.
                    IF_HANDLE parent = nullptr;
                    const GC_ERROR parent_code = DevGetParentIF(device, &parent);
                    expect_one_of(parent_code, {GC_ERR_SUCCESS, GC_ERR_INVALID_HANDLE});
                    if (parent_code == GC_ERR_SUCCESS && parent != h_if) {
                        ++unexpected_;
                    }
                    uint32_t streams = 0;
                    expect_one_of(DevGetNumDataStreams(device, &streams), {GC_ERR_SUCCESS, GC_ERR_INVALID_HANDLE});
                    expect_one_of(DevClose(device), {GC_ERR_SUCCESS, GC_ERR_INVALID_HANDLE});
                }
            });
        }
        for (int round = 0; round < 300; ++round) {
            const int seen = opened.load();
            vntest::wait_until([&] { return opened.load() != seen; }, std::chrono::seconds(5));
            bool8_t changed = 0;
            iface->want({});
            expect_one_of(IFUpdateDeviceList(h_if, &changed, 1000), {GC_ERR_SUCCESS});
            iface->want({"dev"});
            expect_one_of(IFUpdateDeviceList(h_if, &changed, 1000), {GC_ERR_SUCCESS});
        }
    }
    EXPECT_EQ(unexpected_.load(), 0) << "first unexpected code " << first_unexpected_.load();
    EXPECT_GT(opened.load(), 0);
}

}  // namespace
