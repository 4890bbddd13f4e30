// Faults that bite when a consumer opens a device or talks to its camera, driven through the exported
// functions: a board that will not open, the Camera Link camera's serial faults while the board streams, and
// XML files the CoaXPress camera's manifest points to that cannot be had. Each case checks what the consumer
// is told (codes and records), that a retry after the fault works and streams, and that nothing is left open.
#include "ModuleFixture.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* no_open = "Unable to open frame grabber board number 0 with the default camera file. "
                                "Acquisition will not be possible.";

}  // namespace

class DeviceFaultCampaignTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_EQ(vnsim_set_trigger_mode(0, VNSIM_TRIGGER_MANUAL), 0);
        ASSERT_EQ(vnsim_set_trigger_mode(1, VNSIM_TRIGGER_MANUAL), 0);
    }

    static std::vector<std::string> interface_ids(TL_HANDLE system)
    {
        uint32_t count = 0;
        EXPECT_EQ(TLGetNumInterfaces(system, &count), GC_ERR_SUCCESS);
        std::vector<std::string> ids;
        for (uint32_t index = 0; index < count; ++index) {
            ids.push_back(interface_id(system, index));
        }
        return ids;
    }

    // The interface of board `number` (its ID holds " (<number>) "), or null when the list has none.
    static IF_HANDLE open_board_interface(TL_HANDLE system, uint32_t number)
    {
        const std::string tag = " (" + std::to_string(number) + ") ";
        for (const std::string& id : interface_ids(system)) {
            if (id.find(tag) != std::string::npos) {
                IF_HANDLE iface = nullptr;
                EXPECT_EQ(TLOpenInterface(system, id.c_str(), &iface), GC_ERR_SUCCESS) << last_error();
                return iface;
            }
        }
        return nullptr;
    }

    template <class T>
    static T stream_value(DS_HANDLE stream, STREAM_INFO_CMD command)
    {
        T value{};
        INFO_DATATYPE type = 0;
        size_t size = sizeof value;
        EXPECT_EQ(DSGetInfo(stream, command, &type, &value, &size), GC_ERR_SUCCESS) << command;
        return value;
    }

    // Opens the device's stream, takes `frames` frames of board `number` with three buffers, then stops,
    // flushes, revokes every buffer once and closes the stream.
    static void stream_frames(DEV_HANDLE device, int number, int frames, size_t frame_bytes)
    {
        DS_HANDLE stream = nullptr;
        ASSERT_EQ(DevOpenDataStream(device, "TLDataStream", &stream), GC_ERR_SUCCESS) << last_error();
        std::vector<BUFFER_HANDLE> buffers(3, nullptr);
        for (BUFFER_HANDLE& buffer : buffers) {
            ASSERT_EQ(DSAllocAndAnnounceBuffer(stream, frame_bytes, nullptr, &buffer), GC_ERR_SUCCESS) << last_error();
            ASSERT_EQ(DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS);
        }
        EVENT_HANDLE event = nullptr;
        ASSERT_EQ(GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event), GC_ERR_SUCCESS);
        ASSERT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS) << last_error();
        std::optional<uint64_t> last_id;
        for (int taken = 0; taken < frames; ++taken) {
            ASSERT_EQ(vnsim_trigger(number, 1), 1);
            EVENT_NEW_BUFFER_DATA data{};
            size_t size = sizeof data;
            ASSERT_EQ(EventGetData(event, &data, &size, 2000), GC_ERR_SUCCESS) << "frame " << taken;
            uint64_t id = 0;
            INFO_DATATYPE type = 0;
            size = sizeof id;
            ASSERT_EQ(DSGetBufferInfo(stream, data.BufferHandle, BUFFER_INFO_FRAMEID, &type, &id, &size), GC_ERR_SUCCESS);
            EXPECT_TRUE(!last_id || id > *last_id) << "frame " << id << " after " << last_id.value_or(0);
            last_id = id;
            ASSERT_EQ(DSQueueBuffer(stream, data.BufferHandle), GC_ERR_SUCCESS);
        }
        EXPECT_EQ(DSStopAcquisition(stream, ACQ_STOP_FLAGS_KILL), GC_ERR_SUCCESS) << last_error();
        EXPECT_EQ(DSFlushQueue(stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS);
        for (const BUFFER_HANDLE buffer : buffers) {
            EXPECT_EQ(DSRevokeBuffer(stream, buffer, nullptr, nullptr), GC_ERR_SUCCESS) << last_error();
        }
        EXPECT_EQ(stream_value<size_t>(stream, STREAM_INFO_NUM_ANNOUNCED), 0u);
        EXPECT_EQ(GCUnregisterEvent(stream, EVENT_NEW_BUFFER), GC_ERR_SUCCESS);
        EXPECT_EQ(DSClose(stream), GC_ERR_SUCCESS);
    }

    // Closes the tree from the device up and the library; no board handle is left open.
    static void close_all(DEV_HANDLE device, IF_HANDLE iface, TL_HANDLE system)
    {
        if (device != nullptr) {
            EXPECT_EQ(DevClose(device), GC_ERR_SUCCESS) << last_error();
        }
        EXPECT_EQ(IFClose(iface), GC_ERR_SUCCESS) << last_error();
        EXPECT_EQ(TLClose(system), GC_ERR_SUCCESS) << last_error();
        EXPECT_EQ(GCCloseLib(), GC_ERR_SUCCESS) << last_error();
        EXPECT_EQ(vnsim_open_handles(0), 0);
        EXPECT_EQ(vnsim_open_handles(1), 0);
    }

    static constexpr size_t cxp_frame = size_t{1024} * 768;
};

