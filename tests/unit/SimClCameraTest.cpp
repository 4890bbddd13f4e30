// The simulated Camera Link camera: its GenCP answers and their error statuses, the resend of a lost
// answer, the faults it can be given, its description, its geometry driving the board's frames, and the
// serial handles the board SDK hands out for it.
#include "GenCpTestSupport.h"
#include "SimTestSupport.h"

#include "sim/ClCameraRegisters.h"

#include <cstdio>
#include <string>
#include <tuple>

namespace clcam = vnsim::clcam;
using namespace gencp_test;

namespace {

class SimClCameraTest : public SimTest {
protected:
    void TearDown() override
    {
        if (serial_ != nullptr) {
            clVNSerialClose(serial_);
        }
        SimTest::TearDown();
    }
    void* port()
    {
        EXPECT_EQ(clVNSerialInit(0, &serial_), 0);
        return serial_;
    }
    Answer command(const std::vector<uint8_t>& packet, uint32_t timeout_ms = 1000)
    {
        EXPECT_EQ(send(serial_, packet), 0);
        return receive(serial_, timeout_ms);
    }
    static void configure(const std::string& camera)
    {
        const std::string json = R"({"boards": [{"kind": "CXP"}, {"kind": "CL", "device_name": "VNCL_1",
            "camera_files": [{"name": "a.cam", "width": 320, "height": 200}], "frame_source": {"trigger": "manual"},
            "camera": )" + camera + "}]}";
        ASSERT_EQ(vnsim_configure(json.c_str()), 0) << vnsim_last_error();
    }
    void* serial_ = nullptr;
};

}  // namespace

TEST_F(SimClCameraTest, ACorruptedAnswerIsSentAgainErrorsHaveTheirStatusesAndGeometryAndStreamingDriveTheBoard)
{
    configure(R"({"faults": {"corrupt_answers": 1}})");
    port();
    const Answer bad = command(write_mem_u32(20, clcam::user_defined_name, 0x00434241));  // "ABC"
    ASSERT_EQ(bad.result, 0);
    EXPECT_FALSE(bad.checksums_ok);
    const Answer again = command(write_mem_u32(20, clcam::user_defined_name, 0x00434241));
    EXPECT_EQ(std::tuple(again.checksums_ok, again.status, again.request_id), std::tuple(true, 0, 20))
        << "checksums, status, request ID";
    EXPECT_EQ(std::pair(cl_stats().corrupted, cl_stats().resends), std::pair(uint64_t{1}, uint64_t{1}))
        << "corrupted, resent";
    char name[8] = {};
    ASSERT_EQ(vnsim_cl_peek(1, clcam::user_defined_name, name, 4), 0);
    EXPECT_STREQ(name, "ABC");
    EXPECT_EQ(vnsim_cl_fault(1, "no such fault", 1), -1);
    EXPECT_EQ(vnsim_cl_fault(0, "silent", 1), -1) << "the CoaXPress board has no serial camera";

    // The statuses the camera answers with. (The bootstrap strings and the manifest are read through
    // CLProtocol in ClProtocolTest: the Device ID, the XML ID and the unzipped description.)
    EXPECT_EQ(command(read_mem(6, 0x8000, 4)).status, 0x8003) << "no such address";
    EXPECT_EQ(command(read_mem(7, 0, 1001)).status, 0x8002) << "more than one packet's payload";
    EXPECT_EQ(command(write_mem_u32(8, clcam::width_max, 1)).status, 0x8004) << "read-only";
    EXPECT_EQ(command(write_mem_u32(9, clcam::width + 2, 1)).status, 0x8005) << "unaligned";
    EXPECT_EQ(command(write_mem_u32(10, clcam::width, 4096)).status, 0x8002) << "beyond WidthMax";
    const Answer unknown = command(packet(0x0900, 11, {}));
    EXPECT_EQ(unknown.id, 0x0901) << "an unknown command is acknowledged";
    EXPECT_EQ(unknown.status, 0x8001);

    // The camera's geometry and streaming drive the board.
    VB_CIRC_DESC desc{};
    VN_HANDLE board = open(1);
    const auto inquire = [&](auto what) {
        uint32_t value = 0;
        EXPECT_EQ(VbBrdInquire(board, what, &value), 0) << what;
        return value;
    };
    EXPECT_EQ(inquire(VB_INQ_WIDTH), 320u) << "the camera file programs the camera";
    EXPECT_EQ(command(write_mem_u32(1, clcam::width, 256)).status, 0);
    EXPECT_EQ(command(write_mem_u32(2, clcam::pixel_format, clcam::mono12)).status, 0);
    const uint32_t bytes = inquire(VB_INQ_FRAME_BYTES);
    EXPECT_EQ(std::tuple(inquire(VB_INQ_WIDTH), inquire(VB_INQ_BITS_PER_PIXEL), bytes),
              std::tuple(256u, 12u, 256u * 200u * 2u))
        << "width, bits per pixel, frame bytes";
    EXPECT_EQ(le32(command(read_mem(3, clcam::payload_size, 4)).payload), 256u * 200u * 2u);

    EXPECT_EQ(command(write_mem_u32(4, clcam::tl_params_locked, 1)).status, 0);
    EXPECT_EQ(command(write_mem_u32(5, clcam::width, 128)).status, 0x8006) << "locked while streaming";
    EXPECT_EQ(command(write_mem_u32(6, clcam::tl_params_locked, 0)).status, 0);

    ASSERT_EQ(VbBufferAllocCam(board, &desc, 2), 0);
    ASSERT_EQ(VbCircAqSetup(board, &desc, VB_CIRC_MODE, VB_CIRC_FLAGS), 0);
    ASSERT_EQ(start(board, desc), 0);
    EXPECT_EQ(command(write_mem_u32(7, clcam::acquisition_stop, 1)).status, 0);
    EXPECT_EQ(vnsim_trigger(1, 1), 0) << "a stopped camera sends no frames";
    EXPECT_EQ(command(write_mem_u32(8, clcam::acquisition_start, 1)).status, 0);
    EXPECT_EQ(vnsim_trigger(1, 1), 1);
    VB_FRAME_RECORD record{};
    ASSERT_EQ(VbCirWaitDoneFrame(board, &desc, 100, &record), 0);
    EXPECT_EQ(vnsim_check_frame(reinterpret_cast<const void*>(record.data_address), bytes, 256, 200, 12,
                                record.frame_counter),
              0);
}

