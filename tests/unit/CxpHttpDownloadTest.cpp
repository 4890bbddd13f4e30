// HTTP/1.0 downloads of camera XML files against a server of the test's own on 127.0.0.1.
#include "FakeCxpCamera.h"
#include "LoopbackHttpServer.h"
#include "RemoteTestSupport.h"

#include "remote/VNCxpXmlCacheInterface.h"

#include <filesystem>

using vngtl::VNCxpXmlCacheInterface;
namespace fs = std::filesystem;
using Route = LoopbackHttpServer::Route;
using Mode = LoopbackHttpServer::Mode;

class CxpHttpDownloadTest : public RemoteTest {
protected:
    static std::string ok(const std::string& body)
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    FakeCxpCamera camera;
    VNCxpXmlCacheInterface xml_cache;
    VNCxpXmlCacheInterface::UrlRecord record;
};

TEST_F(CxpHttpDownloadTest, ZipIsFetchedWithTheExactRequestAndExtracted)
{
    const std::string xml = "<RegisterDescription/>\n" + std::string(3000, ' ');
    const std::string zip = make_zip("web.xml", xml);
    LoopbackHttpServer server({{"/files/web.zip", Route{ok(zip)}}});
    const std::string url = "http://" + server.host() + "/files/web.zip?SchemaVersion=1.1.0";
    camera.set_urls({url});
    ASSERT_TRUE(xml_cache.downloadFiles(camera));
    EXPECT_EQ(server.last_request(), "GET /files/web.zip HTTP/1.0\r\nHost: " + server.host() +
                                         "\r\nAccept: */*\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(read_file(cache("web.zip")), zip);
    EXPECT_EQ(read_file(cache("web.xml")), xml);
    ASSERT_TRUE(xml_cache.updateStore(camera));
    EXPECT_EQ(xml_cache.store_size(), 1u);
}

TEST_F(CxpHttpDownloadTest, NotFoundFailsThatEntryWhileTheOthersDownload)
{
    LoopbackHttpServer server({{"/missing.xml", Route{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}},
                               {"/a.xml", Route{ok("<a/>")}},
                               {"/b.xml", Route{"HTTP/1.0 200 OK\r\n\r\n<b/>"}}});
    const std::string missing = "http://" + server.host() + "/missing.xml";
    camera.set_urls({"http://" + server.host() + "/a.xml", missing, "http://" + server.host() + "/b.xml"});
    ASSERT_TRUE(xml_cache.downloadFiles(camera));
    const std::string log = records();
    EXPECT_NE(log.find("Response returned with status code 404 downloading the URL \"" + missing + "\"."),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Download failed for the XML at URL \"" + missing + "\"."), std::string::npos);
    EXPECT_EQ(read_file(cache("a.xml")), "<a/>");
    EXPECT_EQ(read_file(cache("b.xml")), "<b/>");
    EXPECT_FALSE(fs::exists(cache("missing.xml")));
    EXPECT_EQ(server.requests(), 3);
}

TEST_F(CxpHttpDownloadTest, BadStatusLineIsAnInvalidResponse)
{
    LoopbackHttpServer server({{"/bad.xml", Route{"SPDY/9 200 OK\r\n\r\n<x/>"}},
                               {"/worse.xml", Route{"HTTP/1.0 abc\r\n\r\n<x/>"}}});
    for (const char* path : {"/bad.xml", "/worse.xml"}) {
        const std::string url = "http://" + server.host() + path;
        EXPECT_FALSE(xml_cache.downloadHttpFile(url, record)) << path;
        expect_last("GC_ERR_ERROR", "VNCxpXmlCacheInterface::downloadHttpFile",
                    "Invalid server response downloading the URL \"" + url + "\".");
    }
    EXPECT_TRUE(fs::is_empty(cache_));
}

TEST_F(CxpHttpDownloadTest, ServerAbortingMidBodyLeavesNoPartialFile)
{
    LoopbackHttpServer server({{"/cut.xml", Route{ok(std::string(100000, 'x')).substr(0, 5000), Mode::reset}}});
    const std::string url = "http://" + server.host() + "/cut.xml";
    EXPECT_FALSE(xml_cache.downloadHttpFile(url, record));
    const std::string record_text = last_error();
    EXPECT_NE(record_text.find("Error downloading the URL \"" + url + "\"; Message was \""), std::string::npos)
        << record_text;
    EXPECT_FALSE(fs::exists(cache("cut.xml")));
}

TEST_F(CxpHttpDownloadTest, ServerThatNeverAnswersCostsABoundedTime)
{
    LoopbackHttpServer server({{"/silent.xml", Route{"", Mode::silent}}});
    const std::string url = "http://" + server.host() + "/silent.xml";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(xml_cache.downloadHttpFile(url, record));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
    EXPECT_LT(elapsed, std::chrono::seconds(6));
    expect_last("GC_ERR_ERROR", "VNCxpXmlCacheInterface::downloadHttpFile",
                "Error downloading the URL \"" + url + "\". Client message was \"" +
                    std::make_error_code(std::errc::timed_out).message() + "\".");
    EXPECT_FALSE(fs::exists(cache("silent.xml")));
}

TEST_F(CxpHttpDownloadTest, RefusedConnectionAndBadUrlsAreRecorded)
{
    // A port that was just listened on and closed again refuses connections.
    uint16_t port = 0;
    {
        LoopbackHttpServer server({}, 0, std::chrono::seconds(1));
        port = static_cast<uint16_t>(std::stoi(server.host().substr(10)));
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/cam.xml";
    EXPECT_FALSE(xml_cache.downloadHttpFile(url, record));
    EXPECT_NE(last_error().find("Error downloading the URL \"" + url + "\". Client message was \""), std::string::npos)
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
    LoopbackHttpServer server({{"/one.xml", Route{"", Mode::silent}}, {"/two.xml", Route{"", Mode::silent}},
                               {"/three.xml", Route{"", Mode::silent}}});
    const std::string base = "http://" + server.host();
    camera.set_urls({base + "/one.xml", base + "/two.xml", base + "/three.xml"});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(xml_cache.downloadFiles(camera));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(6500));
    EXPECT_EQ(count_of(records(), "Download failed for the XML at URL"), 3u);
}
