// The Camera Link serial stand-in on the simulated serial line: the port list, the size protocol, GenCP
// commands answered by the simulated camera, timing by baud rate, time-outs that take nothing, flushing,
// baud-rate changes on both ends and error texts. (The board SDK's header declares clSerialClose for the
// board wrapper, so this file keeps to the standard library's header.)
#include "GenCpTestSupport.h"

#include "clserial/clserial.h"
#include "sim/ClCameraRegisters.h"

#include <cstring>
#include <string>
#include <tuple>

namespace clcam = vnsim::clcam;
using namespace gencp_test;
using Clock = std::chrono::steady_clock;

namespace {

class ClSerialTest : public ::testing::Test {
protected:
    void SetUp() override { vnsim_reset(); }
    void TearDown() override
    {
        if (serial_ != nullptr) {
            clSerialClose(serial_);
        }
        vnsim_reset();
    }
    static int32_t send(void* serial, std::vector<uint8_t> bytes)
    {
        return gencp_test::send(serial, std::move(bytes), 1000, clSerialWrite);
    }
    static Answer receive(void* serial, uint32_t timeout_ms = 1000)
    {
        return gencp_test::receive(serial, timeout_ms, clSerialRead);
    }
    hSerRef serial_ = nullptr;
};

}  // namespace

