// The CoaXPress camera's port on the simulated board: word rounding, the link configuration register, the
// address range, the port info values and URL queries, the camera's XML fetched into the cache, and the
// remote-device medium's choice of port.
#include "RemoteTestSupport.h"

#include "board/VNBoards.h"
#include "remote/VNPortCXP.h"
#include "remote/VNRemDevPortMedium.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

using namespace GenTL;
using vngtl::BasePort;
using vngtl::VNPortCXP;
using vngtl::VNRemDevPortMedium;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t vendor_name = 0x2000;
constexpr uint64_t user_id = 0x20C0;
constexpr uint64_t link_config = 0x4014;

// One CoaXPress board whose link moves whole words only, with the given rounding options.
std::string whole_word_board(const char* read_rounding, const char* write_rounding)
{
    return std::string(R"({"boards": [{"kind": "CXP", "cxp_whole_words": true, "options": {)") +
           R"("VNGTLCxpReadForceWordRounding": ")" + read_rounding + R"(", "VNGTLCxpWriteForceWordRounding": ")" +
           write_rounding + R"("}, "camera_files": [{"name": "A.cam", "width": 64, "height": 48}]}]})";
}

VnsimCxpStats stats()
{
    VnsimCxpStats s{};
    vnsim_cxp_stats(0, &s);
    return s;
}

}  // namespace

class CxpPortTest : public RemoteTest {
protected:
    void make_port()
    {
        medium_ = std::make_unique<VNRemDevPortMedium>(std::make_shared<VNBoards::Board>(0));
        port_ = dynamic_cast<VNPortCXP*>(medium_->port());
        ASSERT_NE(port_, nullptr) << last_error();
    }
    void configure(const std::string& json) { ASSERT_EQ(vnsim_configure(json.c_str()), 0) << vnsim_last_error(); }

    std::unique_ptr<VNRemDevPortMedium> medium_;
    VNPortCXP* port_ = nullptr;
};

// A link that moves whole words only: a rounded read never overruns the caller's buffer, a rounded write is
// padded, and without rounding a short access is refused.
TEST_F(CxpPortTest, WholeWordLinkRoundsOrRefusesShortAccessesAndNeverOverrunsTheCallersBuffer)
{
    configure(whole_word_board("1", "0"));
    make_port();
    EXPECT_TRUE(port_->read_word_rounding());
    EXPECT_TRUE(info_bool(*port_, VNPortCXP::info_read_rounding));
    EXPECT_FALSE(info_bool(*port_, VNPortCXP::info_write_rounding));
    std::vector<uint8_t> guarded(16, 0xAA);
    size_t size = 6;
    ASSERT_EQ(port_->read(vendor_name, guarded.data(), &size), GC_ERR_SUCCESS) << last_error();
    EXPECT_EQ(size, 8u);  // the count the board moved
    EXPECT_EQ(std::memcmp(guarded.data(), "Vantre", 6), 0);
    for (size_t i = 6; i < guarded.size(); ++i) {
        EXPECT_EQ(guarded[i], 0xAA) << "byte " << i << " beyond the caller's 6";
    }
    EXPECT_EQ(stats().last_read_length, 8u);

    // Without rounding, a short read or write is refused.
    configure(whole_word_board("0", "0"));
    make_port();
    const VnsimCxpStats before = stats();
    char text[6] = {};
    size = sizeof text;
    EXPECT_EQ(port_->read(vendor_name, text, &size), GC_ERR_IO);
    expect_last("GC_ERR_IO", "VNPortCXP::read",
                "Received VN error code 3024 reading the data range [0x2000, 0x2006) from board 0.");
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(port_->write(user_id, text, &size), GC_ERR_IO) << "nor a short write";
    EXPECT_EQ(stats().failed_reads - before.failed_reads, 1u);
    EXPECT_EQ(stats().failed_writes - before.failed_writes, 1u);

    // A rounded write is padded with zeros.
    configure(whole_word_board("0", "1"));
    make_port();
    const uint8_t word[4] = {'A', 'B', 'C', 'D'};
    size = 4;
    ASSERT_EQ(port_->write(user_id, word, &size), GC_ERR_SUCCESS);
    const char two[2] = {'x', 'y'};
    size = 2;
    ASSERT_EQ(port_->write(user_id, two, &size), GC_ERR_SUCCESS) << last_error();
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(stats().last_write_length, 4u);
    uint8_t held[4] = {};
    ASSERT_EQ(vnsim_cxp_read(0, static_cast<uint32_t>(user_id), held, 4), 0);
    EXPECT_EQ(std::memcmp(held, "xy\0\0", 4), 0);
}

