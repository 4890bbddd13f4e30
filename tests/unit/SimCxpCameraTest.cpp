// The simulated CoaXPress camera through the SDK's CoaXPress calls and the vnsim_cxp_ control functions:
// the bootstrap block, the manifest and its URL texts, the XML files in camera memory, the feature registers
// driving the board's frames, and the faults a configuration can ask for.
#include "SimTestSupport.h"

#include "sim/CxpCameraRegisters.h"

#include <bit>
#include <cstring>
#include <string>
#include <vector>

namespace cxp = vnsim::cxp;

namespace {

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

const unsigned char* frame_data(const VB_FRAME_RECORD& record)
{
    return reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(record.data_address));
}

std::string hex(size_t value)
{
    char text[20];
    std::snprintf(text, sizeof text, "%zX", value);
    return text;
}

uint32_t inquire(VN_HANDLE handle, uint32_t key)
{
    uint32_t value = 0;
    EXPECT_EQ(VbBrdInquire(handle, key, &value), 0) << "key 0x" << std::hex << key;
    return value;
}

void configure(const char* json)
{
    ASSERT_EQ(vnsim_configure(json), 0) << vnsim_last_error();
}

}  // namespace

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
    EXPECT_EQ(inquire(handle, VB_INQ_WIDTH), 640u);
    EXPECT_EQ(inquire(handle, VB_INQ_HEIGHT), 480u);
    EXPECT_EQ(inquire(handle, VB_INQ_BITS_PER_PIXEL), 12u);
    EXPECT_EQ(inquire(handle, VB_INQ_FRAME_BYTES), 640u * 480u * 2u);
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
    const unsigned char* data = frame_data(record);
    for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = (y == 0 ? 8 : 0); x < 300; ++x) {
            ASSERT_EQ(data[y * 300 + x], x % 256) << x << "," << y;
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
        ASSERT_EQ(data[i], 0) << i;
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
