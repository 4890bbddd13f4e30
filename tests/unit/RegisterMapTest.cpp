#include "FrameTestObjects.h"

#include "core/RegisterMap.h"
#include "core/RegisterMapHelpers.h"

#include <array>
#include <cstring>

// Huge allocations must fail with null rather than abort the sanitised test program.
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}
extern "C" const char* __tsan_default_options();
extern "C" const char* __tsan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

using vngtl::RegisterMap;
using Entry = RegisterMap::Entry;

class RegisterMapTest : public InitialisedTest {
protected:
    RegisterMap map;

    // A plain read-write entry filled with `fill`.
    Entry* add(uint64_t address, uint64_t length, uint8_t fill = 0xAB, bool readable = true, bool writable = true)
    {
        Entry* entry = map.insert(address, nullptr, length, INFO_DATATYPE_BUFFER, readable, writable,
                                  vngtl::make_plain_entry);
        if (entry != nullptr) {
            std::memset(entry->data(), fill, static_cast<size_t>(length));
        }
        return entry;
    }

    static ::testing::AssertionResult recorded(const std::string& code, const std::string& function,
                                               const std::string& message)
    {
        return is_record(last_error(), code, "RegisterMap.cpp", function, message);
    }
};

TEST_F(RegisterMapTest, RefusedInsertsNameAddressAndLengthInHexAndExternalStorageIsUsedInPlace)
{
    ASSERT_NE(add(0x4, 4), nullptr);
    ASSERT_NE(add(0x20, 6), nullptr);
    struct Case {
        uint64_t address;
        uint64_t length;
        const char* message;
    };
    const Case cases[] = {
        {0x2, 4, "Unable to insert a register map entry at non-aligned address, 0x2."},
        {0x8, 0, "Unable to insert a zero length register map entry."},
        // the successor starts inside the new range
        {0x0, 8, "Unable to insert a register map entry at address 0x0, length 8, because it would overlap with "
                 "another entry."},
        {0x0, 16, "Unable to insert a register map entry at address 0x0, length 10, because it would overlap with "
                  "another entry."},
        // the predecessor reaches into the new range (0x20 + 6 > 0x24)
        {0x24, 4, "Unable to insert a register map entry at address 0x24, length 4, because it would overlap with "
                  "another entry."},
        {0xfffffffffffffff0, 0x20, "Unable to insert a register map entry at address 0xfffffffffffffff0, length 20, "
                                   "because it would extend past the end of the address space."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(add(c.address, c.length), nullptr) << c.message;
        EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "RegisterMap::insert", c.message));
    }
    // An entry that cannot allocate is recorded and not added, and its space stays free.
    EXPECT_EQ(map.insert(0x40, nullptr, uint64_t{1} << 60, INFO_DATATYPE_BUFFER, true, true, vngtl::make_plain_entry),
              nullptr);
    EXPECT_TRUE(recorded("GC_ERR_OUT_OF_MEMORY", "RegisterMap::Entry::Entry",
                         "Failed to allocate virtual registry map at 0x40, length 1000000000000000B."));
    EXPECT_EQ(map.size(), 2u);
    EXPECT_NE(add(0x40, 4), nullptr);

    std::array<uint8_t, 8> storage{1, 2, 3, 4, 5, 6, 7, 8};
    Entry* entry = map.insert(0x48, storage.data(), storage.size(), INFO_DATATYPE_BUFFER, true, true,
                              vngtl::make_plain_entry);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->data(), storage.data());
    const uint32_t value = 0;
    EXPECT_EQ(map.write(0x4C, &value, 4), GC_ERR_SUCCESS);
    EXPECT_EQ(storage[4], 0);
}