TEST_F(ClSerialTest, OnePortIsListedWithItsMakerAndTheSizeProtocolAndErrorTextsStandardCodesFirst)
{
    CLUINT32 ports = 0;
    ASSERT_EQ(clGetNumPorts(&ports), CL_ERR_NO_ERR);
    EXPECT_EQ(ports, 1u) << "only the Camera Link board has a serial port";
    char maker[64];
    char id[64];
    CLUINT32 maker_size = sizeof maker;
    CLUINT32 id_size = sizeof id;
    CLUINT32 version = 0;
    ASSERT_EQ(clGetPortInfo(0, maker, &maker_size, id, &id_size, &version), CL_ERR_NO_ERR);
    EXPECT_STREQ(maker, "Vantrel");
    EXPECT_EQ(maker_size, 8u) << "the bytes written, NUL included";
    EXPECT_STREQ(id, "VNCL_1");
    EXPECT_EQ(version, static_cast<CLUINT32>(CL_DLL_VERSION_2_1));
    id_size = 3;
    EXPECT_EQ(clGetPortInfo(0, maker, &maker_size, id, &id_size, &version), CL_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(id_size, 7u) << "the size needed";
    EXPECT_EQ(clGetPortInfo(1, maker, &maker_size, id, &id_size, &version), CL_ERR_INVALID_INDEX);
    hSerRef serial = nullptr;
    EXPECT_EQ(clSerialInit(1, &serial), CL_ERR_INVALID_INDEX);

    // Error texts: the standard codes first, then the maker's.
    char text[256];
    CLUINT32 size = sizeof text;
    ASSERT_EQ(clGetErrorText("Vantrel", CL_ERR_TIMEOUT, text, &size), CL_ERR_NO_ERR);
    EXPECT_STREQ(text, "The serial operation timed out.");
    EXPECT_EQ(size, std::strlen(text) + 1);
    size = sizeof text;
    EXPECT_EQ(clGetErrorText("Other", CL_ERR_INVALID_REFERENCE, text, &size), CL_ERR_NO_ERR)
        << "standard codes need no maker";
    size = sizeof text;
    EXPECT_EQ(clGetErrorText("Vantrel", -30001, text, &size), CL_ERR_ERROR_NOT_FOUND);
    EXPECT_EQ(clGetErrorText("Other", -30001, text, &size), CL_ERR_MANU_DOES_NOT_EXIST);
    size = 4;
    EXPECT_EQ(clGetErrorText("Vantrel", CL_ERR_TIMEOUT, text, &size), CL_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 32u);
}

TEST_F(ClSerialTest, TheLineAnswersAtItsPaceTimesOutWithoutTakingFlushesAndChangesRateOnlyAtBothEnds)
{
    ASSERT_EQ(clSerialInit(0, &serial_), CL_ERR_NO_ERR);
    hSerRef serial = serial_;
    auto start = Clock::now();
    ASSERT_EQ(send(serial, read_mem(1, clcam::width, 4)), CL_ERR_NO_ERR);
    const Answer answer = receive(serial);
    const double elapsed = millis_since(start);
    ASSERT_EQ(answer.result, CL_ERR_NO_ERR);
    EXPECT_EQ(std::tuple(answer.checksums_ok, answer.status, answer.id, answer.request_id),
              std::tuple(true, 0, 0x0801, 1))
        << "checksums, status, acknowledge ID, request ID";
    ASSERT_EQ(answer.payload.size(), 4u);
    EXPECT_EQ(le32(answer.payload), 640u);
    // 28 bytes out and 20 back at 9600 baud, 10 bits a byte: 50 ms.
    EXPECT_GE(elapsed, 48.0);
    EXPECT_LT(elapsed, 500.0);

    // A read that times out takes nothing, and a flush discards what is left.
    char buffer[64];
    std::memset(buffer, 0x55, sizeof buffer);
    CLUINT32 size = 1;
    start = Clock::now();
    EXPECT_EQ(clSerialRead(serial, buffer, &size, 50), CL_ERR_TIMEOUT);
    EXPECT_GE(millis_since(start), 49.0);
    EXPECT_EQ(buffer[0], 0x55);

    ASSERT_EQ(send(serial, read_mem(2, clcam::width, 4)), CL_ERR_NO_ERR);
    size = 64;  // more than the 20-byte answer
    EXPECT_EQ(clSerialRead(serial, buffer, &size, 100), CL_ERR_TIMEOUT);
    EXPECT_EQ(buffer[0], 0x55) << "nothing is copied on failure";
    CLUINT32 available = 0;
    ASSERT_EQ(clGetNumBytesAvail(serial, &available), CL_ERR_NO_ERR);
    EXPECT_EQ(available, 20u);
    EXPECT_EQ(clFlushPort(serial), CL_ERR_NO_ERR);
    ASSERT_EQ(clGetNumBytesAvail(serial, &available), CL_ERR_NO_ERR);
    EXPECT_EQ(available, 0u);
    EXPECT_EQ(cl_stats().flushes, 1u);

    // Both ends must change their baud rate.
    CLUINT32 rates = 0;
    ASSERT_EQ(clGetSupportedBaudRates(serial, &rates), CL_ERR_NO_ERR);
    EXPECT_EQ(rates, 0x3Fu) << "9600 to 230400";
    EXPECT_EQ(clSetBaudRate(serial, CL_BAUDRATE_921600), CL_ERR_BAUD_RATE_NOT_SUPPORTED);
    EXPECT_EQ(clSetBaudRate(serial, 0x03), CL_ERR_BAUD_RATE_NOT_SUPPORTED) << "one rate at a time";

    // Only the host switching: the camera hears noise and says nothing.
    ASSERT_EQ(clSetBaudRate(serial, CL_BAUDRATE_115200), CL_ERR_NO_ERR);
    ASSERT_EQ(send(serial, read_mem(3, clcam::width, 4)), CL_ERR_NO_ERR);
    EXPECT_EQ(receive(serial, 100).result, CL_ERR_TIMEOUT);
    EXPECT_GT(cl_stats().garbled, 0u);

    // Tell the camera first (its acknowledge comes at the old rate), then switch the host.
    ASSERT_EQ(clSetBaudRate(serial, CL_BAUDRATE_9600), CL_ERR_NO_ERR);
    ASSERT_EQ(send(serial, write_mem_u32(4, clcam::baud_rate, CL_BAUDRATE_115200)), CL_ERR_NO_ERR);
    const Answer switched = receive(serial);
    ASSERT_EQ(switched.result, CL_ERR_NO_ERR);
    EXPECT_EQ(switched.status, 0);
    EXPECT_EQ(cl_stats().camera_baud, 115200u);
    ASSERT_EQ(clSetBaudRate(serial, CL_BAUDRATE_115200), CL_ERR_NO_ERR);
    start = Clock::now();
    ASSERT_EQ(send(serial, read_mem(5, clcam::height, 4)), CL_ERR_NO_ERR);
    const Answer fast = receive(serial);
    ASSERT_EQ(fast.result, CL_ERR_NO_ERR);
    EXPECT_EQ(le32(fast.payload), 480u);
    EXPECT_LT(millis_since(start), 40.0) << "48 bytes at 115200 baud take about 4 ms";

    // A rate the camera does not offer is refused by the camera.
    ASSERT_EQ(send(serial, write_mem_u32(6, clcam::baud_rate, CL_BAUDRATE_230400)), CL_ERR_NO_ERR);
    EXPECT_EQ(receive(serial).status, 0x8002);
}
