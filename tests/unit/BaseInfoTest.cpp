#include "FrameTestObjects.h"

#include "core/BaseInfo.h"
#include "core/SizeProtocol.h"

#include <array>
#include <cstring>

namespace {

using vngtl::BaseInfo;
using vngtl::RegisterMap;

class BaseInfoTest : public InitialisedTest {
protected:
    BaseInfo info;

    static ::testing::AssertionResult recorded(const std::string& code, const std::string& message)
    {
        return is_record(last_error(), code, "BaseInfo.cpp", "BaseInfo::info", message);
    }
};

TEST_F(BaseInfoTest, UnboundAndNegativeCommandsAreNotImplemented)
{
    info.add_info_string(0, "zero");
    INFO_DATATYPE type = 0;
    size_t size = 0;
    EXPECT_EQ(info.info(1000, &type, nullptr, &size), GC_ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(info.info(-1, &type, nullptr, &size), GC_ERR_NOT_IMPLEMENTED);
    EXPECT_TRUE(recorded("GC_ERR_NOT_IMPLEMENTED", "No feature implemented with info command ID -1."));
    info.add_info_string(3, "three");
    EXPECT_EQ(info.info(2, &type, nullptr, &size), GC_ERR_NOT_IMPLEMENTED);  // an empty slot
    EXPECT_EQ(size, 0u);
}

TEST_F(BaseInfoTest, AnUnavailableValueIsRefusedUntilMadeAvailable)
{
    RegisterMap::Entry* entry = info.add_info_string(3, "later");
    ASSERT_NE(entry, nullptr);
    entry->set_available(false);
    INFO_DATATYPE type = 0;
    size_t size = 0;
    EXPECT_EQ(info.info(3, &type, nullptr, &size), GC_ERR_NOT_AVAILABLE);
    EXPECT_TRUE(recorded("GC_ERR_NOT_AVAILABLE", "The feature with info command ID 3 is not currently available."));
    entry->set_available(true);
    EXPECT_EQ(info.info(3, &type, nullptr, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 6u);
}

TEST_F(BaseInfoTest, AStringFillingItsCapacityGetsAnAddedZeroByte)
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

    // The values are registers of the same space.
    uint32_t value = 0;
    EXPECT_EQ(info.info_map().read(0x100, &value, 4), GC_ERR_SUCCESS);
    EXPECT_EQ(value, word);

    // A bool8 is one read-only byte.
    INFO_DATATYPE type = 0;
    uint8_t byte = 7;
    size_t size = 1;
    EXPECT_EQ(info.info(1, &type, &byte, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_BOOL8);
    EXPECT_EQ(byte, 1);
    EXPECT_EQ(info.info_map().write(0x8, &value, 1), GC_ERR_ACCESS_DENIED);

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

TEST_F(BaseInfoTest, ComputedValuesAreRefreshedAtEachQuery)
{
    int queries = 0;
    auto* counter = static_cast<vngtl::InfoFuncEntry<12>*>(
        info.add_info(12, nullptr, BaseInfo::next_free, 4, INFO_DATATYPE_INT32, true, false,
                      vngtl::make_info_func_entry<12>));
    ASSERT_NE(counter, nullptr);
    counter->on_pre_read = [&](RegisterMap::Entry&, uint8_t* data, void*, size_t*) {
        const int32_t value = ++queries * 10;
        std::memcpy(data, &value, sizeof value);
        return queries == 3 ? GC_ERR_IO : GC_ERR_SUCCESS;
    };
    INFO_DATATYPE type = 0;
    int32_t value = 0;
    size_t size = sizeof value;
    EXPECT_EQ(info.info(12, &type, &value, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(value, 10);
    EXPECT_EQ(info.info(12, &type, &value, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(value, 20);
    EXPECT_EQ(info.info(12, &type, &value, &size), GC_ERR_IO);  // a failing callback's code, unchanged
    EXPECT_EQ(value, 20);
}

TEST_F(BaseInfoTest, InfoStringGrowsItsBufferAndRefusesOtherTypes)
{
    const std::string long_text(300, 'q');
    info.add_info_string(0, long_text);
    info.add_info_bool8(1, false);
    std::string text = "unchanged";
    EXPECT_EQ(info.info_string(0, text), GC_ERR_SUCCESS);
    EXPECT_EQ(text, long_text);
    text = "unchanged";
    EXPECT_EQ(info.info_string(1, text), GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(info.info_string(4, text), GC_ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(text, "unchanged");
}

TEST_F(BaseInfoTest, CopyHelpersAnswerByTheProtocolAndRecordNothing)
{
    INFO_DATATYPE type = 0;
    size_t size = 0;
    std::array<char, 16> buffer;
    buffer.fill('x');

    // An empty string list is a single zero byte.
    EXPECT_EQ(BaseInfo::copy_info_string_list({}, &type, nullptr, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_STRINGLIST);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(BaseInfo::copy_info_string_list({}, &type, buffer.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'x');

    size = 5;
    EXPECT_EQ(BaseInfo::copy_info_string_list({"a", "bc"}, &type, buffer.data(), &size), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(BaseInfo::copy_info_string_list({"a", "bc"}, &type, buffer.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(std::string(buffer.data(), 6), std::string("a\0bc\0\0", 6));

    // An INT32 needs 4 bytes: the type and size are written before the capacity is compared.
    int32_t value = 0;
    type = 0;
    size = 3;
    EXPECT_EQ(BaseInfo::copy_info_int32(-5, &type, &value, &size), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(type, INFO_DATATYPE_INT32);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(BaseInfo::copy_info_int32(-5, &type, &value, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(value, -5);

    size = 16;
    EXPECT_EQ(BaseInfo::copy_info_string("id", &type, buffer.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_STRING);
    EXPECT_EQ(size, 3u);
    EXPECT_STREQ(buffer.data(), "id");

    size = 16;
    EXPECT_EQ(BaseInfo::copy_info_string("id", nullptr, buffer.data(), &size), GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(size, 16u);
    type = 0;
    EXPECT_EQ(BaseInfo::copy_info_int32(1, &type, &value, nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(last_error(), "No Error");
}

TEST(SizeProtocol, DeliversPaddedBytesOrTheSizeNeeded)
{
    std::array<char, 8> buffer;
    buffer.fill('x');
    size_t size = 8;
    EXPECT_EQ(vngtl::deliver_bytes("abc", 3, 6, buffer.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::string(buffer.data(), 8), std::string("abc\0\0\0xx", 8));
    EXPECT_EQ(vngtl::deliver_bytes("abc", 3, 6, nullptr, nullptr), GC_ERR_INVALID_PARAMETER);
    // Text after an embedded zero byte is not part of a string.
    size = 8;
    EXPECT_EQ(vngtl::deliver_string(std::string_view("ab\0cd", 5), buffer.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 3u);
}

}  // namespace
