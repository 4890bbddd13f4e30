// Faults that bite when a consumer opens a device or talks to its camera, driven through the exported
// functions: a board that will not open, the Camera Link camera's serial faults while the board streams, and
// XML files the CoaXPress camera's manifest points to that cannot be had. Each case checks what the consumer
// is told (codes and records), that a retry after the fault works and streams, and that nothing is left open.
#include "GenCpTestSupport.h"
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

    // Opens the interface of board `number` (its ID holds " (<number>) ") on `system`, opened first if null.
    void open_board_interface(uint32_t number)
    {
        if (system == nullptr) {
            system = open_system();
        }
        const std::string tag = " (" + std::to_string(number) + ") ";
        for (const std::string& id : interface_ids(system)) {
            if (id.find(tag) != std::string::npos) {
                ASSERT_EQ(TLOpenInterface(system, id.c_str(), &iface), GC_ERR_SUCCESS) << last_error();
                return;
            }
        }
        FAIL() << "no interface of board " << number;
    }

    GC_ERROR device_open(DEVICE_ACCESS_FLAGS flags = DEVICE_ACCESS_CONTROL)
    {
        return IFOpenDevice(iface, "TLDevice", flags, &device);
    }

    static size_t announced(DS_HANDLE stream)
    {
        size_t value = 0;
        INFO_DATATYPE type = 0;
        size_t size = sizeof value;
        EXPECT_EQ(DSGetInfo(stream, STREAM_INFO_NUM_ANNOUNCED, &type, &value, &size), GC_ERR_SUCCESS);
        return value;
    }

    // Streams `frames` frames of board 0 (the default CoaXPress camera's) into three buffers, each checked,
    // closes the stream with every buffer accounted for, then the tree from the device up and the library:
    // no board handle is left open.
    void stream_and_close_all(int frames)
    {
        StreamSession session(device, 3, cxp_frames);
        EXPECT_EQ(session.take(frames, 0), frames);
        session.finish();
        close_all();
    }

    void close_all()
    {
        if (device != nullptr) {
            EXPECT_EQ(DevClose(device), GC_ERR_SUCCESS) << last_error();
            device = nullptr;
        }
        EXPECT_EQ(IFClose(iface), GC_ERR_SUCCESS) << last_error();
        EXPECT_EQ(TLClose(system), GC_ERR_SUCCESS) << last_error();
        EXPECT_EQ(GCCloseLib(), GC_ERR_SUCCESS) << last_error();
        system = nullptr;
        ASSERT_GE(vnsim_open_handles(0), 0);
        for (int number = 0; vnsim_open_handles(number) >= 0; ++number) {
            EXPECT_EQ(vnsim_open_handles(number), 0) << "board " << number;
        }
    }

    // Configures the simulator, initialises the library and opens the interface of board `number`, which
    // takes frames on demand only.
    void start_library(const std::string& json, uint32_t number)
    {
        ASSERT_EQ(vnsim_configure(json.c_str()), 0) << vnsim_last_error();
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
        ASSERT_EQ(vnsim_set_trigger_mode(static_cast<int>(number), VNSIM_TRIGGER_MANUAL), 0);
        ASSERT_NO_FATAL_FAILURE(open_board_interface(number));
    }

    static constexpr ExpectedFrames cxp_frames{1024, 768};
    static constexpr const char* no_open = "Unable to open frame grabber board number 0 with the default camera "
                                           "file. Acquisition will not be possible.";
    TL_HANDLE system = nullptr;
    IF_HANDLE iface = nullptr;
    DEV_HANDLE device = nullptr;
};

// ---- A board that will not open ------------------------------------------------------------------------

// The board is opened for inspection when the interface list is first built (TLOpen), with one retry in
// shared mode: one armed failure is absorbed by the retry, two make the board's interface absent.
TEST_F(DeviceFaultCampaignTest, OneFailedOpenIsAbsorbedAndABoardThatFailsTwiceComesBackWithTheUpdateAfterTheFault)
{
    ASSERT_EQ(vnsim_fault_open_fails(0, 1), 0);
    system = open_system();
    GC_ERROR code = GC_ERR_ERROR;
    EXPECT_EQ(last_error(&code), "No Error");
    EXPECT_EQ(code, GC_ERR_SUCCESS);
    ASSERT_NO_FATAL_FAILURE(open_board_interface(0));
    ASSERT_EQ(device_open(), GC_ERR_SUCCESS) << last_error();
    stream_and_close_all(2);

    // Two failures at TLOpen (open and shared retry), two more at the first update: the second update finds it.
    ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(vnsim_fault_open_fails(0, 4), 0);
    system = open_system();
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

    ASSERT_NO_FATAL_FAILURE(open_board_interface(0));
    ASSERT_EQ(device_open(), GC_ERR_SUCCESS) << last_error();
    stream_and_close_all(3);
}

