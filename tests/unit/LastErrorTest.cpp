#include "GenTLFixture.h"

#include "core/ErrorReport.h"
#include "core/ThreadErrorMap.h"

#include <thread>

namespace {

using LastError = GenTLTest;

TEST_F(LastError, SizeProtocol)
{
    ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(DSGetNumFlows(nullptr, nullptr), GC_ERR_NOT_IMPLEMENTED);  // never offered: always recorded
    GC_ERROR code = 0;
    size_t size = 0;
    ASSERT_EQ(GCGetLastError(&code, nullptr, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(code, GC_ERR_NOT_IMPLEMENTED);
    const size_t needed = size;

    std::string text(needed, 'x');
    code = 0;
    size = needed - 1;  // one byte short
    EXPECT_EQ(GCGetLastError(&code, text.data(), &size), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(code, GC_ERR_NOT_IMPLEMENTED);  // written before the size comparison
    EXPECT_EQ(text, std::string(needed, 'x'));

    EXPECT_EQ(GCGetLastError(&code, text.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(text.size(), needed);
    EXPECT_EQ(text.back(), '\0');
    EXPECT_EQ(text[needed - 2], '\n');  // the newline is part of the record and of its size

    code = 7;
    EXPECT_EQ(GCGetLastError(&code, text.data(), nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(code, GC_ERR_NOT_IMPLEMENTED);
    // A failing GCGetLastError leaves the stored record as it was.
    EXPECT_EQ(last_error().substr(0, 22), "GC_ERR_NOT_IMPLEMENTED");
}

// Each thread reads its own record, and a later call reporting code zero leaves it as it was.
TEST_F(LastError, EachThreadReadsItsOwnRecordAndCodeZeroIsNotStored)
{
    ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    struct Row {
        GC_ERROR code;
        const char* message;
    };
    for (const Row& row : {Row{GC_ERR_TIMEOUT, "thread a"}, Row{GC_ERR_ABORT, "thread b"}}) {
        std::string record;
        GC_ERROR code = 0;
        std::thread([&] {
            vngtl::report_error("Probe::thread", row.code, row.message);
            record = last_error(&code);
        }).join();
        EXPECT_EQ(code, row.code) << row.message;
        EXPECT_NE(record.find(std::string("Probe::thread: ") + row.message), std::string::npos) << record;
    }
    // This thread never failed: "No Error" (size 9 with its zero byte), code 0.
    GC_ERROR code = -1;
    EXPECT_EQ(last_error(&code), "No Error");
    EXPECT_EQ(code, GC_ERR_SUCCESS);

    vngtl::report_error("Probe::fail", GC_ERR_IO, "first");
    vngtl::report_error("Probe::ok", GC_ERR_SUCCESS, "ignored");
    const std::string record = last_error(&code);
    EXPECT_EQ(code, GC_ERR_IO);
    EXPECT_NE(record.find("Probe::fail: first\n"), std::string::npos) << record;
}

// Before GCInitLib a record goes to standard error only; after it, it is kept and echoed to the debug output.
TEST_F(LastError, RecordTextNamesCodeFileLineFunctionAndMessageAndGoesToStandardErrorOrTheDebugOutput)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(vngtl::report_error("Probe::early", GC_ERR_ERROR, "no manager"), GC_ERR_ERROR);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("GC_ERR_ERROR @ LastErrorTest.cpp["), std::string::npos) << err;
    EXPECT_NE(err.find("], Probe::early: no manager\n"), std::string::npos) << err;
    EXPECT_EQ(debug_output(), "");

    ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    const unsigned line = __LINE__ + 1;
    EXPECT_EQ(vngtl::report_error("Probe::check", GC_ERR_INVALID_ID, "The ID \"x\" is unknown."), GC_ERR_INVALID_ID);
    const std::string record =
        "GC_ERR_INVALID_ID @ LastErrorTest.cpp[" + std::to_string(line) + "], Probe::check: The ID \"x\" is unknown.\n";
    EXPECT_EQ(last_error(), record);
    char id[16];
    std::snprintf(id, sizeof id, "%x", vngtl::current_thread_id());
    EXPECT_EQ(debug_output(), std::string("VNGTL thread ") + id + " [GC_ERR_INVALID_ID] = " + record + "\n");
    EXPECT_EQ(vngtl::ThreadErrorMap::debug_line(0, -10005, "x\n"), "VNGTL thread {Not-any-thread} [GC_ERR_CUSTOM] = x\n\n");
}

TEST(ErrorNames, TableEdges)
{
    const std::pair<GC_ERROR, const char*> names[] = {
        {0, "GC_ERR_SUCCESS"}, {-1001, "GC_ERR_ERROR"}, {-1016, "GC_ERR_BUFFER_TOO_SMALL"},
        {-1021, "GC_ERR_OUT_OF_MEMORY"}, {-1022, "GC_ERR_UNKNOWN"}, {-1000, "GC_ERR_UNKNOWN"},
        {-9999, "GC_ERR_UNKNOWN"}, {-10000, "GC_ERR_CUSTOM"}, {-10005, "GC_ERR_CUSTOM"}, {5, "GC_ERR_UNKNOWN"}};
    for (const auto& [code, name] : names) {
        EXPECT_STREQ(vngtl::gc_error_name(code), name) << code;
    }
}

}  // namespace
