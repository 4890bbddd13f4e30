#include "acquisition/BufferPool.h"

#include "core/ErrorReport.h"

#include <chrono>
#include <optional>
#include <utility>
#include <string>

namespace vngtl {

using namespace GenTL;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto fill_lock_retry = std::chrono::milliseconds(1000);

// Time-outs beyond this (about 30 years) are taken as no limit, so that the deadline cannot overflow.
constexpr uint64_t longest_timeout_ms = uint64_t{1} << 40;

}  // namespace

BufferPool::BufferPool(BufferFactory factory) : factory_(std::move(factory)) {}

BufferPool::~BufferPool() = default;

bool BufferPool::is_announced(const PoolBuffer* handle) const
{
    return announced_.find(handle) != announced_.end();
}

GC_ERROR BufferPool::announce_buffer(PoolBuffer** handle_out, void* data, size_t size, void* user_pointer)
{
    BufferRef buffer;
    const GC_ERROR code = announce_shared(handle_out != nullptr ? &buffer : nullptr, data, size, user_pointer);
    if (code == GC_ERR_SUCCESS) {
        *handle_out = buffer.get();
    }
    return code;
}

GC_ERROR BufferPool::announce_buffer(PoolBuffer** handle_out, size_t size, void* user_pointer)
{
    BufferRef buffer;
    const GC_ERROR code = announce_shared(handle_out != nullptr ? &buffer : nullptr, size, user_pointer);
    if (code == GC_ERR_SUCCESS) {
        *handle_out = buffer.get();
    }
    return code;
}

GC_ERROR BufferPool::announce_shared(BufferRef* handle_out, void* data, size_t size, void* user_pointer)
{
    TimedMutexLock pool_guard(pool_lock_);
    if (handle_out == nullptr) {
        return report_error("BufferPool::announce_buffer", GC_ERR_INVALID_HANDLE, "The return buffer handle is null.");
    }
    if (data == nullptr) {
        return report_error("BufferPool::announce_buffer", GC_ERR_INVALID_PARAMETER,
                            "The external buffer data pointer is null.");
    }
    for (const auto& [key, buffer] : announced_) {
        if (buffer->data() == data) {
            return report_error("BufferPool::announce_buffer", GC_ERR_RESOURCE_IN_USE,
                                "The data pointer was already announced with an extant buffer.");
        }
    }
    auto buffer = factory_(data, size, user_pointer);
    announced_.emplace(buffer.get(), buffer);
    *handle_out = std::move(buffer);
    return GC_ERR_SUCCESS;
}

GC_ERROR BufferPool::announce_shared(BufferRef* handle_out, size_t size, void* user_pointer)
{
    TimedMutexLock pool_guard(pool_lock_);
    if (handle_out == nullptr) {
        return report_error("BufferPool::announce_buffer", GC_ERR_INVALID_HANDLE, "The return buffer handle is null.");
    }
    auto buffer = factory_(nullptr, size, user_pointer);
    if (buffer->data() == nullptr) {
        // The allocation failure was recorded by the buffer.
        return GC_ERR_OUT_OF_MEMORY;
    }
    announced_.emplace(buffer.get(), buffer);
    *handle_out = std::move(buffer);
    return GC_ERR_SUCCESS;
}

GC_ERROR BufferPool::revoke_buffer(PoolBuffer* handle, void** data_out, void** user_pointer_out)
{
    TimedMutexLock pool_guard(pool_lock_);
    if (handle == nullptr) {
        return report_error("BufferPool::revoke_buffer", GC_ERR_INVALID_HANDLE, "The buffer handle is null.");
    }
    const auto found = announced_.find(handle);
    // The state of a buffer that is not announced here is not looked at: it may be gone.
    if (found != announced_.end()) {
        if (handle->state() == BufferState::Revoked) {
            return report_error("BufferPool::revoke_buffer", GC_ERR_INVALID_HANDLE,
                                "The specified buffer has already been revoked.");
        }
        if (handle->in_queue()) {
            return report_error("BufferPool::revoke_buffer", GC_ERR_INVALID_HANDLE,
                                "The specified buffer is in a queue, and so cannot be revoked.");
        }
    } else {
        return report_error("BufferPool::revoke_buffer", GC_ERR_INVALID_HANDLE,
                            "The buffer handle was not announced in this buffer pool.");
    }
    if (data_out != nullptr) {
        *data_out = handle->owns_data() ? nullptr : handle->data();
    }
    if (user_pointer_out != nullptr) {
        *user_pointer_out = handle->user_pointer();
    }
    handle->set_state(BufferState::Revoked);
    // The buffer (and an owned data block) is released outside the lock.
    BufferRef released = std::move(found->second);
    announced_.erase(found);
    pool_guard.unlock();
    return GC_ERR_SUCCESS;
}

