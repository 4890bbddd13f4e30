#include "ModuleFixture.h"

#include "board/VNBoards.h"
#include "modules/IFModule.h"
#include "modules/RegisterAddresses.h"

namespace {

namespace itf = vngtl::reg::interface;
using VNBoards::BoardState;

class InterfaceModuleTest : public ModuleTest {
protected:
    // The interface of board `index`, opened, with its device listed.
    IF_HANDLE open_board(uint32_t index)
    {
        system = open_system();
        return open_interface(system, index);
    }
    static vngtl::IFModule& module(IF_HANDLE iface) { return dynamic_cast<vngtl::IFModule&>(ModuleOf(iface)); }
    static vngtl::BaseModule& ModuleOf(void* handle) { return *vngtl::from_handle<vngtl::BaseModule>(handle); }

    TL_HANDLE system = nullptr;
};

// Identity, family, the selected device's values and the camera file as the reference consumer reads them
// through the description: test_modules.py. Here the refusals and records behind them.
TEST_F(InterfaceModuleTest, TheDeviceSeenThroughTheSelectorAndTheClosedInterface)
{
    const IF_HANDLE cxp = open_board(0);
    const IF_HANDLE cl = open_interface(system, 1);
    INFO_DATATYPE type = 0;
    size_t size = 0;
    EXPECT_EQ(GCGetPortInfo(cl, PORT_INFO_VENDOR, &type, nullptr, &size), GC_ERR_NOT_IMPLEMENTED);

    // The device exists but is closed: its own info query refuses, and the refusal is the register's answer.
    std::string value;
    EXPECT_EQ(read_text(cxp, itf::Reg_DeviceID, 256, value), GC_ERR_INVALID_HANDLE);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_HANDLE", "BaseModule.cpp", "BaseModule::info",
                         "Module \"TLDevice\" exists, but is not open."));
    DEV_HANDLE device = nullptr;
    ASSERT_EQ(IFOpenDevice(cxp, "TLDevice", DEVICE_ACCESS_READONLY, &device), GC_ERR_SUCCESS);
    EXPECT_EQ(text(cxp, itf::Reg_DeviceID), "TLDevice");
    EXPECT_EQ(u32(cxp, itf::Reg_DeviceAccessStatus), 2u);  // read-only

    ASSERT_EQ(write_u32(cxp, itf::Reg_DeviceSelector, 1), GC_ERR_SUCCESS);
    EXPECT_EQ(read_text(cxp, itf::Reg_DeviceID, 256, value), GC_ERR_ERROR);
    EXPECT_TRUE(recorded("GC_ERR_ERROR", "IFModule.cpp", "IFModule::pre_read",
                         "The selected child is not properly initialized."));

    // A closed interface is answered through its parent only.
    ASSERT_EQ(IFClose(cl), GC_ERR_SUCCESS);
    EXPECT_EQ(IFGetInfo(cl, INTERFACE_INFO_ID, &type, nullptr, &size), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(info_text([&](INFO_DATATYPE* t, void* b, size_t* s) {
                  return TLGetInterfaceInfo(system, interface_id(system, 1).c_str(), INTERFACE_INFO_TLTYPE, t, b, s);
              }),
              "CL");
}

