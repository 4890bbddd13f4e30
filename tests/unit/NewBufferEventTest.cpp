// The new-buffer event over a stream's pool. The engine runs without a board here; buffers are filled
// through the pool directly.
#include "AcquisitionFixture.h"

#include "acquisition/VNAcquisition.h"
#include "VNAcquisitionTestAccess.h"
#include "modules/HandleMapping.h"
#include "modules/VNNewBufferEvent.h"

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

using vngtl::BufferHandle;
using vngtl::VNAcquisition;
using vngtl::VNNewBufferEvent;

class NewBufferEventTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        acquisition = std::make_unique<VNAcquisition>(nullptr, vngtl::BufferHandle::factory());
        new_buffer_event = std::make_unique<vngtl::VNNewBufferEvent>(*acquisition);
    }
    void TearDown() override
    {
        new_buffer_event.reset();
        acquisition.reset();
        EngineTest::TearDown();
    }

    VNNewBufferEvent& event() { return *new_buffer_event; }

    // Announces `count` buffers with user pointers 1000, 1001, ... and queues them.
    std::vector<BufferHandle*> queue_buffers(size_t count)
    {
        std::vector<BufferHandle*> handles;
        for (size_t i = 0; i < count; ++i) {
            BufferHandle* handle = nullptr;
            EXPECT_EQ(pool_of(*acquisition).announce_buffer(AsHandle{&handle}, 16, reinterpret_cast<void*>(1000 + i)),
                      GC_ERR_SUCCESS);
            EXPECT_EQ(pool_of(*acquisition).queue_to_input(handle), GC_ERR_SUCCESS);
            handles.push_back(handle);
        }
        return handles;
    }
    // Fills the next `count` queued buffers.
    void fill(size_t count)
    {
        static const uint8_t frame[16] = {};
        for (size_t i = 0; i < count; ++i) {
            ASSERT_TRUE(pool_of(*acquisition).fill_next([this](vngtl::PoolBuffer& buffer) {
                VNBoards::FrameView view;
                view.kind = VNBoards::BoardKind::CoaXPress;
                view.data = frame;
                view.size = sizeof frame;
                view.bit_depth = 8;
                view.roi = {0, 0, 4, 4};
                view.frame_id = 1;
                return buffer.fill(view, copier_of(*acquisition));
            }));
        }
    }
    uint64_t fired() { return u64_info(event(), EVENT_NUM_FIRED); }
    uint64_t in_queue() { return size_info(event(), EVENT_NUM_IN_QUEUE); }

    std::unique_ptr<VNAcquisition> acquisition;

    // Owned beside the engine, as the data-stream module owns it; destroyed first.

    std::unique_ptr<vngtl::VNNewBufferEvent> new_buffer_event;
};

TEST_F(NewBufferEventTest, EveryOperationButRegistrationNeedsARegisteredEvent)
{
    EVENT_NEW_BUFFER_DATA record{};
    size_t size = sizeof record;
    INFO_DATATYPE type = 0;
    uint64_t value = 0;
    size_t value_size = sizeof value;
    uint64_t count = 0;

    EXPECT_EQ(event().info(EVENT_EVENT_TYPE, &type, &value, &value_size), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "BaseEvent.cpp", "BaseEvent::info",
                  "The input event is not currently registered.");
    EXPECT_EQ(event().queued_buffer_count(count), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "VNNewBufferEvent.cpp", "VNNewBufferEvent::queued_buffer_count",
                  "Cannot retrieve the queued buffer count for an unregistered event.");
    EXPECT_EQ(event().firing_count(count), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "VNNewBufferEvent.cpp", "VNNewBufferEvent::firing_count",
                  "Cannot retrieve the number fo event fired count for an unregistered event.");
    EXPECT_EQ(event().flush(), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "VNNewBufferEvent.cpp", "VNNewBufferEvent::flush",
                  "Cannot flush an unregistered event.");
    EXPECT_EQ(event().data(&record, &size, 0), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "VNNewBufferEvent.cpp", "VNNewBufferEvent::data",
                  "Cannot get data from an unregistered event.");
    EXPECT_EQ(event().data_info(&record, sizeof record, EVENT_DATA_ID, &type, &value, &value_size),
              GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "VNNewBufferEvent.cpp", "VNNewBufferEvent::data_info",
                  "Cannot get data info from an unregistered event.");
    EXPECT_EQ(event().kill(true), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "VNNewBufferEvent.cpp", "VNNewBufferEvent::kill",
                  "Cannot kill an unregistered event.");

    EXPECT_EQ(event().unregister_event(), GC_ERR_NOT_INITIALIZED);
    expect_record("GC_ERR_NOT_INITIALIZED", "BaseEvent.cpp", "BaseEvent::unregister_event",
                  "This event has not been registered.");
    EXPECT_EQ(event().register_event(), GC_ERR_SUCCESS);
    EXPECT_EQ(event().register_event(), GC_ERR_RESOURCE_IN_USE);
    expect_record("GC_ERR_RESOURCE_IN_USE", "BaseEvent.cpp", "BaseEvent::register_event",
                  "This event has already been registered.");
    EXPECT_EQ(event().unregister_event(), GC_ERR_SUCCESS);
    EXPECT_FALSE(event().is_registered());
}