void BufferPool::requeue_locked(PoolBuffer& buffer)
{
    buffer.reset_fill_sizes();
    buffer.set_state(BufferState::Queued);
}

GC_ERROR BufferPool::queue_to_input(PoolBuffer* handle)
{
    TimedMutexLock pool_guard(pool_lock_);
    if (handle == nullptr) {
        return report_error("BufferPool::queue_to_input", GC_ERR_INVALID_HANDLE, "The buffer handle is null.");
    }
    const auto found = announced_.find(handle);
    if (found == announced_.end()) {
        return report_error("BufferPool::queue_to_input", GC_ERR_INVALID_HANDLE,
                            "The buffer handle was not announced in this buffer pool.");
    }
    if (handle->state() == BufferState::Revoked) {
        return report_error("BufferPool::queue_to_input", GC_ERR_INVALID_HANDLE,
                            "The specified buffer has been revoked, and so cannot be queued.");
    }
    if (handle->in_queue()) {
        return report_error("BufferPool::queue_to_input", GC_ERR_INVALID_HANDLE,
                            "The specified buffer is in a queue, and must be removed from the queue before requeue.");
    }
    requeue_locked(*handle);
    input_.push_back(found->second);
    queued_total_ += 1;
    pool_guard.unlock();
    // Woken after the pool lock is given up, so that the copy thread (which runs at once when it has the
    // higher priority) does not wait for it again. It looks at the input queue under the pool lock before it
    // waits, so it either saw the buffer or is waiting now.
    input_condition_.notify_all();
    return GC_ERR_SUCCESS;
}

GC_ERROR BufferPool::buffer_id(PoolBuffer* handle, uint64_t* id_out)
{
    TimedMutexLock pool_guard(pool_lock_);
    if (handle == nullptr) {
        return report_error("BufferPool::buffer_id", GC_ERR_INVALID_HANDLE, "The buffer handle is null.");
    }
    if (id_out == nullptr) {
        return report_error("BufferPool::buffer_id", GC_ERR_INVALID_PARAMETER, "The ID pointer is null.");
    }
    const auto found = announced_.find(handle);
    if (found == announced_.end()) {
        return report_error("BufferPool::buffer_id", GC_ERR_INVALID_HANDLE,
                            "The buffer handle was not announced to this buffer pool.");
    }
    *id_out = static_cast<uint64_t>(std::distance(announced_.begin(), found));
    return GC_ERR_SUCCESS;
}

GC_ERROR BufferPool::buffer_id_of_handle(const void* handle, uint64_t* id_out)
{
    TimedMutexLock pool_guard(pool_lock_);
    if (handle == nullptr) {
        return report_error("BufferPool::buffer_id", GC_ERR_INVALID_HANDLE, "The buffer handle is null.");
    }
    if (id_out == nullptr) {
        return report_error("BufferPool::buffer_id", GC_ERR_INVALID_PARAMETER, "The ID pointer is null.");
    }
    uint64_t id = 0;
    for (const auto& [key, buffer] : announced_) {
        if (buffer->consumer_handle() == handle) {
            *id_out = id;
            return GC_ERR_SUCCESS;
        }
        ++id;
    }
    return report_error("BufferPool::buffer_id", GC_ERR_INVALID_HANDLE,
                        "The buffer handle was not announced to this buffer pool.");
}

GC_ERROR BufferPool::buffer_from_id(uint64_t id, PoolBuffer** handle_out)
{
    BufferRef buffer;
    const GC_ERROR code = shared_buffer_from_id(id, handle_out != nullptr ? &buffer : nullptr);
    if (code == GC_ERR_SUCCESS) {
        *handle_out = buffer.get();
    }
    return code;
}

GC_ERROR BufferPool::shared_buffer_from_id(uint64_t id, BufferRef* handle_out)
{
    TimedMutexLock pool_guard(pool_lock_);
    if (handle_out == nullptr) {
        return report_error("BufferPool::buffer_from_id", GC_ERR_INVALID_PARAMETER, "The buffer handle is null.");
    }
    if (id >= announced_.size()) {
        return report_error("BufferPool::buffer_from_id", GC_ERR_INVALID_INDEX,
                            "The buffer ID (" + std::to_string(id) + ") exceeds the announced buffer count (" +
                                std::to_string(announced_.size()) + ").");
    }
    *handle_out = std::next(announced_.begin(), static_cast<std::ptrdiff_t>(id))->second;
    return GC_ERR_SUCCESS;
}

