// Faults that bite when a consumer opens a device or talks to its camera, driven through the exported
// functions: a board that will not open, the Camera Link camera's serial faults while the board streams, and
// XML files the CoaXPress camera's manifest points to that cannot be had. Each case checks what the consumer
// is told (codes and records), that a retry after the fault works and streams, and that nothing is left open.
#include "LoopbackHttpServer.h"
#include "ModuleFixture.h"
#include "StreamSession.h"

#include "sim/ClCameraRegisters.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace clcam = vnsim::clcam;

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

    static size_t announced(DS_HANDLE stream)
    {
        size_t value = 0;
        INFO_DATATYPE type = 0;
        size_t size = sizeof value;
        EXPECT_EQ(DSGetInfo(stream, STREAM_INFO_NUM_ANNOUNCED, &type, &value, &size), GC_ERR_SUCCESS);
        return value;
    }

    // Streams `frames` frames of board `number` (the default CoaXPress camera's) into three buffers, each
    // checked, and closes the stream with every buffer accounted for.
    static void stream_frames(DEV_HANDLE device, int number, int frames)
    {
        StreamSession session(device, 3, cxp_frames);
        EXPECT_EQ(session.take(frames, number), frames);
        session.finish();
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
        ASSERT_GE(vnsim_open_handles(0), 0);
        for (int number = 0; vnsim_open_handles(number) >= 0; ++number) {
            EXPECT_EQ(vnsim_open_handles(number), 0) << "board " << number;
        }
    }

    static constexpr ExpectedFrames cxp_frames{1024, 768};
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
    stream_frames(device, 0, 2);
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
    stream_frames(device, 0, 3);
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
    stream_frames(device, 0, 2);
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
    stream_frames(device, 0, 2);
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
    EXPECT_EQ(DSAllocAndAnnounceBuffer(stream, cxp_frames.frame_bytes(), nullptr, &buffer), GC_ERR_ACCESS_DENIED);
    EXPECT_TRUE(recorded("GC_ERR_ERROR", "VNBoards.cpp", "Board::check_init", no_open));
    EXPECT_EQ(buffer, nullptr) << "no handle is given for a failed announce";
    // The buffer itself stays announced with the stream left unconfigured; it is reached by its index.
    EXPECT_EQ(announced(stream), 1u);
    ASSERT_EQ(DSGetBufferID(stream, 0, &buffer), GC_ERR_SUCCESS);
    EXPECT_EQ(DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_INVALID_BUFFER)
        << "the board has no buffers";
    EXPECT_EQ(DSRevokeBuffer(stream, buffer, nullptr, nullptr), GC_ERR_SUCCESS) << last_error();
    EXPECT_EQ(announced(stream), 0u);
    ASSERT_EQ(DSClose(stream), GC_ERR_SUCCESS);

    stream_frames(device, 0, 3);
    close_all(device, iface, system);
}

// ---- Camera Link serial faults while the board streams ------------------------------------------------

// Board 1's device (Camera Link, 640 x 480 Mono8) streams into four buffers while the consumer reads the
// camera's registers through the remote device's port, which speaks GenCP over the board's serial line.
class ClSerialFaultTest : public DeviceFaultCampaignTest {
protected:
    static constexpr int cl_board = 1;

