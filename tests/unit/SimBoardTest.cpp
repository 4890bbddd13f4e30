// The simulated boards seen through the SDK's C functions: enumeration, open and close, camera files,
// inquiries, the region of interest, identity and board registers; the simulator's configuration (JSON) with
// the part of the SDK that only reflects it: per-board options; and the simulated CoaXPress camera through the
// SDK's CoaXPress calls and the vnsim_cxp_ control functions: the bootstrap block, the manifest and its URL
// texts, the XML files in camera memory, the feature registers driving the board's frames, and the faults a
// configuration can ask for; and circular acquisition: frame counters, buffer order, restarts, overwriting, stop
// and abort seen by a blocked waiter, the frame pattern, free-running rates and injected faults. (The
// configured-device list is met through the Camera Link port in
// CameraLinkPortTest.ThePortIndexFollowsTheSortedDeviceList.)
#include "SimTestSupport.h"
#include "Wait.h"

#include "sim/CxpCameraRegisters.h"

#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace cxp = vnsim::cxp;

namespace {

uint32_t board_count()
{
    uint32_t count = 0xDEAD;
    EXPECT_EQ(VcSysBrdEnum(VC_ENUM_BOARDS, &count), 0);
    return count;
}

uint32_t inquire(VN_HANDLE handle, uint32_t key)
{
    uint32_t value = 0xDEAD;
    EXPECT_EQ(VbBrdInquire(handle, key, &value), 0) << "key 0x" << std::hex << key;
    return value;
}

// Each (key, value) pair the board must answer.
void expect_inquiries(VN_HANDLE handle, std::initializer_list<std::pair<uint32_t, uint32_t>> expected)
{
    for (const auto& [key, value] : expected) {
        EXPECT_EQ(inquire(handle, key), value) << "key 0x" << std::hex << key;
    }
}

std::string camera_file(VN_HANDLE handle)
{
    char text[261] = {};
    return VbCamGetFileName(handle, nullptr, 0, text, sizeof text) == 0 ? std::string(text) : std::string("<failed>");
}

void configure(const std::string& json)
{
    ASSERT_EQ(vnsim_configure(json.c_str()), 0) << vnsim_last_error();
}

VnsimFrameStats stats(int board)
{
    VnsimFrameStats result{};
    EXPECT_EQ(vnsim_frame_stats(board, &result), 0);
    return result;
}

constexpr uint32_t own_link = 0xFF;  // the board's own CoaXPress link

std::string read_text(VN_HANDLE handle, uint32_t address, uint32_t length)
{
    std::vector<char> bytes(length + 1, 0);
    uint32_t read = 0;
    EXPECT_EQ(VNCXPReadData(handle, own_link, address, length, &read, bytes.data(), length), 0) << std::hex << address;
    return std::string(bytes.data());
}

uint32_t reg(VN_HANDLE handle, uint32_t address)
{
    uint32_t value = 0;
    EXPECT_EQ(VNCXPReadReg(handle, own_link, address, &value), 0) << std::hex << address;
    return value;
}

const std::byte* frame_data(const VB_FRAME_RECORD& record)
{
    return reinterpret_cast<const std::byte*>(static_cast<uintptr_t>(record.data_address));
}

std::string hex(size_t value)
{
    char text[20];
    std::snprintf(text, sizeof text, "%zX", value);
    return text;
}

}  // namespace

using SimBoardTest = SimTest;
using SimConfigTest = SimTest;