TEST_F(RegisterMapTest, AccessesAcrossEntriesSkipThePaddingAndOneThatTouchesAGapFailsThere)
{
    Entry* first = add(0x0, 6, 0x11);
    Entry* second = add(0x8, 4, 0x22);
    std::array<uint8_t, 12> buffer;
    buffer.fill(0xEE);
    EXPECT_EQ(map.read(0x0, buffer.data(), 8), GC_ERR_SUCCESS);
    EXPECT_EQ(buffer, (std::array<uint8_t, 12>{0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(map.read(0x0, buffer.data(), 12), GC_ERR_SUCCESS);
    EXPECT_EQ(buffer, (std::array<uint8_t, 12>{0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0xEE, 0xEE, 0x22, 0x22, 0x22, 0x22}));

    // A read may start inside an entry and stop inside another.
    buffer.fill(0xEE);
    EXPECT_EQ(map.read(0x4, buffer.data(), 6), GC_ERR_SUCCESS);
    const std::array<uint8_t, 12> skipped{0x11, 0x11, 0xEE, 0xEE, 0x22, 0x22, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(buffer, skipped);

    // Writes across the entries land at the matching offsets.
    const std::array<uint8_t, 12> bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(map.write(0x0, bytes.data(), bytes.size()), GC_ERR_SUCCESS);
    EXPECT_EQ(std::memcmp(first->data(), bytes.data(), 6), 0);
    EXPECT_EQ(std::memcmp(second->data(), bytes.data() + 8, 4), 0);

    // An access that touches a gap (0xC, before an entry at 0x10) fails there, keeping what came before.
    add(0x10, 4, 0x33);
    std::array<uint8_t, 20> wide;
    wide.fill(0xEE);
    EXPECT_EQ(map.read(0x0, wide.data(), wide.size()), GC_ERR_INVALID_ADDRESS);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "RegisterMap::containing_entry",
                         "The simulated register space doesn't contain an entry for address 0xc."));
    EXPECT_EQ(wide[11], 12);
    EXPECT_EQ(wide[12], 0xEE);
    EXPECT_EQ(map.write(0xC, bytes.data(), 4), GC_ERR_INVALID_ADDRESS);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "RegisterMap::containing_entry",
                         "The simulated register space doesn't contain an entry for address 0xc."));
}

// Consumers poll the same registers, and the map keeps the entry it found last: an access must still land in
// the entry that holds its own address, and a gap next to the entry found last is still refused. An entry
// inserted below the highest one leaves the end of the space where it was.
TEST_F(RegisterMapTest, EveryAccessFindsTheEntryHoldingItsAddressWhateverWasFoundBefore)
{
    add(0x10, 8, 0x33);
    add(0x0, 4, 0x11);
    EXPECT_EQ(map.end_address(), 0x18u);
    EXPECT_EQ(map.next_free_address(), 0x18u);

    uint32_t value = 0;
    EXPECT_EQ(map.read(0x14, &value, 4), GC_ERR_SUCCESS);
    EXPECT_EQ(value, 0x33333333u);
    EXPECT_EQ(map.read(0xC, &value, 4), GC_ERR_INVALID_ADDRESS);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "RegisterMap::containing_entry",
                         "The simulated register space doesn't contain an entry for address 0xc."));
    EXPECT_EQ(map.read(0x0, &value, 4), GC_ERR_SUCCESS);
    EXPECT_EQ(value, 0x11111111u);
    EXPECT_EQ(map.read(0x4, &value, 4), GC_ERR_INVALID_ADDRESS);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "RegisterMap::containing_entry",
                         "The simulated register space doesn't contain an entry for address 0x4."));
    const uint32_t written = 0x01020304;
    EXPECT_EQ(map.write(0x10, &written, 4), GC_ERR_SUCCESS);
    EXPECT_EQ(map.read(0x10, &value, 4), GC_ERR_SUCCESS);
    EXPECT_EQ(value, written);

    // Whether an entry runs hooks is asked at each access: a hook bound after the entry was read runs from
    // the next access on.
    auto* computed = static_cast<vngtl::InfoFuncEntry<3>*>(
        map.insert(0x18, nullptr, 4, INFO_DATATYPE_UINT32, true, true, vngtl::make_info_func_entry<3>));
    ASSERT_NE(computed, nullptr);
    std::memset(computed->data(), 0x44, 4);
    EXPECT_EQ(map.read(0x18, &value, 4), GC_ERR_SUCCESS);
    EXPECT_EQ(value, 0x44444444u);
    computed->on_pre_read = [](Entry&, uint8_t* data, void*, size_t*) {
        std::memset(data, 0x55, 4);
        return GC_ERR_SUCCESS;
    };
    EXPECT_EQ(map.read(0x18, &value, 4), GC_ERR_SUCCESS);
    EXPECT_EQ(value, 0x55555555u);
}