    void SetUp() override
    {
        GenTLTest::SetUp();
        // Both ends of the serial line run at 115200 baud from power-up, so that the port's set-up (which
        // reads the camera's description over the line) is short.
        ASSERT_EQ(vnsim_configure(R"({"boards": [{"kind": "CXP"}, {"kind": "CL", "model": "VN-CL2 Camera Link",
            "serial": "VL2210418", "device_name": "VNCL_1",
            "camera_files": [{"name": "SimCam_CL_640x480_Mono8.cam", "width": 640, "height": 480,
                              "make": "Vantrel", "model": "SimCam CL-1"}],
            "serial_baud_rates": [9600, 115200], "camera": {"baud_rate": 115200}}]})"),
                  0)
            << vnsim_last_error();
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
        ASSERT_EQ(vnsim_set_trigger_mode(cl_board, VNSIM_TRIGGER_MANUAL), 0);
        system = open_system();
        iface = open_board_interface(system, cl_board);
        ASSERT_NE(iface, nullptr);
        ASSERT_EQ(IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS) << last_error();
        ASSERT_EQ(DevGetPort(device, &remote), GC_ERR_SUCCESS) << last_error();
        ASSERT_EQ(width(), 640u) << "the camera answers before any fault";
        session.emplace(device, 4, ExpectedFrames{640, 480});
        ASSERT_EQ(vnsim_cl_stats(cl_board, &before), 0);
    }

    // The camera's Width register through the remote port; 0 when the read fails.
    uint32_t width(GC_ERROR* code = nullptr)
    {
        uint32_t value = 0;
        size_t size = sizeof value;
        const GC_ERROR result = GCReadPort(remote, clcam::width, &value, &size);
        if (code != nullptr) {
            *code = result;
        }
        return result == GC_ERR_SUCCESS ? value : 0;
    }

    int take_frames(int count, uint64_t timeout_ms = 2000) { return session->take(count, cl_board, timeout_ms); }

    // The read's record names the port and quotes the protocol's reason.
    void expect_read_record(const std::string& reason)
    {
        const std::string record = last_error();
        EXPECT_EQ(record.rfind("GC_ERR_IO @ VNPortCL.cpp[", 0), 0u) << record;
        EXPECT_NE(record.find("], VNPortCL::read: Caught an exception attempting to read from "), std::string::npos)
            << record;
        EXPECT_NE(record.find(reason), std::string::npos) << record;
    }

    void TearDown() override
    {
        if (session) {
            session->finish();
            close_all(device, iface, system);
        }
        DeviceFaultCampaignTest::TearDown();
    }

    TL_HANDLE system = nullptr;
    IF_HANDLE iface = nullptr;
    DEV_HANDLE device = nullptr;
    PORT_HANDLE remote = nullptr;
    std::optional<StreamSession> session;
    VnsimClStats before{};
};

TEST_F(ClSerialFaultTest, CorruptAnswersAreSentAgainAndTheReadSucceeds)
{
    EXPECT_EQ(take_frames(2), 2);
    ASSERT_EQ(vnsim_cl_fault(cl_board, "corrupt_answers", 2), 0);
    EXPECT_EQ(width(), 640u) << last_error();
    VnsimClStats after{};
    ASSERT_EQ(vnsim_cl_stats(cl_board, &after), 0);
    EXPECT_EQ(after.corrupted - before.corrupted, 2u);
    EXPECT_GE(after.resends - before.resends, 2u) << "each damaged answer was asked for again";
    EXPECT_EQ(take_frames(3), 3);
}

TEST_F(ClSerialFaultTest, AnswersCorruptOnEveryResendFailTheReadAndFramesGoOn)
{
    EXPECT_EQ(take_frames(2), 2);
    // The command and its three resends all come back damaged.
    ASSERT_EQ(vnsim_cl_fault(cl_board, "corrupt_answers", 4), 0);
    GC_ERROR code = GC_ERR_SUCCESS;
    EXPECT_EQ(width(&code), 0u);
    EXPECT_EQ(code, GC_ERR_IO);
    expect_read_record("The camera did not answer ReadMem of 4 bytes at 0x10000");
    EXPECT_NE(last_error().find("after 3 resends."), std::string::npos) << last_error();
    EXPECT_EQ(take_frames(3), 3) << "frames do not depend on the serial line";
    EXPECT_EQ(width(), 640u) << "the fault has run out: " << last_error();
    EXPECT_EQ(take_frames(2), 2);
}

