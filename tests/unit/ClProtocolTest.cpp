// The CLProtocol stand-in on the simulated Camera Link camera, through the Camera Link board's serial
// adapter: templates, probing, connecting (and moving the line to its highest rate), XML IDs
// and the cached description, register access, and GenCP's recovery from damaged, missing and late
// answers.
#include "GenCpTestSupport.h"
#include "RemoteTestSupport.h"

#include "board/VNBoards.h"
#include "clprotocol/CCLPort.h"
#include "clprotocol/CLErrException.h"
#include "remote/VNPortCLProtocol.h"
#include "sim/ClCameraRegisters.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace clcam = vnsim::clcam;
using CLProtocol::CCLPort;
using Clock = std::chrono::steady_clock;
using gencp_test::cl_stats;
using gencp_test::millis_since;

namespace {

constexpr const char* device_id = "Vantrel#VNGenCP#Vantrel#SimCam#SimCam_CL_1#_1_0_0#CL0000001";

class ClProtocolTest : public RemoteTest {
protected:
    void SetUp() override
    {
        RemoteTest::SetUp();
        plug();
    }
    void TearDown() override
    {
        port_.Disconnect();
        CCLPort::UnRegisterSerial(port_id_);
        adapter_.reset();
        unsetenv("GENICAM_CLPROTOCOL");
        RemoteTest::TearDown();
    }
    // The Camera Link board's serial line, through the adapter the library's own port uses.
    void plug()
    {
        adapter_ = std::make_unique<vngtl::VNPortCLProtocol>(std::make_shared<VNBoards::Board>(1));
        port_id_ = CCLPort::RegisterSerial("SimCam_Test", adapter_.get());
    }
    // A new configuration ends the serial references of the old one: the board and adapter are made again.
    void configure(const std::string& camera)
    {
        CCLPort::UnRegisterSerial(port_id_);
        adapter_.reset();
        const std::string json = R"({"boards": [{"kind": "CXP"}, {"kind": "CL", "camera_files": [{"name": "a.cam",
            "width": 640, "height": 480}], "camera": )" + camera + "}]}";
        ASSERT_EQ(vnsim_configure(json.c_str()), 0) << vnsim_last_error();
        plug();
    }
    uint32_t read_u32(uint32_t address)
    {
        uint8_t b[4];
        port_.Read(b, address, 4);
        return static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24);
    }

    std::unique_ptr<vngtl::VNPortCLProtocol> adapter_;
    std::string port_id_;
    CCLPort port_;
};

}  // namespace