size_t BufferPool::announced_count()
{
    TimedMutexLock pool_guard(pool_lock_);
    return announced_.size();
}

size_t BufferPool::queued_count()
{
    TimedMutexLock pool_guard(pool_lock_);
    return input_.size() + (filling_.load() ? 1 : 0);
}

size_t BufferPool::output_count()
{
    TimedMutexLock pool_guard(pool_lock_);
    return output_.size();
}

GC_ERROR BufferPool::flush_input_to_output()
{
    TimedMutexLock pool_guard(pool_lock_);
    input_flushed_total_ += input_.size();
    filled_total_ += input_.size();
    for (auto& buffer : input_) {
        buffer->set_state(BufferState::Filled);
        output_.push_back(std::move(buffer));
    }
    input_.clear();
    output_condition_.notify_all();
    input_condition_.notify_all();
    return GC_ERR_SUCCESS;
}

GC_ERROR BufferPool::flush_output_discard()
{
    TimedMutexLock pool_guard(pool_lock_);
    output_discarded_ += output_.size();
    for (const auto& buffer : output_) {
        buffer->set_state(BufferState::Announced);
    }
    output_.clear();
    output_condition_.notify_all();
    return GC_ERR_SUCCESS;
}

void BufferPool::wake_copy_thread()
{
    {
        TimedMutexLock pool_guard(pool_lock_);
    }
    input_condition_.notify_all();
}

GC_ERROR BufferPool::flush_all_to_input()
{
    TimedMutexLock fill_guard(fill_lock_, std::defer_lock);
    while (!fill_guard.try_lock_for(fill_lock_retry)) {
        wake_copy_thread();
    }
    TimedMutexLock pool_guard(pool_lock_);
    output_discarded_ += output_.size();
    queued_total_ += announced_.size();
    if (!output_.empty()) {
        output_.clear();
        output_condition_.notify_all();
    }
    input_.clear();
    for (const auto& [key, buffer] : announced_) {
        requeue_locked(*buffer);
        input_.push_back(buffer);
    }
    input_condition_.notify_all();
    return GC_ERR_SUCCESS;
}