TEST_F(ClSerialFaultTest, DroppedCommandIsSentAgainAfterTheTimeOut)
{
    EXPECT_EQ(take_frames(2), 2);
    ASSERT_EQ(vnsim_cl_fault(cl_board, "drop_answers", 1), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(width(), 640u) << last_error();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450))
        << "the command was sent again only after the port's time-out";
    VnsimClStats after{};
    ASSERT_EQ(vnsim_cl_stats(cl_board, &after), 0);
    EXPECT_EQ(after.dropped - before.dropped, 1u);
    EXPECT_EQ(take_frames(3), 3);
}

// The one slow case: a silent camera costs the port's time-out (500 ms) four times over.
TEST_F(ClSerialFaultTest, SilentCameraFailsTheReadWhileAnotherThreadTakesFrames)
{
    EXPECT_EQ(take_frames(1), 1);
    ASSERT_EQ(vnsim_cl_fault(cl_board, "silent", 1), 0);
    std::atomic<bool> reading{true};
    GC_ERROR code = GC_ERR_SUCCESS;
    std::string record;
    std::jthread reader([&] {
        width(&code);
        record = last_error();
        reading = false;
    });
    // Frames triggered while the read waits for the camera all arrive, in order. Each serial transfer holds
    // the board's state lock for up to its 500 ms time-out, and the acquisition thread needs that lock to
    // take a frame and hand its buffer back, so a frame may wait for the end of a try (four tries: 2 s).
    int during = 0;
    while (reading && during < 100) {
        during += take_frames(1, 5000);
    }
    reader.join();
    EXPECT_GE(during, 1);
    EXPECT_EQ(code, GC_ERR_IO);
    EXPECT_NE(record.find("VNPortCL::read: Caught an exception attempting to read from "), std::string::npos)
        << record;
    EXPECT_NE(record.find("The camera did not answer ReadMem of 4 bytes at 0x10000 on "), std::string::npos) << record;
    EXPECT_NE(record.find(" within 500 ms, after 3 resends."), std::string::npos) << record;
    ASSERT_EQ(vnsim_cl_fault(cl_board, "silent", 0), 0);
    EXPECT_EQ(width(), 640u) << "the camera answers again: " << last_error();
    EXPECT_EQ(take_frames(2), 2);
}

// ---- XML files the camera's manifest points to that cannot be had --------------------------------------

// Board 0 (CoaXPress) alone, its camera's manifest made by the test; the device's port fetches the files
// into a cache directory of the test's own when the device opens.
class XmlCacheFaultTest : public DeviceFaultCampaignTest {
protected:
    using Route = LoopbackHttpServer::Route;

