// The bootstrap reader and the XML cache against a test camera: the register walk, the manifest URL in camera
// memory, the URL grammar and the cache file names; the cache directory, downloads from camera memory, host
// files and (HTTP/1.0) a server of the test's own on 127.0.0.1, unzipping, the URL store and its consumer
// URLs, purging. Then the CoaXPress camera's port on the simulated board: word rounding, the link
// configuration register, the address range, the port info values and URL queries, the camera's XML fetched
// into the cache, and the remote-device medium's choice of port.
#include "FakeCxpCamera.h"
#include "LoopbackHttpServer.h"
#include "RemoteTestSupport.h"

#include "board/VNBoards.h"
#include "remote/VNCxpBootstrap.h"
#include "remote/VNCxpXmlCacheInterface.h"
#include "remote/VNPortCXP.h"
#include "remote/VNRemDevPortMedium.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <vector>

using vngtl::VNCxpBootstrap;
using vngtl::VNCxpXmlCacheInterface;
using vngtl::VNPortCXP;
using vngtl::VNRemDevPortMedium;
namespace fs = std::filesystem;

namespace {

// A camera description long enough to take several 512-byte chunks through the unzip.
std::string camera_xml(const std::string& tag)
{
    std::string text = "<?xml version=\"1.0\"?>\n<RegisterDescription ModelName=\"" + tag + "\">\n";
    for (int i = 0; i < 80; ++i) {
        text += "  <!-- filler line " + std::to_string(i) + " -->\n";
    }
    return text + "</RegisterDescription>\n";
}

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

// ---- The bootstrap reader ------------------------------------------------------------------------------

class CxpBootstrapTest : public RemoteTest {
protected:
    FakeCxpCamera camera;
    VNCxpBootstrap bootstrap;
};

TEST_F(CxpBootstrapTest, ReadsTheWholeBlockOfARevision2CameraAndSkipsTheExtendedRegistersOfRevision1)
{
    camera.set_urls({"local:///cam.xml;8000;10"});
    camera.put_u32(0x3000, 0x6100);
    camera.put_u32(0x4028, 0x00000001);
    camera.put_u32(0x402C, 0x00000002);
    bootstrap.updateValues(camera);
    EXPECT_EQ(bootstrap.standard, VNCxpBootstrap::standard_value);
    EXPECT_EQ(bootstrap.xml_manifest_size, 1u);
    EXPECT_EQ(bootstrap.xml_version, 0x00020005u);
    EXPECT_EQ(bootstrap.xml_url_address, FakeCxpCamera::url_area);
    EXPECT_EQ(bootstrap.vendor_name, "Acme:Cam");
    EXPECT_EQ(bootstrap.device_user_id, "bench");
    EXPECT_EQ(bootstrap.pointer_block[0], 0x6100u);
    EXPECT_EQ(bootstrap.test_packet_count_tx, 0x0000000100000002ull);
    EXPECT_TRUE(bootstrap.is_loaded(0x403C));
    EXPECT_FALSE(bootstrap.is_loaded(0x4000));  // LinkReset is never read
    EXPECT_FALSE(bootstrap.is_loaded(0x2090));  // nor the firmware version

    // A revision 1 camera has none of the extended registers.
    camera.put_u32(VNCxpBootstrap::revision_address, 0x00010000);
    VNCxpBootstrap revision1;
    revision1.updateValues(camera);
    EXPECT_TRUE(revision1.is_loaded(0x4024));
    EXPECT_FALSE(revision1.is_loaded(0x3000));
    EXPECT_FALSE(revision1.is_loaded(0x4028));
}

TEST_F(CxpBootstrapTest, FailingReadsAreRecordedOneByOneAndTheWalkGoesOn)
{
    camera.fail_reads_at(VNCxpBootstrap::model_name_address, 1);
    camera.fail_reads_at(0x4028, 1);
    camera.put_text(VNCxpBootstrap::device_user_id_address, 16, "");
    bootstrap.updateValues(camera);
    EXPECT_TRUE(bootstrap.model_name.empty());
    EXPECT_FALSE(bootstrap.is_loaded(VNCxpBootstrap::model_name_address));
    EXPECT_FALSE(bootstrap.is_loaded(VNCxpBootstrap::device_user_id_address));  // all-zero field
    EXPECT_FALSE(bootstrap.is_loaded(0x4028));
    EXPECT_TRUE(bootstrap.is_loaded(0x4030));
    const std::string log = records();
    EXPECT_NE(log.find("CXP Bootstrap read failure at range [0x2020, 0x2040)."), std::string::npos) << log;
    EXPECT_NE(log.find("CXP Bootstrap register read failure at 8-byte register, address 0x4028."), std::string::npos);
    EXPECT_EQ(count_of(log, "CXP Bootstrap string read failure."), 2u);
}

// A URL without its terminator is met through the device in XmlCacheFaultTest; here the longest one read.
TEST_F(CxpBootstrapTest, ManifestUrlAddressMustBeLoadedAndInManufacturerSpaceAndAUrlOf1027BytesIsRead)
{
    EXPECT_EQ(bootstrap.retrieveManifestUrl(camera), "");
    expect_last("GC_ERR_IO", "VNCxpBootstrap::retrieveManifestUrl",
                "The CXP Bootstrap XML_URL_ADDRESS register has not been loaded, so reading the URL is not "
                "currently possible.");
    camera.set_manifest({{0x00010000, 0x00010100, 0x5ffc}});
    bootstrap.updateValues(camera);
    EXPECT_EQ(bootstrap.retrieveManifestUrl(camera), "");
    expect_last("GC_ERR_IO", "VNCxpBootstrap::retrieveManifestUrl",
                "The CXP Bootstrap XML_URL_ADDRESS register points to an address not within the manufacturer "
                "register space (0x5ffc).");

    camera.set_manifest({{0x00010000, 0x00010100, FakeCxpCamera::url_area}});
    camera.put_bytes(FakeCxpCamera::url_area, std::string(1027, 'u') + '\0');
    bootstrap.updateValues(camera);
    // 1027 characters and the terminator fit in the 257 words that may be read.
    EXPECT_EQ(bootstrap.retrieveManifestUrl(camera), std::string(1027, 'u'));
}

TEST_F(CxpBootstrapTest, LocalUrlsGiveAddressAndLengthAndFileNamesNeverLeaveTheCacheDirectory)
{
    uint64_t address = 0;
    uint64_t length = 0;
    ASSERT_TRUE(VNCxpBootstrap::LocalUrlAddressAndLength("Local:///cam.zip;abcdef;1f0?SchemaVersion=1.1.0", address,
                                                         length));
    EXPECT_EQ(address, 0xabcdefu);
    EXPECT_EQ(length, 0x1f0u);
    const std::string function = "VNCxpBootstrap::LocalUrlDelimiters";
    VNCxpBootstrap::Positions p;
    const struct {
        const char* url;
        const char* message;
    } cases[] = {
        {"cam.xml", "Unable to locate a Filename in the URL, \"cam.xml\"."},
        {"local:cam.xml", "Unable to locate an Address value in the URL, \"local:cam.xml\"."},
        {"local:cam.xml;6000", "Unable to locate a Data Length value in the URL, \"local:cam.xml;6000\"."},
        {"local:cam.xml;60G0;100", "Malformed Address value in the URL, \"local:cam.xml;60G0;100\"."},
        {"local:cam.xml;6000;100?Schema=1",
         "Malformed Data Length value or Schema prefix in the URL, \"local:cam.xml;6000;100?Schema=1\"."},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(VNCxpBootstrap::LocalUrlDelimiters(c.url, p)) << c.url;
        expect_last("GC_ERR_IO", function, c.message);
    }

    // The file name is the decoded last path component.
    EXPECT_EQ(VNCxpBootstrap::UrlFileName("file:///C:/dir/My%20Cam.ZIP"), "My Cam.ZIP");
    EXPECT_EQ(VNCxpBootstrap::UrlFileName("local:///cam.zip;6000;1F0"), "cam.zip");
    EXPECT_EQ(VNCxpBootstrap::UrlFileName("http://host/a/b/cam.xml?SchemaVersion=1.1.0"), "cam.xml");
    // The earlier of the two extensions ends the name.
    EXPECT_EQ(VNCxpBootstrap::UrlFileName("file:///x/cam.xml.zip"), "cam.xml");
    EXPECT_EQ(VNCxpBootstrap::UrlFileName("local:cam.zip;6000;1F0"), "");
    expect_last("GC_ERR_IO", "VNCxpBootstrap::UrlFileName",
                "Unable to determine the filename of URL \"local:cam.zip;6000;1F0\".");
    EXPECT_EQ(VNCxpBootstrap::UrlFileName("file:///x/readme.txt"), "");
    EXPECT_EQ(VNCxpBootstrap::UrlFileName("ftp://host/cam.xml"), "");
    expect_last("GC_ERR_IO", "VNCxpBootstrap::UrlFileName", "Unrecognized locale in URL \"ftp://host/cam.xml\".");

    // The URL comes from the camera; its file name is joined to the cache directory, which it must not leave.
    for (const char* url : {"file:///x/..%2F..%2Fetc%2Fcam.xml", "http://host/a/..%5Ccam.zip", "local:///a%2Fb.xml;6000;10",
                            "file:///x/cam%00.xml"}) {
        EXPECT_EQ(VNCxpBootstrap::UrlFileName(url), "") << url;
        expect_last("GC_ERR_IO", "VNCxpBootstrap::UrlFileName",
                    std::string("Unable to determine the filename of URL \"") + url + "\".");
    }
    EXPECT_EQ(VNCxpBootstrap::UrlFileName("file:///x/a%2520b.xml"), "a%20b.xml");  // decoded once only
}

TEST_F(CxpBootstrapTest, GeneratedFileNamesEscapeTheDeviceAndCarryTheVersionsOrWildcards)
{
    camera.set_urls({"local:///cam.xml;8000;10"});  // XML version 2.0.5, schema 1.1
    bootstrap.updateValues(camera);
    EXPECT_EQ(bootstrap.generateXmlFileName(-1), "SchemaVersion.1.1@Acme_58Cam#X1#3@XMLVersion.2.0.5.xml");
    EXPECT_EQ(bootstrap.generateXmlFileName(0x1F), "SchemaVersion.1.1@Acme_58Cam#X1#3@XMLVersion.2.0.5#1f.xml");
    EXPECT_EQ(bootstrap.generateXmlFileName(0), "SchemaVersion.1.1@Acme_58Cam#X1#3@XMLVersion.2.0.5#0.xml");
    EXPECT_EQ(bootstrap.generateXmlFileName(-2), "SchemaVersion.*.*@Acme_58Cam#X1#3@XMLVersion.*.*.*.xml");
    camera.put_text(VNCxpBootstrap::vendor_name_address, 32, "a\\b/c*d?e\"f<g>h|i");
    bootstrap.updateValues(camera);
    EXPECT_EQ(bootstrap.generateXmlFileName(-2),
              "SchemaVersion.*.*@a_92b_47c_42d_63e_34f_60g_62h_124i#X1#3@XMLVersion.*.*.*.xml");

    // The wildcard name needs only the device strings.
    camera.put_text(VNCxpBootstrap::vendor_name_address, 32, "Acme:Cam");
    VNCxpBootstrap wildcard;
    camera.fail_reads_at(VNCxpBootstrap::xml_version_address, 1);
    wildcard.updateValues(camera);
    EXPECT_EQ(wildcard.generateXmlFileName(-1), "");
    expect_last("GC_ERR_IO", "VNCxpBootstrap::generateXmlFileName",
                "Unable to generate an XML file name, because the CXP bootstrap couldn't load the XML version "
                "registers.");
    EXPECT_EQ(wildcard.generateXmlFileName(-2), "SchemaVersion.*.*@Acme_58Cam#X1#3@XMLVersion.*.*.*.xml");
    camera.fail_reads_at(VNCxpBootstrap::device_version_address, 1);
    wildcard.updateValues(camera);
    EXPECT_EQ(wildcard.generateXmlFileName(-2), "");
    expect_last("GC_ERR_IO", "VNCxpBootstrap::generateXmlFileName",
                "Unable to generate an XML file name, because the CXP bootstrap couldn't load the device "
                "information registers.");
}

// ---- The XML cache --------------------------------------------------------------------------------------

class CxpXmlCacheTest : public RemoteTest {
protected:
    // Places `bytes` in camera memory at `address` and answers the "local:" URL naming them.
    std::string local_file(const std::string& name, uint32_t address, const std::string& bytes)
    {
        camera.put_bytes(address, bytes);
        std::ostringstream url;
        url << "local:///" << name << ';' << std::hex << address << ';' << bytes.size();
        return url.str();
    }