TEST_F(SimBoardTest, EnumeratesTheDefaultBoardsAndDropsAMissingOneWhoseHandlesFail)
{
    EXPECT_EQ(board_count(), 2u);
    uint32_t count = 0;
    EXPECT_NE(VcSysBrdEnum(207, &count), 0) << "only selector 208 lists boards";
    EXPECT_NE(VcSysBrdEnum(VC_ENUM_BOARDS, nullptr), 0);

    // The CoaXPress board 0 disappears: the Camera Link board becomes board 0 and board 1 is gone.
    ASSERT_EQ(vnsim_fault_board_missing(0, 1), 0);
    EXPECT_EQ(board_count(), 1u);
    VN_HANDLE handle = open(0, VB_OPEN_INSPECT);
    EXPECT_NE(VNIsCL(handle), 0);
    VN_HANDLE missing = nullptr;
    EXPECT_NE(VbBrdOpenEx(VB_DRIVER_ANY, 1, &missing, VB_OPEN_INSPECT), 0);
    EXPECT_EQ(missing, nullptr);
    ASSERT_EQ(vnsim_fault_board_missing(0, 0), 0);

    // Handles on a board that vanishes fail until it is back.
    handle = open(0);
    VB_CIRC_DESC desc{};
    ASSERT_EQ(VbBufferAllocCam(handle, &desc, 2), 0);
    ASSERT_EQ(VbCircAqSetup(handle, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
    ASSERT_EQ(vnsim_fault_board_missing(0, 1), 0);
    uint32_t value = 0;
    EXPECT_NE(VbBrdInquire(handle, VB_INQ_WIDTH, &value), 0);
    // A wait on the vanished board runs out its time-out instead of failing at once.
    VB_FRAME_RECORD record{};
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_NE(VbCirWaitDoneFrame(handle, &desc, 30, &record), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(30));
    ASSERT_EQ(vnsim_fault_board_missing(0, 0), 0);
    EXPECT_EQ(inquire(handle, VB_INQ_WIDTH), 1024u);
}

TEST_F(SimBoardTest, OpensWithTheDefaultOrANamedCameraFileAndTheRegionOfInterestDrivesTheInquiries)
{
    VN_HANDLE cxp = open(0, VB_OPEN_INSPECT);
    EXPECT_EQ(camera_file(cxp), "SimCam_CXP_1024x768_Mono8.cam");
    EXPECT_EQ(vnsim_open_handles(0), 1);
    close(cxp);
    EXPECT_EQ(vnsim_open_handles(0), 0);

    VN_HANDLE cl = open(1, VB_OPEN_ACQUIRE, "SimCam_CL_1280x1024_Mono10.cam");
    EXPECT_EQ(camera_file(cl), "SimCam_CL_1280x1024_Mono10.cam");
    expect_inquiries(cl, {{VB_INQ_WIDTH, 1280}, {VB_INQ_HEIGHT, 1024}, {VB_INQ_BITS_PER_PIXEL, 10},
                          {VB_INQ_FRAME_BYTES, 1280 * 1024 * 2}});
    close(cl);

    // Reopened without a camera file, the board is back on its default.
    cl = open(1, VB_OPEN_INSPECT);
    expect_inquiries(cl, {{VB_INQ_WIDTH, 640}, {VB_INQ_FRAME_BYTES, 640 * 480}});

    // The region of interest drives the inquiries.
    VN_HANDLE handle = open(0);
    ASSERT_EQ(VcAqROISet(handle, 100, 50, 640, 480, 0), 0);
    expect_inquiries(handle, {{VB_INQ_X_OFFSET, 100}, {VB_INQ_Y_OFFSET, 50}, {VB_INQ_WIDTH, 640},
                              {VB_INQ_HEIGHT, 480}, {VB_INQ_FRAME_BYTES, 640 * 480}});

    // A region that ends exactly at the sensor's edge is accepted; one pixel more is not.
    EXPECT_EQ(VcAqROISet(handle, 1024 - 16, 768 - 8, 16, 8, 0), 0);
    const int32_t refused = VcAqROISet(handle, 1024 - 16, 768 - 8, 17, 8, 0);
    EXPECT_NE(refused, 0);
    EXPECT_NE(VcAqROISet(handle, 0, 0, 0, 8, 0), 0);
    EXPECT_NE(VcAqROISet(handle, 0xFFFFFFF0u, 0, 32, 8, 0), 0) << "offset + width must not wrap";
    EXPECT_EQ(vn_text(handle, refused), "The region of interest lies outside the camera's sensor.");
    int32_t last = 0;
    EXPECT_EQ(VNErrorGetLast(handle, &last), 0);
    EXPECT_EQ(last, refused);
    // The refused calls left the last good region in place.
    expect_inquiries(handle, {{VB_INQ_WIDTH, 16}, {VB_INQ_X_OFFSET, 1024 - 16}});

    // A new open starts again from the whole sensor.
    close(handle);
    handle = open(0);
    expect_inquiries(handle, {{VB_INQ_WIDTH, 1024}, {VB_INQ_X_OFFSET, 0}});
}

TEST_F(SimBoardTest, RefusesUnknownCameraFilesFlagsAndBoardsAndASecondAcquiringHandle)
{
    VN_HANDLE handle = reinterpret_cast<VN_HANDLE>(0x1234);
    EXPECT_NE(VbBrdOpenCamEx(VB_DRIVER_ANY, 0, &handle, "NoSuchCamera.cam", VB_OPEN_ACQUIRE), 0);
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(VbBrdOpenCamEx(VB_DRIVER_ANY, 0, &handle, "", VB_OPEN_ACQUIRE), 0);
    EXPECT_NE(VbBrdOpenEx(VB_DRIVER_ANY, 0, &handle, 1500), 0);
    EXPECT_NE(VbBrdOpenEx(VB_DRIVER_ANY, 2, &handle, VB_OPEN_INSPECT), 0);
    EXPECT_NE(VbBrdOpenEx(VB_DRIVER_ANY, 0, nullptr, VB_OPEN_INSPECT), 0);
    EXPECT_EQ(vnsim_open_handles(0), 0);

    // One acquiring handle per board.
    VN_HANDLE acquiring = open(0, VB_OPEN_ACQUIRE);
    EXPECT_NE(VbBrdOpenEx(VB_DRIVER_ANY, 0, &handle, VB_OPEN_ACQUIRE), 0);
    EXPECT_NE(VbBrdOpenEx(VB_DRIVER_ANY, 0, &handle, VB_OPEN_INSPECT), 0);
    // The shared inspection open, the retry of a refused inspection open, is let in.
    VN_HANDLE shared = open(0, VB_OPEN_INSPECT_SHARED);
    EXPECT_EQ(inquire(shared, VB_INQ_WIDTH), 1024u);
    close(acquiring);
    open(0, VB_OPEN_ACQUIRE);
}

TEST_F(SimBoardTest, ClosedForeignAndReconfiguredHandlesAnswerNonZero)
{
    VN_HANDLE handle = open(0);
    close(handle);
    // A handle with buffers from before the simulator was configured again.
    VN_HANDLE reconfigured = open(0);
    VB_CIRC_DESC allocated{};
    ASSERT_EQ(VbBufferAllocCam(reconfigured, &allocated, 2), 0);
    vnsim_reset();
    EXPECT_EQ(vnsim_open_handles(0), 0);
    uint32_t value = 0;
    VB_CIRC_DESC desc{};
    VB_FRAME_RECORD record{};
    const std::pair<const char*, VN_HANDLE> handles[] = {{"closed", handle},
                                                         {"reconfigured", reconfigured},
                                                         {"null", nullptr},
                                                         {"foreign", reinterpret_cast<VN_HANDLE>(&value)}};
    for (const auto& [name, bad] : handles) {
        SCOPED_TRACE(name);
        EXPECT_NE(VbBrdClose(bad), 0);
        EXPECT_NE(VbBrdInquire(bad, VB_INQ_WIDTH, &value), 0);
        EXPECT_NE(VcAqROISet(bad, 0, 0, 8, 8, 0), 0);
        EXPECT_NE(VbBufferAllocCam(bad, &desc, 4), 0);
        EXPECT_NE(VbCirWaitDoneFrame(bad, &desc, 1, &record), 0);
        EXPECT_NE(VNRegPoke(bad, 0, 1), 0);
        EXPECT_EQ(VNRegPeek(bad, 0), 0xFFFFFFFFu);
        EXPECT_EQ(VNIsCXP(bad), 0);
        EXPECT_EQ(VbCirErrorCheck(bad, &desc), 0) << "a stale handle must not keep a draining loop going";
        char text[256];
        uint32_t size = sizeof text;
        EXPECT_NE(VbErrorTextGet(bad, 220, text, &size), 0);
    }
    open(0);
}

TEST_F(SimBoardTest, BoardRegistersHaveNamesValuesAndAccessAndConfiguredOnesMergeWithTheDefaults)
{
    VN_HANDLE handle = open(0, VB_OPEN_INSPECT);
    std::set<std::string> names;
    char text[1024];
    for (uint32_t number = 0; number <= 3633; ++number) {
        if (VNRegName(handle, number, text, sizeof text) == 0) {
            EXPECT_TRUE(names.insert(text).second) << "duplicate name " << text;
        }
    }
    EXPECT_GE(names.size(), 20u);
    EXPECT_LE(names.size(), 40u);
    for (const char* expected : {"CTRL", "STATUS", "FIFO_LEVEL", "TRIG_MODE", "SCRATCH", "CXP_LINK_SPEED"}) {
        EXPECT_EQ(names.count(expected), 1u) << expected;
    }
    EXPECT_NE(VNRegName(handle, 3634, text, sizeof text), 0);
    EXPECT_NE(VNRegName(handle, 0, text, 3), 0) << "\"CTRL\" does not fit in 3 bytes";

    EXPECT_EQ(VNRegPoke(handle, 3633, 0xCAFEF00D), 0);
    EXPECT_EQ(VNRegPeek(handle, 3633), 0xCAFEF00Du);
    EXPECT_NE(VNRegPoke(handle, 3634, 1), 0);
    EXPECT_EQ(VNRegPeek(handle, 3634), 0xFFFFFFFFu);
    const uint32_t firmware = VNRegPeek(handle, 3);
    EXPECT_NE(VNRegPoke(handle, 3, firmware + 1), 0) << "FW_VERSION is read-only";
    EXPECT_EQ(VNRegPeek(handle, 3), firmware);
    EXPECT_EQ(VNRegPeek(handle, 1) & 1u, 1u) << "STATUS shows the board open";

    // Configured registers merge with the defaults.
    configure(R"({"boards": [{"kind": "other", "registers": [
        {"number": 0, "name": "MY_CTRL", "value": 7, "access": "ro"},
        {"number": 2000, "name": "EXTRA", "value": "0x10"}]}]})");
    handle = open(0, VB_OPEN_INSPECT);
    EXPECT_NE(VNIsOrla(handle), 0);
    // Register 1 is from the default set, which is still there.
    for (const auto& [number, name] : {std::pair{0u, "MY_CTRL"}, {2000u, "EXTRA"}, {1u, "STATUS"}}) {
        text[0] = '\0';
        EXPECT_EQ(VNRegName(handle, number, text, sizeof text), 0) << number;
        EXPECT_STREQ(text, name);
    }
    EXPECT_EQ(VNRegPeek(handle, 0), 7u);
    EXPECT_NE(VNRegPoke(handle, 0, 8), 0);
    EXPECT_EQ(VNRegPeek(handle, 2000), 16u);
}

