// The simulated boards seen through the SDK's C functions: enumeration, open and close, camera files,
// inquiries, the region of interest, identity and board registers; and the simulator's configuration (JSON)
// with the part of the SDK that only reflects it: per-board options. (The configured-device list is met
// through the Camera Link port in CameraLinkPortTest.ThePortIndexFollowsTheSortedDeviceList.)
#include "SimTestSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

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

void configure(const char* json)
{
    ASSERT_EQ(vnsim_configure(json), 0) << vnsim_last_error();
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

