// Shared pieces of the remote layer's tests: the library initialised so that records are kept, a fresh
// XML cache directory named by GENICAM_CACHE_V2_4, the records written during a test, and ZIP archives.
#pragma once

#include "GenTLFixture.h"

#include <minizip/zip.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

class RemoteTest : public GenTLTest {
protected:
    void SetUp() override
    {
        GenTLTest::SetUp();
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        cache_ = std::filesystem::temp_directory_path() /
                 ("vngtl-remote-" + std::to_string(getpid()) + "-" + info->test_suite_name() + "-" + info->name());
        std::filesystem::remove_all(cache_);
        std::filesystem::create_directories(cache_);
        setenv("GENICAM_CACHE_V2_4", cache_.c_str(), 1);
        vnsim_debug_clear();
    }
    void TearDown() override
    {
        GenTLTest::TearDown();
        std::filesystem::remove_all(cache_);
        unsetenv("GENICAM_CACHE_V2_4");
    }

    std::string cache(const std::string& name = "") const { return (cache_ / name).string(); }

    // The last record must come from `function` with `message`, code `code_name`.
    static void expect_last(const std::string& code_name, const std::string& function, const std::string& message)
    {
        const std::string record = last_error();
        EXPECT_TRUE(record.starts_with(code_name + " @ ") && record.ends_with("], " + function + ": " + message + "\n"))
            << record;
    }

    // A port's boolean info value (of type BOOL8) and text info value.
    template <class Port>
    static bool info_bool(Port& port, int32_t command)
    {
        GenTL::INFO_DATATYPE type = GenTL::INFO_DATATYPE_UNKNOWN;
        uint8_t value = 0xEE;
        size_t size = sizeof value;
        EXPECT_EQ(port.info(command, &type, &value, &size), GenTL::GC_ERR_SUCCESS) << command;
        EXPECT_EQ(type, GenTL::INFO_DATATYPE_BOOL8) << command;
        return value != 0;
    }
    template <class Port>
    static std::string info_text(Port& port, int32_t command)
    {
        GenTL::INFO_DATATYPE type = GenTL::INFO_DATATYPE_UNKNOWN;
        char text[256] = {};
        size_t size = sizeof text;
        EXPECT_EQ(port.info(command, &type, text, &size), GenTL::GC_ERR_SUCCESS) << command << ": " << last_error();
        return text;
    }

    // Every record written since the test began (each is echoed to the board driver's debug output).
    static std::string records() { return debug_output(); }
    static size_t count_of(const std::string& text, const std::string& part)
    {
        size_t count = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
            ++count;
        }
        return count;
    }
    static std::string read_file(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void write_file(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // A ZIP archive holding `entry` with `content`, compressed with DEFLATE, as bytes.
    std::string make_zip(const std::string& entry, const std::string& content) const
    {
        const std::string path = cache("make-zip.tmp");
        zipFile archive = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
        EXPECT_NE(archive, nullptr);
        zip_fileinfo info{};
        EXPECT_EQ(zipOpenNewFileInZip64(archive, entry.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                        Z_DEFAULT_COMPRESSION, 0),
                  ZIP_OK);
        EXPECT_EQ(zipWriteInFileInZip(archive, content.data(), static_cast<unsigned>(content.size())), ZIP_OK);
        EXPECT_EQ(zipCloseFileInZip(archive), ZIP_OK);
        EXPECT_EQ(zipClose(archive, nullptr), ZIP_OK);
        std::string bytes = read_file(path);
        std::filesystem::remove(path);
        return bytes;
    }

    std::filesystem::path cache_;
};