TEST_F(CxpPortTest, LinkConfigurationWritesSetTheBoardsLinkSpeedAndAddressesBeyond32BitsAreRefused)
{
    make_port();
    vnsim_cxp_clear_stats(0);
    const uint8_t four_at_cxp6[4] = {0x00, 0x04, 0x00, 0x48};
    size_t size = 4;
    ASSERT_EQ(port_->write(link_config, four_at_cxp6, &size), GC_ERR_SUCCESS) << last_error();
    uint32_t connections = 0;
    uint32_t row = 0;
    ASSERT_EQ(vnsim_cxp_link(0, &connections, &row), 0);
    EXPECT_EQ(std::pair(connections, row), std::pair(4u, 5u));
    EXPECT_EQ(stats().writes, 0u);  // nothing went to the camera
    EXPECT_EQ(stats().link_speed_calls, 1u);
    EXPECT_EQ(stats().last_link_apply, 1u);

    const uint8_t two_at_cxp3[4] = {0x00, 0x02, 0x00, 0x38};
    ASSERT_EQ(port_->write(link_config, two_at_cxp3, &size), GC_ERR_SUCCESS);
    ASSERT_EQ(vnsim_cxp_link(0, &connections, &row), 0);
    EXPECT_EQ(std::pair(connections, row), std::pair(2u, 3u));

    const uint8_t unknown[4] = {0x00, 0x04, 0x00, 0x00};
    EXPECT_EQ(port_->write(link_config, unknown, &size), GC_ERR_IO);
    expect_last("GC_ERR_IO", "VNPortCXP::write", "Bad or unknown CXP link speed.");
    EXPECT_EQ(stats().link_speed_calls, 2u);

    // Any other length goes to the camera as it is.
    const uint8_t eight[8] = {0x00, 0x04, 0x00, 0x48, 0, 0, 0, 0};
    size = 8;
    port_->write(link_config, eight, &size);
    EXPECT_EQ(stats().writes, 1u);
    EXPECT_EQ(stats().last_write_address, link_config);
    EXPECT_EQ(stats().last_write_length, 8u);
    EXPECT_EQ(stats().link_speed_calls, 2u);

    // Addresses beyond 32 bits are refused by every access.
    const uint64_t beyond = 0x100000000ull;
    const std::string message = "Address 0x100000000 exceeds the maximum 32-bit address space used by CoaXPress.";
    uint32_t word = 0;
    size = 4;
    EXPECT_EQ(port_->read(beyond, &word, &size), GC_ERR_INVALID_ADDRESS);
    expect_last("GC_ERR_INVALID_ADDRESS", "VNPortCXP::read", message);
    EXPECT_EQ(port_->write(beyond, &word, &size), GC_ERR_INVALID_ADDRESS);
    expect_last("GC_ERR_INVALID_ADDRESS", "VNPortCXP::write", message);
    EXPECT_EQ(port_->read_register(beyond, word), GC_ERR_INVALID_ADDRESS);
    expect_last("GC_ERR_INVALID_ADDRESS", "VNPortCXP::read", message);
    EXPECT_EQ(port_->write_register(beyond, word), GC_ERR_INVALID_ADDRESS);
    expect_last("GC_ERR_INVALID_ADDRESS", "VNPortCXP::write", message);
    EXPECT_EQ(port_->read_register(0x2, word), GC_ERR_INVALID_ADDRESS);
    expect_last("GC_ERR_INVALID_ADDRESS", "VNPortCXP::read", "Address 0x2 is not word-aligned.");
    EXPECT_EQ(port_->read(0, nullptr, &size), GC_ERR_INVALID_PARAMETER);
    expect_last("GC_ERR_INVALID_PARAMETER", "VNPortCXP::read", "The read buffer is a null pointer.");
    EXPECT_EQ(port_->write(0, &word, nullptr), GC_ERR_INVALID_PARAMETER);
    expect_last("GC_ERR_INVALID_PARAMETER", "VNPortCXP::write", "The size parameter is a null pointer.");
    // The camera refuses a write to its Standard register; the board's code is passed on.
    EXPECT_EQ(port_->write_register(0, 1), GC_ERR_IO);
    EXPECT_NE(last_error().find("VNPortCXP::write: Received VN error code "), std::string::npos) << last_error();
    EXPECT_NE(last_error().find(" writing the register at address 0x0."), std::string::npos);
}