TEST_F(InterfaceModuleTest, ABoardWithoutACameraFileHasNoDevice)
{
    ASSERT_EQ(GCCloseLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(vnsim_configure(R"({"boards": [{"kind": "CXP", "default_camera_file": null,
        "camera_files": [{"name": "a.cam", "width": 64, "height": 8}]}]})"),
              0)
        << vnsim_last_error();
    ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    const IF_HANDLE iface = open_board(0);
    bool8_t changed = true;
    ASSERT_EQ(IFUpdateDeviceList(iface, &changed, 1000), GC_ERR_SUCCESS);
    EXPECT_FALSE(changed);
    uint32_t count = 7;
    ASSERT_EQ(IFGetNumDevices(iface, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(u32(iface, itf::Reg_DeviceCount), 0u);
    EXPECT_EQ(text(iface, itf::Reg_CurrentCameraFile, 260), "");
    // (No device at the selection: its values refused, TheDeviceSeenThroughTheSelectorAndTheClosedInterface.)

    // Choosing a camera file brings the device.
    ASSERT_EQ(write_text(iface, itf::Reg_CurrentCameraFile, "a.cam"), GC_ERR_SUCCESS);
    EXPECT_EQ(text(iface, itf::Reg_CurrentCameraFile, 260), "a.cam");
    ASSERT_EQ(IFUpdateDeviceList(iface, &changed, 1000), GC_ERR_SUCCESS);
    EXPECT_TRUE(changed);
    EXPECT_EQ(u32(iface, itf::Reg_DeviceCount), 1u);
}

TEST_F(InterfaceModuleTest, TheCameraFileChangesOnlyWhileNotConfiguredAndBoardRegistersAreSelectedByNameOrIndex)
{
    // (A change, and a failed one that keeps the file: test_modules.py, through the description.)
    const IF_HANDLE iface = open_board(0);
    ASSERT_EQ(write_text(iface, itf::Reg_CurrentCameraFile, "SimCam_CXP_2048x1536_Mono12.cam"), GC_ERR_SUCCESS);
    EXPECT_EQ(write_text(iface, itf::Reg_CurrentCameraFile, "nonexistent.cam"), GC_ERR_ERROR);
    EXPECT_NE(module(iface).board()->state(), BoardState::Closed);

    // Configured for acquisition: refused, and the file stays.
    auto& board = *module(iface).board();
    ASSERT_EQ(board.check_init(VNBoards::OpenLevel::Acquire), BoardState::OpenForAcquisition);
    ASSERT_EQ(board.setup_acq(2), BoardState::Configured);
    EXPECT_EQ(u32(iface, itf::Reg_CameraFileSettable), 0u);
    EXPECT_EQ(write_text(iface, itf::Reg_CurrentCameraFile, "SimCam_CXP_1024x768_Mono8.cam"), GC_ERR_ERROR);
    EXPECT_TRUE(recorded("GC_ERR_ERROR", "IFModule.cpp", "IFModule::post_write",
                         "Cannot set the camera file because board 0 is currently configured for acquisition."));
    EXPECT_EQ(board.camera_file(), "SimCam_CXP_2048x1536_Mono12.cam");
    board.teardown_acq();

    // The board's registers, by selected name or index.
    const auto& names = module(iface).register_names();
    EXPECT_EQ(u32(iface, itf::Reg_BoardRegisterIndex_Cnt), names.size());

    // Nothing selected: the index reads 0 like the first name, and only the valid flag tells them apart.
    EXPECT_EQ(u32(iface, itf::Reg_BoardRegisterIndex), 0u);
    EXPECT_EQ(u32(iface, itf::Reg_BoardRegisterValid), 0u);
    std::string value;
    EXPECT_EQ(read_text(iface, itf::Reg_BoardRegisterName, 256, value), GC_ERR_INVALID_INDEX);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_INDEX", "IFModule.cpp", "IFModule::pre_read",
                         "The selected register index is not valid (board 0)."));
    uint32_t number = 0;
    EXPECT_EQ(read_u32(iface, itf::Reg_BoardRegisterValue, number), GC_ERR_INVALID_INDEX);
    ASSERT_EQ(write_u32(iface, itf::Reg_BoardRegisterIndex, 0), GC_ERR_SUCCESS);
    EXPECT_EQ(u32(iface, itf::Reg_BoardRegisterValid), 1u);

    // (By name in any case, by index, writing and reading values, at least 28 registers: test_modules.py.)
    ASSERT_EQ(write_text(iface, itf::Reg_BoardRegisterName, "Fw_Version"), GC_ERR_SUCCESS);
    EXPECT_EQ(write_u32(iface, itf::Reg_BoardRegisterValue, 1), GC_ERR_ERROR);  // read-only on the board
    EXPECT_NE(last_error().find("Error writing board 0 register \"fw_version\": "), std::string::npos);

    EXPECT_EQ(write_text(iface, itf::Reg_BoardRegisterName, "NO_SUCH"), GC_ERR_INVALID_ID);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ID", "IFModule.cpp", "IFModule::post_write",
                         "There is no board register called \"NO_SUCH\" (board 0)."));
    EXPECT_EQ(text(iface, itf::Reg_BoardRegisterName), "fw_version");  // the selection stays
    const auto count = static_cast<uint32_t>(names.size());
    EXPECT_EQ(write_u32(iface, itf::Reg_BoardRegisterIndex, count), GC_ERR_INVALID_INDEX);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_INDEX", "IFModule.cpp", "IFModule::post_write",
                         "There is no board register with index " + std::to_string(count) + " (board 0)."));
}

}  // namespace
