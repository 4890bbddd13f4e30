// Our stand-in of the GenICam base library: what the XML cache relies on it for.
#include "gcbase/EnvironmentVariables.h"
#include "gcbase/FileListing.h"
#include "gcbase/UrlCoding.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace GenICam;

TEST(GcBaseEnvironment, ExistenceAndExpansion)
{
    setenv("VNGTL_TEST_A", "/tmp/cache", 1);
    setenv("VNGTL_TEST_EMPTY", "", 1);
    unsetenv("VNGTL_TEST_UNSET");
    EXPECT_TRUE(DoesEnvironmentVariableExist("VNGTL_TEST_A"));
    EXPECT_TRUE(DoesEnvironmentVariableExist("VNGTL_TEST_EMPTY"));
    EXPECT_FALSE(DoesEnvironmentVariableExist("VNGTL_TEST_UNSET"));
    EXPECT_FALSE(DoesEnvironmentVariableExist(""));

    EXPECT_EQ(ReplaceEnvironmentVariables("$(VNGTL_TEST_A)"), "/tmp/cache");
    EXPECT_EQ(ReplaceEnvironmentVariables("x$(VNGTL_TEST_A)/y$(VNGTL_TEST_A)z"), "x/tmp/cache/y/tmp/cachez");
    EXPECT_EQ(ReplaceEnvironmentVariables("a$(VNGTL_TEST_UNSET)b"), "ab");
    // Unfinished or bare references stay as written; values are not expanded again.
    EXPECT_EQ(ReplaceEnvironmentVariables("$VNGTL_TEST_A $(VNGTL_TEST_A"), "$VNGTL_TEST_A $(VNGTL_TEST_A");
    setenv("VNGTL_TEST_B", "$(VNGTL_TEST_A)", 1);
    EXPECT_EQ(ReplaceEnvironmentVariables("$(VNGTL_TEST_B)"), "$(VNGTL_TEST_A)");
    unsetenv("VNGTL_TEST_A");
    unsetenv("VNGTL_TEST_B");
    unsetenv("VNGTL_TEST_EMPTY");
}

TEST(GcBaseUrlCoding, EncodeKeepsPathsAndEscapesTheRestAndDecodeUndoesIt)
{
    EXPECT_EQ(UrlEncode("C:/dir/My Cam.xml"), "C:/dir/My%20Cam.xml");
    EXPECT_EQ(UrlEncode("a#b@c%d"), "a%23b%40c%25d");
    EXPECT_EQ(UrlEncode("x-y_z.~1"), "x-y_z.~1");
    EXPECT_EQ(UrlEncode(std::string("\xE9\x01", 2)), "%E9%01");
    // Decoding undoes the encoding and leaves bad escapes as written.
    EXPECT_EQ(UrlDecode("My%20Cam.ZIP"), "My Cam.ZIP");
    EXPECT_EQ(UrlDecode("%41%6a%6A"), "Ajj");
    EXPECT_EQ(UrlDecode("100%"), "100%");
    EXPECT_EQ(UrlDecode("%4"), "%4");
    EXPECT_EQ(UrlDecode("%zz+"), "%zz+");
    const std::string text = "SchemaVersion.1.1@Acme_58Cam#X1#3@XMLVersion.2.0.5 #1f.xml";
    EXPECT_EQ(UrlDecode(UrlEncode(text)), text);
}

TEST(GcBaseFileListing, WildcardsMatchWholeNames)
{
    EXPECT_TRUE(WildcardMatch("SchemaVersion.*.*@A#B#1@XMLVersion.*.*.*.xml",
                              "SchemaVersion.1.1@A#B#1@XMLVersion.2.0.5#1f.xml"));
    EXPECT_FALSE(WildcardMatch("SchemaVersion.*.*@A#B#1@XMLVersion.*.*.*.xml",
                               "SchemaVersion.1.1@A#B#2@XMLVersion.2.0.5.xml"));
    EXPECT_TRUE(WildcardMatch("a?c", "abc"));
    EXPECT_FALSE(WildcardMatch("a?c", "ac"));
    EXPECT_TRUE(WildcardMatch("*", ""));
    EXPECT_FALSE(WildcardMatch("*.xml", "cam.XML"));
    EXPECT_TRUE(WildcardMatch("**a*", "bab"));
}

TEST(GcBaseFileListing, ListsMatchingFilesOfOneDirectory)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("vngtl-getfiles-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "sub.xml");
    for (const char* name : {"b.xml", "a.xml", "c.zip"}) {
        std::ofstream(dir / name) << "x";
    }
    const auto files = GetFiles((dir / "*.xml").string());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], (dir / "a.xml").string());
    EXPECT_EQ(files[1], (dir / "b.xml").string());
    EXPECT_EQ(GetFiles((dir / "*.xml").string(), true).size(), 3u);
    EXPECT_TRUE(GetFiles((dir / "missing" / "*").string()).empty());
    fs::remove_all(dir);
}
