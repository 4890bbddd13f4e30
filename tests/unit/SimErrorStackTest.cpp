// The simulated SDK's two error stacks and their texts.
#include "SimTestSupport.h"

#include <string>

using SimErrorStackTest = SimTest;

TEST_F(SimErrorStackTest, BufferLibraryCodesComeOutOldestFirst)
{
    VN_HANDLE handle = open(0, VB_OPEN_INSPECT);
    VB_CIRC_DESC desc{};
    EXPECT_EQ(VbCirErrorCheck(handle, &desc), 0);
    ASSERT_EQ(vnsim_push_vb_error(0, 220), 0);
    ASSERT_EQ(vnsim_push_vb_error(0, 222), 0);
    EXPECT_EQ(VbCirErrorCheck(handle, &desc), 220);
    EXPECT_EQ(VbCirErrorCheck(handle, nullptr), 222);
    EXPECT_EQ(VbCirErrorCheck(handle, &desc), 0);
    EXPECT_EQ(vnsim_push_vb_error(7, 220), -1);
}

TEST_F(SimErrorStackTest, DriverCodesComeOutNewestFirstUntilCleared)
{
    VN_HANDLE handle = open(1, VB_OPEN_INSPECT);
    int32_t code = -1;
    ASSERT_EQ(VNErrorGetLast(handle, &code), 0);
    EXPECT_EQ(code, 0);
    ASSERT_EQ(vnsim_push_vn_error(1, 3009), 0);
    ASSERT_EQ(vnsim_push_vn_error(1, 3010), 0);
    ASSERT_EQ(VNErrorGetLast(handle, &code), 0);
    EXPECT_EQ(code, 3010);
    ASSERT_EQ(VNErrorGetLast(handle, &code), 0);
    EXPECT_EQ(code, 3010) << "reading does not clear";
    ASSERT_EQ(VNErrorClearLast(handle), 0);
    ASSERT_EQ(VNErrorGetLast(handle, &code), 0);
    EXPECT_EQ(code, 3009);
    ASSERT_EQ(VNErrorClearLast(handle), 0);
    ASSERT_EQ(VNErrorGetLast(handle, &code), 0);
    EXPECT_EQ(code, 0);
    EXPECT_NE(VNErrorGetLast(handle, nullptr), 0);

    // A failing driver call leaves its code as the last error.
    const int32_t refused = VNRegPoke(handle, 9999, 0);
    ASSERT_NE(refused, 0);
    ASSERT_EQ(VNErrorGetLast(handle, &code), 0);
    EXPECT_EQ(code, refused);
    EXPECT_EQ(vn_text(handle, refused), "Board register number out of range (0 to 3633).");
}

TEST_F(SimErrorStackTest, TextOfABufferLibraryCodeGrowsToItsSize)
{
    VN_HANDLE handle = open(0, VB_OPEN_INSPECT);
    const std::string overflow = "Frame buffer overflow: the host did not release buffers in time.";
    char text[256];
    uint32_t size = sizeof text;
    ASSERT_EQ(VbErrorTextGet(handle, 220, text, &size), 0);
    EXPECT_EQ(size, overflow.size()) << "the size excludes the terminating NUL";
    EXPECT_EQ(std::string(text, size), overflow);

    // The lost-signal text is longer than 256 bytes: 239 with the needed size, then a second call fits.
    size = sizeof text;
    ASSERT_EQ(VbErrorTextGet(handle, 222, text, &size), VB_TEXT_TRUNCATED);
    ASSERT_GT(size, 256u);
    const std::string truncated(text, sizeof text);
    std::string grown(size, '\0');
    uint32_t grown_size = size;
    ASSERT_EQ(VbErrorTextGet(handle, 222, grown.data(), &grown_size), 0);
    EXPECT_EQ(grown_size, size);
    EXPECT_EQ(grown.substr(0, 256), truncated);
    EXPECT_EQ(grown.rfind("Acquisition stopped: the camera signal was lost.", 0), 0u);
    EXPECT_EQ(grown.find('\0'), std::string::npos);

    size = 0;
    EXPECT_EQ(VbErrorTextGet(handle, 222, nullptr, &size), VB_TEXT_TRUNCATED) << "a size query";
    EXPECT_EQ(size, grown_size);
    size = sizeof text;
    EXPECT_EQ(VbErrorTextGet(handle, 12345, text, &size), VB_TEXT_UNKNOWN_CODE);
    EXPECT_NE(VbErrorTextGet(handle, 220, text, nullptr), 0);
    VbBrdClose(handle);
    size = sizeof text;
    EXPECT_NE(VbErrorTextGet(handle, 220, text, &size), 0) << "closed handle";
}

TEST_F(SimErrorStackTest, DriverTextsFitTheirBuffer)
{
    VN_HANDLE handle = open(0, VB_OPEN_INSPECT);
    char text[256];
    EXPECT_EQ(VNErrorGetMes(handle, 3015, text, sizeof text), 0);
    EXPECT_STREQ(text, "The CoaXPress camera did not acknowledge the address.");
    EXPECT_NE(VNErrorGetMes(handle, 3015, text, 10), 0);
    EXPECT_NE(VNErrorGetMes(handle, 42, text, sizeof text), 0) << "unknown code";
    EXPECT_NE(VNErrorGetMes(handle, 3015, nullptr, 0), 0);
}

TEST_F(SimErrorStackTest, DebugOutputKeepsItsNewestMegabyteInALongRun)
{
    vnsim_debug_clear();
    // Three megabytes of numbered lines: the capture stays bounded and ends with the newest line, whole.
    const std::string filler(1000, 'x');
    constexpr int lines = 3000;
    for (int line = 0; line < lines; ++line) {
        VNOutputDebugString((std::to_string(line) + " " + filler + "\n").c_str());
    }
    const size_t length = vnsim_debug_output(nullptr, 0);
    EXPECT_LE(length, size_t{1} << 20);
    EXPECT_GE(length, size_t{1} << 18);
    std::string text(length + 1, '\0');
    ASSERT_EQ(vnsim_debug_output(text.data(), text.size()), length);
    text.resize(length);
    const std::string last = std::to_string(lines - 1) + " " + filler + "\n";
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    EXPECT_EQ(text.find("0 " + filler + "\n1 "), std::string::npos) << "the oldest lines are gone";
    vnsim_debug_clear();
    EXPECT_EQ(vnsim_debug_output(nullptr, 0), 0u);
}