TEST_F(NewBufferEventTest, InfoAnswersTheTypeSizesAndCountsSinceRegistration)
{
    queue_buffers(5);
    fill(2);
    ASSERT_EQ(event().register_event(), GC_ERR_SUCCESS);
    EXPECT_EQ(info_value<int32_t>(event(), EVENT_EVENT_TYPE, INFO_DATATYPE_INT32), EVENT_NEW_BUFFER);
    EXPECT_EQ(size_info(event(), EVENT_SIZE_MAX), 16u);
    EXPECT_EQ(size_info(event(), EVENT_INFO_DATA_SIZE_MAX), 8u);
    EXPECT_EQ(in_queue(), 2u);
    EXPECT_EQ(fired(), 0u);  // buffers filled before registration are not counted

    fill(2);
    EXPECT_EQ(in_queue(), 4u);
    EXPECT_EQ(fired(), 2u);
    EVENT_NEW_BUFFER_DATA record{};
    size_t size = sizeof record;
    ASSERT_EQ(event().data(&record, &size, 0), GC_ERR_SUCCESS);
    EXPECT_EQ(in_queue(), 3u);
    EXPECT_EQ(fired(), 2u);  // delivering one changes nothing
    EXPECT_EQ(event().flush(), GC_ERR_SUCCESS);
    EXPECT_EQ(in_queue(), 0u);
    EXPECT_EQ(fired(), 2u);  // nor does discarding
    EXPECT_EQ(pool_of(*acquisition).output_discarded_count(), 3u);
    fill(1);
    EXPECT_EQ(fired(), 3u);

    // Registering again restarts the count.
    ASSERT_EQ(event().unregister_event(), GC_ERR_SUCCESS);
    ASSERT_EQ(event().register_event(), GC_ERR_SUCCESS);
    EXPECT_EQ(fired(), 0u);
    EXPECT_EQ(in_queue(), 1u);
}

TEST_F(NewBufferEventTest, DataHandsOutTheOldestFilledBuffer)
{
    const auto handles = queue_buffers(2);
    fill(2);
    ASSERT_EQ(event().register_event(), GC_ERR_SUCCESS);

    EVENT_NEW_BUFFER_DATA record{};
    size_t size = 15;
    EXPECT_EQ(event().data(&record, &size, 0), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 16u);
    expect_record("GC_ERR_BUFFER_TOO_SMALL", "VNNewBufferEvent.cpp", "VNNewBufferEvent::data",
                  "Invalid read parameters for the event data.");
    EXPECT_EQ(event().data(&record, nullptr, 0), GC_ERR_INVALID_PARAMETER);
    expect_record("GC_ERR_INVALID_PARAMETER", "VNNewBufferEvent.cpp", "VNNewBufferEvent::data",
                  "Invalid read parameters for the event data.");
    size = 0;
    EXPECT_EQ(event().data(nullptr, &size, 0), GC_ERR_SUCCESS);  // a size query takes no buffer
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(in_queue(), 2u);

    for (size_t i = 0; i < 2; ++i) {
        size = sizeof record;
        ASSERT_EQ(event().data(&record, &size, 0), GC_ERR_SUCCESS);
        EXPECT_EQ(record.BufferHandle, vngtl::to_handle(handles[i]));
        EXPECT_EQ(record.pUserPointer, reinterpret_cast<void*>(1000 + i));
        EXPECT_EQ(handles[i]->state(), vngtl::BufferState::Announced);
    }
    EXPECT_EQ(event().data(&record, &size, 0), GC_ERR_TIMEOUT);
    expect_record("GC_ERR_TIMEOUT", "BufferPool.cpp", "BufferPool::dequeue_latest",
                  "Timed out waiting for a buffer to become available on the output queue.");
    EXPECT_EQ(pool_of(*acquisition).delivered_count(), 2u);
}

