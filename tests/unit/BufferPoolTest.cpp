// Buffers, the buffer pool and the new-buffer event over it, without a board: frames are handed to fill_next by
// a stand-in for the acquisition's copy_frame.
#include "AcquisitionFixture.h"

#include "acquisition/FrameCopier.h"
#include "acquisition/StreamCall.h"
#include "modules/HandleMapping.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

using vngtl::BufferHandle;
using vngtl::BufferPool;
using vngtl::BufferState;
using vngtl::VNAcquisition;
using vngtl::VNNewBufferEvent;
using VNBoards::BoardKind;

// `call` must answer `code`, recorded by `function` (in the file named after its class) with exactly `message`.
#define EXPECT_ERROR(call, code, function, message)                                                           \
    do {                                                                                                      \
        EXPECT_EQ(call, code);                                                                                \
        const std::string name(function);                                                                     \
        expect_record(#code, name.substr(0, name.find(':')) + ".cpp", name, message);                         \
    } while (false)

namespace {

// Frames of `size` bytes whose bytes are (frame id + offset) mod 256.
struct FakeFrames {
    size_t size = 64;
    uint32_t bits = 8;
    BoardKind kind = BoardKind::CoaXPress;
    uint64_t next_id = 1;
    std::shared_ptr<vngtl::FrameCopier> copier = std::make_shared<vngtl::FrameCopier>(1);

    std::vector<uint8_t> frame(uint64_t id) const
    {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<uint8_t>((id + i) & 0xFF);
        }
        return bytes;
    }

    BufferPool::CopyFrame copy()
    {
        return [this](vngtl::PoolBuffer& buffer) {
            const uint64_t id = next_id++;
            const auto bytes = frame(id);
            return buffer.fill(view_of(bytes, id), *copier);
        };
    }

    // A view of `bytes` as frame `id`, 8 pixels wide at offset (3, 4).
    VNBoards::FrameView view_of(const std::vector<uint8_t>& bytes, uint64_t id) const
    {
        return {.kind = kind, .data = bytes.data(), .size = bytes.size(), .bit_depth = bits,
                .roi = {3, 4, 8, static_cast<uint32_t>(size / 8)}, .frame_id = id, .timestamp = id * 10,
                .timestamp_ns = id * 1000, .hold = {}};
    }
};

}  // namespace

class BufferPoolTest : public EngineTest {
protected:
    BufferPool pool{BufferHandle::factory()};
    std::atomic<uint32_t> kill{0};

    // The consumer's memory (data, size, user pointer) or, from a size and a user pointer, the library's.
    template <class... Args>
    BufferHandle* announce(Args... args)
    {
        BufferHandle* handle = nullptr;
        EXPECT_EQ(pool.announce_buffer(AsHandle{&handle}, args...), GC_ERR_SUCCESS);
        return handle;
    }
    BufferHandle* announce_allocated(size_t size) { return announce(size, nullptr); }
    BufferHandle* dequeue()
    {
        BufferHandle* handle = nullptr;
        EXPECT_EQ(pool.dequeue_latest(AsHandle{&handle}, 0, kill), GC_ERR_SUCCESS);
        return handle;
    }
};

