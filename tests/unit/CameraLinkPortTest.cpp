// The Camera Link camera's port on the simulated Camera Link board: the serial adapter's answers (zero
// reads, a closed board, a missing serial reference, time-outs and their flush, error texts, the port
// index), the port's Device ID template choice by make and model, its info values, reads and writes over
// the serial line, URL queries and XML ID versions, and a camera file without make and model.
#include "GenCpTestSupport.h"
#include "RemoteTestSupport.h"

#include "board/VNBoards.h"
#include "remote/VNPortCL.h"
#include "remote/VNPortCLProtocol.h"
#include "sim/ClCameraRegisters.h"

#include "clprotocol/CLErrException.h"
#include "core/BasePortMedium.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

namespace clcam = vnsim::clcam;
using vngtl::VNPortCL;
using vngtl::VNPortCLProtocol;

namespace {

// Stands in for the remote-device medium that owns a port.
class TestMedium final : public vngtl::BasePortMedium {
public:
    vngtl::BasePort* get_port() override { return nullptr; }
    const vngtl::BasePort* get_port() const override { return nullptr; }
};

class CameraLinkPortTest : public RemoteTest {
protected:
    void TearDown() override
    {
        unsetenv("GENICAM_CLPROTOCOL");
        RemoteTest::TearDown();
    }
    // A CoaXPress board 0 and a Camera Link board 1 whose camera file and camera are given.
    static void configure(const std::string& camera_file, const std::string& camera, const std::string& faults = "{}")
    {
        const std::string json = R"({"boards": [{"kind": "CXP", "device_name": "VNCXP_0"}, {"kind": "CL",
            "device_name": "VNCL_1", "camera_files": [)" + camera_file + R"(], "camera": )" + camera +
                                 R"(, "faults": )" + faults + "}]}";
        ASSERT_EQ(vnsim_configure(json.c_str()), 0) << vnsim_last_error();
    }
    TestMedium medium_;
};

}  // namespace

TEST_F(CameraLinkPortTest, AdapterTimeOutsFlushOnceErrorsBecomeTextsAndBoardsThatCannotServeAnswerCodes)
{
    auto board = std::make_shared<VNBoards::Board>(1);
    VNPortCLProtocol adapter(board);
    EXPECT_EQ(adapter.check_port(), 0);
    EXPECT_TRUE(adapter.serial_ready());
    CLUINT32 rate = 0;
    ASSERT_EQ(adapter.get_baud_rate(&rate), 0);
    EXPECT_EQ(rate, 9600u);
    CLUINT32 rates = 0;
    ASSERT_EQ(adapter.clGetSupportedBaudRates(&rates), 0);
    EXPECT_EQ(rates, 0x3Fu);

    const auto flushes = gencp_test::cl_stats().flushes;
    char buffer[16];
    CLUINT32 size = sizeof buffer;
    EXPECT_EQ(adapter.clSerialRead(buffer, &size, 30), -10004);
    EXPECT_EQ(gencp_test::cl_stats().flushes - flushes, 1u);

    EXPECT_EQ(adapter.serial_port_index(), 0);
    adapter.raise_error(0);
    try {
        adapter.raise_error(-10004);
        FAIL() << "a code other than 0 throws";
    } catch (const CLProtocol::CLErrException& e) {
        EXPECT_STREQ(e.what(), "Camera Link Serial Error -10004: The serial operation timed out.");
        EXPECT_STREQ(e.GetSourceFileName(), "VNPortCLProtocol");
        EXPECT_STREQ(e.GetExceptionType(), "CLErrException");
    }

    auto cxp = std::make_shared<VNBoards::Board>(0);
    VNPortCLProtocol wrong(cxp);
    EXPECT_EQ(wrong.serial_port_index(), -1) << "a board without a serial port is not in the list";
    try {
        wrong.raise_error(-10004);
        FAIL();
    } catch (const CLProtocol::CLErrException& e) {
        EXPECT_STREQ(e.what(), "Error -10005 while attempting to retrieve the Camera Link port info.");
    }

    // A read of nothing, a board that cannot open and one without a serial reference.
    ASSERT_EQ(vnsim_fault_open_fails(1, 1000), 0);
    VNPortCLProtocol closed(std::make_shared<VNBoards::Board>(1));
    std::memcpy(buffer, "keep", 4);
    size = 0;
    EXPECT_EQ(closed.clSerialRead(buffer, &size, 10), -10001) << "before the board is asked";
    EXPECT_EQ(std::string(buffer, 4), "keep");
    size = 4;
    EXPECT_EQ(closed.clSerialRead(buffer, &size, 10), -10006);
    EXPECT_EQ(closed.clSerialWrite(buffer, &size, 10), -10006);
    EXPECT_EQ(closed.check_port(), -10006) << "a board that never opened";
    EXPECT_FALSE(closed.serial_ready());
    EXPECT_EQ(closed.serial_port_index(), -10006);
    ASSERT_EQ(vnsim_fault_open_fails(1, 0), 0);

    configure(R"({"name": "a.cam", "width": 64, "height": 64})", "{}", R"({"serial_reference_fails": true})");
    VNPortCLProtocol half(std::make_shared<VNBoards::Board>(1));
    EXPECT_EQ(half.check_port(), -10003) << "open, with a serial handle but no reference";
    EXPECT_EQ(half.get_baud_rate(&rate), -10006);
    EXPECT_FALSE(half.serial_ready());
}

