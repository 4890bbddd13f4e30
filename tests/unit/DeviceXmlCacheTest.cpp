// The device module's XML-cache registers on the CoaXPress board, through the exported functions: the file
// count and decoded path of the camera's cached XML, caching a file by hand, deleting the selected entry and
// re-synchronising with the camera; the remote port follows the device's access mode.
#include "ModuleFixture.h"

#include "modules/RegisterAddresses.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace dev = vngtl::reg::device;
namespace fs = std::filesystem;

class DeviceXmlCacheTest : public ModuleTest {
protected:
    void SetUp() override
    {
        cache_ = fs::temp_directory_path() / ("vngtl-devcache-" + std::to_string(getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(cache_);
        fs::create_directories(cache_ / "with space");
        cache_ /= "with space";
        setenv("GENICAM_CACHE_V2_4", cache_.c_str(), 1);
        ModuleTest::SetUp();
    }
    void TearDown() override
    {
        ModuleTest::TearDown();
        fs::remove_all(cache_.parent_path());
        unsetenv("GENICAM_CACHE_V2_4");
    }

    fs::path cache_;
};

TEST_F(DeviceXmlCacheTest, RegistersShowAndChangeTheCameraCache)
{
    const DEV_HANDLE device = open_device(0);
    EXPECT_EQ(u32(device, dev::Reg_XmlFileCount), 1u);
    // The consumer's URL escapes the space; the register shows the path decoded.
    EXPECT_EQ(text(device, dev::Reg_XmlUrlPath, 260), "file://" + (cache_ / "VantrelSimCamCXP.xml").string());
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(DevGetPort(device, &remote), GC_ERR_SUCCESS);
    char url[512] = {};
    size_t size = sizeof url;
    ASSERT_EQ(GCGetPortURL(remote, url, &size), GC_ERR_SUCCESS);
    EXPECT_NE(std::string(url).find("/with%20space/VantrelSimCamCXP.xml"), std::string::npos) << url;

    const fs::path own = cache_.parent_path() / "own.xml";
    std::ofstream(own) << "<RegisterDescription/>";
    ASSERT_EQ(write_text(device, dev::Reg_CacheExternalXmlFile, own.string()), GC_ERR_SUCCESS);
    EXPECT_TRUE(fs::exists(cache_ / "SchemaVersion.1.1@Vantrel#SimCam-CXP-1#1.2.0@XMLVersion.1.0.0.xml"));
    // The store is brought up to date by the next URL query, not by the caching itself.
    EXPECT_EQ(u32(device, dev::Reg_XmlFileCount), 1u);
    size = sizeof url;
    ASSERT_EQ(GCGetPortURL(remote, url, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(u32(device, dev::Reg_XmlFileCount), 2u);

    // Select the last entry and delete it: the selector comes back to the last one left.
    ASSERT_EQ(write_u32(device, dev::Reg_XmlUrlSelector, 1), GC_ERR_SUCCESS);
    EXPECT_EQ(text(device, dev::Reg_XmlUrlPath, 260), "file://" + (cache_ / "VantrelSimCamCXP.xml").string());
    ASSERT_EQ(write_u32(device, dev::Reg_DeleteSelectedXmlCacheEntry, 1), GC_ERR_SUCCESS);
    EXPECT_FALSE(fs::exists(cache_ / "VantrelSimCamCXP.xml"));
    EXPECT_FALSE(fs::exists(cache_ / "VantrelSimCamCXP.zip"));
    EXPECT_EQ(u32(device, dev::Reg_XmlFileCount), 1u);
    EXPECT_EQ(u32(device, dev::Reg_XmlUrlSelector), 0u);

    ASSERT_EQ(write_u32(device, dev::Reg_SyncCacheWithCamera, 1), GC_ERR_SUCCESS);
    EXPECT_TRUE(fs::exists(cache_ / "VantrelSimCamCXP.xml"));
    EXPECT_EQ(u32(device, dev::Reg_XmlFileCount), 2u);
}

TEST_F(DeviceXmlCacheTest, ReadOnlyDeviceHasAReadOnlyCameraPort)
{
    const DEV_HANDLE device = open_device(0, DEVICE_ACCESS_READONLY);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(DevGetPort(device, &remote), GC_ERR_SUCCESS);
    char vendor[8] = {};
    size_t size = 7;
    ASSERT_EQ(GCReadPort(remote, 0x2000, vendor, &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(vendor, "Vantrel");
    size = 4;
    EXPECT_EQ(GCWritePort(remote, 0x20C0, "abc", &size), GC_ERR_ACCESS_DENIED);
    EXPECT_TRUE(recorded("GC_ERR_ACCESS_DENIED", "VNPortCXP.cpp", "VNPortCXP::write", "The port is not writable."));
}