TEST_F(RegisterMapTest, ParameterChecksOfTheMapAndOfAnEntryInTheirOrder)
{
    std::array<uint8_t, 16> buffer{};
    EXPECT_EQ(map.read(0x0, buffer.data(), 4), GC_ERR_INVALID_ADDRESS) << "every read of an empty map";
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "RegisterMap::read",
                         "The address-plus-length is outside the readable register space."));
    add(0x0, 8);
    struct Case {
        bool write;
        uint64_t address;
        bool with_buffer;
        size_t length;
        const char* code;
        const char* message;
    };
    const Case cases[] = {
        {false, 0x0, false, 0, "GC_ERR_INVALID_ADDRESS", "A valid read length is required by this method."},
        {false, 0x0, false, 4, "GC_ERR_INVALID_PARAMETER", "Cannot read to a null data buffer."},
        {false, 0x4, true, 5, "GC_ERR_INVALID_ADDRESS", "The address-plus-length is outside the readable register space."},
        {false, 0xfffffffffffffffc, true, 8, "GC_ERR_INVALID_ADDRESS",
         "The address-plus-length is outside the readable register space."},
        {true, 0x6, false, 0, "GC_ERR_INVALID_ADDRESS", "The given address (0x6) is not byte aligned."},
        {true, 0x0, false, 0, "GC_ERR_INVALID_ADDRESS", "A valid write length is required by this method."},
        {true, 0x0, false, 4, "GC_ERR_INVALID_PARAMETER", "Cannot write from a null data buffer."},
        {true, 0x8, true, 4, "GC_ERR_INVALID_ADDRESS", "The address-plus-length is outside the writable register space."},
    };
    for (const Case& c : cases) {
        void* data = c.with_buffer ? buffer.data() : nullptr;
        const GC_ERROR code = c.write ? map.write(c.address, data, c.length) : map.read(c.address, data, c.length);
        EXPECT_NE(code, GC_ERR_SUCCESS) << c.message;
        EXPECT_TRUE(recorded(c.code, c.write ? "RegisterMap::write" : "RegisterMap::read", c.message));
    }
    // Ending exactly at the end of the space is fine.
    EXPECT_EQ(map.read(0x4, buffer.data(), 4), GC_ERR_SUCCESS);

    // An entry's own checks.
    Entry* entry = add(0x8, 4);
    size_t length = 4;
    EXPECT_EQ(entry->read(uint64_t{0x8}, nullptr, nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "RegisterMap::Entry::read",
                         "A valid output buffer is required by this method."));
    EXPECT_EQ(entry->read(uint64_t{0x9}, buffer.data(), nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "RegisterMap::Entry::read",
                         "A valid read length is required by this method."));
    EXPECT_EQ(entry->read(uint64_t{0x9}, buffer.data(), &length), GC_ERR_INVALID_ADDRESS);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "RegisterMap::Entry::read", "The start address, 0x9, is not word-aligned."));
    EXPECT_EQ(entry->read(uint64_t{0x10}, buffer.data(), &length), GC_ERR_INVALID_ADDRESS);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "RegisterMap::Entry::read",
                         "The start address, 0x10, is outside this register's range, [0x8, 0xc]."));
    EXPECT_EQ(entry->write(uint64_t{0x4}, buffer.data(), &length), GC_ERR_INVALID_ADDRESS);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_ADDRESS", "RegisterMap::Entry::write",
                         "The start address, 0x4, is outside this register's range, [0x8, 0xc]."));
    EXPECT_EQ(entry->write(uint64_t{0x8}, nullptr, &length), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "RegisterMap::Entry::write",
                         "A valid input buffer is required by this method."));

    // An over-long request is lowered to what the entry holds from the address on.
    length = 100;
    EXPECT_EQ(entry->read(uint64_t{0x8}, buffer.data(), &length), GC_ERR_SUCCESS);
    EXPECT_EQ(length, 4u);
}

