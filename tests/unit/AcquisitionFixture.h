// Shared pieces of the acquisition engine's tests (buffers and pool, the engine, the new-buffer event): the
// library initialised so that records land in last_error(), typed reads of info values, and a simulated board
// with small frames.
#pragma once

#include "GenTLFixture.h"
#include "SimBoards.h"
#include "Wait.h"

#include "modules/BufferHandle.h"
#include "acquisition/BufferPool.h"
#include "core/BaseInfo.h"

#include <cstring>
#include <memory>
#include <string>

using vntest::wait_until;

// Hands a pool's PoolBuffer output to a BufferHandle pointer: the pools of these tests are made with the
// buffer handles' factory. The pointer is written when the call's full expression ends.
class AsHandle {
public:
    explicit AsHandle(vngtl::BufferHandle** out) noexcept : out_(out) {}
    ~AsHandle()
    {
        vngtl::PoolBuffer* const buffer = buffer_ != nullptr ? buffer_ : counted_.get();
        if (out_ != nullptr && buffer != nullptr) {
            *out_ = static_cast<vngtl::BufferHandle*>(buffer);
        }
    }
    AsHandle(const AsHandle&) = delete;
    AsHandle& operator=(const AsHandle&) = delete;
    operator vngtl::PoolBuffer**() noexcept { return out_ != nullptr ? &buffer_ : nullptr; }
    operator std::shared_ptr<vngtl::PoolBuffer>*() noexcept { return out_ != nullptr ? &counted_ : nullptr; }

private:
    vngtl::BufferHandle** out_;
    vngtl::PoolBuffer* buffer_ = nullptr;
    std::shared_ptr<vngtl::PoolBuffer> counted_;
};

class EngineTest : public GenTLTest {
protected:
    void SetUp() override
    {
        GenTLTest::SetUp();
        ASSERT_EQ(GCInitLib(), GC_ERR_SUCCESS);
    }

    // The calling thread's last record must be `code_name` from `file` by `function` with exactly `message`.
    static void expect_record(const std::string& code_name, const std::string& file, const std::string& function,
                              const std::string& message)
    {
        const std::string record = last_error();
        const std::string head = code_name + " @ " + file + "[";
        const std::string tail = "], " + function + ": " + message + "\n";
        EXPECT_EQ(record.substr(0, head.size()), head) << record;
        ASSERT_GE(record.size(), tail.size()) << record;
        EXPECT_EQ(record.substr(record.size() - tail.size()), tail) << record;
    }

    // A fixed-size info value of `object`, read by the info protocol; the type must be `expected_type`.
    template <class T>
    static T info_value(vngtl::BaseInfo& object, int32_t command, INFO_DATATYPE expected_type)
    {
        INFO_DATATYPE type = 0;
        T value{};
        size_t size = sizeof value;
        EXPECT_EQ(object.info(command, &type, &value, &size), GC_ERR_SUCCESS) << "info command " << command;
        EXPECT_EQ(type, expected_type) << "info command " << command;
        EXPECT_EQ(size, sizeof value) << "info command " << command;
        return value;
    }
    static uint64_t size_info(vngtl::BaseInfo& object, int32_t command)
    {
        return info_value<uint64_t>(object, command, INFO_DATATYPE_SIZET);
    }
    static uint64_t u64_info(vngtl::BaseInfo& object, int32_t command)
    {
        return info_value<uint64_t>(object, command, INFO_DATATYPE_UINT64);
    }
    static bool bool_info(vngtl::BaseInfo& object, int32_t command)
    {
        return info_value<uint8_t>(object, command, INFO_DATATYPE_BOOL8) != 0;
    }
    static std::string string_info(vngtl::BaseInfo& object, int32_t command)
    {
        std::string text;
        EXPECT_EQ(object.info_string(command, text), GC_ERR_SUCCESS) << "info command " << command;
        return text;
    }
};