TEST_F(BufferPoolTest, AnnouncingChecksItsArgumentsAndRecordsAFailedAllocationAndQueueingFollowsTheBufferState)
{
    std::array<uint8_t, 32> memory{};
    BufferHandle* handle = nullptr;
    int user = 7;
    BufferHandle* first = announce(memory.data(), memory.size(), &user);
    ASSERT_NE(first, nullptr);
    EXPECT_ERROR(pool.announce_buffer(AsHandle{&handle}, memory.data(), 8, nullptr), GC_ERR_RESOURCE_IN_USE,
                 "BufferPool::announce_buffer", "The data pointer was already announced with an extant buffer.");
    EXPECT_EQ(pool.announced_count(), 1u);

    EXPECT_EQ(first->state(), BufferState::Announced);
    EXPECT_EQ(info_value<uint64_t>(*first, BUFFER_INFO_BASE, INFO_DATATYPE_PTR),
              reinterpret_cast<uintptr_t>(memory.data()));
    EXPECT_EQ(size_info(*first, BUFFER_INFO_SIZE), memory.size());
    EXPECT_EQ(info_value<uint64_t>(*first, BUFFER_INFO_USER_PTR, INFO_DATATYPE_PTR),
              reinterpret_cast<uintptr_t>(&user));
    EXPECT_EQ(string_info(*first, BUFFER_INFO_TLTYPE), "Custom");
    EXPECT_EQ(size_info(*first, BUFFER_INFO_PAYLOADTYPE), uint64_t{PAYLOAD_TYPE_IMAGE});
    EXPECT_EQ(u64_info(*first, BUFFER_INFO_PIXELFORMAT_NAMESPACE), uint64_t{PIXELFORMAT_NAMESPACE_PFNC_32BIT});
    EXPECT_EQ(info_value<int32_t>(*first, BUFFER_INFO_PIXEL_ENDIANNESS, INFO_DATATYPE_INT32), PIXELENDIANNESS_BIG);
    EXPECT_EQ(size_info(*first, BUFFER_INFO_HEIGHT), 1u);
    EXPECT_EQ(info_value<uint32_t>(*first, BUFFER_INFO_CUSTOM_ID, INFO_DATATYPE_UINT32), 8u);
    EXPECT_FALSE(bool_info(*first, BUFFER_INFO_IMAGEPRESENT));

    // Queueing and revoking follow the buffer state.
    BufferPool other{BufferHandle::factory()};
    EXPECT_ERROR(other.queue_to_input(first), GC_ERR_INVALID_HANDLE, "BufferPool::queue_to_input",
                 "The buffer handle was not announced in this buffer pool.");

    EXPECT_EQ(pool.queue_to_input(first), GC_ERR_SUCCESS);
    EXPECT_TRUE(bool_info(*first, BUFFER_INFO_IS_QUEUED));
    EXPECT_FALSE(bool_info(*first, BUFFER_INFO_IS_ACQUIRING));
    EXPECT_ERROR(pool.queue_to_input(first), GC_ERR_INVALID_HANDLE, "BufferPool::queue_to_input",
                 "The specified buffer is in a queue, and must be removed from the queue before requeue.");
    EXPECT_EQ(pool.queued_count(), 1u);

    EXPECT_ERROR(pool.revoke_buffer(first, nullptr, nullptr), GC_ERR_INVALID_HANDLE, "BufferPool::revoke_buffer",
                 "The specified buffer is in a queue, and so cannot be revoked.");

    // Filled: cannot be revoked either, until the output queue is discarded.
    FakeFrames frames;
    ASSERT_TRUE(pool.fill_next(frames.copy()));
    EXPECT_EQ(first->state(), BufferState::Filled);
    EXPECT_TRUE(bool_info(*first, BUFFER_INFO_IS_QUEUED));
    EXPECT_EQ(pool.revoke_buffer(first, nullptr, nullptr), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(pool.flush_output_discard(), GC_ERR_SUCCESS);
    EXPECT_EQ(first->state(), BufferState::Announced);
    EXPECT_FALSE(bool_info(*first, BUFFER_INFO_IS_QUEUED));

    // What a revoke hands back, and a second revoke:
    // DataStreamTest.RevokeHandsBackConsumerMemoryAndTheLastOneReturnsTheBoardToItsEarlierLevel.
    EXPECT_EQ(pool.revoke_buffer(first, nullptr, nullptr), GC_ERR_SUCCESS);
    EXPECT_EQ(pool.announced_count(), 0u);

    // A failed allocation is recorded and announces nothing (the sanitizers' allocators would stop the process);
    // the library's memory of a good one: DataStreamTest.BufferPortCarriesItsDescriptionAndData.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    handle = nullptr;
    EXPECT_EQ(pool.announce_buffer(AsHandle{&handle}, size_t{1} << 62, nullptr), GC_ERR_OUT_OF_MEMORY);
    const std::string record = last_error();
    EXPECT_NE(record.find("BufferHandle::BufferHandle: Unable to allocate memory for the buffer: "), std::string::npos)
        << record;
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(pool.announced_count(), 0u);
#endif
}

TEST_F(BufferPoolTest, IdsFollowTheAddressOrderAndShiftAfterRevocations)
{
    std::vector<BufferHandle*> handles;
    for (int i = 0; i < 4; ++i) {
        handles.push_back(announce_allocated(8));
    }
    std::vector<BufferHandle*> by_address = handles;
    std::sort(by_address.begin(), by_address.end(), std::less<BufferHandle*>());
    for (uint64_t id = 0; id < by_address.size(); ++id) {
        uint64_t found = 99;
        EXPECT_EQ(pool.buffer_id(by_address[id], &found), GC_ERR_SUCCESS);
        EXPECT_EQ(found, id);
        BufferHandle* handle = nullptr;
        EXPECT_EQ(pool.buffer_from_id(id, AsHandle{&handle}), GC_ERR_SUCCESS);
        EXPECT_EQ(handle, by_address[id]);
    }

    ASSERT_EQ(pool.revoke_buffer(by_address[1], nullptr, nullptr), GC_ERR_SUCCESS);
    uint64_t id = 0;
    for (uint64_t shifted : {2u, 3u}) {
        EXPECT_EQ(pool.buffer_id(by_address[shifted], &id), GC_ERR_SUCCESS);
        EXPECT_EQ(id, shifted - 1);
    }

    BufferHandle* handle = nullptr;
    EXPECT_ERROR(pool.buffer_from_id(3, AsHandle{&handle}), GC_ERR_INVALID_INDEX, "BufferPool::buffer_from_id",
                 "The buffer ID (3) exceeds the announced buffer count (3).");
    EXPECT_ERROR(pool.buffer_from_id(0, nullptr), GC_ERR_INVALID_PARAMETER, "BufferPool::buffer_from_id",
                 "The buffer handle is null.");
    EXPECT_ERROR(pool.buffer_id(by_address[0], nullptr), GC_ERR_INVALID_PARAMETER, "BufferPool::buffer_id",
                 "The ID pointer is null.");
    EXPECT_ERROR(pool.buffer_id(nullptr, &id), GC_ERR_INVALID_HANDLE, "BufferPool::buffer_id",
                 "The buffer handle is null.");
}

// Three buffers for frames of 64 bytes: one smaller, which gets the first part, one larger, beyond whose frame
// nothing is written, and one the library allocated.
// A whole frame's width, height, presence and transport type as a consumer reads them: ExactFramesTest.
TEST_F(BufferPoolTest, BuffersAreDeliveredInTheOrderTheyWereFilledWithTheirFrame)
{
    std::array<uint8_t, 48> small{};
    std::array<uint8_t, 100> large{};
    const std::vector<BufferHandle*> handles = {announce(small.data(), small.size(), nullptr),
                                                announce(large.data(), large.size(), nullptr), announce_allocated(64)};
    for (auto* handle : handles) {
        ASSERT_EQ(pool.queue_to_input(handle), GC_ERR_SUCCESS);
    }
    FakeFrames frames;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(pool.fill_next(frames.copy()));
    }
    EXPECT_EQ((std::vector<uint64_t>{pool.output_count(), pool.queued_count(), pool.filled_total()}),
              (std::vector<uint64_t>{3, 0, 3})) << "output, queued, filled";

    for (uint64_t id = 1; id <= 3; ++id) {
        SCOPED_TRACE("frame " + std::to_string(id));
        BufferHandle* handle = dequeue();
        ASSERT_EQ(handle, handles[id - 1]);
        const size_t filled = id == 1 ? small.size() : 64;
        EXPECT_EQ(handle->state(), BufferState::Announced);
        EXPECT_EQ(u64_info(*handle, BUFFER_INFO_FRAMEID), id);
        EXPECT_EQ(u64_info(*handle, BUFFER_INFO_TIMESTAMP), id * 10);
        EXPECT_EQ(u64_info(*handle, BUFFER_INFO_TIMESTAMP_NS), id * 1000);
        EXPECT_EQ(std::memcmp(handle->data(), frames.frame(id).data(), filled), 0);
        EXPECT_EQ(size_info(*handle, BUFFER_INFO_SIZE_FILLED), filled);
        EXPECT_EQ(bool_info(*handle, BUFFER_INFO_DATA_LARGER_THAN_BUFFER), id == 1);
        EXPECT_EQ(size_info(*handle, BUFFER_INFO_DELIVERED_IMAGEHEIGHT), 8u);
        EXPECT_EQ(size_info(*handle, BUFFER_INFO_XOFFSET), 3u);
        EXPECT_EQ(size_info(*handle, BUFFER_INFO_YOFFSET), 4u);
        EXPECT_EQ(u64_info(*handle, BUFFER_INFO_PIXELFORMAT), 0x01080001u);
    }
    EXPECT_EQ(large[64], 0);  // nothing beyond the frame is written
    EXPECT_EQ(pool.delivered_count(), 3u);

    // Queueing again resets the filled size.
    ASSERT_EQ(pool.queue_to_input(handles[2]), GC_ERR_SUCCESS);
    EXPECT_EQ(size_info(*handles[2], BUFFER_INFO_SIZE_FILLED), 0u);
    EXPECT_EQ(size_info(*handles[2], BUFFER_INFO_DATA_SIZE), 0u);
}