    FakeCxpCamera camera;
    VNCxpXmlCacheInterface xml_cache;
};

TEST_F(CxpXmlCacheTest, SecondDownloadFindsEverythingCachedAndTheManifestWalkNeedsTheStandardTheSizeAndASelector)
{
    const std::string plain = camera_xml("Plain");
    fs::create_directories(cache("host"));
    write_file(cache("host/hostcam.xml"), camera_xml("Host"));
    camera.set_urls({local_file("plain.xml", FakeCxpCamera::file_area, plain),
                     local_file("zipped.zip", FakeCxpCamera::file_area + 0x4000, make_zip("z.xml", plain)),
                     "file://" + cache("host/hostcam.xml") + "?SchemaVersion=1.1.0"});
    ASSERT_TRUE(xml_cache.downloadFiles(camera));
    ASSERT_TRUE(xml_cache.updateStore(camera));
    ASSERT_EQ(xml_cache.store_size(), 3u);
    vnsim_debug_clear();
    ASSERT_TRUE(xml_cache.downloadFiles(camera));
    const std::string log = records();
    EXPECT_EQ(count_of(log, "has already been cached."), 3u) << log;
    EXPECT_EQ(count_of(log, "VNCxpXmlCacheInterface::downloadFiles: Download failed for the XML at URL \""), 3u);
    ASSERT_TRUE(xml_cache.updateStore(camera));
    ASSERT_EQ(xml_cache.store_size(), 3u);
    // Sorted by path: hostcam, plain, zipped.
    VNCxpXmlCacheInterface::UrlRecord record;
    ASSERT_EQ(xml_cache.xml_properties(record, 0, false), GenTL::GC_ERR_SUCCESS);
    EXPECT_EQ(record.url, cache("hostcam.xml"));
    ASSERT_EQ(xml_cache.xml_properties(record, 2, false), GenTL::GC_ERR_SUCCESS);
    EXPECT_EQ(record.url, cache("zipped.xml"));
    EXPECT_EQ(record.schema_minor, 1);
    EXPECT_EQ(record.file_major, -1);
    EXPECT_EQ(xml_cache.xml_properties(record, 3, true), GenTL::GC_ERR_INVALID_INDEX);
    expect_last("GC_ERR_INVALID_INDEX", "VNCxpXmlCacheInterface::xml_properties", "The XML URL index is out of range.");

    // An archive whose XML went missing is unzipped again by the store.
    fs::remove(cache("zipped.xml"));
    ASSERT_TRUE(xml_cache.updateStore(camera));
    EXPECT_EQ(xml_cache.store_size(), 3u);
    EXPECT_EQ(read_file(cache("zipped.xml")), plain);

    // The manifest walk needs the Standard, the size and a writable selector. (The store's refusal of a wrong
    // Standard is met through the device in XmlCacheFaultTest, a camera that does not answer through the port in
    // CxpPortTest.BadConditionsLeaveAPortWithoutUrlsAndARecord.)
    camera.put_u32(VNCxpBootstrap::standard_address, 0x12345678);
    EXPECT_FALSE(xml_cache.downloadFiles(camera));
    expect_last("GC_ERR_IO", "VNCxpXmlCacheInterface::downloadFiles",
                "Camera did not return the correct CXP Standard register value.");
    camera.put_u32(VNCxpBootstrap::standard_address, VNCxpBootstrap::standard_value);
    camera.fail_reads_at(VNCxpBootstrap::xml_manifest_size_address, 1);
    EXPECT_FALSE(xml_cache.purgeManifestFiles(camera));
    expect_last("GC_ERR_IO", "VNCxpXmlCacheInterface::purgeManifestFiles",
                "Could not retrieve the CXP XML Manifest Size bootstrap register value.");

    // A selector that cannot be written ends the walk.
    camera.set_urls({local_file("cam.xml", FakeCxpCamera::file_area, "x")});
    camera.put_u32(VNCxpBootstrap::xml_manifest_size_address, 2);  // claims an entry the selector refuses
    EXPECT_FALSE(xml_cache.downloadFiles(camera));
    expect_last("GC_ERR_IO", "VNCxpXmlCacheInterface::downloadFiles",
                "Unable to set the CXP Boostrap manifest selector. XML file search routine exiting prematurely.");
    EXPECT_TRUE(fs::exists(cache("cam.xml")));  // the first entry was fetched before
}

// Each bad entry is recorded (a camera read that fails, and an archive that does not open, leave no file)
// and the others still download.
TEST_F(CxpXmlCacheTest, BadEntriesAreRecordedAndTheOthersStillDownload)
{
    camera.fail_reads_at(FakeCxpCamera::file_area + 0x2008, 1);
    const std::string unread = local_file("unread.xml", FakeCxpCamera::file_area + 0x2000, camera_xml("C"));
    const std::string bad_zip =
        local_file("bad.zip", FakeCxpCamera::file_area + 0x6000, "PK\x03\x04 this is not an archive at all");
    camera.set_urls({"local:cam.zip;8000;1F0", "ftp://host/cam.xml", "local:///big.xml;5000;10",
                     "local:///wrap.xml;FFFFFFF0;20", "local:///cam.txt;8000;10", "file:///nowhere/cam.xml",
                     local_file("good.xml", FakeCxpCamera::file_area + 0x1000, "<x/>"), unread, bad_zip});
    ASSERT_TRUE(xml_cache.downloadFiles(camera));
    expect_last("GC_ERR_ERROR", "VNCxpXmlCacheInterface::downloadFiles",
                "Unable to extract the XML file archive downloaded for the URL, \"" + bad_zip + "\".");
    const std::string log = records();
    EXPECT_NE(log.find("Unable to determine the filename of URL \"local:cam.zip;8000;1F0\"."), std::string::npos);
    EXPECT_NE(log.find("Download failed for the XML at URL \"local:cam.zip;8000;1F0\"."), std::string::npos);
    EXPECT_NE(log.find("Unknown locale in bootstrap URL \"ftp://host/cam.xml\". Skipping download."), std::string::npos);
    EXPECT_NE(log.find("Address and data length values specified in the URL \"local:///big.xml;5000;10\" are "
                       "incoherent."),
              std::string::npos);
    EXPECT_NE(log.find("specified in the URL \"local:///wrap.xml;FFFFFFF0;20\" are incoherent."), std::string::npos);
    EXPECT_NE(log.find("Unable to determine the filename of URL \"local:///cam.txt;8000;10\"."), std::string::npos);
    EXPECT_NE(log.find("No such file in the local filesystem, \"/nowhere/cam.xml\"."), std::string::npos);
    EXPECT_NE(log.find("Register read failure downloading an XML/ZIP file for the URL \"" + unread + "\"."),
              std::string::npos);
    EXPECT_NE(log.find("Unable to open a file for unzipping: " + cache("bad.zip")), std::string::npos) << log;
    EXPECT_EQ(read_file(cache("good.xml")), "<x/>");
    EXPECT_EQ(count_of(log, "Download failed for the XML at URL"), 6u) << log;
    for (const char* name : {"unread.xml", "bad.zip", "bad.xml"}) {
        EXPECT_FALSE(fs::exists(cache(name))) << name;
    }
}

TEST_F(CxpXmlCacheTest, UnzipChecksItsInputAndNeverLeavesAPartialFileAndHostFilesAreCopiedWithTheirSchemaVersion)
{
    const std::string function = "VNCxpXmlCacheInterface::doUnzip";
    write_file(cache("cam.txt"), "x");
    EXPECT_FALSE(xml_cache.doUnzip(cache("cam.txt")));
    expect_last("GC_ERR_ERROR", function,
                "The input file (" + cache("cam.txt") + ") cannot be extracted because it is not a ZIP file.");
    EXPECT_FALSE(xml_cache.doUnzip(cache("none.ZIP")));
    expect_last("GC_ERR_ERROR", function,
                "The input file specified (" + cache("none.ZIP") + ") is not a regular file, or may not exist.");

    const std::string xml = camera_xml("Crc");
    std::string zip = make_zip("crc.xml", xml);
    write_file(cache("ok.ZIP"), zip);
    EXPECT_TRUE(xml_cache.doUnzip(cache("ok.ZIP")));
    EXPECT_EQ(read_file(cache("ok.xml")), xml);
    EXPECT_FALSE(xml_cache.doUnzip(cache("ok.ZIP")));
    expect_last("GC_ERR_ERROR", function, "File already exists in the cache.");
    EXPECT_TRUE(fs::exists(cache("ok.ZIP")));

    // Damage the compressed data (behind the 30-byte local header and the entry's name): the archive still
    // opens, the extraction fails and its partial output is removed.
    for (size_t i = 30 + 7 + 4; i < 30 + 7 + 24; ++i) {
        zip[i] = static_cast<char>(zip[i] ^ 0x5A);
    }
    write_file(cache("damaged.zip"), zip);
    EXPECT_FALSE(xml_cache.doUnzip(cache("damaged.zip")));
    EXPECT_NE(last_error().find("A problem occured unzipping an XML file: "), std::string::npos) << last_error();
    EXPECT_FALSE(fs::exists(cache("damaged.xml")));
    EXPECT_TRUE(fs::exists(cache("damaged.zip")));

    // Host files are copied with their schema version.
    fs::create_directories(cache("host"));
    write_file(cache("host/cam.zip"), make_zip("a.xml", "<a/>"));
    write_file(cache("host/notes.txt"), "x");
    VNCxpXmlCacheInterface::UrlRecord record;
    ASSERT_TRUE(xml_cache.downloadFileFile("FILE://" + cache("host/cam.zip") + "?SchemaVersion=1.2.3", record));
    EXPECT_EQ(record.url, cache("cam.zip"));
    EXPECT_EQ((std::array{record.schema_major, record.schema_minor, record.schema_subminor}), (std::array{1, 2, 3}));
    EXPECT_FALSE(xml_cache.downloadFileFile("file://" + cache("host/notes.txt"), record));
    expect_last("GC_ERR_ERROR", "VNCxpXmlCacheInterface::downloadFileFile",
                "Only ZIP and XML files may be copied into the cache, and the specied path, \"file://" +
                    cache("host/notes.txt") + "\", is neither.");
    EXPECT_FALSE(xml_cache.downloadFileFile("file://" + cache("cam.zip"), record));
    expect_last("GC_ERR_ERROR", "VNCxpXmlCacheInterface::downloadFileFile",
                "Cannot replace a cache file with itself (copying \"" + cache("cam.zip") + "\" to \"" +
                    cache("cam.zip") + "\").");
    EXPECT_FALSE(xml_cache.downloadFileFile("http://h/cam.xml", record));
    expect_last("GC_ERR_ERROR", "VNCxpXmlCacheInterface::downloadFileFile",
                "Locale of URL \"http://h/cam.xml\" is not \"file\".");
    EXPECT_EQ(VNCxpXmlCacheInterface::file_url_path("file:///C:/dir/a.xml"), "C:/dir/a.xml");
    EXPECT_EQ(VNCxpXmlCacheInterface::file_url_path("file:rel/a.xml"), "rel/a.xml");
}

// The store lists the manifest's files and the user's cached versions of this camera; a purge removes the
// manifest's files only.
TEST_F(CxpXmlCacheTest, StoreAlsoListsUserCachedVersionsOfThisCameraAndPurgeRemovesTheManifestFilesOnly)
{
    const std::string xml = camera_xml("P");
    camera.set_urls({local_file("p.zip", FakeCxpCamera::file_area, make_zip("p.xml", xml)),
                     local_file("q.xml", FakeCxpCamera::file_area + 0x4000, xml), "ftp://h/r.xml"});
    ASSERT_TRUE(xml_cache.downloadFiles(camera));
    const std::string user = cache("SchemaVersion.1.1@Acme_58Cam#X1#3@XMLVersion.1.0.0.xml");
    write_file(user, "a");
    write_file(cache("SchemaVersion.1.1@Acme_58Cam#X1#3@XMLVersion.2.0.5#1f.xml"), "b");
    write_file(cache("SchemaVersion.1.1@Other#X1#3@XMLVersion.1.0.0.xml"), "c");
    fs::create_directories(cache("SchemaVersion.1.1@Acme_58Cam#X1#3@XMLVersion.9.9.9.xml"));
    ASSERT_TRUE(xml_cache.updateStore(camera));
    ASSERT_EQ(xml_cache.store_size(), 4u);
    VNCxpXmlCacheInterface::UrlRecord record;
    ASSERT_EQ(xml_cache.xml_properties(record, 0, true), GenTL::GC_ERR_SUCCESS);
    // '#' and '@' are escaped in the consumer's URL; the directory part stays a path.
    EXPECT_EQ(record.url, "file://" + cache_.string() + "/SchemaVersion.1.1%40Acme_58Cam%23X1%233%40XMLVersion.1.0.0.xml");
    ASSERT_EQ(xml_cache.xml_properties(record, 3, false), GenTL::GC_ERR_SUCCESS);
    EXPECT_EQ(record.url, cache("q.xml"));

    ASSERT_TRUE(xml_cache.purgeManifestFiles(camera));
    expect_last("GC_ERR_ERROR", "VNCxpXmlCacheInterface::purgeManifestFiles",
                "Unknown locale in bootstrap URL \"ftp://h/r.xml\". Skipping download.");
    EXPECT_FALSE(fs::exists(cache("p.zip")));
    EXPECT_FALSE(fs::exists(cache("p.xml")));
    EXPECT_FALSE(fs::exists(cache("q.xml")));
    EXPECT_TRUE(fs::exists(user));
    ASSERT_TRUE(xml_cache.updateStore(camera));
    EXPECT_EQ(xml_cache.store_size(), 2u);
    // Downloading again restores the store.
    ASSERT_TRUE(xml_cache.downloadFiles(camera));
    ASSERT_TRUE(xml_cache.updateStore(camera));
    EXPECT_EQ(xml_cache.store_size(), 4u);
}

// ---- Downloads over HTTP --------------------------------------------------------------------------------

using CxpHttpDownloadTest = CxpXmlCacheTest;
using Route = LoopbackHttpServer::Route;

TEST_F(CxpHttpDownloadTest, ZipIsFetchedWithTheExactRequestAndExtractedAndRefusalsAreRecorded)
{
    const std::string xml = "<RegisterDescription/>\n" + std::string(3000, ' ');
    const std::string zip = make_zip("web.xml", xml);
    // The second answer has no Content-Length: its body runs to the end of the connection.
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                           std::to_string(zip.size()) + "\r\n\r\n";
    LoopbackHttpServer server({{"/b.xml", Route{"HTTP/1.0 200 OK\r\n\r\n<b/>"}}, {"/files/web.zip", Route{ok + zip}}});
    const std::string url = "http://" + server.host() + "/files/web.zip?SchemaVersion=1.1.0";
    camera.set_urls({"http://" + server.host() + "/b.xml", url});
    ASSERT_TRUE(xml_cache.downloadFiles(camera));
    EXPECT_EQ(server.last_request(), "GET /files/web.zip HTTP/1.0\r\nHost: " + server.host() +
                                         "\r\nAccept: */*\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(read_file(cache("web.zip")), zip);
    EXPECT_EQ(read_file(cache("web.xml")), xml);
    EXPECT_EQ(read_file(cache("b.xml")), "<b/>");
    EXPECT_EQ(server.requests(), 2);
    ASSERT_TRUE(xml_cache.updateStore(camera));
    EXPECT_EQ(xml_cache.store_size(), 2u);

    // A refused connection and bad URLs are recorded.
    // A port that was just listened on and closed again refuses connections.
    uint16_t port = 0;
    {
        LoopbackHttpServer closed({}, 0, std::chrono::seconds(1));
        port = static_cast<uint16_t>(std::stoi(closed.host().substr(10)));
    }
    const std::string refused = "http://127.0.0.1:" + std::to_string(port) + "/cam.xml";
    VNCxpXmlCacheInterface::UrlRecord record;
    EXPECT_FALSE(xml_cache.downloadHttpFile(refused, record));
    EXPECT_NE(last_error().find("Error downloading the URL \"" + refused + "\". Client message was \""), std::string::npos)
        << last_error();
    EXPECT_FALSE(xml_cache.downloadHttpFile("http://127.0.0.1/readme.txt", record));
    expect_last("GC_ERR_ERROR", "VNCxpXmlCacheInterface::downloadHttpFile", "Unknown URL extension \".txt\".");
    EXPECT_FALSE(xml_cache.downloadHttpFile("file:///a.xml", record));
    expect_last("GC_ERR_ERROR", "VNCxpXmlCacheInterface::downloadHttpFile",
                "Locale of URL \"file:///a.xml\" is not \"http\".");
    write_file(cache("here.xml"), "x");
    EXPECT_FALSE(xml_cache.downloadHttpFile("http://127.0.0.1/here.xml", record));
    expect_last("GC_ERR_ERROR", "VNCxpXmlCacheInterface::downloadHttpFile",
                "The file (" + cache("here.xml") + ") has already been cached.");
}

TEST_F(CxpHttpDownloadTest, DeadHostsOfOneManifestShareOneBoundedTime)
{
    const Route silent{"", LoopbackHttpServer::Mode::silent};
    LoopbackHttpServer server({{"/one.xml", silent}, {"/two.xml", silent}, {"/three.xml", silent}});
    const std::string base = "http://" + server.host();
    camera.set_urls({base + "/one.xml", base + "/two.xml", base + "/three.xml"});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(xml_cache.downloadFiles(camera));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
    EXPECT_LT(elapsed, std::chrono::milliseconds(6500));
    const std::string log = records();
    EXPECT_EQ(count_of(log, "Download failed for the XML at URL"), 3u);
    EXPECT_NE(log.find("VNCxpXmlCacheInterface::downloadHttpFile: Error downloading the URL \"" + base +
                       "/one.xml\". Client message was \"" + std::make_error_code(std::errc::timed_out).message() +
                       "\"."),
              std::string::npos)
        << log;
    for (const char* name : {"one.xml", "two.xml", "three.xml"}) {
        EXPECT_FALSE(fs::exists(cache(name))) << name;
    }
}

// ---- The camera's port on the board ----------------------------------------------------------------------

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