// ---- A board that will not open ------------------------------------------------------------------------

// The board is opened for inspection when the interface list is first built (TLOpen), with one retry in
// shared mode: one armed failure is absorbed by the retry, two make the board's interface absent.
TEST_F(DeviceFaultCampaignTest, OneFailedOpenIsAbsorbedByTheSharedRetry)
{
    ASSERT_EQ(vnsim_fault_open_fails(0, 1), 0);
    const TL_HANDLE system = open_system();
    GC_ERROR code = GC_ERR_ERROR;
    EXPECT_EQ(last_error(&code), "No Error");
    EXPECT_EQ(code, GC_ERR_SUCCESS);
    const IF_HANDLE iface = open_board_interface(system, 0);
    ASSERT_NE(iface, nullptr);
    DEV_HANDLE device = nullptr;
    ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS) << last_error();
    stream_frames(device, 0, 2, cxp_frame);
    close_all(device, iface, system);
}

TEST_F(DeviceFaultCampaignTest, BoardThatFailsToOpenComesBackWithTheUpdateAfterTheFault)
{
    // Two failures at TLOpen (open and shared retry), two more at the first update: the second update finds it.
    ASSERT_EQ(vnsim_fault_open_fails(0, 4), 0);
    const TL_HANDLE system = open_system();
    EXPECT_TRUE(recorded("GC_ERR_ERROR", "VNBoards.cpp", "Board::check_init", no_open));
    std::vector<std::string> ids = interface_ids(system);
    ASSERT_EQ(ids.size(), 1u) << "the board that did not open has no interface";
    EXPECT_NE(ids[0].find(" (1) "), std::string::npos) << ids[0] << ": the next board moves up to index 0";
    EXPECT_EQ(vnsim_open_handles(0), 0);

    bool8_t changed = true;
    ASSERT_EQ(TLUpdateInterfaceList(system, &changed, 1000), GC_ERR_SUCCESS);
    EXPECT_FALSE(changed) << "the fault still holds";
    EXPECT_TRUE(recorded("GC_ERR_ERROR", "VNBoards.cpp", "Board::check_init", no_open));
    EXPECT_EQ(interface_ids(system).size(), 1u);

    ASSERT_EQ(TLUpdateInterfaceList(system, &changed, 1000), GC_ERR_SUCCESS) << last_error();
    EXPECT_TRUE(changed) << "the board opened on the retry";
    ids = interface_ids(system);
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_NE(ids[1].find(" (0) "), std::string::npos) << ids[1] << ": a new interface joins the end of the list";
    EXPECT_EQ(vnsim_open_handles(0), 1);

    const IF_HANDLE iface = open_board_interface(system, 0);
    ASSERT_NE(iface, nullptr);
    DEV_HANDLE device = nullptr;
    ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS) << last_error();
    stream_frames(device, 0, 3, cxp_frame);
    close_all(device, iface, system);
}

