// The info table on its own, for what no export shows: string capacities, where values are placed, and how
// the command table grows and shrinks. (Unbound, negative and unavailable commands, every command's type and
// size, computed values: through the exports in ConsumerFirstStepsTest, CallFrameTest, SystemModuleTest and
// DeviceModuleTest; the info copy helpers through GCGetPortURLInfo in PortTest and test_modules.py.)
#include "FrameTestObjects.h"

#include "core/BaseInfo.h"
#include "core/SizeProtocol.h"

#include <array>

namespace {

using vngtl::BaseInfo;
using vngtl::RegisterMap;

class BaseInfoTest : public InitialisedTest {
protected:
    BaseInfo info;
};

TEST_F(BaseInfoTest, AStringFillingItsCapacityGetsAnAddedZeroByteAndEndsAtItsFirstZeroByte)
{
    RegisterMap::Entry* full = info.add_info_string(1, "abcdef", BaseInfo::next_free, 4);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->length(), 4u);
    INFO_DATATYPE type = 0;
    std::array<char, 8> text;
    text.fill('x');
    size_t size = text.size();
    EXPECT_EQ(info.info(1, &type, text.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 5u);
    EXPECT_STREQ(text.data(), "abcd");
    EXPECT_EQ(info.info(1, &type, text.data(), nullptr), GC_ERR_INVALID_PARAMETER);

    // A larger capacity keeps the entry that long, zero-padded.
    RegisterMap::Entry* roomy = info.add_info_string(2, "ab", BaseInfo::next_free, 16);
    ASSERT_NE(roomy, nullptr);
    EXPECT_EQ(roomy->length(), 16u);
    EXPECT_EQ(roomy->data()[15], 0);
    size = text.size();
    EXPECT_EQ(info.info(2, &type, text.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 3u);

    // Text after an embedded zero byte is not part of a string. (The padding, as every string answer's zero
    // byte: ConsumerFirstStepsTest.)
    size = text.size();
    EXPECT_EQ(vngtl::deliver_string(std::string_view("ab\0cd", 5), text.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(vngtl::deliver_bytes("abc", 3, 6, nullptr, nullptr), GC_ERR_INVALID_PARAMETER);
}

TEST_F(BaseInfoTest, ValuesGoToTheNextFreeWordOrWhereTheyAreTold)
{
    const RegisterMap::Entry* name = info.add_info_string(0, "name");  // 5 bytes at 0x0
    const RegisterMap::Entry* flag = info.add_info_bool8(1, true);      // 0x8
    const uint32_t word = 0x01020304;
    const RegisterMap::Entry* placed = info.add_info(2, &word, 0x100, 4, INFO_DATATYPE_UINT32, true, true);
    const RegisterMap::Entry* after = info.add_info(3, nullptr, BaseInfo::next_free, 2, INFO_DATATYPE_BUFFER, true, false);
    ASSERT_TRUE(name && flag && placed && after);
    EXPECT_EQ(name->address(), 0x0u);
    EXPECT_EQ(flag->address(), 0x8u);
    EXPECT_EQ(placed->address(), 0x100u);
    EXPECT_EQ(after->address(), 0x104u);
    EXPECT_EQ(after->data()[0], 0);  // no initial bytes: zeros

    // A bool8 is a read-only byte. (Its answer, and info values read as registers: PortTest and
    // test_modules.py.)
    const uint8_t one = 1;
    EXPECT_EQ(info.info_map().write(0x8, &one, 1), GC_ERR_ACCESS_DENIED);

    // A value that cannot be placed is not bound.
    EXPECT_EQ(info.add_info_string(9, "clash", 0x100), nullptr);
    EXPECT_EQ(info.info_entry(9), nullptr);
}

TEST_F(BaseInfoTest, SetEntryGrowsAndShrinksTheTable)
{
    RegisterMap::Entry* a = info.add_info_string(-1, "a");  // unbound register
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(info.command_table_size(), 0u);
    EXPECT_TRUE(info.set_entry(2, a));
    EXPECT_TRUE(info.set_entry(7, a));
    EXPECT_EQ(info.command_table_size(), 8u);
    EXPECT_FALSE(info.set_entry(20, nullptr));  // unbinding beyond the table
    EXPECT_FALSE(info.set_entry(-3, a));
    EXPECT_EQ(info.command_table_size(), 8u);

    EXPECT_TRUE(info.set_entry(2, nullptr));  // a middle slot: the table keeps its length
    EXPECT_EQ(info.command_table_size(), 8u);
    EXPECT_TRUE(info.set_entry(5, a));
    EXPECT_TRUE(info.set_entry(7, nullptr));  // the last slot: trailing empty slots go
    EXPECT_EQ(info.command_table_size(), 6u);
    EXPECT_TRUE(info.set_entry(5, nullptr));
    EXPECT_EQ(info.command_table_size(), 0u);

    INFO_DATATYPE type = 0;
    size_t size = 0;
    EXPECT_EQ(info.info(5, &type, nullptr, &size), GC_ERR_NOT_IMPLEMENTED);
}

}  // namespace
