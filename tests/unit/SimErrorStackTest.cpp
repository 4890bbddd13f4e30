// The simulated SDK's debug output; its error stacks and texts are checked with the board's (BoardErrorTextTest).
#include "SimTestSupport.h"

#include <string>

using SimErrorStackTest = SimTest;

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
    EXPECT_TRUE(text.ends_with(last)) << "the newest line is kept whole";
    EXPECT_EQ(text.find("0 " + filler + "\n1 "), std::string::npos) << "the oldest lines are gone";
    vnsim_debug_clear();
    EXPECT_EQ(vnsim_debug_output(nullptr, 0), 0u);
}