// Its feature names are checked by the reference GenApi in test_cl_camera.py.
TEST_F(SimClCameraTest, TheDescriptionNamesEveryRegisterByItsConstant)
{
    std::string xml(vnsim_cl_camera_xml(nullptr, 0), '\0');
    vnsim_cl_camera_xml(xml.data(), xml.size() + 1);
    EXPECT_EQ(xml.find('{'), std::string::npos) << "every address token was replaced";
    for (const auto& feature : clcam::features) {
        char address[32];
        std::snprintf(address, sizeof address, "<Address>0x%X</Address>", feature.address);
        EXPECT_NE(xml.find(address), std::string::npos) << feature.token;
    }
}

TEST_F(SimClCameraTest, TheBoardsOwnSerialHandleReachesTheCameraUntilItIsClosed)
{
    VN_HANDLE board = open(1, VB_OPEN_INSPECT);
    VN_HANDLE cxp = open(0, VB_OPEN_INSPECT);
    void* serial = nullptr;
    void* reference = nullptr;
    EXPECT_NE(clVNSerialInitFromBoardHandle(cxp, &serial), 0) << "the CoaXPress board has no serial port";
    EXPECT_NE(clVNGetSerialRefFromBoardHandle(cxp, &reference), 0);
    ASSERT_EQ(clVNSerialInitFromBoardHandle(board, &serial), 0);
    ASSERT_EQ(clVNGetSerialRefFromBoardHandle(board, &reference), 0);
    EXPECT_NE(serial, nullptr);
    EXPECT_NE(reference, nullptr);
    uint32_t rate = 0;
    ASSERT_EQ(clVNGetBaudRate(reference, &rate), 0);
    EXPECT_EQ(rate, 9600u);
    EXPECT_NE(clVNGetBaudRate(serial, &rate), 0) << "a serial handle is not a reference";
    ASSERT_EQ(send(serial, read_mem(7, clcam::width_max, 4)), 0);
    const Answer answer = receive(serial);
    ASSERT_EQ(answer.result, 0);
    EXPECT_EQ(le32(answer.payload), 2048u);
    EXPECT_EQ(clVNSetBaudRate(serial, 0x02), 0);
    ASSERT_EQ(clVNGetBaudRate(reference, &rate), 0);
    EXPECT_EQ(rate, 19200u) << "the board SDK reports the port's rate now";
    EXPECT_EQ(clVNSerialClose(serial), 0);
    EXPECT_NE(clVNSerialClose(serial), 0);
    uint32_t size = 1;
    char byte = 0;
    EXPECT_EQ(clVNSerialRead(serial, &byte, &size, 10), -10006);
    EXPECT_EQ(clVNFlushPort(serial), -10006);
    close(board);
    EXPECT_NE(clVNGetBaudRate(reference, &rate), 0) << "the reference ends with its board handle";
}
