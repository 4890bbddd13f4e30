// Buffers and the buffer pool without a board: frames are handed to fill_next by a stand-in for the
// acquisition's copy_frame.
#include "AcquisitionFixture.h"

#include "acquisition/FrameCopier.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <future>
#include <map>
#include <memory>
#include <numeric>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

using vngtl::BufferHandle;
using vngtl::BufferPool;
using vngtl::BufferState;
using VNBoards::BoardKind;

namespace {

// Frames of `size` bytes whose bytes are (frame id + offset) mod 256.
struct FakeFrames {
    size_t size = 64;
    uint32_t bits = 8;
    BoardKind kind = BoardKind::CoaXPress;
    uint64_t next_id = 1;
    std::vector<uint64_t> copied;
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
            copied.push_back(id);
            return buffer.fill(view_of(bytes, id), *copier);
        };
    }

    // A view of `bytes` as frame `id`, 8 pixels wide at offset (3, 4).
    VNBoards::FrameView view_of(const std::vector<uint8_t>& bytes, uint64_t id) const
    {
        VNBoards::FrameView view;
        view.kind = kind;
        view.data = bytes.data();
        view.size = bytes.size();
        view.bit_depth = bits;
        view.roi = {3, 4, 8, static_cast<uint32_t>(size / 8)};
        view.frame_id = id;
        view.timestamp = id * 10;
        view.timestamp_ns = id * 1000;
        return view;
    }
};

// The buffers as the pool's inventory lists them.
std::vector<vngtl::PoolBuffer*> pool_buffers(const std::vector<BufferHandle*>& handles)
{
    return std::vector<vngtl::PoolBuffer*>(handles.begin(), handles.end());
}

}  // namespace

class BufferPoolTest : public EngineTest {
protected:
    BufferPool pool{BufferHandle::factory()};
    std::atomic<uint32_t> kill{0};

    BufferHandle* announce_external(void* data, size_t size, void* user = nullptr)
    {
        BufferHandle* handle = nullptr;
        EXPECT_EQ(pool.announce_buffer(AsHandle{&handle}, data, size, user), GC_ERR_SUCCESS);
        return handle;
    }
    BufferHandle* announce_allocated(size_t size, void* user = nullptr)
    {
        BufferHandle* handle = nullptr;
        EXPECT_EQ(pool.announce_buffer(AsHandle{&handle}, size, user), GC_ERR_SUCCESS);
        return handle;
    }
    BufferHandle* dequeue(uint64_t timeout_ms = 0)
    {
        BufferHandle* handle = nullptr;
        EXPECT_EQ(pool.dequeue_latest(AsHandle{&handle}, timeout_ms, kill), GC_ERR_SUCCESS);
        return handle;
    }
};

