#include "acquisition/FrameCopier.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <pthread.h>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

namespace vngtl {

namespace {

constexpr unsigned most_threads = 4;
// Parts start on cache-line boundaries of the destination, so no two threads write one line.
constexpr size_t part_alignment = 64;

// Copies out of the board's circular buffer. The board writes its buffers by DMA, unsynchronised with the
// host: when the host falls a whole ring behind, the board may overwrite the frame while it is being copied,
// and the buffer then holds a later frame (or parts of two). That is the board's overrun behaviour, not a
// race on the library's own data, so ThreadSanitizer is told to look away for this one copy.
void copy_from_board(void* destination, const void* source, size_t count)
{
    if (count == 0) {
        return;
    }
#if defined(__SANITIZE_THREAD__)
    __tsan_ignore_thread_begin();
#endif
    std::memcpy(destination, source, count);
#if defined(__SANITIZE_THREAD__)
    __tsan_ignore_thread_end();
#endif
}

}  // namespace

unsigned FrameCopier::default_thread_count() noexcept
{
    // VNGTL_COPY_THREADS (1 to 4) overrides the choice, for measuring one against the other.
    if (const char* chosen = std::getenv("VNGTL_COPY_THREADS"); chosen != nullptr && *chosen != '\0') {
        const long value = std::strtol(chosen, nullptr, 10);
        if (value >= 1) {
            return static_cast<unsigned>(std::min<long>(value, most_threads));
        }
    }
    // With two cores or fewer a helper only takes the core the consumer and the acquisition thread need: a
    // split copy measured no faster there on a quiet machine and slower on a busy one.
    const unsigned cores = std::thread::hardware_concurrency();
    return cores >= 3 ? std::min(cores - 1, most_threads) : 1u;
}

FrameCopier::FrameCopier(unsigned threads, size_t split_threshold)
    : split_threshold_(std::max<size_t>(split_threshold, part_alignment))
{
    const unsigned total = std::clamp(threads == 0 ? default_thread_count() : threads, 1u, most_threads);
    helpers_.reserve(total - 1);
    for (unsigned index = 1; index < total; ++index) {
        helpers_.emplace_back([this, index](std::stop_token stop) { helper_func(std::move(stop), index); });
        pthread_setname_np(helpers_.back().native_handle(), "vngtl-split");
    }
}

FrameCopier::~FrameCopier()
{
    for (std::jthread& helper : helpers_) {
        helper.request_stop();
    }
    helpers_.clear();  // joins
}

uint64_t FrameCopier::split_count() const
{
    MutexLock guard(mutex_);
    return splits_;
}

void FrameCopier::copy(void* destination, const void* source, size_t count)
{
    if (helpers_.empty() || count < split_threshold_) {
        copy_from_board(destination, source, count);
        return;
    }
    const size_t parts = helpers_.size() + 1;
    size_t part = (count + parts - 1) / parts;
    part = (part + part_alignment - 1) / part_alignment * part_alignment;
    {
        MutexLock guard(mutex_);
        destination_ = static_cast<uint8_t*>(destination);
        source_ = static_cast<const uint8_t*>(source);
        part_ = part;
        count_ = count;
        outstanding_ = static_cast<unsigned>(helpers_.size());
        generation_ += 1;
        splits_ += 1;
    }
    work_condition_.notify_all();
    copy_from_board(destination, source, std::min(part, count));
    MutexLock guard(mutex_);
    done_condition_.wait(guard, [this]() REQUIRES(mutex_) { return outstanding_ == 0; });
}

void FrameCopier::helper_func(std::stop_token stop, unsigned index)
{
    uint64_t seen = 0;
    MutexLock guard(mutex_);
    while (true) {
        if (!work_condition_.wait(guard, stop, [&]() REQUIRES(mutex_) { return generation_ != seen; })) {
            return;  // stop requested
        }
        seen = generation_;
        const size_t begin = std::min(count_, part_ * index);
        const size_t end = std::min(count_, begin + part_);
        uint8_t* const destination = destination_ + begin;
        const uint8_t* const source = source_ + begin;
        guard.unlock();
        copy_from_board(destination, source, end - begin);
        guard.lock();
        outstanding_ -= 1;
        if (outstanding_ == 0) {
            done_condition_.notify_one();
        }
    }
}

}  // namespace vngtl