TEST_F(ClProtocolTest, TemplatesComeFromTheDriverAndTheTemplateDirectoryAndProbingBuildsTheDeviceId)
{
    EXPECT_EQ(port_id_, "Local#SimCam_Test");
    GenICam::gcstring_vector templates;
    CCLPort::GetDeviceIDTemplates(templates);
    ASSERT_EQ(templates.size(), 1u);
    EXPECT_EQ(templates[0], "Vantrel#VNGenCP#Vantrel");

    std::filesystem::create_directories(cache_ / "drivers");
    std::ofstream(cache_ / "drivers" / "acme.txt") << "Acme#CamFamily#LX_4\n  Acme#CamFamily \n\nVantrel\n";
    std::ofstream(cache_ / "drivers" / "ignored.ini") << "Other\n";
    setenv("GENICAM_CLPROTOCOL", (cache_ / "drivers").c_str(), 1);
    CCLPort::GetDeviceIDTemplates(templates);
    const GenICam::gcstring_vector expected{"Vantrel#VNGenCP#Vantrel", "Vantrel#VNGenCP#Acme#CamFamily#LX_4",
                                            "Vantrel#VNGenCP#Acme#CamFamily"};
    EXPECT_EQ(templates, expected);

    // Probing builds the Device ID from the bootstrap strings.
    EXPECT_EQ(CCLPort::ProbeDevice(port_id_, "Vantrel#VNGenCP#Vantrel"), device_id);
    EXPECT_EQ(CCLPort::ProbeDevice(port_id_, "Vantrel#VNGenCP#Vantrel#SimCam#SimCam_CL_1"), device_id);
    EXPECT_EQ(CCLPort::ProbeDevice(port_id_, "Vantrel#VNGenCP#Vantrel#SimCam#SimCam_CL"), "")
        << "templates match whole fields";
    EXPECT_EQ(CCLPort::ProbeDevice(port_id_, "Vantrel#VNGenCP#Acme"), "");
    EXPECT_EQ(CCLPort::ProbeDevice(port_id_, "Other#Driver#Vantrel"), "") << "no such driver";
    EXPECT_THROW(CCLPort::ProbeDevice("Local#Nobody", "Vantrel#VNGenCP#Vantrel"), CLProtocol::CLErrException);

    // A silent camera: four tries of about 100 ms each. The tries are counted by the camera; the time is only
    // bounded loosely, as the machine may be loaded.
    ASSERT_EQ(vnsim_cl_fault(1, "silent", 1), 0);
    const uint64_t commands_before = cl_stats().commands;
    const auto start = Clock::now();
    EXPECT_EQ(CCLPort::ProbeDevice(port_id_, "Vantrel#VNGenCP#Vantrel", 100), "");
    EXPECT_EQ(cl_stats().commands - commands_before, 4u);
    EXPECT_LT(millis_since(start), 5000.0);
}

TEST_F(ClProtocolTest, ConnectingMovesTheLineToItsHighestRateAndRemembersTheDevice)
{
    EXPECT_EQ(port_.GetAccessMode(), GenApi::NI);
    CCLPort other;
    EXPECT_FALSE(other.Connect("Local#Unknown")) << "nothing remembered";
    EXPECT_THROW(port_.Connect("Local#Unknown", device_id), CLProtocol::CLErrException);
    try {
        port_.Connect(port_id_, "Vantrel#VNGenCP#Vantrel#SimCam#SimCam_CL_2");
        FAIL() << "a camera of another model is refused";
    } catch (const CLProtocol::CLErrException& e) {
        EXPECT_EQ(e.GetErrorCode(), CLProtocol::cl_err_no_device_found);
        EXPECT_NE(std::string(e.what()).find("SimCam_CL_1"), std::string::npos) << e.what();
    }
    EXPECT_THROW(port_.Connect(port_id_, "Not#A#Device"), CLProtocol::CLErrException);

    port_.Connect(port_id_, device_id);
    EXPECT_EQ(port_.GetAccessMode(), GenApi::RW);
    EXPECT_EQ(port_.GetDeviceID(), device_id);
    EXPECT_EQ(port_.GetBaudRate(), 115200u) << "the camera offers up to 115200, the board up to 230400";
    EXPECT_EQ(std::pair(cl_stats().host_baud, cl_stats().camera_baud), std::pair(115200u, 115200u)) << "host, camera";
    EXPECT_EQ(read_u32(clcam::width), 640u);

    port_.Disconnect();
    EXPECT_EQ(port_.GetAccessMode(), GenApi::NI);
    EXPECT_TRUE(port_.Connect(port_id_)) << "the Device ID connected last is remembered";
    EXPECT_EQ(read_u32(clcam::height), 480u);

    port_.Disconnect();
    configure(R"({"model": "SimCam-CL-9"})");
    EXPECT_FALSE(port_.Connect(port_id_)) << "another camera on the line";
    EXPECT_FALSE(port_.Connect(port_id_)) << "and the old Device ID is forgotten";
}