// ---- The configuration ---------------------------------------------------------------------------------

TEST_F(SimConfigTest, InvalidConfigurationsAreRefusedWithAReasonAndAFileWithFaultsIsTaken)
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
    EXPECT_EQ(board_count(), 2u);
    EXPECT_EQ(vnsim_configure(R"({"boards": []})"), 0);
    EXPECT_STREQ(vnsim_last_error(), "");
    EXPECT_EQ(board_count(), 0u);
    EXPECT_EQ(vnsim_configure(nullptr), -1);
    std::string nine = R"({"boards": [{"kind": "CXP", "camera": {"manifest": [)";
    for (int i = 0; i < 9; ++i) {
        nine += std::string(i ? "," : "") + R"({"local": "xml"})";
    }
    EXPECT_EQ(vnsim_configure((nine + "]}}]}").c_str()), -1) << "at most eight manifest entries";
    EXPECT_EQ(vnsim_configure_file("/nonexistent/vnsim.json"), -1);
    EXPECT_NE(std::string(vnsim_last_error()).find("/nonexistent/vnsim.json"), std::string::npos);

    // A configuration from a file, with faults.
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
    EXPECT_EQ(board_count(), 1u) << "the second board is missing";
    VN_HANDLE handle = nullptr;
    EXPECT_NE(VbBrdOpenEx(VB_DRIVER_ANY, 0, &handle, VB_OPEN_INSPECT), 0);
    open(0, VB_OPEN_INSPECT);

    ASSERT_EQ(vnsim_configure(R"({"boards": [{}], "faults": {"enumeration_fails": true}})"), 0);
    uint32_t count = 0;
    EXPECT_NE(VcSysBrdEnum(VC_ENUM_BOARDS, &count), 0);
}

TEST_F(SimConfigTest, UnknownKeysAreIgnoredMissingKeysTakeDefaultsAndOptionsAreHexTexts)
{
    configure(R"({"future": 1, "boards": [{"kind": "CXP", "colour": "blue",
        "camera_files": [{"name": "m.cam", "width": 8, "height": 2, "lens": "50mm"}]}]})");
    VN_HANDLE handle = open(0);
    EXPECT_EQ(camera_file(handle), "m.cam") << "the first camera file is the default";
    EXPECT_EQ(inquire(handle, VB_INQ_BITS_PER_PIXEL), 8u);
    char a[256], b[256];
    ASSERT_EQ(VNGetBoardStrings(handle, a, sizeof a, b, sizeof b, nullptr, nullptr), 0);
    EXPECT_GT(std::strlen(a), 0u);
    EXPECT_GT(std::strlen(b), 0u);

    // Per-board options are hex texts.
    configure(R"({"boards": [{"kind": "CXP", "options": {"VNGTLCxpReadForceWordRounding": "1",
        "Mask": "0xff", "Number": 26, "Broken": "zz"}}]})");
    handle = open(0, VB_OPEN_INSPECT);
    uint32_t value = 0;
    for (const auto& [name, expected] :
         {std::pair{"VNGTLCxpReadForceWordRounding", 1u}, {"Mask", 255u}, {"Number", 26u}}) {
        value = 0;
        EXPECT_EQ(VNRegistryBoardGetStringHex(handle, name, &value), 0) << name;
        EXPECT_EQ(value, expected) << name;
    }
    EXPECT_NE(VNRegistryBoardGetStringHex(handle, "Broken", &value), 0);
    EXPECT_NE(VNRegistryBoardGetStringHex(handle, "VNGTLCxpWriteForceWordRounding", &value), 0);
    EXPECT_NE(VNRegistryBoardGetStringHex(handle, nullptr, &value), 0);
}

// ---- The CoaXPress camera ------------------------------------------------------------------------------

using SimCxpCameraTest = SimTest;

