// The simulator's configuration (JSON) and the parts of the SDK that only reflect it: configured CoaXPress
// camera registers and link speed, per-board options and the configured-device list.
#include "SimTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

using SimConfigTest = SimTest;

namespace {

uint32_t cxp_reg(VN_HANDLE handle, uint32_t address)
{
    uint32_t value = 0;
    EXPECT_EQ(VNCXPReadReg(handle, 0xFF, address, &value), 0) << std::hex << address;
    return value;
}

}  // namespace

TEST_F(SimConfigTest, InvalidConfigurationsAreRefusedWithAReason)
{
    struct Case {
        const char* json;
        const char* reason;
    };
    const Case cases[] = {
        {"not json", "parse"},
        {"[]", "JSON object"},
        {R"({"boards": 3})", "\"boards\" array"},
        {R"({"boards": [{"kind": "USB"}]})", "boards[0].kind"},
        {R"({"boards": [{"kind": "CL", "camera_files": [{"name": "x", "width": 0, "height": 4}]}]})",
         "boards[0].camera_files[0]"},
        {R"({"boards": [{"camera_files": [{"name": "x", "width": 4, "height": 4, "bits_per_pixel": 33}]}]})",
         "bits_per_pixel"},
        {R"({"boards": [{"default_camera_file": "missing.cam"}]})", "missing.cam"},
        {R"({"boards": [{}, {"frame_source": {"trigger": "sometimes"}}]})", "boards[1].frame_source.trigger"},
        {R"({"boards": [{"frame_source": {"rate": -1}}]})", "rate"},
        {R"({"boards": [{"registers": [{"number": 3634}]}]})", "registers[0].number"},
        {R"({"boards": [{"registers": [{"number": "0x1Z"}]}]})", "0x1Z"},
        {R"({"boards": [{"faults": {"stop_kind": "explode"}}]})", "stop_kind"},
        // The CoaXPress camera's manifest and faults.
        {R"({"boards": [{"kind": "CXP", "camera": {"manifest": []}}]})", "manifest needs at least one entry"},
        {R"({"boards": [{"kind": "CXP", "camera": {"manifest": [{"local": "tar"}]}}]})", "manifest[0].local"},
        {R"({"boards": [{"kind": "CXP", "camera": {"manifest": [{"local": "xml", "name": "a;b.xml"}]}}]})",
         "manifest[0].name"},
        {R"({"boards": [{"kind": "CXP", "camera": {"manifest": [{"url": "x", "xml_version": "1.2"}]}}]})",
         "manifest[0].xml_version"},
        {R"({"boards": [{"kind": "CXP", "camera": {"faults": {"read_failures": [{"count": 2}]}}}]})",
         "read_failures[0]"},
        // The Camera Link camera's rates and description.
        {R"({"boards": [{"kind": "CL", "camera": {"baud_rates": [9600, 12345]}}]})", "holds 12345"},
        {R"({"boards": [{"kind": "CL", "camera": {"baud_rate": 115200, "baud_rates": [9600]}}]})",
         "must be a rate both the camera and the board offer"},
        {R"({"boards": [{"kind": "CL", "camera": {"xml": "gz"}}]})", "camera.xml"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vnsim_configure(c.json), -1) << c.json;
        EXPECT_NE(std::string(vnsim_last_error()).find(c.reason), std::string::npos)
            << c.json << " -> " << vnsim_last_error();
    }
    // A refused configuration leaves the system as it was.
    uint32_t count = 0;
    ASSERT_EQ(VcSysBrdEnum(VC_ENUM_BOARDS, &count), 0);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(vnsim_configure(R"({"boards": []})"), 0);
    EXPECT_STREQ(vnsim_last_error(), "");
    ASSERT_EQ(VcSysBrdEnum(VC_ENUM_BOARDS, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(vnsim_configure(nullptr), -1);
    std::string nine = R"({"boards": [{"kind": "CXP", "camera": {"manifest": [)";
    for (int i = 0; i < 9; ++i) {
        nine += std::string(i ? "," : "") + R"({"local": "xml"})";
    }
    EXPECT_EQ(vnsim_configure((nine + "]}}]}").c_str()), -1) << "at most eight manifest entries";
    EXPECT_EQ(vnsim_configure_file("/nonexistent/vnsim.json"), -1);
    EXPECT_NE(std::string(vnsim_last_error()).find("/nonexistent/vnsim.json"), std::string::npos);
}

TEST_F(SimConfigTest, UnknownKeysAreIgnoredAndMissingKeysTakeDefaults)
{
    ASSERT_EQ(vnsim_configure(R"({"future": 1, "boards": [{"kind": "CXP", "colour": "blue",
        "camera_files": [{"name": "m.cam", "width": 8, "height": 2, "lens": "50mm"}]}]})"),
              0)
        << vnsim_last_error();
    VN_HANDLE handle = open(0);
    char text[256];
    ASSERT_EQ(VbCamGetFileName(handle, nullptr, 0, text, sizeof text), 0);
    EXPECT_STREQ(text, "m.cam") << "the first camera file is the default";
    uint32_t bits = 0;
    ASSERT_EQ(VbBrdInquire(handle, VB_INQ_BITS_PER_PIXEL, &bits), 0);
    EXPECT_EQ(bits, 8u);
    char a[256], b[256];
    ASSERT_EQ(VNGetBoardStrings(handle, a, sizeof a, b, sizeof b, nullptr, nullptr), 0);
    EXPECT_GT(std::strlen(a), 0u);
    EXPECT_GT(std::strlen(b), 0u);
}

