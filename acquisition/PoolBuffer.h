// A buffer as the acquisition engine sees it: memory to copy frames into, with the place it has in the
// stream's queues. The pool moves it between its queues and the copy thread fills it; what it stands for
// towards the consumer (its handle, port and info values) belongs to the module that makes it.
//
// Ownership: the pool owns every buffer (shared) from announcement to revocation; see BufferPool.
//
// Thread safety: the state is atomic. The data is written by the copy thread while the buffer is Filling.
// What a fill found (the FillRecord) is written only under the buffer's own fill-record mutex, a leaf lock,
// by the copy thread once its copy is known to be whole and by the pool on queueing; the buffer's info
// values read it under the same mutex, so any thread may ask for them at any time.
#pragma once

#include "board/BoardTypes.h"
#include "board/FrameView.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace vngtl {

class FrameCopier;

enum class BufferState : uint32_t {
    Revoked = 0,    // revoked, or its allocation failed
    Announced = 1,  // held by the consumer, in no queue
    Queued = 2,     // in the input queue
    Filling = 3,    // being filled by the copy thread
    Filled = 4,     // in the output queue
};

// What the last fill of a buffer found out about its frame, as the buffer's info values report it.
struct FillRecord {
    VNBoards::BoardKind kind = VNBoards::BoardKind::Custom;
    uint64_t size_filled = 0;  // also 0 again when the buffer is queued
    uint64_t pixel_format = 0;
    uint64_t width = 0;
    uint64_t height = 1;
    uint64_t x_offset = 0;
    uint64_t y_offset = 0;
    uint64_t frame_id = 0;
    uint64_t timestamp = 0;
    uint64_t timestamp_ns = 0;
    // The host's steady clock (ns) when the acquisition thread took the frame from the board and when its
    // copy into this buffer was whole; the benchmark times each hop of a frame with them.
    uint64_t received_ns = 0;
    uint64_t copied_ns = 0;
    uint64_t delivered_image_height = 0;
    bool image_present = false;
    bool data_larger_than_buffer = false;
};

class PoolBuffer {
public:
    virtual ~PoolBuffer();
    PoolBuffer(const PoolBuffer&) = delete;
    PoolBuffer& operator=(const PoolBuffer&) = delete;

    BufferState state() const noexcept { return state_.load(); }
    void set_state(BufferState state) noexcept { state_.store(state); }
    // Whether the buffer is in one of the pool's queues or being filled.
    bool in_queue() const noexcept;

    void* data() const noexcept { return data_; }
    size_t size() const noexcept { return size_; }
    void* user_pointer() const noexcept { return user_pointer_; }
    // True when the data block belongs to the buffer rather than to the consumer.
    bool owns_data() const noexcept { return !external_; }

    // Copies what fits of `frame` into the buffer with `copier` and records what describes it; only a Queued
    // buffer is filled, going through Filling to Filled. `intact`, when given, is asked after the copy
    // whether the frame was still whole in the board's buffer when the copy ended: when it answers false
    // the copy is dropped, nothing is recorded and the buffer is Queued again. False when the buffer
    // refused the frame or the copy was dropped.
    bool fill(const VNBoards::FrameView& frame, FrameCopier& copier, const std::function<bool()>& intact = {});
    // What the last fill recorded; any thread.
    FillRecord fill_record() const;
    // What queueing resets (the size a fill set).
    void reset_fill_sizes();
    // The handle the consumer knows the buffer by; compared, never followed.
    virtual const void* consumer_handle() const noexcept = 0;

    // The pixel format (PFNC) the board's bits per pixel stand for; 0x80000000 for a depth without one.
    static uint64_t pixel_format(uint32_t bit_depth) noexcept;

protected:
    // A buffer on the consumer's memory.
    PoolBuffer(void* data, size_t size, void* user_pointer) noexcept;
    // A buffer on memory allocated here; when the allocation fails the buffer is Revoked with no data, and
    // allocation_failure() says why (the maker records it).
    PoolBuffer(size_t size, void* user_pointer);
    const std::string& allocation_failure() const noexcept { return allocation_failure_; }

private:
    // The fill's state change: only a Queued buffer is filled. False (nothing changed) otherwise.
    bool begin_fill() noexcept;
    void end_fill() noexcept;
    // A dropped copy: Filling -> Queued.
    void abandon_fill() noexcept;

    std::atomic<BufferState> state_{BufferState::Announced};
    std::unique_ptr<uint8_t[]> owned_;
    bool external_ = true;
    void* data_ = nullptr;
    size_t size_ = 0;
    void* user_pointer_ = nullptr;
    std::string allocation_failure_;
    mutable std::mutex record_mutex_;
    FillRecord record_;  // guarded by record_mutex_
};

// Makes the buffers of one stream: on the consumer's memory (`data` given) or allocated (`data` null).
using BufferFactory = std::function<std::shared_ptr<PoolBuffer>(void* data, size_t size, void* user_pointer)>;

}  // namespace vngtl