    void SetUp() override
    {
        cache_ = std::filesystem::temp_directory_path() /
                 ("vngtl-xmlfault-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(cache_);
        std::filesystem::create_directories(cache_);
        setenv("GENICAM_CACHE_V2_4", cache_.c_str(), 1);
        GenTLTest::SetUp();
    }
    void TearDown() override
    {
        DeviceFaultCampaignTest::TearDown();
        std::filesystem::remove_all(cache_);
        unsetenv("GENICAM_CACHE_V2_4");
    }

    // Configures board 0 with the manifest entries given, initialises the library and opens the board's
    // interface; the device is opened by the case.
    void configure(const std::string& manifest)
    {
        const std::string json = R"({"boards": [{"kind": "CXP", "model": "VN-CXP4 CoaXPress", "serial": "VC4210417",
            "camera_files": [{"name": "SimCam_CXP_1024x768_Mono8.cam", "width": 1024, "height": 768,
                              "make": "Vantrel", "model": "SimCam CXP-1"}],
            "camera": {"model": "SimCam-CXP-1", "manifest": )" +
                                 manifest + "}}]}";
        ASSERT_EQ(vnsim_configure(json.c_str()), 0) << vnsim_last_error();
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
        ASSERT_EQ(vnsim_set_trigger_mode(0, VNSIM_TRIGGER_MANUAL), 0);
        system = open_system();
        iface = open_board_interface(system, 0);
        ASSERT_NE(iface, nullptr);
        vnsim_debug_clear();
    }

    GC_ERROR open_device() { return IFOpenDevice(iface, "TLDevice", DEVICE_ACCESS_CONTROL, &device); }

    uint32_t url_count()
    {
        PORT_HANDLE remote = nullptr;
        EXPECT_EQ(DevGetPort(device, &remote), GC_ERR_SUCCESS) << last_error();
        uint32_t count = 99;
        EXPECT_EQ(GCGetNumPortURLs(remote, &count), GC_ERR_SUCCESS) << last_error();
        return count;
    }

    bool logged(const std::string& text) const { return debug_output().find(text) != std::string::npos; }

    std::vector<std::string> cached_files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(cache_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // The device opened, offers `urls` descriptions, streams and closes with nothing left open.
    void expect_urls_and_streaming(uint32_t urls)
    {
        EXPECT_EQ(url_count(), urls);
        stream_frames(device, 0, 2);
        close_all(device, iface, system);
        device = nullptr;
    }

    static std::string http_manifest(const LoopbackHttpServer& server, const std::string& path)
    {
        return R"([{"url": "http://)" + server.host() + path + R"("}])";
    }

    std::filesystem::path cache_;
    TL_HANDLE system = nullptr;
    IF_HANDLE iface = nullptr;
    DEV_HANDLE device = nullptr;
};

TEST_F(XmlCacheFaultTest, HttpErrorStatusLeavesTheDeviceWithoutAnXmlButItStreams)
{
    for (const std::string status : {"404 Not Found", "500 Internal Server Error"}) {
        SCOPED_TRACE(status);
        LoopbackHttpServer server({{"/SimCamCXP.zip", Route{"HTTP/1.1 " + status + "\r\nContent-Length: 0\r\n\r\n"}}});
        const std::string url = "http://" + server.host() + "/SimCamCXP.zip";
        configure(http_manifest(server, "/SimCamCXP.zip"));
        ASSERT_EQ(open_device(), GC_ERR_SUCCESS) << last_error();
        EXPECT_TRUE(logged("VNCxpXmlCacheInterface::downloadHttpFile: Response returned with status code " +
                           status.substr(0, 3) + " downloading the URL \"" + url + "\"."))
            << debug_output();
        EXPECT_TRUE(
            logged("VNCxpXmlCacheInterface::downloadFiles: Download failed for the XML at URL \"" + url + "\"."))
            << debug_output();
        EXPECT_EQ(server.requests(), 1);
        EXPECT_TRUE(cached_files().empty());
        expect_urls_and_streaming(0);
    }
}

TEST_F(XmlCacheFaultTest, TruncatedBodyIsNoFileAndTheNextEntryIsUsed)
{
    // The server promises 5000 bytes, sends 100 and closes; the manifest's second entry is the camera's own.
    LoopbackHttpServer server(
        {{"/SimCamCXP.xml",
          Route{"HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n<RegisterDescription" + std::string(80, ' ')}}});
    const std::string url = "http://" + server.host() + "/SimCamCXP.xml";
    configure(R"([{"url": ")" + url + R"("}, {"local": "zip"}])");
    ASSERT_EQ(open_device(), GC_ERR_SUCCESS) << last_error();
    EXPECT_TRUE(logged("VNCxpXmlCacheInterface::downloadHttpFile: Error downloading the URL \"" + url +
                       "\"; Message was \"the body has 100 bytes, but the server announced 5000\"."))
        << debug_output();
    EXPECT_TRUE(logged("Download failed for the XML at URL \"" + url + "\".")) << debug_output();
    // Before the body was held against its length the cut file was cached and offered as the description.
    EXPECT_EQ(cached_files(), (std::vector<std::string>{"VantrelSimCamCXP.xml", "VantrelSimCamCXP.zip"}));
    expect_urls_and_streaming(1);  // the camera's own file only
}