TEST_F(CameraLinkPortTest, ThePortIndexFollowsTheSortedDeviceList)
{
    ASSERT_EQ(vnsim_configure(R"({"boards": [{"kind": "CL", "device_name": "VNCL_B"},
        {"kind": "CL", "device_name": "VNCL_A"}, {"kind": "CXP", "device_name": "VNAAA"}]})"), 0);
    EXPECT_EQ(VNPortCLProtocol(std::make_shared<VNBoards::Board>(0)).serial_port_index(), 1);
    EXPECT_EQ(VNPortCLProtocol(std::make_shared<VNBoards::Board>(1)).serial_port_index(), 0);
}

TEST_F(CameraLinkPortTest, ThePortConnectsServesRegistersAndDescribesItselfAndItsXmlIdVersions)
{
    auto board = std::make_shared<VNBoards::Board>(1);
    VNPortCL port(board);
    ASSERT_TRUE(port.connected());
    EXPECT_EQ(port.port_id(), "Local#Vantrel_SimCam_CL-1_Device_VN1");
    EXPECT_EQ(port.cl_port().GetDeviceID(), "Vantrel#VNGenCP#Vantrel#SimCam#SimCam_CL_1#_1_0_0#CL0000001");
    EXPECT_FALSE(port.good()) << "not yet given to its medium";
    port.set_medium(&medium_);
    EXPECT_TRUE(port.good());

    EXPECT_EQ(info_text(port, GenTL::PORT_INFO_ID), "Device");
    EXPECT_EQ(info_text(port, GenTL::PORT_INFO_VENDOR), "Vantrel");
    EXPECT_EQ(info_text(port, GenTL::PORT_INFO_MODEL), "SimCam CL-1");
    EXPECT_EQ(info_text(port, GenTL::PORT_INFO_TLTYPE), "CL");
    EXPECT_EQ(info_text(port, GenTL::PORT_INFO_MODULE), "Device");
    EXPECT_EQ(info_text(port, GenTL::PORT_INFO_VERSION), "GENICAM_CLPROTOCOL");
    EXPECT_EQ(info_text(port, GenTL::PORT_INFO_PORTNAME), "Device");
    EXPECT_EQ(info_text(port, VNPortCL::device_id_info), port.cl_port().GetDeviceID());
    EXPECT_TRUE(info_bool(port, GenTL::PORT_INFO_LITTLE_ENDIAN));
    EXPECT_TRUE(info_bool(port, GenTL::PORT_INFO_ACCESS_READ));
    EXPECT_TRUE(info_bool(port, GenTL::PORT_INFO_ACCESS_WRITE));
    EXPECT_FALSE(info_bool(port, GenTL::PORT_INFO_ACCESS_NA));
    EXPECT_FALSE(info_bool(port, GenTL::PORT_INFO_ACCESS_NI));
    port.set_writable(false);
    EXPECT_FALSE(info_bool(port, GenTL::PORT_INFO_ACCESS_WRITE));
    uint8_t bytes[4] = {0, 1, 0, 0};  // 256, little-endian
    size_t size = 4;
    EXPECT_EQ(port.write(clcam::width, bytes, &size), GenTL::GC_ERR_ACCESS_DENIED);
    expect_last("GC_ERR_ACCESS_DENIED", "VNPortCL::write", "The port is not writable.");
    // Writes over the serial line are met by a real consumer in test_cl_camera.py.
    uint8_t back[4] = {};
    EXPECT_EQ(port.read(clcam::width, nullptr, &size), GenTL::GC_ERR_INVALID_PARAMETER);
    expect_last("GC_ERR_INVALID_PARAMETER", "VNPortCL::read", "The read buffer is a null pointer.");
    EXPECT_EQ(port.read(0x8000, back, &size), GenTL::GC_ERR_IO);
    EXPECT_NE(last_error().find("Caught an exception attempting to read from Local#Vantrel_SimCam_CL-1_Device_VN1: "
                                "The camera refused ReadMem"),
              std::string::npos)
        << last_error();

    uint32_t count = 0;
    ASSERT_EQ(port.num_urls(&count), GenTL::GC_ERR_SUCCESS);
    EXPECT_EQ(count, 1u);
    GenTL::INFO_DATATYPE type = GenTL::INFO_DATATYPE_UNKNOWN;
    char url[512];
    int32_t number = -1;
    size = 4;
    ASSERT_EQ(port.url_info(0, GenTL::URL_INFO_SCHEMA_VER_MINOR, &type, &number, &size), GenTL::GC_ERR_SUCCESS);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(type, GenTL::INFO_DATATYPE_INT32);
    EXPECT_EQ(port.url_info(0, GenTL::URL_INFO_FILE_SHA1_HASH, &type, url, &size), GenTL::GC_ERR_NOT_IMPLEMENTED);
    expect_last("GC_ERR_NOT_IMPLEMENTED", "VNPortCL::url_info",
                "SHA1 hash of an XML file is not available for CLProtocol devices.");
    EXPECT_EQ(port.url_info(1, GenTL::URL_INFO_URL, &type, url, &size), GenTL::GC_ERR_INVALID_INDEX);
    expect_last("GC_ERR_INVALID_INDEX", "VNPortCL::url_info",
                "Index 1 exceeds the 1 URLs available on port Local#Vantrel_SimCam_CL-1_Device_VN1.");
    size = 2;
    EXPECT_EQ(port.url_info(0, GenTL::URL_INFO_FILE_VER_MAJOR, &type, &number, &size),
              GenTL::GC_ERR_BUFFER_TOO_SMALL);
    expect_last("GC_ERR_BUFFER_TOO_SMALL", "VNPortCL::url_info",
                "Could not copy the return data to the output buffer for URL_INFO_CMD 3 for URL 0 on port "
                "Local#Vantrel_SimCam_CL-1_Device_VN1.");
    EXPECT_EQ(port.num_urls(nullptr), GenTL::GC_ERR_INVALID_PARAMETER);

    // The versions are read from the XML ID's markers.
    const auto version = [](const std::string& id, GenTL::URL_INFO_CMD command) -> std::optional<int32_t> {
        int32_t value = -1;
        return VNPortCL::xml_id_version(id, command, value) ? std::optional(value) : std::nullopt;
    };
    const std::string id = "SchemaVersion.1.0@DeviceVersion.2.3@x";
    EXPECT_EQ(version(id, GenTL::URL_INFO_SCHEMA_VER_MAJOR), 1);
    EXPECT_EQ(version(id, GenTL::URL_INFO_SCHEMA_VER_MINOR), 0);
    EXPECT_EQ(version(id, GenTL::URL_INFO_FILE_VER_MAJOR), 2);
    EXPECT_EQ(version(id, GenTL::URL_INFO_FILE_VER_MINOR), 3);
    EXPECT_EQ(version(id, GenTL::URL_INFO_FILE_VER_SUBMINOR), std::nullopt) << "only two numbers";
    EXPECT_EQ(version("Vantrel@x", GenTL::URL_INFO_SCHEMA_VER_MAJOR), std::nullopt);
    EXPECT_EQ(version("SchemaVersion.1@x", GenTL::URL_INFO_SCHEMA_VER_MINOR), std::nullopt);
    EXPECT_EQ(version("SchemaVersion.1.1@V#S@DeviceVersion.4.5.6", GenTL::URL_INFO_FILE_VER_SUBMINOR), 6);
}