TEST_F(CxpPortTest, InfoAndUrlInfoValuesComeFromTheCameraAndTheBoard)
{
    make_port();
    for (const auto& [command, text] : {std::pair{PORT_INFO_ID, "Device"}, {PORT_INFO_VENDOR, "Vantrel"},
                                        {PORT_INFO_MODEL, "SimCam-CXP-1"}, {PORT_INFO_VERSION, "1.2.0"},
                                        {PORT_INFO_TLTYPE, "CXP"}, {PORT_INFO_PORTNAME, "Device"}}) {
        EXPECT_EQ(info_text(*port_, command), text) << "command " << command;
    }
    EXPECT_TRUE(info_bool(*port_, PORT_INFO_LITTLE_ENDIAN));
    EXPECT_TRUE(info_bool(*port_, PORT_INFO_ACCESS_READ));
    EXPECT_TRUE(info_bool(*port_, PORT_INFO_ACCESS_WRITE));
    EXPECT_FALSE(info_bool(*port_, PORT_INFO_ACCESS_NA));
    // A refused write is met through a read-only device in DeviceXmlCacheTest.
    port_->set_writable(false);
    EXPECT_FALSE(info_bool(*port_, PORT_INFO_ACCESS_WRITE));
    EXPECT_FALSE(info_bool(*port_, PORT_INFO_ACCESS_NA));

    // The URL info's typed answers and refusals. (The camera's files reach the cache and are offered as file URLs
    // the reference GenApi loads: test_cxp_remote.py.)
    uint32_t count = 0;
    ASSERT_EQ(port_->num_urls(&count), GC_ERR_SUCCESS);
    ASSERT_EQ(count, 1u);
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    size_t size = 0;
    ASSERT_EQ(port_->url_info(0, URL_INFO_URL, &type, nullptr, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_STRING);
    int32_t version = -5;
    size = sizeof version;
    ASSERT_EQ(port_->url_info(0, URL_INFO_SCHEMA_VER_MAJOR, &type, &version, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_INT32);
    EXPECT_EQ(version, 1);
    size = 2;
    EXPECT_EQ(port_->url_info(0, URL_INFO_SCHEMA_VER_MINOR, &type, &version, &size), GC_ERR_BUFFER_TOO_SMALL);
    expect_last("GC_ERR_BUFFER_TOO_SMALL", "VNPortCXP::url_info",
                "Could not copy the return data to the output buffer for URL_INFO_CMD 2 on the CoaXPresss port of "
                "board 0.");
    size = sizeof version;
    EXPECT_EQ(port_->url_info(0, URL_INFO_FILE_VER_MAJOR, &type, &version, &size), GC_ERR_NOT_AVAILABLE);
    expect_last("GC_ERR_NOT_AVAILABLE", "VNPortCXP::url_info",
                "Unknown major file version for URL 0 on the CoaXPresss port of board 0.");
    EXPECT_EQ(port_->url_info(0, URL_INFO_FILE_SHA1_HASH, &type, &version, &size), GC_ERR_NOT_IMPLEMENTED);
    expect_last("GC_ERR_NOT_IMPLEMENTED", "VNPortCXP::url_info",
                "SHA1 hash of an XML file is not available for CLProtocol devices.");
    EXPECT_EQ(port_->url_info(0, static_cast<URL_INFO_CMD>(77), &type, &version, &size), GC_ERR_NOT_IMPLEMENTED);
    expect_last("GC_ERR_NOT_IMPLEMENTED", "VNPortCXP::url_info", "Unknown info command with ID 77.");
    EXPECT_EQ(port_->url_info(1, URL_INFO_URL, &type, nullptr, &size), GC_ERR_INVALID_INDEX);
    expect_last("GC_ERR_INVALID_INDEX", "VNPortCXP::url_info",
                "Index 1 exceeds the 1 URLs available on the CoaXPresss port of board 0.");

    // A camera that no longer answers fails the computed strings with the read's code.
    vnsim_cxp_fault_silent(0, 1);
    char text[32];
    size = sizeof text;
    EXPECT_EQ(port_->info(PORT_INFO_VENDOR, &type, text, &size), GC_ERR_IO);
}

// Caching by hand, deleting an entry and re-synchronising are met through the device's registers in
// DeviceXmlCacheTest; here the refusals and a second copy of the same camera version.
TEST_F(CxpPortTest, CacheCommandsRefuseBadFilesAndNameASecondCopyApart)
{
    make_port();
    write_file(cache("user.xml"), "<RegisterDescription/>");
    ASSERT_EQ(port_->cache_external_file(cache("user.xml")), GC_ERR_SUCCESS) << last_error();
    ASSERT_EQ(port_->cache_external_file(cache("user.xml")), GC_ERR_SUCCESS) << last_error();
    ASSERT_EQ(port_->xml_cache().updateStore(*port_), true);
    uint32_t count = 0;
    ASSERT_EQ(port_->num_urls(&count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 3u) << "the camera's own and two copies under names of their own";

    EXPECT_EQ(port_->cache_external_file(cache("missing.xml")), GC_ERR_ERROR);
    expect_last("GC_ERR_ERROR", "VNPortCXP::cache_external_file", "The file does not exist.");
    write_file(cache("notes.txt"), "x");
    EXPECT_EQ(port_->cache_external_file(cache("notes.txt")), GC_ERR_ERROR);
    expect_last("GC_ERR_ERROR", "VNPortCXP::cache_external_file",
                "The file extension is neither XML nor ZIP, which are the only supported formats.");
    EXPECT_EQ(port_->delete_cache_entry(5), GC_ERR_INVALID_INDEX);
}

TEST_F(CxpPortTest, UserCachedZipIsExtractedBesideItsCopy)
{
    make_port();
    write_file(cache("user.zip"), make_zip("inner.xml", "<z/>"));
    ASSERT_EQ(port_->cache_external_file(cache("user.zip")), GC_ERR_SUCCESS) << last_error();
    EXPECT_EQ(read_file(cache("SchemaVersion.1.1@Vantrel#SimCam-CXP-1#1.2.0@XMLVersion.1.0.0.xml")), "<z/>");
    EXPECT_TRUE(fs::exists(cache("SchemaVersion.1.1@Vantrel#SimCam-CXP-1#1.2.0@XMLVersion.1.0.0.zip")));
    write_file(cache("bad.zip"), "not a zip");
    EXPECT_EQ(port_->cache_external_file(cache("bad.zip")), GC_ERR_ERROR);
    expect_last("GC_ERR_ERROR", "VNPortCXP::cache_external_file", "Unable to unarchive the ZIPd XML file.");
}

TEST_F(CxpPortTest, BadConditionsLeaveAPortWithoutUrlsAndARecord)
{
    // No cache directory, or one that is not there.
    uint32_t count = 9;
    for (const bool unset : {true, false}) {
        SCOPED_TRACE(unset ? "unset" : "missing");
        if (unset) {
            unsetenv("GENICAM_CACHE_V2_4");
        } else {
            setenv("GENICAM_CACHE_V2_4", cache("missing").c_str(), 1);
        }
        make_port();
        ASSERT_EQ(port_->num_urls(&count), GC_ERR_SUCCESS);
        EXPECT_EQ(count, 0u);
        expect_last("GC_ERR_IO", "VNPortCXP::bind", "Unable to update the CoaXPress URL store for board 0.");
        EXPECT_NE(records().find(unset ? "The GenICam cache directory has not been set in the local environment"
                                       : "Could not access GenICam cache directory, \"" + cache("missing") + "\"."),
                  std::string::npos)
            << records();
    }

    // A camera that does not answer.
    setenv("GENICAM_CACHE_V2_4", cache_.c_str(), 1);
    vnsim_cxp_fault_silent(0, 1);
    make_port();
    ASSERT_EQ(port_->num_urls(&count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(records().find("Could not retrieve the CXP Standard bootstrap register value."), std::string::npos);
    size_t size = 4;
    EXPECT_EQ(port_->url_info(0, URL_INFO_URL, nullptr, nullptr, &size), GC_ERR_IO);
    expect_last("GC_ERR_IO", "VNPortCXP::url_info", "Unable to update the CoaXPress URL store for board 0.");
}

// The medium has a port only for a CoaXPress board that opens; a port without a board is not available.
TEST_F(CxpPortTest, MediumHasAPortOnlyForACoaXPressBoardThatOpens)
{
    auto board = std::make_shared<VNBoards::Board>(0);
    VNRemDevPortMedium medium(board);
    ASSERT_NE(medium.get_port(), nullptr);
    ASSERT_TRUE(board->close_board());
    vnsim_fault_open_fails(0, 1000);
    EXPECT_EQ(medium.get_port(), nullptr);
    vnsim_fault_open_fails(0, 0);
    EXPECT_NE(medium.get_port(), nullptr);

    VNPortCXP port(nullptr);
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    uint8_t value = 0;
    size_t size = 1;
    ASSERT_EQ(port.info(PORT_INFO_ACCESS_NA, &type, &value, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(value, 1);
    EXPECT_FALSE(port.good());
    uint32_t word = 0;
    size = 4;
    EXPECT_EQ(port.read(0, &word, &size), GC_ERR_ACCESS_DENIED);
    EXPECT_NE(last_error().find("for CXP read."), std::string::npos) << last_error();

    configure(R"({"boards": [{"kind": "other", "camera_files": [{"name": "A.cam", "width": 64, "height": 48}]},
        {"kind": "CL"}]})");
    VNRemDevPortMedium other(std::make_shared<VNBoards::Board>(0));
    EXPECT_EQ(other.get_port(), nullptr);
    expect_last("GC_ERR_ERROR", "VNRemDevPortMedium::VNRemDevPortMedium", "Board 0 does not support GenTL control.");

    vnsim_debug_clear();
    VNRemDevPortMedium none(nullptr);
    EXPECT_EQ(none.get_port(), nullptr);
    EXPECT_EQ(records(), "");
}
