#include "ModuleFixture.h"

#include "board/VNBoards.h"
#include "modules/DevModule.h"
#include "modules/RegisterAddresses.h"

#include <vnsim.h>

namespace {

namespace dev = vngtl::reg::device;
using VNBoards::BoardState;

class DeviceModuleTest : public ModuleTest {
protected:
    static vngtl::DevModule& module(DEV_HANDLE device)
    {
        return dynamic_cast<vngtl::DevModule&>(*vngtl::from_handle<vngtl::BaseModule>(device));
    }
    static int32_t access_status(IF_HANDLE iface)
    {
        INFO_DATATYPE type = 0;
        int32_t status = -1;
        size_t size = sizeof status;
        EXPECT_EQ(IFGetDeviceInfo(iface, "TLDevice", DEVICE_INFO_ACCESS_STATUS, &type, &status, &size), GC_ERR_SUCCESS);
        return status;
    }
};

// The devices' info values, their ports' info and their descriptions' features are read by the reference
// consumer in test_modules.py (and the models and display names by Harvesters in test_library.py); here what a
// consumer meets beside those.
// (Unknown before the first open: test_library.py, through Harvesters.)
TEST_F(DeviceModuleTest, AccessFlagsSetTheAccessStatusOrAreRefused)
{
    const TL_HANDLE system = open_system();
    const IF_HANDLE iface = open_interface(system, 0);
    DEV_HANDLE device = nullptr;

    ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_READONLY, &device), GC_ERR_SUCCESS);
    EXPECT_EQ(access_status(iface), DEVICE_ACCESS_STATUS_READONLY);
    EXPECT_TRUE(module(device).read_only());
    ASSERT_EQ(DevClose(device), GC_ERR_SUCCESS);
    EXPECT_EQ(access_status(iface), DEVICE_ACCESS_STATUS_READWRITE);

    ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS);
    EXPECT_EQ(access_status(iface), DEVICE_ACCESS_STATUS_READWRITE);
    EXPECT_FALSE(module(device).read_only());
    ASSERT_EQ(DevClose(device), GC_ERR_SUCCESS);

    // Exclusive access opens the board for acquisition, and closing the device leaves it there.
    EXPECT_EQ(module(device).board()->state(), BoardState::Open);
    ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_EXCLUSIVE, &device), GC_ERR_SUCCESS);
    EXPECT_EQ(module(device).board()->state(), BoardState::OpenForAcquisition);
    ASSERT_EQ(DevClose(device), GC_ERR_SUCCESS);
    EXPECT_EQ(module(device).board()->state(), BoardState::OpenForAcquisition);

    const std::vector<std::pair<DEVICE_ACCESS_FLAGS, std::string>> refused{
        {DEVICE_ACCESS_UNKNOWN, "The \"TLDevice\" device cannot be opened with flag DEVICE_ACCESS_UNKNOWN."},
        {DEVICE_ACCESS_NONE, "The \"TLDevice\" device cannot be opened with flag DEVICE_ACCESS_NONE."},
        {7, "Unsupported DEVICE_ACCESS_FLAG with ID 7."},
    };
    for (const auto& [flags, message] : refused) {
        DEV_HANDLE out = nullptr;
        EXPECT_EQ(IFOpenDevice(iface, "TLDevice", flags, &out), GC_ERR_NOT_IMPLEMENTED) << flags;
        EXPECT_TRUE(recorded("GC_ERR_NOT_IMPLEMENTED", "DevModule.cpp", "DevModule::open", message));
        EXPECT_EQ(out, nullptr);
    }
    // A refused flag leaves the device closed, so it opens again.
    ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS);
}

// (The cached camera description each device lists: test_modules.py.)
TEST_F(DeviceModuleTest, CameraLinkDeviceReachesItsCameraButNotTheXmlCacheFeaturesAndItsPortOnlyWhileOpen)
{
    const DEV_HANDLE device = open_device(1);
    uint32_t count = 7;
    ASSERT_EQ(DevGetNumDataStreams(device, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 1u);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(DevGetPort(device, &remote), GC_ERR_SUCCESS);
    EXPECT_NE(remote, static_cast<PORT_HANDLE>(device));
    uint8_t width[4] = {};
    size_t size = sizeof width;
    ASSERT_EQ(GCReadPort(remote, 0x10000, width, &size), GC_ERR_SUCCESS);  // the camera's Width
    EXPECT_EQ(width[0] | width[1] << 8, 640);
    INFO_DATATYPE type = 0;
    EXPECT_EQ(GCGetPortInfo(device, PORT_INFO_VERSION, &type, nullptr, &size), GC_ERR_NOT_IMPLEMENTED);

    // The XML cache features are for CoaXPress devices only.
    const std::string not_cxp = "is only supported for CXP devices. VFG 1 is not.";
    EXPECT_EQ(write_u32(device, dev::Reg_SyncCacheWithCamera, 1), GC_ERR_ERROR);
    EXPECT_TRUE(recorded("GC_ERR_ERROR", "DevModule.cpp", "DevModule::sync_cache_with_camera",
                         "Manual XML cache deletion " + not_cxp));
    EXPECT_EQ(write_u32(device, dev::Reg_DeleteSelectedXmlCacheEntry, 1), GC_ERR_ERROR);
    EXPECT_TRUE(recorded("GC_ERR_ERROR", "DevModule.cpp", "DevModule::delete_xml_file",
                         "Manual XML cache deletion " + not_cxp));
    EXPECT_EQ(write_text(device, dev::Reg_CacheExternalXmlFile, "/tmp/camera.xml"), GC_ERR_ERROR);
    EXPECT_TRUE(recorded("GC_ERR_ERROR", "DevModule.cpp", "DevModule::post_write", "Manual XML caching " + not_cxp));

    // Once closed, DevGetPort checks the open state first.
    ASSERT_EQ(DevClose(device), GC_ERR_SUCCESS);
    EXPECT_EQ(DevGetPort(device, &remote), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "cti_dev.cpp", "DevGetPort",
                         "Device module \"TLDevice\" exists, but is not currently open."));
}

TEST_F(DeviceModuleTest, CameraLinkBoardWithASilentCameraHasNoCameraPort)
{
    ASSERT_EQ(vnsim_configure(R"({"boards": [{"kind": "CXP"}, {"kind": "CL", "camera_files": [{"name": "a.cam",
        "width": 64, "height": 64}], "camera": {"faults": {"silent": true}}}]})"), 0);
    const DEV_HANDLE device = open_device(1);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(DevGetPort(device, &remote), GC_ERR_SUCCESS);
    uint32_t word = 0;
    size_t size = sizeof word;
    EXPECT_EQ(GCReadPort(remote, 0, &word, &size), GC_ERR_NOT_IMPLEMENTED);  // record: HandleValidationTest

    // The XML-cache features that read need the camera's port.
    uint32_t files = 0;
    std::string value;
    EXPECT_EQ(read_u32(device, dev::Reg_XmlFileCount, files), GC_ERR_ERROR);
    EXPECT_TRUE(recorded("GC_ERR_ERROR", "DevModule.cpp", "DevModule::pre_read",
                         "The remote-device port handle on VFG 1 isn't available."));
    EXPECT_EQ(read_text(device, dev::Reg_XmlUrlPath, 260, value), GC_ERR_ERROR);
}

}  // namespace