TEST_F(BufferPoolTest, FillMapsTheBitDepthToAPixelFormatAndRefusesABufferNotQueuedAndAFailedCopyRequeues)
{
    const std::vector<std::pair<uint32_t, uint64_t>> formats = {
        {8, 0x01080001},  {10, 0x01100003}, {12, 0x01100005}, {14, 0x01100025},
        {16, 0x01100007}, {24, 0x02180014}, {30, 0x0220001D}, {32, 0x82200020},
        {36, 0x82300024}, {42, 0x8230002A}, {48, 0x02300033}, {9, 0x80000000},
    };
    BufferHandle* handle = announce_allocated(16);
    const std::vector<uint8_t> frame(16);
    vngtl::FrameCopier copier(1);
    EXPECT_FALSE(handle->fill(FakeFrames{}.view_of(frame, 1), copier));
    expect_record("GC_ERR_ERROR", "PoolBuffer.cpp", "PoolBuffer::fill",
                  "Cannot fill a buffer that isn't in the input queue.");
    for (const auto& [bits, format] : formats) {
        ASSERT_EQ(pool.queue_to_input(handle), GC_ERR_SUCCESS);
        FakeFrames frames;
        frames.bits = bits;
        frames.kind = BoardKind::CameraLink;
        ASSERT_TRUE(pool.fill_next(frames.copy()));
        ASSERT_EQ(dequeue(), handle);
        EXPECT_EQ(u64_info(*handle, BUFFER_INFO_PIXELFORMAT), format) << bits << " bits";
    }
    EXPECT_ERROR(handle->register_event(EVENT_NEW_BUFFER, nullptr), GC_ERR_NOT_IMPLEMENTED,
                 "BufferHandle::register_event", "No buffer events are currently implemented.");

    // A failed copy puts the buffer back at the end of the input queue.
    const uint64_t filled = pool.filled_total();
    BufferHandle* first = announce_allocated(8);
    BufferHandle* second = announce_allocated(8);
    ASSERT_EQ(pool.queue_to_input(first), GC_ERR_SUCCESS);
    ASSERT_EQ(pool.queue_to_input(second), GC_ERR_SUCCESS);
    BufferHandle* seen = nullptr;
    EXPECT_FALSE(pool.fill_next([&seen](vngtl::PoolBuffer& buffer) {
        seen = static_cast<BufferHandle*>(&buffer);
        return false;
    }));
    EXPECT_EQ(seen, first);
    const auto inventory = pool.inventory();
    EXPECT_EQ(inventory.input, (std::vector<vngtl::PoolBuffer*>{second, first}));
    EXPECT_EQ(first->state(), BufferState::Queued);
    EXPECT_EQ(pool.filled_total(), filled);
}

