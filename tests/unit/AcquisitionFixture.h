// Shared pieces of the acquisition engine's tests (buffers and pool, the engine, the new-buffer event): the
// library initialised so that records land in last_error(), typed reads of info values, and an engine with its
// new-buffer event on a simulated board or on none.
#pragma once

#include "FrameTestObjects.h"
#include "SimBoards.h"
#include "Wait.h"

#include "VNAcquisitionTestAccess.h"

#include "modules/BufferHandle.h"
#include "modules/VNNewBufferEvent.h"
#include "acquisition/BufferPool.h"
#include "acquisition/VNAcquisition.h"
#include "board/VNBoards.h"
#include "core/BaseInfo.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

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

class EngineTest : public InitialisedTest {
protected:
    // The calling thread's last record must be `code_name` from `file` by `function` with exactly `message`.
    static void expect_record(const std::string& code_name, const std::string& file, const std::string& function,
                              const std::string& message)
    {
        EXPECT_TRUE(is_record(last_error(), code_name, file, function, message));
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

// An engine and its new-buffer event (owned beside it, as the data-stream module owns it; destroyed first), on
// simulated board 0 as the simulator is configured when make_engine is called, or on no board.
class EngineWithEventTest : public EngineTest {
protected:
    void make_engine(bool with_board)
    {
        if (with_board) {
            board = std::make_shared<VNBoards::Board>(0);
        }
        acquisition = std::make_unique<vngtl::VNAcquisition>(board, vngtl::BufferHandle::factory());
        new_buffer_event = std::make_unique<vngtl::VNNewBufferEvent>(*acquisition);
    }
    void TearDown() override
    {
        if (acquisition && acquisition->status() > vngtl::VNAcquisition::NotConfigured) {
            acquisition->stop();
            acquisition->teardown();
        }
        new_buffer_event.reset();
        acquisition.reset();
        board.reset();
        EngineTest::TearDown();
    }

    // Announces `count` library buffers of `size` bytes with user pointers 1000, 1001, ... and queues them.
    std::vector<vngtl::BufferHandle*> queue_buffers(size_t count, size_t size)
    {
        std::vector<vngtl::BufferHandle*> handles;
        for (size_t i = 0; i < count; ++i) {
            vngtl::BufferHandle* handle = nullptr;
            EXPECT_EQ(pool_of(*acquisition).announce_buffer(AsHandle{&handle}, size, reinterpret_cast<void*>(1000 + i)),
                      GC_ERR_SUCCESS);
            EXPECT_EQ(pool_of(*acquisition).queue_to_input(handle), GC_ERR_SUCCESS);
            handles.push_back(handle);
        }
        return handles;
    }

    std::shared_ptr<VNBoards::Board> board;
    std::unique_ptr<vngtl::VNAcquisition> acquisition;
    std::unique_ptr<vngtl::VNNewBufferEvent> new_buffer_event;
};