TEST_F(RegisterMapTest, TypedReadsAnswerAStringsTextAndOneZeroByteOrTheWholeEntry)
{
    Entry* entry = map.insert(0x0, nullptr, 256, INFO_DATATYPE_STRING, true, false, vngtl::make_plain_entry);
    ASSERT_NE(entry, nullptr);
    std::memset(entry->data(), 0, 256);
    std::memcpy(entry->data(), "abc", 3);

    // (The size query's answer, text and one zero byte: every string info command in ConsumerFirstStepsTest.)
    INFO_DATATYPE type = 0;
    std::array<char, 8> text;
    text.fill('x');
    size_t size = 3;
    EXPECT_EQ(entry->read(&type, text.data(), &size), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(text[0], 'x');
    EXPECT_TRUE(recorded("GC_ERR_BUFFER_TOO_SMALL", "RegisterMap::Entry::read", "Error verifying the read parameters."));

    size = text.size();
    EXPECT_EQ(entry->read(&type, text.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_STREQ(text.data(), "abc");
    EXPECT_EQ(text[4], 'x');

    EXPECT_EQ(entry->read(nullptr, text.data(), &size), GC_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(recorded("GC_ERR_INVALID_PARAMETER", "RegisterMap::Entry::read", "Error verifying the read parameters."));
    // (Other types answer the whole entry: every info command of every module in ConsumerFirstStepsTest.)
}

// The order of hooks and access checks, which no export shows. (A value computed at each read, a refusing
// pre_read's or post_write's code as the access's answer, and read-only and write-only registers refused:
// ConsumerFirstStepsTest, InterfaceModuleTest and SystemModuleTest, through GCReadPort and GCWritePort.)
TEST_F(RegisterMapTest, HooksRunBeforeTheAccessChecksAndAfterTheCopyAndCommandRegistersRunOnOne)
{
    int pre_reads = 0;
    int pre_writes = 0;
    auto* read_only = static_cast<vngtl::InfoFuncEntry<7>*>(
        map.insert(0x0, nullptr, 4, INFO_DATATYPE_UINT32, true, false, vngtl::make_info_func_entry<7>));
    auto* write_only = static_cast<vngtl::InfoFuncEntry<1>*>(
        map.insert(0x10, nullptr, 4, INFO_DATATYPE_UINT32, false, true, vngtl::make_info_func_entry<1>));
    ASSERT_TRUE(read_only != nullptr && write_only != nullptr);
    std::memset(read_only->data(), 0x22, 4);
    read_only->on_pre_write = [&](Entry&, uint8_t*, const void*, size_t*) {
        ++pre_writes;
        return GC_ERR_SUCCESS;
    };
    write_only->on_pre_read = [&](Entry&, uint8_t*, void*, size_t*) {
        ++pre_reads;
        return GC_ERR_SUCCESS;
    };

    // pre_write runs, then the write is refused and nothing changes; likewise pre_read on either read path.
    const uint32_t ones = 0xFFFFFFFF;
    EXPECT_EQ(map.write(0x0, &ones, 4), GC_ERR_ACCESS_DENIED);
    EXPECT_TRUE(recorded("GC_ERR_ACCESS_DENIED", "RegisterMap::Entry::write",
                         "The virtual register map entry at 0x0 is not writable."));
    EXPECT_EQ(pre_writes, 1);
    EXPECT_EQ(read_only->data()[1], 0x22);
    uint32_t value = 0;
    EXPECT_EQ(map.read(0x10, &value, 4), GC_ERR_ACCESS_DENIED);
    EXPECT_TRUE(recorded("GC_ERR_ACCESS_DENIED", "RegisterMap::Entry::read",
                         "The virtual register map entry at 0x10 is not readable."));
    INFO_DATATYPE type = 0;
    size_t size = 4;
    EXPECT_EQ(write_only->read(&type, &value, &size), GC_ERR_ACCESS_DENIED);
    EXPECT_EQ(pre_reads, 2);

    // post_read runs after the bytes were copied, post_write on the new value.
    read_only->on_post_read = [](Entry&, uint8_t*) { return GC_ERR_INVALID_VALUE; };
    EXPECT_EQ(map.read(0x0, &value, 4), GC_ERR_INVALID_VALUE);
    EXPECT_EQ(value, 0x22222222u);
    write_only->on_post_write = [](Entry&, uint8_t* data) {
        data[0] = static_cast<uint8_t>(data[0] + 1);
        return GC_ERR_SUCCESS;
    };
    const uint32_t written = 41;
    EXPECT_EQ(map.write(0x10, &written, 4), GC_ERR_SUCCESS);
    EXPECT_EQ(write_only->data()[0], 42);

    // Command registers run their command on a write of 1 and always read 0. (Values other than 1 refused with
    // GC_ERR_IO: SystemModuleTest and InterfaceModuleTest, on the update-list commands.)
    auto* command = static_cast<vngtl::CommandEntry*>(
        map.insert(0x20, nullptr, 4, INFO_DATATYPE_UINT32, true, true, vngtl::make_command_entry));
    ASSERT_NE(command, nullptr);
    std::memset(command->data(), 0, 4);

    value = 1;
    EXPECT_EQ(map.write(0x20, &value, 4), GC_ERR_ERROR);
    EXPECT_TRUE(is_record(last_error(), "GC_ERR_ERROR", "RegisterMapHelpers.cpp", "CommandEntry::post_write",
                          "The command entry was not properly initialized."));

    int runs = 0;
    command->command = [&] {
        ++runs;
        return runs == 1 ? GC_ERR_SUCCESS : GC_ERR_ABORT;
    };
    EXPECT_EQ(map.write(0x20, &value, 4), GC_ERR_SUCCESS);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(map.read(0x20, &value, 4), GC_ERR_SUCCESS);
    EXPECT_EQ(value, 0u);

    value = 1;
    EXPECT_EQ(map.write(0x20, &value, 4), GC_ERR_ABORT);  // the command's own answer
    EXPECT_EQ(runs, 2);
}

}  // namespace