TEST_F(DeviceFaultCampaignTest, ExclusiveOpenFailsWhileTheBoardCannotOpenForAcquisition)
{
    const TL_HANDLE system = open_system();
    const IF_HANDLE iface = open_board_interface(system, 0);
    ASSERT_NE(iface, nullptr);
    // The device's board is open for inspection; the exclusive open raises it to acquisition.
    ASSERT_EQ(vnsim_fault_open_fails(0, 1), 0);
    DEV_HANDLE device = nullptr;
    EXPECT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_EXCLUSIVE, &device), GC_ERR_ACCESS_DENIED);
    EXPECT_TRUE(recorded("GC_ERR_ACCESS_DENIED", "DevModule.cpp", "DevModule::open",
                         "Board 0 could not be opened for acquisition, so the \"TLDevice\" device cannot be "
                         "opened with flag DEVICE_ACCESS_EXCLUSIVE."));
    EXPECT_EQ(device, nullptr);

    // The count is used up: the retry opens the device for acquisition, and it streams.
    ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_EXCLUSIVE, &device), GC_ERR_SUCCESS) << last_error();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(vnsim_open_handles(0), 1) << "one handle: the failed open left none behind";
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(DevGetPort(device, &remote), GC_ERR_SUCCESS);
    std::string vendor;
    EXPECT_EQ(read_text(remote, 0x2000, 32, vendor), GC_ERR_SUCCESS) << last_error();
    EXPECT_EQ(vendor, "Vantrel");
    stream_frames(device, 0, 2, cxp_frame);
    close_all(device, iface, system);
}

TEST_F(DeviceFaultCampaignTest, DeviceOfABoardLeftClosedByAFailedOpenDoesNotOpenUntilTheBoardDoes)
{
    const TL_HANDLE system = open_system();
    const IF_HANDLE iface = open_board_interface(system, 0);
    ASSERT_NE(iface, nullptr);
    ASSERT_EQ(vnsim_fault_open_fails(0, 1000), 0);
    DEV_HANDLE device = nullptr;
    // Raising the board gives up its inspection handle first; with the fault it stays closed.
    EXPECT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_EXCLUSIVE, &device), GC_ERR_ACCESS_DENIED);
    EXPECT_EQ(vnsim_open_handles(0), 0);
    EXPECT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_ACCESS_DENIED);
    EXPECT_TRUE(recorded("GC_ERR_ACCESS_DENIED", "DevModule.cpp", "DevModule::open",
                         "Board 0 could not be opened, so the \"TLDevice\" device cannot be opened."));
    EXPECT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_READONLY, &device), GC_ERR_ACCESS_DENIED);
    EXPECT_EQ(device, nullptr);

    ASSERT_EQ(vnsim_fault_open_fails(0, 0), 0);
    ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS) << last_error();
    EXPECT_EQ(vnsim_open_handles(0), 1);
    stream_frames(device, 0, 2, cxp_frame);
    close_all(device, iface, system);
}

TEST_F(DeviceFaultCampaignTest, AnnounceFailsWhileTheBoardCannotOpenForAcquisitionAndARetryStreams)
{
    const TL_HANDLE system = open_system();
    const IF_HANDLE iface = open_board_interface(system, 0);
    ASSERT_NE(iface, nullptr);
    DEV_HANDLE device = nullptr;
    ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS) << last_error();
    DS_HANDLE stream = nullptr;
    ASSERT_EQ(DevOpenDataStream(device, "TLDataStream", &stream), GC_ERR_SUCCESS) << last_error();

    // The first announce sets the board up for acquisition, which reopens it: that open fails.
    ASSERT_EQ(vnsim_fault_open_fails(0, 1), 0);
    BUFFER_HANDLE buffer = nullptr;
    EXPECT_EQ(DSAllocAndAnnounceBuffer(stream, cxp_frame, nullptr, &buffer), GC_ERR_ACCESS_DENIED);
    EXPECT_TRUE(recorded("GC_ERR_ERROR", "VNBoards.cpp", "Board::check_init", no_open));
    EXPECT_EQ(buffer, nullptr) << "no handle is given for a failed announce";
    // The buffer itself stays announced with the stream left unconfigured; it is reached by its index.
    EXPECT_EQ(stream_value<size_t>(stream, STREAM_INFO_NUM_ANNOUNCED), 1u);
    ASSERT_EQ(DSGetBufferID(stream, 0, &buffer), GC_ERR_SUCCESS);
    EXPECT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_INVALID_BUFFER)
        << "the board has no buffers";
    EXPECT_EQ(DSRevokeBuffer(stream, buffer, nullptr, nullptr), GC_ERR_SUCCESS) << last_error();
    EXPECT_EQ(stream_value<size_t>(stream, STREAM_INFO_NUM_ANNOUNCED), 0u);
    ASSERT_EQ(DSClose(stream), GC_ERR_SUCCESS);

    stream_frames(device, 0, 3, cxp_frame);
    close_all(device, iface, system);
}