TEST_F(SimCxpCameraTest, BootstrapLinkRegistersAnswerOnlyTheUserIdIsWritableAndConfiguredRegistersAreThere)
{
    // The constants are read through the producer elsewhere; here what only the camera does.
    VN_HANDLE handle = open(0, VB_OPEN_INSPECT);
    // Every link register answers, the 8-byte test counters as one block.
    for (uint32_t address = cxp::device_connection_id; address <= cxp::hs_up_connection; address += 4) {
        uint32_t value = 0;
        EXPECT_EQ(VNCXPReadReg(handle, own_link, address, &value), 0) << std::hex << address;
    }
    EXPECT_EQ(reg(handle, cxp::connection_config), 0x00040048u);
    EXPECT_EQ(reg(handle, cxp::connection_config_default), 0x00040048u);
    unsigned char counter[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(VNCXPWriteData(handle, own_link, cxp::test_packet_count_tx, counter, 8), 0);
    unsigned char back[8] = {};
    uint32_t read = 0;
    ASSERT_EQ(VNCXPReadData(handle, own_link, cxp::test_packet_count_tx, 8, &read, back, 8), 0);
    EXPECT_EQ(std::memcmp(back, counter, 8), 0);

    // DeviceUserID is the one writable string.
    const char user[16] = "line 3 left";
    ASSERT_EQ(VNCXPWriteData(handle, own_link, cxp::device_user_id, user, 16), 0);
    EXPECT_EQ(read_text(handle, cxp::device_user_id, 16), "line 3 left");
    EXPECT_NE(VNCXPWriteData(handle, own_link, cxp::device_model_name, user, 16), 0);
    EXPECT_NE(VNCXPWriteReg(handle, own_link, cxp::xml_version, 1), 0);

    // Unknown and misaligned addresses, a foreign link and a read longer than its buffer are refused.
    uint32_t value = 0;
    EXPECT_NE(VNCXPReadReg(handle, own_link, 0x5000, &value), 0);
    EXPECT_NE(VNCXPReadReg(handle, own_link, 0x0002, &value), 0);
    EXPECT_NE(VNCXPReadReg(handle, 0, cxp::standard, &value), 0);
    EXPECT_NE(VNCXPReadData(handle, own_link, cxp::device_vendor_name, 64, &read, back, 8), 0);
    // Manufacturer space is writable memory; its registers are big-endian.
    const char url[] = "Local:camera.xml;6100;2A";
    ASSERT_EQ(VNCXPWriteData(handle, own_link, 0x6000, url, sizeof url), 0);
    EXPECT_EQ(read_text(handle, 0x6000, sizeof url), url);
    ASSERT_EQ(VNCXPWriteReg(handle, own_link, 0x6100, 0x01020304), 0);
    ASSERT_EQ(VNCXPReadData(handle, own_link, 0x6100, 4, &read, back, 4), 0);
    EXPECT_EQ(back[0], 0x01);
    EXPECT_EQ(back[3], 0x04);

    // Configured registers, and the link speed the board sets.
    configure(R"({"boards": [{"kind": "CXP", "camera": {"model": "Cam2", "revision": "0x00020000",
        "link_config_default": "0x00020038", "registers": [{"address": "0x6010", "value": "0xDEADBEEF"},
        {"address": "0x6020", "text": "hello"}, {"address": "0x6030", "size": 8, "value": 1}]}}]})");
    handle = open(0, VB_OPEN_INSPECT);
    EXPECT_EQ(reg(handle, cxp::revision), 0x00020000u);
    EXPECT_EQ(reg(handle, 0x6010), 0xDEADBEEFu);
    EXPECT_EQ(reg(handle, 0x6034), 1u) << "8-byte values put the low word at the higher address";
    EXPECT_EQ(read_text(handle, 0x6020, 6), "hello");

    // The board's link that follows is met in
    // CxpPortTest.LinkConfigurationWritesSetTheBoardsLinkSpeedAndAddressesBeyond32BitsAreRefused.
    ASSERT_EQ(VNCXPConfigureLinkSpeed(handle, own_link, 4, 5, 1), 0);
    EXPECT_EQ(reg(handle, cxp::connection_config), 0x00040048u) << "the camera's ConnectionConfig follows";
    EXPECT_NE(VNCXPConfigureLinkSpeed(handle, own_link, 4, 6, 1), 0);
    EXPECT_NE(VNCXPConfigureLinkSpeed(handle, own_link, 5, 1, 1), 0) << "the board has 4 connections";
    // ConnectionReset returns the camera to its default link.
    ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::connection_reset, 1), 0);
    EXPECT_EQ(reg(handle, cxp::connection_config), 0x00020038u);
    EXPECT_EQ(reg(handle, cxp::connection_reset), 0u);
}

TEST_F(SimCxpCameraTest, ManifestEntriesSwitchWithTheSelector)
{
    configure(R"({"boards": [{"kind": "CXP", "camera": {"manifest": [
        {"local": "zip"},
        {"local": "xml", "name": "Other Cam.xml", "xml_version": "2.3.4", "schema_suffix": true},
        {"url": "file:///tmp/cam.xml", "xml_version": 66051, "schema_version": "1.0.0"},
        {"url": "http://127.0.0.1:8080/cam.zip?SchemaVersion=1.1.0"}]}}]})");
    VN_HANDLE handle = open(0, VB_OPEN_INSPECT);
    ASSERT_EQ(reg(handle, cxp::xml_manifest_size), 4u);
    // The sizes of the camera's own description, plain and zipped.
    const size_t xml = vnsim_cxp_camera_xml(0, nullptr, 0);
    const size_t zip = vnsim_cxp_camera_xml(1, nullptr, 0);

    struct Expected {
        uint32_t version, schema;
        std::string url;
    };
    const std::vector<Expected> expected = {
        {cxp::camera_xml_version, cxp::camera_xml_schema_version,
         "local:///VantrelSimCamCXP.zip;400000;" + hex(zip)},
        {0x00020304, cxp::camera_xml_schema_version,
         "local:///Other Cam.xml;300000;" + hex(xml) + "?SchemaVersion=1.1.0"},
        {0x00010203, 0x00010000, "file:///tmp/cam.xml"},
        {cxp::camera_xml_version, cxp::camera_xml_schema_version, "http://127.0.0.1:8080/cam.zip?SchemaVersion=1.1.0"},
    };
    for (uint32_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::xml_manifest_selector, i), 0);
        EXPECT_EQ(reg(handle, cxp::xml_manifest_selector), i);
        EXPECT_EQ(reg(handle, cxp::xml_version), expected[i].version) << i;
        EXPECT_EQ(reg(handle, cxp::xml_schema_version), expected[i].schema) << i;
        const uint32_t url = reg(handle, cxp::xml_url_address);
        EXPECT_GE(url, cxp::manufacturer_space);
        EXPECT_EQ(read_text(handle, url, 256), expected[i].url) << i;
    }
    EXPECT_NE(VNCXPWriteReg(handle, own_link, cxp::xml_manifest_selector, 4), 0) << "no fifth entry";
    EXPECT_EQ(reg(handle, cxp::xml_manifest_selector), 3u);

    // That the local files lie where their URLs say is met by the reference GenApi (test_cxp_camera_xml.py).
    EXPECT_NE(VNCXPWriteData(handle, own_link, cxp::xml_base, "x", 1), 0) << "the files are read-only";

    // A connection reset selects entry 0 again.
    ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::connection_reset, 1), 0);
    EXPECT_EQ(reg(handle, cxp::xml_manifest_selector), 0u);
    EXPECT_EQ(reg(handle, cxp::xml_url_address), cxp::url_base);
}