TEST_F(NewBufferEventTest, DataInfoAnswersTheHandleTheUserPointerAndTheBufferId)
{
    const auto handles = queue_buffers(3);
    fill(3);
    ASSERT_EQ(event().register_event(), GC_ERR_SUCCESS);
    EVENT_NEW_BUFFER_DATA record{};
    size_t size = sizeof record;
    // Take the buffer that is last in address order, so that its ID is 2.
    BufferHandle* last = *std::max_element(handles.begin(), handles.end(), std::less<BufferHandle*>());
    do {
        size = sizeof record;
        ASSERT_EQ(event().data(&record, &size, 0), GC_ERR_SUCCESS);
    } while (record.BufferHandle != vngtl::to_handle(last));

    INFO_DATATYPE type = 0;
    uint64_t value = 0;
    size_t value_size = sizeof value;
    ASSERT_EQ(event().data_info(&record, sizeof record, EVENT_DATA_ID, &type, &value, &value_size), GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_PTR);
    EXPECT_EQ(value, reinterpret_cast<uintptr_t>(vngtl::to_handle(last)));
    EXPECT_EQ(value_size, 8u);
    ASSERT_EQ(event().data_info(&record, sizeof record, EVENT_DATA_VALUE, &type, &value, &value_size), GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_PTR);
    EXPECT_EQ(value, reinterpret_cast<uintptr_t>(last->user_pointer()));
    ASSERT_EQ(event().data_info(&record, sizeof record, EVENT_DATA_NUMID, &type, &value, &value_size), GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_UINT64);
    EXPECT_EQ(value, 2u);

    EXPECT_EQ(event().data_info(nullptr, sizeof record, EVENT_DATA_ID, &type, &value, &value_size),
              GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "VNNewBufferEvent.cpp", "VNNewBufferEvent::data_info", "Null input buffer.");
    EXPECT_EQ(event().data_info(&record, 15, EVENT_DATA_ID, &type, &value, &value_size), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "VNNewBufferEvent.cpp", "VNNewBufferEvent::data_info",
                  "The input buffer size is incorrect; sizeof(EVENT_NEW_BUFFER_DATA) == 16.");
    EXPECT_EQ(event().data_info(&record, sizeof record, 7, &type, &value, &value_size), GC_ERR_NOT_IMPLEMENTED);
    expect_record("GC_ERR_NOT_IMPLEMENTED", "VNNewBufferEvent.cpp", "VNNewBufferEvent::data_info",
                  "Unknown EVENT_DATA_INFO_CMD with ID = 7.");
    value_size = 7;
    EXPECT_EQ(event().data_info(&record, sizeof record, EVENT_DATA_VALUE, &type, &value, &value_size),
              GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(value_size, 8u);
    expect_record("GC_ERR_BUFFER_TOO_SMALL", "VNNewBufferEvent.cpp", "VNNewBufferEvent::data_info",
                  "Error setting the EVENT_NEW_BUFFER_DATA::EVENT_DATA_VALUE info command return buffer data.");
    EXPECT_EQ(event().data_info(&record, sizeof record, EVENT_DATA_NUMID, nullptr, &value, &value_size),
              GC_ERR_INVALID_PARAMETER);
    expect_record("GC_ERR_INVALID_PARAMETER", "VNNewBufferEvent.cpp", "VNNewBufferEvent::data_info",
                  "Error setting the EVENT_NEW_BUFFER_DATA::EVENT_DATA_NUMID info command return buffer data.");

    // After the buffer is revoked its ID cannot be found.
    ASSERT_EQ(pool_of(*acquisition).revoke_buffer(last, nullptr, nullptr), GC_ERR_SUCCESS);
    value_size = sizeof value;
    EXPECT_EQ(event().data_info(&record, sizeof record, EVENT_DATA_NUMID, &type, &value, &value_size),
              GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "BufferPool.cpp", "BufferPool::buffer_id",
                  "The buffer handle was not announced to this buffer pool.");
}

TEST_F(NewBufferEventTest, KillEndsAWaitOrTheNextCall)
{
    ASSERT_EQ(event().register_event(), GC_ERR_SUCCESS);
    EVENT_NEW_BUFFER_DATA record{};
    size_t size = sizeof record;

    // No waiter: the next call fails at once, the one after waits normally.
    EXPECT_EQ(event().kill(true), GC_ERR_SUCCESS);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(event().data(&record, &size, GENTL_INFINITE), GC_ERR_ABORT);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
    expect_record("GC_ERR_ABORT", "VNNewBufferEvent.cpp", "VNNewBufferEvent::data",
                  "EventGetData was preemptively killed.");
    EXPECT_EQ(event().data(&record, &size, 30), GC_ERR_TIMEOUT);

    // A waiter in its wait is woken.
    std::atomic<pid_t> tid{0};
    auto waiter = std::async(std::launch::async, [&] {
        EVENT_NEW_BUFFER_DATA taken{};
        size_t taken_size = sizeof taken;
        tid = vntest::thread_id();
        const GC_ERROR result = event().data(&taken, &taken_size, GENTL_INFINITE);
        return std::make_pair(result, last_error());
    });
    ASSERT_TRUE(vntest::wait_blocked(tid));
    EXPECT_EQ(event().kill(true), GC_ERR_SUCCESS);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const auto [result, text] = waiter.get();
    EXPECT_EQ(result, GC_ERR_ABORT);
    EXPECT_NE(text.find("Buffer dequeue was killed."), std::string::npos) << text;

    // A kill left pending is cleared by registering again.
    EXPECT_EQ(event().kill(true), GC_ERR_SUCCESS);
    ASSERT_EQ(event().unregister_event(), GC_ERR_SUCCESS);
    ASSERT_EQ(event().register_event(), GC_ERR_SUCCESS);
    EXPECT_EQ(event().data(&record, &size, 0), GC_ERR_TIMEOUT);
}

TEST_F(NewBufferEventTest, UnregisteringEndsEveryUnlimitedWaitAlsoThoseWaitingForTheirTurn)
{
    // Waits on one event are served one at a time: one waiter is in its wait, the others wait for their
    // turn. Which of them is where when the unregistration comes is the scheduler's choice, so a few rounds
    // are run; in each, every waiter must answer GC_ERR_ABORT.
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(event().register_event(), GC_ERR_SUCCESS);
        std::vector<std::future<GC_ERROR>> waiters;
        std::array<std::atomic<pid_t>, 3> tids{};
        for (std::atomic<pid_t>& tid : tids) {
            waiters.push_back(std::async(std::launch::async, [&] {
                EVENT_NEW_BUFFER_DATA taken{};
                size_t taken_size = sizeof taken;
                tid = vntest::thread_id();
                return event().data(&taken, &taken_size, GENTL_INFINITE);
            }));
        }
        for (const std::atomic<pid_t>& tid : tids) {
            ASSERT_TRUE(vntest::wait_blocked(tid));
        }
        ASSERT_EQ(event().unregister_event(), GC_ERR_SUCCESS);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        int hanging = 0;
        for (auto& waiter : waiters) {
            hanging += waiter.wait_until(deadline) == std::future_status::ready ? 0 : 1;
        }
        EXPECT_EQ(hanging, 0) << "round " << round;
        if (hanging > 0) {
            // A waiter left in its wait is ended through a new registration, so the test can finish.
            ASSERT_EQ(event().register_event(), GC_ERR_SUCCESS);
            for (auto& waiter : waiters) {
                while (waiter.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
                    event().kill(true);
                }
            }
            ASSERT_EQ(event().unregister_event(), GC_ERR_SUCCESS);
        }
        for (auto& waiter : waiters) {
            EXPECT_EQ(waiter.get(), GC_ERR_ABORT) << "round " << round;
        }
    }

    // Without a waiter, unregistration leaves no kill behind.
    ASSERT_EQ(event().register_event(), GC_ERR_SUCCESS);
    ASSERT_EQ(event().unregister_event(), GC_ERR_SUCCESS);
    ASSERT_EQ(event().register_event(), GC_ERR_SUCCESS);
    queue_buffers(1);
    fill(1);
    EVENT_NEW_BUFFER_DATA record{};
    size_t size = sizeof record;
    EXPECT_EQ(event().data(&record, &size, 0), GC_ERR_SUCCESS);
}

TEST_F(NewBufferEventTest, WithoutABoardTheEngineReportsNoBoard)
{
    EXPECT_EQ(acquisition->status(), VNAcquisition::NoBoard);
    EXPECT_EQ(acquisition->start(GENTL_INFINITE), VNAcquisition::NoBoard);
    EXPECT_EQ(acquisition->make_ready(4, {}), VNAcquisition::NotConfigured);
    EXPECT_EQ(acquisition->payload_size(), 0u);
    EXPECT_FALSE(acquisition->roi_matches({}));
}