// A flush (or two in turn) and where it leaves the buffers A to E: the input queue in queue order, then
// (after '/') the buffers it takes in the pool's order, which is their PoolBuffer address; the output
// queue; each buffer's state (Announced, Queued or Filled); the buffers whose filled size is 0; the counters.
struct FlushRow {
    const char* name;
    std::vector<GC_ERROR (BufferPool::*)()> flushes;
    std::string input;
    std::string output;
    std::string states;
    std::string emptied;
    uint64_t input_flushed, filled, discarded, queued_total;
    size_t queued, in_output;
};

// Every flush from one start: A held by the consumer, B and C queued, D and E filled (D first).
class BufferPoolFlushTest : public BufferPoolTest, public ::testing::WithParamInterface<FlushRow> {
protected:
    std::map<char, BufferHandle*> buffers;

    void SetUp() override
    {
        BufferPoolTest::SetUp();
        for (const char name : std::string("adebc")) {
            buffers[name] = announce_allocated(64);
        }
        for (const char name : std::string("debc")) {
            ASSERT_EQ(pool.queue_to_input(buffers[name]), GC_ERR_SUCCESS);
        }
        FakeFrames frames;
        ASSERT_TRUE(pool.fill_next(frames.copy()));
        ASSERT_TRUE(pool.fill_next(frames.copy()));
        ASSERT_EQ(pool.queued_total(), 4u);
        ASSERT_EQ(pool.filled_total(), 2u);
    }