TEST_F(SimConfigTest, ReconfiguringInvalidatesOpenHandles)
{
    VN_HANDLE handle = open(0);
    VB_CIRC_DESC desc{};
    ASSERT_EQ(VbBufferAllocCam(handle, &desc, 2), 0);
    vnsim_reset();
    uint32_t value = 0;
    EXPECT_NE(VbBrdInquire(handle, VB_INQ_WIDTH, &value), 0);
    EXPECT_EQ(vnsim_open_handles(0), 0);
    open(0);
}

TEST_F(SimConfigTest, ConfigurationFromAFileWithFaults)
{
    char path[] = "/tmp/vnsim-config-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    {
        std::ofstream out(path);
        out << R"({"boards": [{"kind": "CL", "faults": {"open_fails": 1, "missing": false},
                   "camera_files": [{"name": "f.cam", "width": 4, "height": 4}]},
                  {"kind": "CL", "faults": {"missing": true}}],
                  "faults": {"enumeration_fails": false}})";
    }
    const int result = vnsim_configure_file(path);
    std::remove(path);
    ASSERT_EQ(result, 0) << vnsim_last_error();
    uint32_t count = 0;
    ASSERT_EQ(VcSysBrdEnum(VC_ENUM_BOARDS, &count), 0);
    EXPECT_EQ(count, 1u) << "the second board is missing";
    VN_HANDLE handle = nullptr;
    EXPECT_NE(VbBrdOpenEx(VB_DRIVER_ANY, 0, &handle, VB_OPEN_INSPECT), 0);
    open(0, VB_OPEN_INSPECT);

    ASSERT_EQ(vnsim_configure(R"({"boards": [{}], "faults": {"enumeration_fails": true}})"), 0);
    EXPECT_NE(VcSysBrdEnum(VC_ENUM_BOARDS, &count), 0);
}

