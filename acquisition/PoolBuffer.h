// A buffer as the acquisition engine sees it: memory to copy frames into, with the place it has in the
// stream's queues. The pool moves it between its queues and the copy thread fills it; what it stands for
// towards the consumer (its handle, port and info values) belongs to the module that makes it.
//
// Ownership: the pool owns every buffer (shared) from announcement to revocation; see BufferPool.
//
// Thread safety: the state is atomic. The data and the frame values are written by the copy thread while
// the buffer is Filling, and by the pool (under its pool lock) on queueing.
#pragma once

#include "board/FrameView.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
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

    // Copies what fits of `frame` into the buffer with `copier` and describes the frame; only a Queued buffer
    // is filled, going through Filling to Filled. False when the buffer refused the frame.
    virtual bool fill(const VNBoards::FrameView& frame, FrameCopier& copier) = 0;
    // What queueing resets (the sizes a fill set).
    virtual void reset_fill_sizes() = 0;
    // The handle the consumer knows the buffer by; compared, never followed.
    virtual const void* consumer_handle() const noexcept = 0;

protected:
    // A buffer on the consumer's memory.
    PoolBuffer(void* data, size_t size, void* user_pointer) noexcept;
    // A buffer on memory allocated here; when the allocation fails the buffer is Revoked with no data, and
    // allocation_failure() says why (the maker records it).
    PoolBuffer(size_t size, void* user_pointer);
    const std::string& allocation_failure() const noexcept { return allocation_failure_; }

    // The fill's state change: only a Queued buffer is filled. False (nothing changed) otherwise.
    bool begin_fill() noexcept;
    void end_fill() noexcept;

private:
    std::atomic<BufferState> state_{BufferState::Announced};
    std::unique_ptr<uint8_t[]> owned_;
    bool external_ = true;
    void* data_ = nullptr;
    size_t size_ = 0;
    void* user_pointer_ = nullptr;
    std::string allocation_failure_;
};

// Makes the buffers of one stream: on the consumer's memory (`data` given) or allocated (`data` null).
using BufferFactory = std::function<std::shared_ptr<PoolBuffer>(void* data, size_t size, void* user_pointer)>;

}  // namespace vngtl