TEST_F(ClProtocolTest, TheDescriptionIsListedAndCachedAsAFileOrServedPlain)
{
    configure(R"({"xml": "both", "xml_version": "2.3.4"})");
    port_.Connect(port_id_, device_id);
    GenICam::gcstring_vector ids;
    port_.GetXMLIDs(ids);
    ASSERT_EQ(ids.size(), 1u) << "the zipped and the plain copy are one description";
    EXPECT_EQ(ids[0], "SchemaVersion.1.1@Vantrel#SimCam#SimCam_CL_1#_1_0_0#CL0000001@DeviceVersion.2.3.4");

    const auto before = cl_stats();
    const std::string url = port_.MakeURLfromXMLID(ids[0]);
    ASSERT_EQ(url.rfind("file:///", 0), 0u) << url;
    const std::string path = url.substr(7);
    EXPECT_EQ(std::filesystem::path(path).parent_path(), cache_);
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    std::string expected(vnsim_cl_camera_xml(nullptr, 0), '\0');
    vnsim_cl_camera_xml(expected.data(), expected.size() + 1);
    EXPECT_EQ(text.str(), expected) << "unzipped";
    const auto after = cl_stats();
    EXPECT_LT(after.bytes_read - before.bytes_read, expected.size() / 3) << "the zipped copy was read";

    EXPECT_EQ(port_.MakeURLfromXMLID(ids[0]), url);
    EXPECT_EQ(cl_stats().commands, after.commands) << "the cached file is not read again";
    GenICam::gcstring unknown = "SchemaVersion.1.1@x@DeviceVersion.9.9.9";
    EXPECT_THROW(port_.MakeURLfromXMLID(unknown), CLProtocol::CLErrException);

    // A camera with only the plain description: it is served as it is.
    port_.Disconnect();
    configure(R"({"xml": "plain"})");
    port_.Connect(port_id_, device_id);
    GenICam::gcstring_vector plain_ids;
    port_.GetXMLIDs(plain_ids);
    ASSERT_EQ(plain_ids.size(), 1u);
    EXPECT_NE(plain_ids[0], ids[0]);
    const std::string plain_url = port_.MakeURLfromXMLID(plain_ids[0]);
    EXPECT_GT(std::filesystem::file_size(plain_url.substr(7)), 5000u);
}

TEST_F(ClProtocolTest, RegistersAreReadAndWrittenInPacketsAndPendingAcknowledgesExtendTheWait)
{
    port_.Connect(port_id_, device_id);
    const uint8_t width[4] = {0x00, 0x02, 0, 0};  // 512, little-endian
    port_.Write(width, clcam::width, 4);
    EXPECT_EQ(read_u32(clcam::width), 512u);
    uint32_t direct = 0;
    ASSERT_EQ(vnsim_cl_peek(1, clcam::width, &direct, 4), 0);
    EXPECT_EQ(direct, 512u);

    std::vector<uint8_t> big(2500);
    const auto commands = cl_stats().commands;
    port_.Read(big.data(), clcam::xml_plain_window, static_cast<int64_t>(big.size()));
    EXPECT_EQ(cl_stats().commands - commands, 3u) << "1000 bytes a packet";
    try {
        const uint8_t one[4] = {1, 0, 0, 0};
        port_.Write(one, clcam::width_max, 4);
        FAIL() << "a read-only register";
    } catch (const GenICam::GenericException& e) {
        EXPECT_NE(std::string(e.what()).find("0x8004"), std::string::npos) << e.what();
    }
    EXPECT_THROW(port_.Read(nullptr, 0, 4), GenICam::GenericException);

    // Pending acknowledges extend the wait.
    port_.SetSerialTimeOut(200);
    ASSERT_EQ(vnsim_cl_fault(1, "pending_ms", 600), 0);
    const auto start = Clock::now();
    EXPECT_EQ(read_u32(clcam::width), 512u);
    EXPECT_GE(millis_since(start), 600.0);
    EXPECT_EQ(port_.GetStats().pending, 1u);
    EXPECT_EQ(port_.GetStats().resends, 0u) << "a pending command is not sent again";
    CCLPort::UnRegisterSerial(port_id_);
    EXPECT_THROW(read_u32(clcam::width), CLProtocol::CLErrException) << "the line is gone";
}