TEST_F(BufferPoolTest, AnnouncingChecksItsArgumentsAndRefusesAnAddressTwice)
{
    std::array<uint8_t, 32> memory{};
    BufferHandle* handle = nullptr;
    EXPECT_EQ(pool.announce_buffer(nullptr, memory.data(), memory.size(), nullptr), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "BufferPool.cpp", "BufferPool::announce_buffer",
                  "The return buffer handle is null.");
    EXPECT_EQ(pool.announce_buffer(AsHandle{&handle}, nullptr, 32, nullptr), GC_ERR_INVALID_PARAMETER);
    expect_record("GC_ERR_INVALID_PARAMETER", "BufferPool.cpp", "BufferPool::announce_buffer",
                  "The external buffer data pointer is null.");
    EXPECT_EQ(pool.announce_buffer(nullptr, 16, nullptr), GC_ERR_INVALID_HANDLE);

    int user = 7;
    BufferHandle* first = announce_external(memory.data(), memory.size(), &user);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(pool.announce_buffer(AsHandle{&handle}, memory.data(), 8, nullptr), GC_ERR_RESOURCE_IN_USE);
    expect_record("GC_ERR_RESOURCE_IN_USE", "BufferPool.cpp", "BufferPool::announce_buffer",
                  "The data pointer was already announced with an extant buffer.");
    EXPECT_EQ(pool.announced_count(), 1u);

    EXPECT_EQ(first->state(), BufferState::Announced);
    EXPECT_EQ(info_value<uint64_t>(*first, BUFFER_INFO_BASE, INFO_DATATYPE_PTR),
              reinterpret_cast<uintptr_t>(memory.data()));
    EXPECT_EQ(size_info(*first, BUFFER_INFO_SIZE), memory.size());
    EXPECT_EQ(info_value<uint64_t>(*first, BUFFER_INFO_USER_PTR, INFO_DATATYPE_PTR), reinterpret_cast<uintptr_t>(&user));
    EXPECT_EQ(string_info(*first, BUFFER_INFO_TLTYPE), "Custom");
    EXPECT_EQ(size_info(*first, BUFFER_INFO_PAYLOADTYPE), uint64_t{PAYLOAD_TYPE_IMAGE});
    EXPECT_EQ(u64_info(*first, BUFFER_INFO_PIXELFORMAT_NAMESPACE), uint64_t{PIXELFORMAT_NAMESPACE_PFNC_32BIT});
    EXPECT_EQ(info_value<int32_t>(*first, BUFFER_INFO_PIXEL_ENDIANNESS, INFO_DATATYPE_INT32), PIXELENDIANNESS_BIG);
    EXPECT_EQ(size_info(*first, BUFFER_INFO_HEIGHT), 1u);
    EXPECT_EQ(info_value<uint32_t>(*first, BUFFER_INFO_CUSTOM_ID, INFO_DATATYPE_UINT32), 8u);
    EXPECT_FALSE(bool_info(*first, BUFFER_INFO_IMAGEPRESENT));

    // The data can be read as one register over the buffer's memory.
    memory[5] = 0xA5;
    std::array<uint8_t, 4> word{};
    EXPECT_EQ(first->info_map().read(BufferHandle::data_register_address + 4, word.data(), word.size()), GC_ERR_SUCCESS);
    EXPECT_EQ(word[1], 0xA5);

    BufferHandle* allocated = announce_allocated(100);
    ASSERT_NE(allocated, nullptr);
    EXPECT_NE(allocated->data(), nullptr);
    EXPECT_EQ(size_info(*allocated, BUFFER_INFO_SIZE), 100u);
    EXPECT_EQ(pool.announced_count(), 2u);
}

TEST_F(BufferPoolTest, AFailedAllocationIsRecordedAndNothingIsAnnounced)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' allocators stop the process on an impossible allocation";
#else
    BufferHandle* handle = nullptr;
    EXPECT_EQ(pool.announce_buffer(AsHandle{&handle}, size_t{1} << 62, nullptr), GC_ERR_OUT_OF_MEMORY);
    const std::string record = last_error();
    EXPECT_NE(record.find("BufferHandle::BufferHandle: Unable to allocate memory for the buffer: "), std::string::npos)
        << record;
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(pool.announced_count(), 0u);
#endif
}

