// The bootstrap reader: register walk, the manifest URL in camera memory, the URL grammar and the cache
// file names.
#include "FakeCxpCamera.h"
#include "RemoteTestSupport.h"

#include "remote/VNCxpBootstrap.h"

using vngtl::VNCxpBootstrap;

class CxpBootstrapTest : public RemoteTest {
protected:
    FakeCxpCamera camera;
    VNCxpBootstrap bootstrap;
};

TEST_F(CxpBootstrapTest, ReadsTheWholeBlockOfARevision2Camera)
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
}

TEST_F(CxpBootstrapTest, RevisionOneSkipsTheExtendedRegisters)
{
    camera.put_u32(VNCxpBootstrap::revision_address, 0x00010000);
    bootstrap.updateValues(camera);
    EXPECT_TRUE(bootstrap.is_loaded(0x4024));
    EXPECT_FALSE(bootstrap.is_loaded(0x3000));
    EXPECT_FALSE(bootstrap.is_loaded(0x4028));
}

TEST_F(CxpBootstrapTest, UnreadableStandardLeavesEverythingElseUnread)
{
    camera.fail_reads_at(VNCxpBootstrap::standard_address, 1);
    bootstrap.updateValues(camera);
    EXPECT_EQ(camera.reads(), 1);
    EXPECT_FALSE(bootstrap.is_loaded(VNCxpBootstrap::standard_address));
    EXPECT_FALSE(bootstrap.is_loaded(VNCxpBootstrap::revision_address));
    EXPECT_TRUE(bootstrap.vendor_name.empty());
    expect_last("GC_ERR_IO", "VNCxpBootstrap::updateValues",
                "Unable to access the CXP bootstrap Standard register. The link may be bad.");
    EXPECT_NE(records().find("GC_ERR_IO @ VNCxpXmlCacheInterface.cpp["), std::string::npos);
    EXPECT_NE(records().find("CXP Bootstrap register read failure at 4-byte register, address 0x0."),
              std::string::npos);
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

TEST_F(CxpBootstrapTest, ManifestUrlIsReadInWordsUpToItsTerminator)
{
    camera.set_urls({"local:///a.xml;8000;1", "file:///opt/cam/b.zip"});
    bootstrap.updateValues(camera);
    EXPECT_EQ(bootstrap.retrieveManifestUrl(camera), "local:///a.xml;8000;1");
    ASSERT_EQ(camera.write_register(VNCxpBootstrap::xml_manifest_selector_address, 1), GenTL::GC_ERR_SUCCESS);
    bootstrap.updateManifestEntry(camera);
    EXPECT_EQ(bootstrap.retrieveManifestUrl(camera), "file:///opt/cam/b.zip");
}

TEST_F(CxpBootstrapTest, ManifestUrlAddressMustBeLoadedAndInManufacturerSpace)
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
}

TEST_F(CxpBootstrapTest, UrlOf1028BytesWithoutTerminatorIsExcessive)
{
    camera.set_manifest({{0x00010000, 0x00010100, FakeCxpCamera::url_area}});
    camera.put_bytes(FakeCxpCamera::url_area, std::string(1028, 'u'));
    camera.put_bytes(FakeCxpCamera::url_area + 1028, std::string(4, 'v'));
    bootstrap.updateValues(camera);
    EXPECT_EQ(bootstrap.retrieveManifestUrl(camera), "");
    expect_last("GC_ERR_IO", "VNCxpBootstrap::retrieveManifestUrl",
                "The length of an XML URL is excessively long, or the null-terminating character is missing.");
    // 1027 characters and the terminator fit in the 257 words that may be read.
    camera.put_bytes(FakeCxpCamera::url_area + 1027, std::string(1, '\0'));
    EXPECT_EQ(bootstrap.retrieveManifestUrl(camera), std::string(1027, 'u'));
}