TEST_F(SimCxpCameraTest, CameraFeaturesDriveTheBoardsFramesAndStayUntilAnotherCameraFileIsLoaded)
{
    VB_CIRC_DESC desc{};
    ASSERT_EQ(vnsim_set_trigger_mode(0, VNSIM_TRIGGER_MANUAL), 0);
    VN_HANDLE handle = open(0);
    // The camera file's geometry, PayloadSize, TLParamsLocked and AcquisitionStop/Start are met through the
    // reference GenApi and Harvesters (test_cxp_camera_xml.py, test_cxp_remote.py).
    EXPECT_EQ(reg(handle, cxp::width_max), 2048u) << "the largest camera file";

    ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::width, 640), 0);
    ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::height, 480), 0);
    ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::pixel_format, cxp::pfnc_mono12), 0);
    ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::offset_x, 100), 0);
    expect_inquiries(handle, {{VB_INQ_WIDTH, 640}, {VB_INQ_HEIGHT, 480}, {VB_INQ_BITS_PER_PIXEL, 12},
                              {VB_INQ_FRAME_BYTES, 640 * 480 * 2}});
    EXPECT_NE(VcAqROISet(handle, 0, 0, 1024, 768, 0), 0) << "the board's region lies within the camera's frame";

    // Values the camera cannot take are refused and change nothing.
    EXPECT_NE(VNCXPWriteReg(handle, own_link, cxp::width, 2048), 0) << "OffsetX 100 + 2048 exceeds WidthMax";
    EXPECT_NE(VNCXPWriteReg(handle, own_link, cxp::width, 0), 0);
    EXPECT_NE(VNCXPWriteReg(handle, own_link, cxp::pixel_format, 0x01080002), 0);
    EXPECT_NE(VNCXPWriteReg(handle, own_link, cxp::width_max, 10), 0);
    EXPECT_EQ(reg(handle, cxp::width), 640u);

    ASSERT_EQ(VbBufferAllocCam(handle, &desc, 4), 0);
    EXPECT_EQ(desc.frame_size, 640u * 480u * 2u);
    ASSERT_EQ(VbCircAqSetup(handle, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
    ASSERT_EQ(start(handle, desc), 0);
    ASSERT_EQ(vnsim_trigger(0, 2), 2);
    VB_FRAME_RECORD record{};
    for (uint64_t counter = 1; counter <= 2; ++counter) {
        ASSERT_EQ(VbCirWaitDoneFrame(handle, &desc, 100, &record), 0);
        EXPECT_EQ(vnsim_check_frame(frame_data(record), desc.frame_size, 640, 480, 12, counter), 0);
        ASSERT_EQ(VbCirStatusSet(handle, &desc, &record, 0), 0);
    }

    // AcquisitionStop: no frames, even on demand, until AcquisitionStart.
    ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::acquisition_stop, 1), 0);
    EXPECT_EQ(vnsim_trigger(0, 3), 0);
    EXPECT_EQ(VbCirWaitDoneFrame(handle, &desc, 20, &record), 221);
    ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::acquisition_start, 1), 0);
    EXPECT_EQ(vnsim_trigger(0, 1), 1);
    EXPECT_EQ(take(handle, desc, record), 0);

    // A format change while buffers are allocated reaches the next allocation.
    ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::width, 320), 0);
    EXPECT_EQ(inquire(handle, VB_INQ_WIDTH), 320u);
    ASSERT_EQ(vnsim_trigger(0, 1), 1);
    ASSERT_EQ(VbCirWaitDoneFrame(handle, &desc, 100, &record), 0);
    EXPECT_EQ(vnsim_check_frame(frame_data(record), desc.frame_size, 640, 480, 12, 4), 0);

    // The camera keeps its settings over a new open with the same camera file, until another is loaded.
    close(handle);
    handle = open(0);
    EXPECT_EQ(reg(handle, cxp::width), 320u);
    EXPECT_EQ(inquire(handle, VB_INQ_WIDTH), 320u);
    close(handle);
    handle = open(0, VB_OPEN_ACQUIRE, "SimCam_CXP_2048x1536_Mono12.cam");
    EXPECT_EQ(reg(handle, cxp::width), 2048u);
    EXPECT_EQ(reg(handle, cxp::height), 1536u);
    EXPECT_EQ(reg(handle, cxp::pixel_format), cxp::pfnc_mono12);
    EXPECT_EQ(inquire(handle, VB_INQ_BITS_PER_PIXEL), 12u);
}

TEST_F(SimCxpCameraTest, TestPatternAndFrameRate)
{
    configure(R"({"boards": [{"kind": "CXP", "frame_source": {"rate": 1},
        "camera_files": [{"name": "s.cam", "width": 300, "height": 4}]}]})");
    VN_HANDLE handle = open(0);
    uint32_t rate = 0;
    ASSERT_EQ(VNCXPReadReg(handle, own_link, cxp::acquisition_frame_rate, &rate), 0);
    EXPECT_EQ(std::bit_cast<float>(rate), 1.0f) << "the camera starts at the board's rate";

    ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::test_pattern, cxp::test_pattern_grey_horizontal_ramp), 0);
    ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::acquisition_frame_rate, std::bit_cast<uint32_t>(200.0f)), 0);
    EXPECT_NE(VNCXPWriteReg(handle, own_link, cxp::acquisition_frame_rate, std::bit_cast<uint32_t>(-1.0f)), 0);
    VB_CIRC_DESC desc{};
    ASSERT_EQ(VbBufferAllocCam(handle, &desc, 64), 0);
    ASSERT_EQ(VbCircAqSetup(handle, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
    ASSERT_EQ(start(handle, desc), 0);
    VB_FRAME_RECORD record{};
    // At 1 frame/s the second frame would take a second; at 200 frames/s it takes 5 ms.
    ASSERT_EQ(VbCirWaitDoneFrame(handle, &desc, 500, &record), 0);
    ASSERT_EQ(VbCirWaitDoneFrame(handle, &desc, 500, &record), 0);
    const std::byte* data = frame_data(record);
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = (y == 0 ? 8 : 0); x < 300; ++x) {
            ASSERT_EQ(std::to_integer<uint32_t>(data[y * 300 + x]), x % 256) << x << "," << y;
        }
    }
    EXPECT_EQ(vnsim_frame_stamp(data, 8), record.frame_counter);
    ASSERT_EQ(VbCirStatusSet(handle, &desc, &record, 0), 0);

    ASSERT_EQ(VNCXPWriteReg(handle, own_link, cxp::test_pattern, cxp::test_pattern_off), 0);
    // Frames made from now on are black; skip what the ring holds.
    for (int i = 0; i < 64 && VbCirWaitDoneFrame(handle, &desc, 0, &record) == 0; ++i) {
        VbCirStatusSet(handle, &desc, &record, 0);
    }
    ASSERT_EQ(VbCirWaitDoneFrame(handle, &desc, 500, &record), 0);
    data = frame_data(record);
    for (uint32_t i = 8; i < 1200; ++i) {
        ASSERT_EQ(std::to_integer<int>(data[i]), 0) << i;
    }
    EXPECT_EQ(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_WAIT), 0);
}