TEST_F(BufferPoolTest, QueueingAndRevokingFollowTheBufferState)
{
    std::array<uint8_t, 64> memory{};
    int user = 0;
    BufferHandle* handle = announce_external(memory.data(), memory.size(), &user);

    EXPECT_EQ(pool.queue_to_input(nullptr), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "BufferPool.cpp", "BufferPool::queue_to_input", "The buffer handle is null.");
    BufferPool other{BufferHandle::factory()};
    EXPECT_EQ(other.queue_to_input(handle), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "BufferPool.cpp", "BufferPool::queue_to_input",
                  "The buffer handle was not announced in this buffer pool.");

    EXPECT_EQ(pool.queue_to_input(handle), GC_ERR_SUCCESS);
    EXPECT_TRUE(bool_info(*handle, BUFFER_INFO_IS_QUEUED));
    EXPECT_FALSE(bool_info(*handle, BUFFER_INFO_IS_ACQUIRING));
    EXPECT_EQ(pool.queue_to_input(handle), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "BufferPool.cpp", "BufferPool::queue_to_input",
                  "The specified buffer is in a queue, and must be removed from the queue before requeue.");
    EXPECT_EQ(pool.queued_count(), 1u);

    // Queued: cannot be revoked.
    EXPECT_EQ(pool.revoke_buffer(handle, nullptr, nullptr), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "BufferPool.cpp", "BufferPool::revoke_buffer",
                  "The specified buffer is in a queue, and so cannot be revoked.");

    // Filled: cannot be revoked either, until the output queue is discarded.
    FakeFrames frames;
    ASSERT_TRUE(pool.fill_next(frames.copy()));
    EXPECT_EQ(handle->state(), BufferState::Filled);
    EXPECT_TRUE(bool_info(*handle, BUFFER_INFO_IS_QUEUED));
    EXPECT_EQ(pool.revoke_buffer(handle, nullptr, nullptr), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(pool.flush_output_discard(), GC_ERR_SUCCESS);
    EXPECT_EQ(handle->state(), BufferState::Announced);
    EXPECT_FALSE(bool_info(*handle, BUFFER_INFO_IS_QUEUED));

    void* data = nullptr;
    void* user_out = nullptr;
    EXPECT_EQ(pool.revoke_buffer(nullptr, &data, &user_out), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "BufferPool.cpp", "BufferPool::revoke_buffer", "The buffer handle is null.");
    EXPECT_EQ(pool.revoke_buffer(handle, &data, &user_out), GC_ERR_SUCCESS);
    EXPECT_EQ(data, memory.data());
    EXPECT_EQ(user_out, &user);
    EXPECT_EQ(pool.announced_count(), 0u);
    // Revoked (and gone): a second revoke finds no such buffer.
    EXPECT_EQ(pool.revoke_buffer(handle, nullptr, nullptr), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "BufferPool.cpp", "BufferPool::revoke_buffer",
                  "The buffer handle was not announced in this buffer pool.");

    // Memory the library allocated is not handed back as the consumer's.
    BufferHandle* allocated = announce_allocated(16, &user);
    data = &user;
    EXPECT_EQ(pool.revoke_buffer(allocated, &data, nullptr), GC_ERR_SUCCESS);
    EXPECT_EQ(data, nullptr);
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
    EXPECT_EQ(pool.buffer_id(by_address[2], &id), GC_ERR_SUCCESS);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(pool.buffer_id(by_address[3], &id), GC_ERR_SUCCESS);
    EXPECT_EQ(id, 2u);

    BufferHandle* handle = nullptr;
    EXPECT_EQ(pool.buffer_from_id(3, AsHandle{&handle}), GC_ERR_INVALID_INDEX);
    expect_record("GC_ERR_INVALID_INDEX", "BufferPool.cpp", "BufferPool::buffer_from_id",
                  "The buffer ID (3) exceeds the announced buffer count (3).");
    EXPECT_EQ(pool.buffer_from_id(0, nullptr), GC_ERR_INVALID_PARAMETER);
    expect_record("GC_ERR_INVALID_PARAMETER", "BufferPool.cpp", "BufferPool::buffer_from_id",
                  "The buffer handle is null.");
    EXPECT_EQ(pool.buffer_id(by_address[0], nullptr), GC_ERR_INVALID_PARAMETER);
    expect_record("GC_ERR_INVALID_PARAMETER", "BufferPool.cpp", "BufferPool::buffer_id", "The ID pointer is null.");
    EXPECT_EQ(pool.buffer_id(nullptr, &id), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "BufferPool.cpp", "BufferPool::buffer_id", "The buffer handle is null.");
    EXPECT_EQ(pool.buffer_id(by_address[1], &id), GC_ERR_INVALID_HANDLE);
    expect_record("GC_ERR_INVALID_HANDLE", "BufferPool.cpp", "BufferPool::buffer_id",
                  "The buffer handle was not announced to this buffer pool.");
}

TEST_F(BufferPoolTest, BuffersAreDeliveredInTheOrderTheyWereFilledWithTheirFrame)
{
    std::vector<BufferHandle*> handles;
    for (int i = 0; i < 3; ++i) {
        handles.push_back(announce_allocated(64));
    }
    for (auto* handle : handles) {
        ASSERT_EQ(pool.queue_to_input(handle), GC_ERR_SUCCESS);
    }
    FakeFrames frames;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(pool.fill_next(frames.copy()));
    }
    EXPECT_EQ(pool.output_count(), 3u);
    EXPECT_EQ(pool.queued_count(), 0u);
    EXPECT_EQ(pool.filled_total(), 3u);

    for (uint64_t id = 1; id <= 3; ++id) {
        BufferHandle* handle = dequeue();
        ASSERT_EQ(handle, handles[id - 1]);
        EXPECT_EQ(handle->state(), BufferState::Announced);
        EXPECT_EQ(u64_info(*handle, BUFFER_INFO_FRAMEID), id);
        EXPECT_EQ(u64_info(*handle, BUFFER_INFO_TIMESTAMP), id * 10);
        EXPECT_EQ(u64_info(*handle, BUFFER_INFO_TIMESTAMP_NS), id * 1000);
        const auto expected = frames.frame(id);
        EXPECT_EQ(std::memcmp(handle->data(), expected.data(), expected.size()), 0);
        EXPECT_EQ(size_info(*handle, BUFFER_INFO_SIZE_FILLED), 64u);
        EXPECT_EQ(size_info(*handle, BUFFER_INFO_WIDTH), 8u);
        EXPECT_EQ(size_info(*handle, BUFFER_INFO_HEIGHT), 8u);
        EXPECT_EQ(size_info(*handle, BUFFER_INFO_DELIVERED_IMAGEHEIGHT), 8u);
        EXPECT_EQ(size_info(*handle, BUFFER_INFO_XOFFSET), 3u);
        EXPECT_EQ(size_info(*handle, BUFFER_INFO_YOFFSET), 4u);
        EXPECT_EQ(u64_info(*handle, BUFFER_INFO_PIXELFORMAT), 0x01080001u);
        EXPECT_EQ(string_info(*handle, BUFFER_INFO_TLTYPE), "CXP");
        EXPECT_TRUE(bool_info(*handle, BUFFER_INFO_IMAGEPRESENT));
        EXPECT_FALSE(bool_info(*handle, BUFFER_INFO_DATA_LARGER_THAN_BUFFER));
    }
    EXPECT_EQ(pool.delivered_count(), 3u);

    // Queueing again resets the filled size.
    ASSERT_EQ(pool.queue_to_input(handles[0]), GC_ERR_SUCCESS);
    EXPECT_EQ(size_info(*handles[0], BUFFER_INFO_SIZE_FILLED), 0u);
    EXPECT_EQ(size_info(*handles[0], BUFFER_INFO_DATA_SIZE), 0u);
}