// Of the templates on file, the one naming the camera's make and model is chosen; without one, without make and
// model, or without an answering camera, the set-up fails.
TEST_F(CameraLinkPortTest, TheTemplateNamingMakeAndModelIsChosenAndMissingTemplatesMakesOrCamerasFailTheSetup)
{
    std::filesystem::create_directories(cache("templates"));
    std::ofstream(cache("templates/acme.txt")) << "Acme#CamFamily#Other_Model\nAcme#CamFamily#LX_4\n";
    setenv("GENICAM_CLPROTOCOL", cache("templates").c_str(), 1);
    for (const std::string model : {"LX 4", "LX 5"}) {
        SCOPED_TRACE(model);
        configure(R"({"name": "a.cam", "width": 64, "height": 64, "make": "Acme", "model": ")" + model + "\"}",
                  R"({"vendor": "Acme", "family": "CamFamily", "model": ")" + model + "\"}");
        VNPortCL port(std::make_shared<VNBoards::Board>(1));
        port.set_medium(&medium_);
        if (model == "LX 5") {
            EXPECT_FALSE(port.connected());
            expect_last("GC_ERR_ERROR", "VNPortCL::setup_clprotocol",
                        "CLProtocol setup failed on \"Acme_LX_5_Device_VN1\". No Device ID template could be found "
                        "matching vendor make \"Acme\" and model \"LX 5\".");
            EXPECT_FALSE(port.good());
            continue;
        }
        ASSERT_TRUE(port.connected()) << last_error();
        EXPECT_EQ(port.port_id(), "Local#Acme_LX_4_Device_VN1");
        EXPECT_EQ(port.cl_port().GetDeviceID(), "Vantrel#VNGenCP#Acme#CamFamily#LX_4#_1_0_0#CL0000001");
    }

    // A silent camera fails the set-up with the driver's text.
    unsetenv("GENICAM_CLPROTOCOL");
    configure(R"({"name": "a.cam", "width": 64, "height": 64})", R"({"faults": {"silent": true}})");
    EXPECT_FALSE(VNPortCL(std::make_shared<VNBoards::Board>(1)).connected());
    expect_last("GC_ERR_IO", "VNPortCL::setup_clprotocol",
                "CLProtocol setup failed on \"Vantrel_SimCam_Device_VN1\" with the CLProtocol::CLErrException: "
                "No camera was found on \"Local#Vantrel_SimCam_Device_VN1\": there is no Device ID to connect to.");

    // Without make and model the port has no values either.
    configure(R"({"name": "a.cam", "width": 64, "height": 64, "make": "", "model": ""})", "{}");
    VNPortCL port(std::make_shared<VNBoards::Board>(1));
    port.set_medium(&medium_);
    EXPECT_FALSE(port.connected());
    EXPECT_FALSE(port.good());
    GenTL::INFO_DATATYPE type = GenTL::INFO_DATATYPE_UNKNOWN;
    size_t size = 0;
    EXPECT_EQ(port.info(GenTL::PORT_INFO_ID, &type, nullptr, &size), GenTL::GC_ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(port.info(GenTL::PORT_INFO_VENDOR, &type, nullptr, &size), GenTL::GC_ERR_NOT_IMPLEMENTED);
}