    std::vector<vngtl::PoolBuffer*> queue_of(const std::string& letters)
    {
        const size_t split = std::min(letters.find('/'), letters.size());
        std::vector<vngtl::PoolBuffer*> queue;
        for (const char name : letters) {
            if (name != '/') {
                queue.push_back(buffers.at(name));
            }
        }
        std::sort(queue.begin() + static_cast<std::ptrdiff_t>(split), queue.end(), std::less<vngtl::PoolBuffer*>());
        return queue;
    }
};

TEST_P(BufferPoolFlushTest, LeavesEveryBufferWhereTheFlushPutsIt)
{
    const FlushRow& row = GetParam();
    SCOPED_TRACE(row.name);
    for (const auto flush : row.flushes) {
        EXPECT_EQ((pool.*flush)(), GC_ERR_SUCCESS);
    }
    const auto inventory = pool.inventory();
    EXPECT_EQ(inventory.input, queue_of(row.input));
    EXPECT_EQ(inventory.output, queue_of(row.output));
    for (const char name : row.emptied) {
        EXPECT_EQ(size_info(*buffers.at(name), BUFFER_INFO_SIZE_FILLED), 0u) << "buffer " << name;
    }
    EXPECT_EQ((std::vector<uint64_t>{pool.input_flushed_total(), pool.filled_total(), pool.output_discarded_count(),
                                     pool.queued_total(), pool.queued_count(), pool.output_count(),
                                     pool.delivered_count()}),
              (std::vector<uint64_t>{row.input_flushed, row.filled, row.discarded, row.queued_total, row.queued,
                                     row.in_output, 0}))
        << "input flushed, filled, discarded, queued total, queued, in output, delivered";
    // Each buffer's state; one handed back to the consumer can be revoked.
    const std::map<char, BufferState> states = {
        {'A', BufferState::Announced}, {'Q', BufferState::Queued}, {'F', BufferState::Filled}};
    for (size_t i = 0; i < row.states.size(); ++i) {
        SCOPED_TRACE(std::string("buffer ") + static_cast<char>('A' + i));
        BufferHandle* buffer = buffers.at(static_cast<char>('a' + i));
        EXPECT_EQ(buffer->state(), states.at(row.states[i]));
        if (row.states[i] == 'A') {
            EXPECT_EQ(pool.revoke_buffer(buffer, nullptr, nullptr), GC_ERR_SUCCESS);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flushes, BufferPoolFlushTest,
    ::testing::Values(
        // The queued buffers go behind the filled ones, filled with nothing.
        FlushRow{"InputToOutput", {&BufferPool::flush_input_to_output}, "", "debc", "AFFFF", "bc", 2, 4, 0, 4, 0, 4},
        FlushRow{"OutputDiscard", {&BufferPool::flush_output_discard}, "bc", "", "AQQAA", "", 0, 2, 2, 4, 2, 0},
        FlushRow{"AllToInput", {&BufferPool::flush_all_to_input}, "/abcde", "", "QQQQQ", "abcde", 0, 2, 2, 9, 5, 0},
        // With D and E back with the consumer too, only the held buffers join the queue.
        FlushRow{"UnqueuedToInput", {&BufferPool::flush_output_discard, &BufferPool::flush_unqueued_to_input},
                 "bc/ade", "", "QQQQQ", "ade", 0, 2, 2, 7, 5, 0},
        FlushRow{"AllDiscard", {&BufferPool::flush_all_discard}, "", "", "AAAAA", "abc", 2, 2, 2, 4, 0, 0}),
    [](const ::testing::TestParamInfo<FlushRow>& row) { return std::string(row.param.name); });

TEST_F(BufferPoolTest, FillNextWaitsForAQueuedBufferWithoutBlockingTheFlushes)
{
    BufferHandle* first = announce_allocated(64);
    BufferHandle* second = announce_allocated(64);
    FakeFrames frames;
    std::stop_source stop;
    auto filler = std::async(std::launch::async, [&] { return pool.fill_next(frames.copy(), stop.get_token()); });
    EXPECT_EQ(filler.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);

    // The flushes that take the fill lock get it while fill_next waits; the flush wakes it, and with the
    // input queue still empty it comes back without a buffer. On a loaded machine the filler may not have
    // begun its wait by the first flush, so flushing goes on (each flush quick) until it has come back.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(pool.flush_all_discard(), GC_ERR_SUCCESS);
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(900));
    } while (filler.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready &&
             std::chrono::steady_clock::now() < give_up);
    ASSERT_EQ(filler.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_FALSE(filler.get());

    auto next = std::async(std::launch::async, [&] { return pool.fill_next(frames.copy(), stop.get_token()); });
    EXPECT_EQ(next.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    ASSERT_EQ(pool.queue_to_input(first), GC_ERR_SUCCESS);
    ASSERT_EQ(next.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(next.get());
    EXPECT_EQ(first->state(), BufferState::Filled);

    // A stop request ends the wait without a buffer.
    auto stopped = std::async(std::launch::async, [&] { return pool.fill_next(frames.copy(), stop.get_token()); });
    EXPECT_EQ(stopped.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    stop.request_stop();
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(stopped.get());
    EXPECT_EQ(second->state(), BufferState::Announced);
}

// The new-buffer event over a stream's pool. The engine runs without a board here; buffers are filled
// through the pool directly.
class NewBufferEventTest : public EngineWithEventTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        make_engine(false);
    }

    VNNewBufferEvent& event() { return *new_buffer_event; }
    std::vector<BufferHandle*> queue_buffers(size_t count) { return EngineWithEventTest::queue_buffers(count, 64); }
    void fill(size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            ASSERT_TRUE(pool_of(*acquisition).fill_next(frames.copy()));
        }
    }
    uint64_t fired() { return u64_info(event(), EVENT_NUM_FIRED); }
    uint64_t in_queue() { return size_info(event(), EVENT_NUM_IN_QUEUE); }

    FakeFrames frames;
};

// Calls on an unregistered event never reach it: its handle is stale for every export
// (HandleValidationTest.AHandleWhoseObjectWentIsStaleForEveryExportAndANewObjectGetsANewHandle).
TEST_F(NewBufferEventTest, DataHandsOutTheOldestFilledBufferInfoCountsSinceRegistrationAndDataInfoDescribesIt)
{
    const auto handles = queue_buffers(5);
    fill(2);
    EXPECT_ERROR(event().unregister_event(), GC_ERR_NOT_INITIALIZED, "BaseEvent::unregister_event",
                 "This event has not been registered.");
    ASSERT_EQ(event().register_event(), GC_ERR_SUCCESS);
    EXPECT_ERROR(event().register_event(), GC_ERR_RESOURCE_IN_USE, "BaseEvent::register_event",
                 "This event has already been registered.");
    EXPECT_EQ(info_value<int32_t>(event(), EVENT_EVENT_TYPE, INFO_DATATYPE_INT32), EVENT_NEW_BUFFER);
    EXPECT_EQ(size_info(event(), EVENT_SIZE_MAX), 16u);
    EXPECT_EQ(size_info(event(), EVENT_INFO_DATA_SIZE_MAX), 8u);
    EXPECT_EQ(in_queue(), 2u);
    EXPECT_EQ(fired(), 0u);  // buffers filled before registration are not counted
    fill(2);
    EXPECT_EQ(in_queue(), 4u);
    EXPECT_EQ(fired(), 2u);

    EVENT_NEW_BUFFER_DATA record{};
    size_t size = 15;
    EXPECT_EQ(event().data(&record, &size, 0), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 16u);
    expect_record("GC_ERR_BUFFER_TOO_SMALL", "VNNewBufferEvent.cpp", "VNNewBufferEvent::data",
                  "Invalid read parameters for the event data.");
    EXPECT_ERROR(event().data(&record, nullptr, 0), GC_ERR_INVALID_PARAMETER, "VNNewBufferEvent::data",
                 "Invalid read parameters for the event data.");
    size = 0;
    EXPECT_EQ(event().data(nullptr, &size, 0), GC_ERR_SUCCESS);  // a size query takes no buffer
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(in_queue(), 4u);

    for (size_t i = 0; i < 2; ++i) {
        size = sizeof record;
        ASSERT_EQ(event().data(&record, &size, 0), GC_ERR_SUCCESS);
        EXPECT_EQ(record.BufferHandle, vngtl::to_handle(handles[i]));
        EXPECT_EQ(record.pUserPointer, reinterpret_cast<void*>(1000 + i));
        EXPECT_EQ(handles[i]->state(), vngtl::BufferState::Announced);
    }
    EXPECT_EQ(in_queue(), 2u);
    EXPECT_EQ(fired(), 2u);  // delivering changes nothing
    EXPECT_EQ(pool_of(*acquisition).delivered_count(), 2u);
    EXPECT_EQ(event().flush(), GC_ERR_SUCCESS);
    EXPECT_EQ(in_queue(), 0u);
    EXPECT_EQ(fired(), 2u);  // nor does discarding
    EXPECT_EQ(pool_of(*acquisition).output_discarded_count(), 2u);
    EXPECT_ERROR(event().data(&record, &size, 0), GC_ERR_TIMEOUT, "BufferPool::dequeue_latest",
                 "Timed out waiting for a buffer to become available on the output queue.");
    fill(1);
    EXPECT_EQ(fired(), 3u);

    // Registering again restarts the count.
    ASSERT_EQ(event().unregister_event(), GC_ERR_SUCCESS);
    EXPECT_FALSE(event().is_registered());
    ASSERT_EQ(event().register_event(), GC_ERR_SUCCESS);
    EXPECT_EQ(fired(), 0u);
    EXPECT_EQ(in_queue(), 1u);

    // The data info of the last filled buffer: its handle, its user pointer and its ID, its address's rank.
    size = sizeof record;
    ASSERT_EQ(event().data(&record, &size, 0), GC_ERR_SUCCESS);
    BufferHandle* const last = handles[4];
    ASSERT_EQ(record.BufferHandle, vngtl::to_handle(last));
    const auto rank = static_cast<uint64_t>(
        std::count_if(handles.begin(), handles.end(), [&](BufferHandle* other) { return std::less<>()(other, last); }));

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
    EXPECT_EQ(value, rank);

    EXPECT_ERROR(event().data_info(nullptr, sizeof record, EVENT_DATA_ID, &type, &value, &value_size),
                 GC_ERR_INVALID_HANDLE, "VNNewBufferEvent::data_info",
                 "Null input buffer.");
    EXPECT_ERROR(event().data_info(&record, 15, EVENT_DATA_ID, &type, &value, &value_size), GC_ERR_INVALID_HANDLE,
                 "VNNewBufferEvent::data_info",
                 "The input buffer size is incorrect; sizeof(EVENT_NEW_BUFFER_DATA) == 16.");
    EXPECT_ERROR(event().data_info(&record, sizeof record, 7, &type, &value, &value_size), GC_ERR_NOT_IMPLEMENTED,
                 "VNNewBufferEvent::data_info", "Unknown EVENT_DATA_INFO_CMD with ID = 7.");
    value_size = 7;
    EXPECT_EQ(event().data_info(&record, sizeof record, EVENT_DATA_VALUE, &type, &value, &value_size),
              GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(value_size, 8u);
    expect_record("GC_ERR_BUFFER_TOO_SMALL", "VNNewBufferEvent.cpp", "VNNewBufferEvent::data_info",
                  "Error setting the EVENT_NEW_BUFFER_DATA::EVENT_DATA_VALUE info command return buffer data.");
    EXPECT_ERROR(event().data_info(&record, sizeof record, EVENT_DATA_NUMID, nullptr, &value, &value_size),
                 GC_ERR_INVALID_PARAMETER, "VNNewBufferEvent::data_info",
                 "Error setting the EVENT_NEW_BUFFER_DATA::EVENT_DATA_NUMID info command return buffer data.");

    // After the buffer is revoked its ID cannot be found.
    ASSERT_EQ(pool_of(*acquisition).revoke_buffer(last, nullptr, nullptr), GC_ERR_SUCCESS);
    value_size = sizeof value;
    EXPECT_ERROR(event().data_info(&record, sizeof record, EVENT_DATA_NUMID, &type, &value, &value_size),
                 GC_ERR_INVALID_HANDLE, "BufferPool::buffer_id",
                 "The buffer handle was not announced to this buffer pool.");
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

// No stream is without a board, so only here: the gate lets the buffer calls through (an announcement fails
// to configure a board) and refuses a start without running it.
TEST_F(NewBufferEventTest, WithoutABoardTheEngineReportsNoBoard)
{
    EXPECT_EQ(acquisition->status(), VNAcquisition::NoBoard);
    EXPECT_EQ(acquisition->start(GENTL_INFINITE), VNAcquisition::NoBoard);
    EXPECT_EQ(acquisition->make_ready(4, {}), VNAcquisition::NotConfigured);
    EXPECT_EQ(acquisition->payload_size(), 0u);
    EXPECT_FALSE(acquisition->roi_matches({}));

    std::shared_ptr<vngtl::PoolBuffer> buffer;
    const auto announced = acquisition->transition(vngtl::StreamCall::AllocAndAnnounceBuffer, "data-stream \"engine\"",
                                                   [&] { return acquisition->announce(64, nullptr, &buffer); });
    EXPECT_EQ(announced.code, GC_ERR_ACCESS_DENIED) << last_error();
    EXPECT_TRUE(announced.refusal.empty()) << announced.refusal;
    const auto queued = acquisition->transition(vngtl::StreamCall::QueueBuffer, "data-stream \"engine\"",
                                                [&] { return acquisition->queue(buffer.get()); });
    EXPECT_EQ(queued.code, GC_ERR_SUCCESS) << last_error();
    bool worked = false;
    const auto started = acquisition->transition(vngtl::StreamCall::StartAcquisition, "data-stream \"engine\"", [&] {
        worked = true;
        return acquisition->start_acquisition(GENTL_INFINITE);
    });
    EXPECT_EQ(started.code, GC_ERR_ERROR);
    EXPECT_FALSE(worked);
    EXPECT_NE(started.refusal.find("data-stream \"engine\""), std::string::npos) << started.refusal;
    EXPECT_EQ(acquisition->status(), VNAcquisition::NoBoard);
}