TEST_F(BufferPoolTest, ABufferSmallerThanTheFrameGetsTheFirstPart)
{
    std::array<uint8_t, 48> small{};
    std::array<uint8_t, 100> large{};
    BufferHandle* little = announce_external(small.data(), small.size());
    BufferHandle* big = announce_external(large.data(), large.size());
    ASSERT_EQ(pool.queue_to_input(little), GC_ERR_SUCCESS);
    ASSERT_EQ(pool.queue_to_input(big), GC_ERR_SUCCESS);
    FakeFrames frames;
    frames.size = 80;
    ASSERT_TRUE(pool.fill_next(frames.copy()));
    ASSERT_TRUE(pool.fill_next(frames.copy()));

    ASSERT_EQ(dequeue(), little);
    EXPECT_EQ(size_info(*little, BUFFER_INFO_SIZE_FILLED), small.size());
    EXPECT_TRUE(bool_info(*little, BUFFER_INFO_DATA_LARGER_THAN_BUFFER));
    EXPECT_EQ(std::memcmp(small.data(), frames.frame(1).data(), small.size()), 0);

    ASSERT_EQ(dequeue(), big);
    EXPECT_EQ(size_info(*big, BUFFER_INFO_SIZE_FILLED), 80u);
    EXPECT_FALSE(bool_info(*big, BUFFER_INFO_DATA_LARGER_THAN_BUFFER));
    EXPECT_EQ(std::memcmp(large.data(), frames.frame(2).data(), 80), 0);
    EXPECT_EQ(large[80], 0);  // nothing beyond the frame is written
}

TEST_F(BufferPoolTest, FillMapsTheBitDepthToAPixelFormatAndRefusesABufferNotQueued)
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
        EXPECT_EQ(BufferHandle::pixel_format(bits), format);
        EXPECT_EQ(string_info(*handle, BUFFER_INFO_TLTYPE), "CL");
    }
    EXPECT_EQ(handle->register_event(EVENT_NEW_BUFFER, nullptr), GC_ERR_NOT_IMPLEMENTED);
    expect_record("GC_ERR_NOT_IMPLEMENTED", "BufferHandle.cpp", "BufferHandle::register_event",
                  "No buffer events are currently implemented.");
}

TEST_F(BufferPoolTest, AFailedCopyPutsTheBufferBackAtTheEndOfTheInputQueue)
{
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
    EXPECT_EQ(inventory.input, pool_buffers({second, first}));
    EXPECT_EQ(first->state(), BufferState::Queued);
    EXPECT_EQ(pool.filled_total(), 0u);
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

// A row is shown by its name.
static void PrintTo(const FlushRow& row, std::ostream* os)
{
    *os << row.name;
}

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
        for (const char name : letters.substr(0, split)) {
            queue.push_back(buffers.at(name));
        }
        std::vector<vngtl::PoolBuffer*> by_address;
        for (const char name : letters.substr(std::min(split + 1, letters.size()))) {
            by_address.push_back(buffers.at(name));
        }
        std::sort(by_address.begin(), by_address.end(), std::less<vngtl::PoolBuffer*>());
        queue.insert(queue.end(), by_address.begin(), by_address.end());
        return queue;
    }
};