// The device's board is open for inspection; an exclusive open raises it to acquisition. One armed failure
// refuses that open and is used up: the retry opens the device. With the fault held, the raise gives up the
// inspection handle first and the board stays closed: no device opens, with any flag, until the board does.
TEST_F(DeviceFaultCampaignTest, DeviceOpenAndAnnounceFailWhileTheBoardCannotOpenAndARetryAfterTheFaultStreams)
{
    for (const int failures : {1, 1000}) {
        SCOPED_TRACE(failures);
        ASSERT_NO_FATAL_FAILURE(open_board_interface(0));
        ASSERT_EQ(vnsim_fault_open_fails(0, failures), 0);
        EXPECT_EQ(device_open(DEVICE_ACCESS_EXCLUSIVE), GC_ERR_ACCESS_DENIED);
        EXPECT_TRUE(recorded("GC_ERR_ACCESS_DENIED", "DevModule.cpp", "DevModule::open",
                             "Board 0 could not be opened for acquisition, so the \"TLDevice\" device cannot be "
                             "opened with flag DEVICE_ACCESS_EXCLUSIVE."));
        EXPECT_EQ(device, nullptr);
        if (failures > 1) {
            EXPECT_EQ(vnsim_open_handles(0), 0);
            EXPECT_EQ(device_open(DEVICE_ACCESS_CONTROL), GC_ERR_ACCESS_DENIED);
            EXPECT_TRUE(recorded("GC_ERR_ACCESS_DENIED", "DevModule.cpp", "DevModule::open",
                                 "Board 0 could not be opened, so the \"TLDevice\" device cannot be opened."));
            EXPECT_EQ(device_open(DEVICE_ACCESS_READONLY), GC_ERR_ACCESS_DENIED);
            EXPECT_EQ(device, nullptr);
            ASSERT_EQ(vnsim_fault_open_fails(0, 0), 0);
        }
        ASSERT_EQ(device_open(failures > 1 ? DEVICE_ACCESS_CONTROL : DEVICE_ACCESS_EXCLUSIVE), GC_ERR_SUCCESS)
            << last_error();
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(vnsim_open_handles(0), 1) << "one handle: the failed open left none behind";
        PORT_HANDLE remote = nullptr;
        ASSERT_EQ(DevGetPort(device, &remote), GC_ERR_SUCCESS);
        std::string vendor;
        EXPECT_EQ(read_text(remote, 0x2000, 32, vendor), GC_ERR_SUCCESS) << last_error();
        EXPECT_EQ(vendor, "Vantrel");
        stream_and_close_all(2);
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    }

    // With the device open, the first announce fails while the board cannot open for acquisition.
    ASSERT_NO_FATAL_FAILURE(open_board_interface(0));
    ASSERT_EQ(device_open(), GC_ERR_SUCCESS) << last_error();
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
    stream_and_close_all(3);
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
        ASSERT_NO_FATAL_FAILURE(start_library(R"({"boards": [{"kind": "CXP"}, {"kind": "CL",
            "model": "VN-CL2 Camera Link", "serial": "VL2210418", "device_name": "VNCL_1",
            "camera_files": [{"name": "SimCam_CL_640x480_Mono8.cam", "width": 640, "height": 480,
                              "make": "Vantrel", "model": "SimCam CL-1"}],
            "serial_baud_rates": [9600, 115200], "camera": {"baud_rate": 115200}}]})",
                                              cl_board));
        ASSERT_EQ(device_open(), GC_ERR_SUCCESS) << last_error();
        ASSERT_EQ(DevGetPort(device, &remote), GC_ERR_SUCCESS) << last_error();
        ASSERT_EQ(width(), 640u) << "the camera answers before any fault";
        session.emplace(device, 4, ExpectedFrames{640, 480});
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

    // The failed read's record names the port and quotes the protocol's reason.
    static void expect_read_record(const std::string& record)
    {
        EXPECT_EQ(record.rfind("GC_ERR_IO @ VNPortCL.cpp[", 0), 0u) << record;
        for (const char* part : {"], VNPortCL::read: Caught an exception attempting to read from ",
                                 "The camera did not answer ReadMem of 4 bytes at 0x10000 on ",
                                 " within 500 ms, after 3 resends."}) {
            EXPECT_NE(record.find(part), std::string::npos) << record;
        }
    }

    void TearDown() override
    {
        if (session) {
            session->finish();
            close_all();
        }
        DeviceFaultCampaignTest::TearDown();
    }

    PORT_HANDLE remote = nullptr;
    std::optional<StreamSession> session;
};