// A wrong or unreadable Standard is met through the device in
// XmlCacheFaultTest.UnreadableBootstrapOrUrlLeavesTheDeviceWithoutThatDescription.
// The control interface obeys the camera, and is no link traffic; it still reaches a camera silent on its link.
TEST_F(SimCxpCameraTest, ControlInterfaceObeysTheCameraAndASilentCameraFailsEveryLinkAccessWithItsText)
{
    EXPECT_EQ(vnsim_cxp_write_register(0, cxp::width, 512), 0);
    uint32_t value = 0;
    ASSERT_EQ(vnsim_cxp_read_register(0, cxp::payload_size, &value), 0);
    EXPECT_EQ(value, 512u * 768u);
    EXPECT_NE(vnsim_cxp_write_register(0, cxp::payload_size, 1), 0);
    EXPECT_NE(vnsim_cxp_write_register(0, cxp::width, 5000), 0);
    EXPECT_EQ(vnsim_cxp_read_register(1, cxp::standard, &value), -1);
    EXPECT_EQ(vnsim_cxp_read_register(7, cxp::standard, &value), -1);
    VnsimCxpStats stats{};
    ASSERT_EQ(vnsim_cxp_stats(0, &stats), 0);
    EXPECT_EQ(stats.writes + stats.register_writes, 0u) << "not counted as link traffic";

    configure(R"({"boards": [{"kind": "CXP", "camera": {"faults": {"silent": true}}}]})");
    VN_HANDLE silent = open(0, VB_OPEN_INSPECT);
    uint32_t read = 0;
    unsigned char bytes[16] = {};
    const int32_t timeout = VNCXPReadReg(silent, own_link, cxp::revision, &value);
    EXPECT_NE(timeout, 0);
    EXPECT_NE(vn_text(silent, timeout).find("did not answer"), std::string::npos);
    EXPECT_NE(VNCXPWriteReg(silent, own_link, cxp::xml_manifest_selector, 0), 0);
    EXPECT_NE(VNCXPReadData(silent, own_link, cxp::device_vendor_name, 16, &read, bytes, 16), 0);
    EXPECT_EQ(vnsim_cxp_read_register(0, cxp::revision, &value), 0) << "the control interface still reaches it";
    ASSERT_EQ(vnsim_cxp_fault_silent(0, 0), 0);
    EXPECT_EQ(reg(silent, cxp::revision), cxp::revision_1_1);
}

// ---- Circular acquisition ------------------------------------------------------------------------------

class SimAcquisitionTest : public SimTest {
protected:
    // Takes the next frame of board 0 (triggering one first when `trigger`): it must be frame `counter`, in
    // buffer `index` unless that is negative, holding its pattern.
    static void expect_next(VN_HANDLE handle, VB_CIRC_DESC& desc, uint64_t counter, int index = -1, bool trigger = true)
    {
        SCOPED_TRACE("frame " + std::to_string(counter));
        ASSERT_TRUE(!trigger || vnsim_trigger(0, 1) == 1);
        VB_FRAME_RECORD record{};
        ASSERT_EQ(take(handle, desc, record), 0);
        EXPECT_EQ(record.frame_counter, counter);
        EXPECT_TRUE(index < 0 || record.buffer_index == static_cast<uint32_t>(index)) << record.buffer_index;
        EXPECT_EQ(vnsim_check_frame(frame_data(record), desc.frame_size, 1024, 768, 8, counter), 0);
    }
};

TEST_F(SimAcquisitionTest, AllocationFillsTheDescriptorWithinTheBoardsMemoryLimit)
{
    VN_HANDLE handle = open(0);
    VB_CIRC_DESC desc{};
    ASSERT_EQ(VbBufferAllocCam(handle, &desc, 5), 0);
    EXPECT_EQ(desc.buffer_count, 5u);
    EXPECT_EQ(desc.frame_size, 1024u * 768u);
    VB_CIRC_DESC second{};
    EXPECT_NE(VbBufferAllocCam(handle, &second, 5), 0) << "one ring per board";
    EXPECT_NE(VbCircAqSetup(handle, &desc, 2, VB_CIRC_FLAGS), 0);
    EXPECT_NE(VbCircAqSetup(handle, &second, VB_CIRC_MODE, VB_CIRC_FLAGS), 0) << "a descriptor it never filled";
    EXPECT_EQ(VbCircAqSetup(handle, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
    EXPECT_EQ(VbCircCleanUp(handle, &desc), 0);
    EXPECT_EQ(VbBufferFree(handle, &desc), 0);
    EXPECT_NE(VbBufferFree(handle, &desc), 0);

    VN_HANDLE inspect = open(1, VB_OPEN_INSPECT);
    EXPECT_NE(VbBufferAllocCam(inspect, &second, 2), 0) << "inspection handles cannot allocate";
    VN_HANDLE acquire = open(1);
    EXPECT_NE(VbBufferAllocCam(acquire, &second, 0), 0);
    EXPECT_NE(VbBufferAllocCam(acquire, nullptr, 2), 0);

    // The board's memory limit.
    configure(R"({"boards": [{"kind": "CL", "max_buffer_bytes": 4096,
        "camera_files": [{"name": "s.cam", "width": 32, "height": 32, "bits_per_pixel": 16}]}]})");
    VN_HANDLE limited = open(0);
    EXPECT_NE(VbBufferAllocCam(limited, &desc, 3), 0) << "3 x 2048 bytes exceed 4096";
    ASSERT_EQ(VbBufferAllocCam(limited, &desc, 2), 0);
    EXPECT_EQ(desc.frame_size, 2048u);
}