GC_ERROR BufferPool::flush_unqueued_to_input()
{
    TimedMutexLock pool_guard(pool_lock_);
    uint64_t moved = 0;
    for (const auto& [key, buffer] : announced_) {
        if (buffer->state() == BufferState::Announced) {
            requeue_locked(*buffer);
            input_.push_back(buffer);
            moved += 1;
        }
    }
    queued_total_ += moved;
    if (moved > 0) {
        input_condition_.notify_all();
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR BufferPool::flush_all_discard()
{
    TimedMutexLock fill_guard(fill_lock_, std::defer_lock);
    while (!fill_guard.try_lock_for(fill_lock_retry)) {
        wake_copy_thread();
    }
    TimedMutexLock pool_guard(pool_lock_);
    output_discarded_ += output_.size();
    input_flushed_total_ += input_.size();
    for (const auto& buffer : output_) {
        buffer->set_state(BufferState::Announced);
    }
    for (const auto& buffer : input_) {
        buffer->set_state(BufferState::Announced);
    }
    output_.clear();
    input_.clear();
    output_condition_.notify_all();
    input_condition_.notify_all();
    return GC_ERR_SUCCESS;
}

bool BufferPool::fill_next(const CopyFrame& copy_frame, std::stop_token stop)
{
    TimedMutexLock fill_guard(fill_lock_);
    TimedMutexLock pool_guard(pool_lock_);
    if (input_.empty()) {
        // Waits with the fill lock (so that flushes can take it meanwhile); the pool lock is given up only once
        // the wait has begun, so a buffer queued under it cannot slip by unnoticed.
        // Both locks are held again, in their order, when the wait returns (or were never given up, when a stop
        // came first). A lock adaptor, which the analysis does not follow.
        struct WaitLock {
            TimedMutexLock& fill;
            TimedMutexLock& pool;
            void lock() NO_THREAD_SAFETY_ANALYSIS
            {
                fill.lock();
                pool.lock();
            }
            void unlock() NO_THREAD_SAFETY_ANALYSIS
            {
                pool.unlock();
                fill.unlock();
            }
        } wait_lock{fill_guard, pool_guard};
        // One wait: the queue is looked at again below whatever woke it.
        bool waited = false;
        input_condition_.wait(wait_lock, stop, [&waited] { return std::exchange(waited, true); });
        if (input_.empty()) {
            return false;
        }
    }
    BufferRef buffer = std::move(input_.front());
    input_.pop_front();
    input_condition_.notify_all();
    filling_ = true;
    pool_guard.unlock();

    const bool filled = copy_frame(*buffer);

    pool_guard.lock();
    filling_ = false;
    if (filled) {
        output_.push_back(std::move(buffer));
        filled_total_ += 1;
    } else {
        input_.push_back(std::move(buffer));
    }
    pool_guard.unlock();
    // Notified after the pool lock is given up, so that the woken consumer does not at once wait for it
    // again. A consumer looks at the output queue under the pool lock before it waits, so it either saw the
    // buffer or is waiting now.
    if (filled) {
        output_condition_.notify_all();
    }
    return filled;
}

GC_ERROR BufferPool::dequeue_latest(std::shared_ptr<PoolBuffer>* buffer_out, uint64_t timeout_ms,
                                    std::atomic<uint32_t>& kill, const WaitEnded& ended)
{
    // Under the pool lock: a kill or an end set before wake_output_waiters took the lock is seen here.
    const auto stopped = [&] { return (ended && ended()) || kill.exchange(0) != 0; };
    std::optional<Clock::time_point> deadline;
    if (timeout_ms != GENTL_INFINITE && timeout_ms <= longest_timeout_ms) {
        deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    }
    TimedMutexLock pool_guard(pool_lock_, std::defer_lock);
    if (deadline) {
        if (!pool_guard.try_lock_until(*deadline)) {
            return report_error("BufferPool::dequeue_latest", GC_ERR_TIMEOUT,
                                "Timed out while attempting to lock the buffer pool.");
        }
    } else {
        pool_guard.lock();
    }
    if (stopped()) {
        return report_error("BufferPool::dequeue_latest", GC_ERR_ABORT, "Buffer dequeue was killed.");
    }
    while (output_.empty()) {
        if (deadline) {
            const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            output_condition_.wait_for(pool_guard, std::max(remaining, std::chrono::milliseconds(0)));
            if (Clock::now() >= *deadline) {
                return report_error("BufferPool::dequeue_latest", GC_ERR_TIMEOUT,
                                    "Timed out waiting for a buffer to become available on the output queue.");
            }
        } else {
            output_condition_.wait(pool_guard);
        }
        if (stopped()) {
            return report_error("BufferPool::dequeue_latest", GC_ERR_ABORT, "Buffer dequeue was killed.");
        }
    }
    BufferRef& front = output_.front();
    if (!front) {
        output_.pop_front();
        return report_error("BufferPool::dequeue_latest", GC_ERR_RESOURCE_EXHAUSTED,
                            "The internal bufer handle has been prematurely deallocated, so the buffer cannot be "
                            "returned.");
    }
    if (front->state() != BufferState::Revoked) {
        front->set_state(BufferState::Announced);
    }
    if (buffer_out != nullptr) {
        *buffer_out = std::move(front);  // the queue's count goes to the caller
    }
    output_.pop_front();
    delivered_ += 1;
    return GC_ERR_SUCCESS;
}

void BufferPool::wake_output_waiters()
{
    // Taking the pool lock first means a waiter is either inside its wait (and is woken) or has not yet
    // looked at its kill flag.
    {
        TimedMutexLock pool_guard(pool_lock_);
    }
    output_condition_.notify_all();
}

BufferPool::Inventory BufferPool::inventory()
{
    TimedMutexLock fill_guard(fill_lock_);
    TimedMutexLock pool_guard(pool_lock_);
    Inventory result;
    for (const auto& [key, buffer] : announced_) {
        result.announced.push_back(buffer.get());
        result.states.push_back(buffer->state());
    }
    for (const auto& buffer : input_) {
        result.input.push_back(buffer.get());
    }
    for (const auto& buffer : output_) {
        result.output.push_back(buffer.get());
    }
    result.filling = filling_.load();
    result.delivered = delivered_.load();
    result.output_discarded = output_discarded_.load();
    result.filled_total = filled_total_.load();
    return result;
}

}  // namespace vngtl