TEST_P(BufferPoolFlushTest, LeavesEveryBufferWhereTheFlushPutsIt)
{
    const FlushRow& row = GetParam();
    for (const auto flush : row.flushes) {
        EXPECT_EQ((pool.*flush)(), GC_ERR_SUCCESS) << row.name;
    }
    const auto inventory = pool.inventory();
    EXPECT_EQ(inventory.input, queue_of(row.input)) << row.name;
    EXPECT_EQ(inventory.output, queue_of(row.output)) << row.name;
    const std::map<char, BufferState> states = {
        {'A', BufferState::Announced}, {'Q', BufferState::Queued}, {'F', BufferState::Filled}};
    for (size_t i = 0; i < row.states.size(); ++i) {
        EXPECT_EQ(buffers.at(static_cast<char>('a' + i))->state(), states.at(row.states[i]))
            << row.name << ": buffer " << static_cast<char>('A' + i);
    }
    for (const char name : row.emptied) {
        EXPECT_EQ(size_info(*buffers.at(name), BUFFER_INFO_SIZE_FILLED), 0u) << row.name << ": buffer " << name;
    }
    EXPECT_EQ(pool.input_flushed_total(), row.input_flushed) << row.name;
    EXPECT_EQ(pool.filled_total(), row.filled) << row.name;
    EXPECT_EQ(pool.output_discarded_count(), row.discarded) << row.name;
    EXPECT_EQ(pool.queued_total(), row.queued_total) << row.name;
    EXPECT_EQ(pool.queued_count(), row.queued) << row.name;
    EXPECT_EQ(pool.output_count(), row.in_output) << row.name;
    EXPECT_EQ(pool.delivered_count(), 0u) << row.name;
    // A buffer handed back to the consumer can be revoked.
    for (size_t i = 0; i < row.states.size(); ++i) {
        if (row.states[i] == 'A') {
            EXPECT_EQ(pool.revoke_buffer(buffers.at(static_cast<char>('a' + i)), nullptr, nullptr), GC_ERR_SUCCESS)
                << row.name << ": buffer " << static_cast<char>('A' + i);
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

TEST_F(BufferPoolTest, DequeueTimesOutOrIsKilled)
{
    BufferHandle* handle = nullptr;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(pool.dequeue_latest(AsHandle{&handle}, 0, kill), GC_ERR_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
    expect_record("GC_ERR_TIMEOUT", "BufferPool.cpp", "BufferPool::dequeue_latest",
                  "Timed out waiting for a buffer to become available on the output queue.");

    // A kill set before the call ends it at once, and is used up.
    kill = 1;
    EXPECT_EQ(pool.dequeue_latest(AsHandle{&handle}, GENTL_INFINITE, kill), GC_ERR_ABORT);
    expect_record("GC_ERR_ABORT", "BufferPool.cpp", "BufferPool::dequeue_latest", "Buffer dequeue was killed.");
    EXPECT_EQ(kill.load(), 0u);
    EXPECT_EQ(pool.dequeue_latest(AsHandle{&handle}, 20, kill), GC_ERR_TIMEOUT);

    // A kill during an unlimited wait wakes it.
    auto waiter = std::async(std::launch::async, [this] {
        BufferHandle* taken = nullptr;
        const GC_ERROR result = pool.dequeue_latest(AsHandle{&taken}, GENTL_INFINITE, kill);
        return std::make_pair(result, last_error());
    });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    kill = 1;
    pool.wake_output_waiters();
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const auto [result, record] = waiter.get();
    EXPECT_EQ(result, GC_ERR_ABORT);
    EXPECT_NE(record.find("BufferPool::dequeue_latest: Buffer dequeue was killed."), std::string::npos) << record;
}

TEST_F(BufferPoolTest, AWaitingDequeueReturnsTheBufferFilledMeanwhile)
{
    BufferHandle* handle = announce_allocated(64);
    auto waiter = std::async(std::launch::async, [this] {
        BufferHandle* taken = nullptr;
        EXPECT_EQ(pool.dequeue_latest(AsHandle{&taken}, 5000, kill), GC_ERR_SUCCESS);
        return taken;
    });
    ASSERT_EQ(pool.queue_to_input(handle), GC_ERR_SUCCESS);
    FakeFrames frames;
    ASSERT_TRUE(pool.fill_next(frames.copy()));
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), handle);
}

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