TEST_F(SimAcquisitionTest, ManualFramesComeInOrderRoundRobinWithTheirPattern)
{
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = prepare(0, desc, 3);
    EXPECT_EQ(vnsim_trigger(0, 1), -1) << "not acquiring yet";
    ASSERT_EQ(start(handle, desc), 0);
    EXPECT_NE(start(handle, desc), 0) << "already running";
    ASSERT_EQ(vnsim_trigger(0, 2), 2);

    uint64_t previous_stamp = 0;
    for (uint32_t k = 1; k <= 7; ++k) {
        if (k > 2) {
            ASSERT_EQ(vnsim_trigger(0, 1), 1);
        }
        VB_FRAME_RECORD record{};
        ASSERT_EQ(VbCirWaitDoneFrame(handle, &desc, 100, &record), 0) << "frame " << k;
        EXPECT_EQ(record.frame_counter, k);
        EXPECT_EQ(record.buffer_index, (k - 1) % 3);
        EXPECT_GT(record.board_timestamp, previous_stamp);
        previous_stamp = record.board_timestamp;
        EXPECT_EQ(vnsim_check_frame(frame_data(record), desc.frame_size, 1024, 768, 8, k), 0) << "frame " << k;
        EXPECT_NE(vnsim_check_frame(frame_data(record), desc.frame_size, 1024, 768, 8, k + 1), 0);
        // A buffer goes back only once, and only as the record the board gave.
        VB_FRAME_RECORD forged = record;
        forged.buffer_index = k % 3;
        EXPECT_NE(VbCirStatusSet(handle, &desc, &forged, 0), 0);
        EXPECT_EQ(VbCirStatusSet(handle, &desc, &record, 0), 0);
        EXPECT_NE(VbCirStatusSet(handle, &desc, &record, 0), 0);
    }
    EXPECT_NE(VbCirStatusSet(handle, &desc, nullptr, 0), 0);
    VB_FRAME_RECORD record{};
    EXPECT_EQ(VbCirWaitDoneFrame(handle, &desc, 20, &record), VB_WAIT_TIMEOUT);
    // A wait of no time polls: it answers at once, with a frame when one is waiting.
    const auto polled = std::chrono::steady_clock::now();
    EXPECT_EQ(VbCirWaitDoneFrame(handle, &desc, 0, &record), VB_WAIT_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - polled, std::chrono::milliseconds(20)) << "a poll does not wait";
    ASSERT_EQ(vnsim_trigger(0, 1), 1);
    ASSERT_EQ(VbCirWaitDoneFrame(handle, &desc, 0, &record), 0);
    EXPECT_EQ(record.frame_counter, 8u);
    EXPECT_EQ(VbCirStatusSet(handle, &desc, &record, 0), 0);

    const auto seen = stats(0);
    EXPECT_EQ((std::vector<uint64_t>{seen.generated, seen.delivered, seen.returned, seen.overwritten, seen.running}),
              (std::vector<uint64_t>{8, 8, 8, 0, 1}))
        << "generated, delivered, returned, overwritten, running";
}

// The pattern check finds a changed pixel, a changed stamp and a buffer that is no frame; the benchmark
// pattern writes only the stamp.
TEST_F(SimAcquisitionTest, CorruptedFramesAreDetectedAndTheBenchmarkPatternStampsOnlyTheCounter)
{
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = prepare(1, desc, 2);
    ASSERT_EQ(start(handle, desc), 0);
    ASSERT_EQ(vnsim_trigger(1, 1), 1);
    VB_FRAME_RECORD record{};
    ASSERT_EQ(take(handle, desc, record), 0);
    std::vector<std::byte> copy(frame_data(record), frame_data(record) + desc.frame_size);
    ASSERT_EQ(vnsim_check_frame(copy.data(), copy.size(), 640, 480, 8, 1), 0);
    EXPECT_EQ(vnsim_frame_stamp(copy.data(), copy.size()), 1u);

    copy[1000] ^= std::byte{0x01};
    EXPECT_EQ(vnsim_check_frame(copy.data(), copy.size(), 640, 480, 8, 1), 1001);
    copy[1000] ^= std::byte{0x01};
    copy[3] = std::byte{0x80};  // the stamp
    EXPECT_EQ(vnsim_check_frame(copy.data(), copy.size(), 640, 480, 8, 1), 4);
    EXPECT_EQ(vnsim_check_frame(copy.data(), copy.size() - 1, 640, 480, 8, 1), -1) << "short buffer";
    EXPECT_EQ(vnsim_check_frame(nullptr, copy.size(), 640, 480, 8, 1), -1);
    EXPECT_EQ(vnsim_check_frame(copy.data(), copy.size(), 640, 480, 0, 1), -1);

    ASSERT_EQ(vnsim_set_pattern(1, VNSIM_PATTERN_BENCHMARK), 0);
    ASSERT_EQ(vnsim_trigger(1, 1), 1);
    ASSERT_EQ(take(handle, desc, record), 0);
    ASSERT_EQ(record.buffer_index, 1u) << "a fresh buffer";
    EXPECT_EQ(vnsim_frame_stamp(frame_data(record), desc.frame_size), 2u);
    EXPECT_EQ(std::to_integer<int>(frame_data(record)[100]), 0) << "the rest of a fresh buffer stays zero";
    EXPECT_NE(vnsim_check_frame(frame_data(record), desc.frame_size, 640, 480, 8, 2), 0);
}