// Damaged answers are asked for again, up to three resends; a dropped command is sent again only after the
// port's time-out; a read whose command and three resends all come back damaged fails. Frames go on
// throughout (they do not depend on the serial line), and once the fault has run out the camera answers.
TEST_F(ClSerialFaultTest, SerialFaultsAreRecoveredOrFailTheReadAndFramesGoOnAlsoWithASilentCamera)
{
    struct Row {
        const char* fault;
        int count;
        uint64_t corrupted;
        uint64_t dropped;
    };
    const Row rows[] = {{"corrupt_answers", 2, 2, 0}, {"corrupt_answers", 4, 4, 0}, {"drop_answers", 1, 0, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.fault) + " x" + std::to_string(row.count));
        EXPECT_EQ(take_frames(2), 2);
        const VnsimClStats before = gencp_test::cl_stats(cl_board);
        ASSERT_EQ(vnsim_cl_fault(cl_board, row.fault, row.count), 0);
        const auto start = std::chrono::steady_clock::now();
        GC_ERROR code = GC_ERR_SUCCESS;
        const uint32_t value = width(&code);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(row.dropped > 0 ? 450 : 0));
        const VnsimClStats after = gencp_test::cl_stats(cl_board);
        EXPECT_EQ(after.corrupted - before.corrupted, row.corrupted);
        EXPECT_EQ(after.dropped - before.dropped, row.dropped);
        if (row.corrupted > 3) {
            EXPECT_EQ(code, GC_ERR_IO);
            expect_read_record(last_error());
        } else {
            EXPECT_EQ(value, 640u) << last_error();
            EXPECT_GE(after.resends - before.resends, row.corrupted) << "each damaged answer was asked for again";
        }
        EXPECT_EQ(take_frames(3), 3);
        EXPECT_EQ(width(), 640u) << "the fault has run out: " << last_error();
    }

    // A silent camera costs the port's time-out (500 ms) four times over while another thread takes frames.
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
    expect_read_record(record);
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
    void configure(const std::string& manifest, const std::string& camera_faults = "{}")
    {
        const std::string json = R"({"boards": [{"kind": "CXP", "model": "VN-CXP4 CoaXPress", "serial": "VC4210417",
            "camera_files": [{"name": "SimCam_CXP_1024x768_Mono8.cam", "width": 1024, "height": 768,
                              "make": "Vantrel", "model": "SimCam CXP-1"}],
            "camera": {"model": "SimCam-CXP-1", "manifest": )" +
                                 manifest + R"(, "faults": )" + camera_faults + "}}]}";
        ASSERT_NO_FATAL_FAILURE(start_library(json, 0));
        vnsim_debug_clear();
    }

    uint32_t url_count()
    {
        PORT_HANDLE remote = nullptr;
        EXPECT_EQ(DevGetPort(device, &remote), GC_ERR_SUCCESS) << last_error();
        uint32_t count = 99;
        EXPECT_EQ(GCGetNumPortURLs(remote, &count), GC_ERR_SUCCESS) << last_error();
        return count;
    }

    bool logged(const std::string& text) const { return debug_output().find(text) != std::string::npos; }

    std::filesystem::path cache_;
};