TEST_F(CxpBootstrapTest, FiveFailedChunkReadsAreRetriedTheSixthEndsTheWalk)
{
    camera.set_urls({"local:///cam.xml;8000;100"});
    bootstrap.updateValues(camera);
    camera.fail_reads_at(FakeCxpCamera::url_area + 4, 5);
    EXPECT_EQ(bootstrap.retrieveManifestUrl(camera), "local:///cam.xml;8000;100");
    camera.fail_reads_at(FakeCxpCamera::url_area + 4, 6);
    EXPECT_EQ(bootstrap.retrieveManifestUrl(camera), "");
    expect_last("GC_ERR_IO", "VNCxpBootstrap::retrieveManifestUrl",
                "Aborting URL retrieval operation after 6 failed register read operations.");
}

TEST(CxpUrlGrammar, LocalUrlDelimiters)
{
    GenTL::GCCloseLib();
    VNCxpBootstrap::Positions p;
    ASSERT_TRUE(VNCxpBootstrap::LocalUrlDelimiters("local:cam.xml;6000;1A2B", p));
    EXPECT_EQ(p.name_end_colon, 5u);
    EXPECT_EQ(p.first_semicolon, 13u);
    EXPECT_EQ(p.address_end, 18u);
    EXPECT_EQ(p.length_end, 23u);
    uint64_t address = 0;
    uint64_t length = 0;
    ASSERT_TRUE(VNCxpBootstrap::LocalUrlAddressAndLength("Local:///cam.zip;abcdef;1f0?SchemaVersion=1.1.0", address,
                                                         length));
    EXPECT_EQ(address, 0xabcdefu);
    EXPECT_EQ(length, 0x1f0u);
}

TEST_F(CxpBootstrapTest, MalformedLocalUrlsNameWhatIsWrong)
{
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
}

TEST_F(CxpBootstrapTest, UrlFileNameIsTheDecodedLastPathComponent)
{
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
}

TEST_F(CxpBootstrapTest, UrlFileNameNeverLeavesTheCacheDirectory)
{
    // The URL comes from the camera; its file name is joined to the cache directory.
    for (const char* url : {"file:///x/..%2F..%2Fetc%2Fcam.xml", "http://host/a/..%5Ccam.zip", "local:///a%2Fb.xml;6000;10",
                            "file:///x/cam%00.xml"}) {
        EXPECT_EQ(VNCxpBootstrap::UrlFileName(url), "") << url;
        expect_last("GC_ERR_IO", "VNCxpBootstrap::UrlFileName",
                    std::string("Unable to determine the filename of URL \"") + url + "\".");
    }
    EXPECT_EQ(VNCxpBootstrap::UrlFileName("file:///x/a%2520b.xml"), "a%20b.xml");  // decoded once only
}

TEST_F(CxpBootstrapTest, GeneratedFileNamesEscapeTheDeviceAndCarryTheVersions)
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
}

TEST_F(CxpBootstrapTest, WildcardNameNeedsOnlyTheDeviceStrings)
{
    camera.fail_reads_at(VNCxpBootstrap::xml_version_address, 1);
    bootstrap.updateValues(camera);
    EXPECT_EQ(bootstrap.generateXmlFileName(-1), "");
    expect_last("GC_ERR_IO", "VNCxpBootstrap::generateXmlFileName",
                "Unable to generate an XML file name, because the CXP bootstrap couldn't load the XML version "
                "registers.");
    EXPECT_EQ(bootstrap.generateXmlFileName(-2), "SchemaVersion.*.*@Acme_58Cam#X1#3@XMLVersion.*.*.*.xml");
    camera.fail_reads_at(VNCxpBootstrap::device_version_address, 1);
    bootstrap.updateValues(camera);
    EXPECT_EQ(bootstrap.generateXmlFileName(-2), "");
    expect_last("GC_ERR_IO", "VNCxpBootstrap::generateXmlFileName",
                "Unable to generate an XML file name, because the CXP bootstrap couldn't load the device "
                "information registers.");
}
