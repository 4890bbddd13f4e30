// Shared fixture for tests of the data stream through the exported functions: the device of board 0
// (CoaXPress, 1024 x 768 Mono8 by default) is opened with its data stream, and the board's frames come
// only from vnsim_trigger, so every test decides when a frame completes.
#pragma once

#include "ModuleFixture.h"
#include "Wait.h"

#include <vector>

class StreamTest : public ModuleTest {
protected:
    static constexpr int board = 0;
    static constexpr uint32_t width = 1024;
    static constexpr uint32_t height = 768;

    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_EQ(vnsim_set_trigger_mode(board, VNSIM_TRIGGER_MANUAL), 0);
        device = open_device(board);
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(DevOpenDataStream(device, "TLDataStream", &stream), GC_ERR_SUCCESS);
    }

    template <class T>
    T stream_info(STREAM_INFO_CMD command)
    {
        T value{};
        INFO_DATATYPE type = 0;
        size_t size = sizeof value;
        EXPECT_EQ(DSGetInfo(stream, command, &type, &value, &size), GC_ERR_SUCCESS) << command;
        return value;
    }

    template <class T>
    static T buffer_info(DS_HANDLE ds, BUFFER_HANDLE buffer, BUFFER_INFO_CMD command)
    {
        T value{};
        INFO_DATATYPE type = 0;
        size_t size = sizeof value;
        EXPECT_EQ(DSGetBufferInfo(ds, buffer, command, &type, &value, &size), GC_ERR_SUCCESS) << command;
        return value;
    }

    static uint64_t read_u64(void* port, uint64_t address)
    {
        uint64_t value = 0;
        size_t size = sizeof value;
        EXPECT_EQ(GCReadPort(port, address, &value, &size), GC_ERR_SUCCESS) << std::hex << address;
        return value;
    }
    static GC_ERROR write_u64(void* port, uint64_t address, uint64_t value)
    {
        size_t size = sizeof value;
        return GCWritePort(port, address, &value, &size);
    }

    // Announces `count` buffers of `size` bytes (allocated by the library) and queues them.
    std::vector<BUFFER_HANDLE> announce_and_queue(size_t count, size_t size = size_t{width} * height)
    {
        std::vector<BUFFER_HANDLE> buffers(count, nullptr);
        for (BUFFER_HANDLE& buffer : buffers) {
            EXPECT_EQ(DSAllocAndAnnounceBuffer(stream, size, nullptr, &buffer), GC_ERR_SUCCESS) << last_error();
            EXPECT_EQ(DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS) << last_error();
        }
        return buffers;
    }

    EVENT_HANDLE register_new_buffer()
    {
        EVENT_HANDLE event = nullptr;
        EXPECT_EQ(GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event), GC_ERR_SUCCESS) << last_error();
        return event;
    }

    // The next filled buffer, or null after `timeout_ms`.
    static BUFFER_HANDLE next_buffer(EVENT_HANDLE event, uint64_t timeout_ms = 5000)
    {
        EVENT_NEW_BUFFER_DATA data{};
        size_t size = sizeof data;
        if (EventGetData(event, &data, &size, timeout_ms) != GC_ERR_SUCCESS) {
            return nullptr;
        }
        return data.BufferHandle;
    }

    bool wait_not_grabbing()
    {
        return vntest::wait_until([&] { return stream_info<uint8_t>(STREAM_INFO_IS_GRABBING) == 0; });
    }

    DEV_HANDLE device = nullptr;
    DS_HANDLE stream = nullptr;
};