// A failed download leaves no file; the device opens, offers the descriptions the manifest's other entries
// gave, streams and closes with nothing left open.
TEST_F(XmlCacheFaultTest, FailedHttpDownloadLeavesNoFileAndTheDeviceStreams)
{
    struct Row {
        const char* path;
        std::string response;
        std::string reason;  // of downloadHttpFile, around the URL
        std::string reason_end;
        bool own_file_second;  // the manifest's second entry is the camera's own
        LoopbackHttpServer::Mode mode = LoopbackHttpServer::Mode::answer;
    };
    const std::string empty = "\r\nContent-Length: 0\r\n\r\n";
    const std::string status = "Response returned with status code ";
    const Row rows[] = {
        {"/SimCamCXP.zip", "HTTP/1.1 404 Not Found" + empty, status + "404 downloading the URL \"", "\".", false},
        {"/SimCamCXP.zip", "SPDY/9 200 OK\r\n\r\n<x/>", "Invalid server response downloading the URL \"", "\".", false},
        {"/SimCamCXP.zip", "HTTP/1.0 abc\r\n\r\n<x/>", "Invalid server response downloading the URL \"", "\".", false},
        // The server promises 5000 bytes, sends 100 and closes.
        {"/SimCamCXP.xml", "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n<RegisterDescription" + std::string(80, ' '),
         "Error downloading the URL \"",
         "\"; Message was \"the body has 100 bytes, but the server announced 5000\".", true},
        // The server sends 5000 of 100000 bytes and aborts the connection.
        {"/Cut.xml", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, ' '),
         "Error downloading the URL \"", "\"; Message was \"", true, LoopbackHttpServer::Mode::reset},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.response.substr(0, 24) + (row.mode == LoopbackHttpServer::Mode::reset ? " reset" : ""));
        std::filesystem::remove_all(cache_);  // a cached description of this camera would skip the manifest
        std::filesystem::create_directories(cache_);
        LoopbackHttpServer server({{row.path, Route{row.response, row.mode}}});
        const std::string url = "http://" + server.host() + row.path;
        configure(R"([{"url": ")" + url + (row.own_file_second ? R"("}, {"local": "zip"}])" : R"("}])"));
        ASSERT_EQ(device_open(), GC_ERR_SUCCESS) << last_error();
        EXPECT_TRUE(logged("VNCxpXmlCacheInterface::downloadHttpFile: " + row.reason + url + row.reason_end))
            << debug_output();
        EXPECT_TRUE(
            logged("VNCxpXmlCacheInterface::downloadFiles: Download failed for the XML at URL \"" + url + "\"."))
            << debug_output();
        EXPECT_EQ(server.requests(), 1);
        // Before the body was held against its length the cut file was cached and offered as the description.
        std::vector<std::string> cached;
        for (const auto& entry : std::filesystem::directory_iterator(cache_)) {
            cached.push_back(entry.path().filename().string());
        }
        std::sort(cached.begin(), cached.end());
        const std::vector<std::string> own{"VantrelSimCamCXP.xml", "VantrelSimCamCXP.zip"};
        EXPECT_EQ(cached, row.own_file_second ? own : std::vector<std::string>{});
        EXPECT_EQ(url_count(), row.own_file_second ? 1u : 0u);
        stream_and_close_all(2);
    }
}

// A camera whose bootstrap or manifest URL cannot be read: the device still opens and streams, offers the
// descriptions it could fetch, and the record says why the others are missing. The URL of manifest entry 0
// lies at 0x100000; its second word at 0x100004.
TEST_F(XmlCacheFaultTest, UnreadableBootstrapOrUrlLeavesTheDeviceWithoutThatDescription)
{
    const struct {
        const char* name;
        std::string manifest;
        std::string faults;
        uint32_t urls;
        std::string record;
    } rows[] = {
        {"unreadable Standard", R"([{"local": "zip"}])", R"({"standard_unreadable": true})", 0,
         "VNCxpBootstrap::updateValues: Unable to access the CXP bootstrap Standard register. The link may be bad."},
        {"wrong Standard", R"([{"local": "zip"}])", R"({"standard_value": "0x12345678"})", 0,
         "VNCxpXmlCacheInterface::updateStore: Camera did not return the correct CXP Standard bootstrap register "
         "value."},
        {"five failed URL reads", R"([{"local": "zip"}])",
         R"({"read_failures": [{"address": "0x100004", "count": 5}]})", 1, ""},
        {"URL unreadable", R"([{"local": "zip"}])", R"({"read_failures": [{"address": "0x100004", "always": true}]})",
         0, "VNCxpBootstrap::retrieveManifestUrl: Aborting URL retrieval operation after 6 failed register read "
            "operations."},
        {"URL without terminator", R"([{"url": "local:///cam.xml;300000;10", "terminated": false}, {"local": "zip"}])",
         "{}", 1,
         "VNCxpBootstrap::retrieveManifestUrl: The length of an XML URL is excessively long, or the "
         "null-terminating character is missing."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        configure(row.manifest, row.faults);
        ASSERT_EQ(device_open(), GC_ERR_SUCCESS) << last_error();
        EXPECT_EQ(url_count(), row.urls) << debug_output();
        if (!row.record.empty()) {
            EXPECT_TRUE(logged(row.record)) << debug_output();
        }
        stream_and_close_all(2);
    }
}