TEST_F(SimConfigTest, ConfiguredCameraRegistersAndLinkSpeed)
{
    ASSERT_EQ(vnsim_configure(R"({"boards": [{"kind": "CXP", "camera": {"model": "Cam2", "revision": "0x00020000",
        "link_config_default": "0x00020038", "registers": [{"address": "0x6010", "value": "0xDEADBEEF"},
        {"address": "0x6020", "text": "hello"}, {"address": "0x6030", "size": 8, "value": 1}]}}]})"),
              0)
        << vnsim_last_error();
    VN_HANDLE handle = open(0, VB_OPEN_INSPECT);
    uint32_t value = 0;
    EXPECT_EQ(cxp_reg(handle, 0x0004), 0x00020000u);
    EXPECT_EQ(cxp_reg(handle, 0x6010), 0xDEADBEEFu);
    ASSERT_EQ(VNCXPReadReg(handle, 0xFF, 0x6034, &value), 0);
    EXPECT_EQ(value, 1u) << "8-byte values put the low word at the higher address";
    char text[8] = {};
    uint32_t read = 0;
    ASSERT_EQ(VNCXPReadData(handle, 0xFF, 0x6020, 6, &read, text, sizeof text), 0);
    EXPECT_STREQ(text, "hello");

    uint32_t connections = 0;
    uint32_t row = 0;
    ASSERT_EQ(vnsim_cxp_link(0, &connections, &row), 0);
    EXPECT_EQ(connections, 2u);
    EXPECT_EQ(row, 3u) << "0x38 is row 3";
    ASSERT_EQ(VNCXPConfigureLinkSpeed(handle, 0xFF, 4, 5, 1), 0);
    ASSERT_EQ(vnsim_cxp_link(0, &connections, &row), 0);
    EXPECT_EQ(connections, 4u);
    EXPECT_EQ(row, 5u);
    ASSERT_EQ(VNCXPReadReg(handle, 0xFF, 0x4014, &value), 0);
    EXPECT_EQ(value, 0x00040048u) << "the camera's ConnectionConfig follows";
    EXPECT_NE(VNCXPConfigureLinkSpeed(handle, 0xFF, 4, 6, 1), 0);
    EXPECT_NE(VNCXPConfigureLinkSpeed(handle, 0xFF, 5, 1, 1), 0) << "the board has 4 connections";
    // ConnectionReset returns the camera to its default link.
    ASSERT_EQ(VNCXPWriteReg(handle, 0xFF, 0x4000, 1), 0);
    EXPECT_EQ(cxp_reg(handle, 0x4014), 0x00020038u);
    EXPECT_EQ(cxp_reg(handle, 0x4000), 0u);
}

TEST_F(SimConfigTest, PerBoardOptionsAreHexTexts)
{
    ASSERT_EQ(vnsim_configure(R"({"boards": [{"kind": "CXP", "options": {"VNGTLCxpReadForceWordRounding": "1",
        "Mask": "0xff", "Number": 26, "Broken": "zz"}}]})"),
              0)
        << vnsim_last_error();
    VN_HANDLE handle = open(0, VB_OPEN_INSPECT);
    uint32_t value = 0;
    EXPECT_TRUE(VNRegistryBoardGetStringHex(handle, "VNGTLCxpReadForceWordRounding", &value) == 0 && value == 1u) << "VNGTLCxpReadForceWordRounding";
    EXPECT_TRUE(VNRegistryBoardGetStringHex(handle, "Mask", &value) == 0 && value == 255u) << "Mask";
    EXPECT_TRUE(VNRegistryBoardGetStringHex(handle, "Number", &value) == 0 && value == 26u) << "Number";
    EXPECT_NE(VNRegistryBoardGetStringHex(handle, "Broken", &value), 0);
    EXPECT_NE(VNRegistryBoardGetStringHex(handle, "VNGTLCxpWriteForceWordRounding", &value), 0);
    EXPECT_NE(VNRegistryBoardGetStringHex(handle, nullptr, &value), 0);
}

TEST_F(SimConfigTest, ConfiguredDevicesAreListedSortedByName)
{
    VN_HANDLE cxp = open(0, VB_OPEN_INSPECT);
    VN_CFG_DEVICE* devices = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(VNGetCfgDevicesSorted(&devices, &count), 0);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(devices[0].name, "VNCL_1");
    EXPECT_EQ(devices[0].board_number, 1u);
    EXPECT_NE(devices[0].has_serial_port, 0u);
    EXPECT_STREQ(devices[1].name, "VNCXP_0");
    EXPECT_EQ(devices[1].has_serial_port, 0u);
    char name[64];
    ASSERT_EQ(VNGetDeviceName(cxp, name, sizeof name), 0);
    EXPECT_EQ(VNstrcmp(name, devices[1].name), 0);
    EXPECT_LT(VNstrcmp(devices[0].name, devices[1].name), 0);
    EXPECT_EQ(VNFreeCfgDevices(devices), 0);
    EXPECT_NE(VNFreeCfgDevices(nullptr), 0);
}