class SimPatternDepthTest : public SimTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(SimPatternDepthTest, FramesOfEveryDepthPassTheCheck)
{
    const uint32_t bits = GetParam();
    configure(R"({"boards": [{"kind": "CXP", "camera_files": [{"name": "c.cam", "width": 300, "height": 7,
        "bits_per_pixel": )" + std::to_string(bits) + "}]}]}");
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = prepare(0, desc, 2);
    EXPECT_EQ(desc.frame_size, 300u * 7u * ((bits + 7) / 8));
    ASSERT_EQ(start(handle, desc), 0);
    ASSERT_EQ(vnsim_trigger(0, 300), 300);
    // With 2 buffers only frames 299 and 300 are left; 298 were overwritten.
    for (uint64_t k : {299u, 300u}) {
        VB_FRAME_RECORD record{};
        ASSERT_EQ(take(handle, desc, record), 0);
        EXPECT_EQ(record.frame_counter, k);
        EXPECT_EQ(vnsim_check_frame(frame_data(record), desc.frame_size, 300, 7, bits, k), 0);
        // Pixel values stay within the depth: 16-bit little-endian words below 2^bits.
        const auto* words = reinterpret_cast<const uint16_t*>(frame_data(record));
        for (size_t i = 4; bits > 8 && bits <= 16 && i < 300 * 7; ++i) {
            ASSERT_LT(words[i], 1u << bits) << "frame " << k << ", pixel " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, SimPatternDepthTest, ::testing::Values(8u, 10u, 12u, 16u, 24u, 32u),
                         [](const auto& param_info) { return std::to_string(param_info.param) + "bit"; });

// A board that stops or aborts by itself, and the counter going on after the host's restart, are met through the
// stream: FaultCampaignTest (AcquisitionFaultTest rows and FramesAnAbortDiscardedAreNeverDeliveredFromAnEarlierLap).
TEST_F(SimAcquisitionTest, HostFallingBehindLosesTheOldestFramesAndAHostStartRestartsTheCounter)
{
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = prepare(0, desc, 4);
    ASSERT_EQ(start(handle, desc), 0);
    ASSERT_EQ(vnsim_trigger(0, 10), 10);
    auto seen = stats(0);
    EXPECT_EQ((std::vector<uint64_t>{seen.overwritten, seen.pending}), (std::vector<uint64_t>{6, 4}))
        << "overwritten, pending";
    // The next record is the oldest frame still in the ring; the counter jumps from 0 to 7.
    for (uint32_t k = 7; k <= 10; ++k) {
        expect_next(handle, desc, k, static_cast<int>((k - 1) % 4), false);
    }
    // The overflow is stacked for the host, once per lost frame.
    int overflows = 0;
    while (int32_t code = VbCirErrorCheck(handle, &desc)) {
        EXPECT_EQ(code, 220);
        ++overflows;
    }
    EXPECT_EQ(overflows, 6);

    // A host start restarts the counter after a stop, an abort or a clean-up.
    ASSERT_EQ(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_WAIT), 0);
    ASSERT_EQ(start(handle, desc), 0);
    ASSERT_EQ(vnsim_trigger(0, 2), 2);
    expect_next(handle, desc, 1, 0, false);
    ASSERT_EQ(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_NO_WAIT), 0);
    EXPECT_NE(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_NO_WAIT), 0) << "already stopped";
    // A frame completed before the stop is still handed out, then the stop is reported.
    expect_next(handle, desc, 2, 1, false);
    VB_FRAME_RECORD record{};
    EXPECT_EQ(VbCirWaitDoneFrame(handle, &desc, 100, &record), VB_ACQ_STOPPED);
    EXPECT_EQ(vnsim_trigger(0, 1), -1);

    // Host start after a stop: the counter and the buffer order begin again.
    ASSERT_EQ(start(handle, desc), 0);
    expect_next(handle, desc, 1, 0);

    // After an abort, waiting frames are dropped and the start begins at 1 as well.
    ASSERT_EQ(vnsim_trigger(0, 2), 2);
    ASSERT_EQ(VbCirControl(handle, &desc, VB_CIR_ABORT, VB_CIR_NO_WAIT), 0);
    EXPECT_EQ(VbCirWaitDoneFrame(handle, &desc, 100, &record), VB_ACQ_ABORTED);
    ASSERT_EQ(start(handle, desc), 0);
    expect_next(handle, desc, 1);

    // Set-up again after a clean-up: from 1.
    ASSERT_EQ(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_WAIT), 0);
    ASSERT_EQ(VbCircCleanUp(handle, &desc), 0);
    EXPECT_EQ(VbCirWaitDoneFrame(handle, &desc, 10, &record), VB_NOT_CONFIGURED);
    ASSERT_EQ(VbCircAqSetup(handle, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
    ASSERT_EQ(start(handle, desc), 0);
    expect_next(handle, desc, 1);
}

TEST_F(SimAcquisitionTest, ClosingReleasesTheRingAndWakesTheWaiter)
{
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = prepare(0, desc, 4);
    ASSERT_EQ(vnsim_set_trigger_mode(0, VNSIM_TRIGGER_FREE), 0);
    ASSERT_EQ(vnsim_set_rate(0, 0), 0);
    ASSERT_EQ(start(handle, desc), 0);
    int32_t result = 0;
    std::thread waiter([&] {
        VB_FRAME_RECORD record{};
        while ((result = VbCirWaitDoneFrame(handle, &desc, 10000, &record)) == 0) {
            VbCirStatusSet(handle, &desc, &record, 0);
        }
    });
    ASSERT_TRUE(vntest::wait_until([] { return stats(0).delivered > 2; }));
    close(handle);
    waiter.join();
    EXPECT_NE(result, 0);
    EXPECT_EQ(stats(0).running, 0u);
}

// A free-running board at a slow rate, then a rate changed during acquisition, which is roughly kept. That
// manual mode makes no frame by itself: ManualFramesComeInOrderRoundRobinWithTheirPattern; that a stopped
// board makes none: DataStreamTest.StartAndStopAnswerByStateFlagsAndCountAndKillAbortsTheBoard.
TEST_F(SimAcquisitionTest, FreeRunningRateChangesAtOnceAndIsRoughlyKept)
{
    // Small frames, so that checking each one stays far quicker than the frame period even under a
    // sanitizer on a busy machine: the host must keep up for the counters to run without gaps.
    configure(R"({"boards": [{"kind": "CXP"}, {"kind": "CL", "frame_source": {"rate": 0.5},
        "camera_files": [{"name": "small.cam", "width": 64, "height": 48}]}]})");
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = open(1);
    // 64 buffers: the host may be held off for over half a second before a frame is overwritten.
    ASSERT_EQ(VbBufferAllocCam(handle, &desc, 64), 0);
    ASSERT_EQ(VbCircAqSetup(handle, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
    ASSERT_EQ(start(handle, desc), 0);
    VB_FRAME_RECORD record{};
    EXPECT_EQ(VbCirWaitDoneFrame(handle, &desc, 100, &record), VB_WAIT_TIMEOUT) << "one frame every 2 s";
    ASSERT_EQ(vnsim_set_rate(1, 100), 0);
    const auto begin = std::chrono::steady_clock::now();
    uint32_t expected = 1;
    while (std::chrono::steady_clock::now() - begin < std::chrono::milliseconds(500)) {
        // The first wait is short too: the new rate applies at once.
        ASSERT_EQ(VbCirWaitDoneFrame(handle, &desc, 200, &record), 0);
        ASSERT_EQ(record.frame_counter, expected++) << "no frame lost while the host keeps up";
        ASSERT_EQ(vnsim_check_frame(frame_data(record), desc.frame_size, 64, 48, 8, record.frame_counter), 0);
        ASSERT_EQ(VbCirStatusSet(handle, &desc, &record, 0), 0);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double rate = static_cast<double>(expected - 1) / seconds;
    EXPECT_GT(rate, 100.0 / 3);
    EXPECT_LT(rate, 100.0 * 3);

    ASSERT_EQ(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_WAIT), 0);
}

TEST_F(SimAcquisitionTest, ABusBandwidthPacesTheBoardAtItsHighestRate)
{
    // 1 MiB frames with only their stamp written: unpaced, the board completes thousands a second. At
    // 100 MB/s the bus carries about 95 of them a second, whether or not the host takes them.
    configure(R"({"boards": [{"kind": "CL", "camera_files": [{"name": "mega.cam", "width": 1024, "height": 1024}],
        "frame_source": {"rate": 0, "pattern": "benchmark", "bus_bandwidth": 100000000}}]})");
    VB_CIRC_DESC desc{};
    VN_HANDLE handle = open(0);
    ASSERT_EQ(VbBufferAllocCam(handle, &desc, 4), 0);
    ASSERT_EQ(VbCircAqSetup(handle, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
    const uint64_t before = stats(0).generated;
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(start(handle, desc), 0);
    // The rate is measured over a stretch of time.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const uint64_t made = stats(0).generated - before;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    ASSERT_EQ(desc.frame_size, 1024u * 1024u);
    EXPECT_LE(static_cast<double>(made), 100e6 / static_cast<double>(desc.frame_size) * seconds + 2)
        << "faster than the bus";
    EXPECT_GE(made, 5u) << "the board made hardly any frame";
    ASSERT_EQ(VbCirControl(handle, &desc, VB_CIR_STOP, VB_CIR_WAIT), 0);
}
