#include "SerialLine.h"

#include <algorithm>
#include <vector>

namespace vnsim {

namespace {

uint32_t baud_of_bit(uint32_t bit)
{
    static const uint32_t rates[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    for (uint32_t i = 0; i < 8; ++i) {
        if (bit == (1u << i)) {
            return rates[i];
        }
    }
    return 0;
}

}  // namespace

SerialLine::SerialLine(const SerialConfig& config, ClCamera& camera, std::function<void()> camera_changed)
    : config_(config), camera_(camera), camera_changed_(std::move(camera_changed)), baud_(config.baud_rate)
{
}

SerialLine::Clock::duration SerialLine::byte_time(uint32_t baud)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL / baud));
}

size_t SerialLine::arrived_locked(Clock::time_point now) const
{
    // Arrival times never decrease along the queue.
    return static_cast<size_t>(
        std::partition_point(rx_.begin(), rx_.end(), [&](const Byte& b) { return b.arrives <= now; }) - rx_.begin());
}

int32_t SerialLine::write(const uint8_t* data, uint32_t& size, uint32_t timeout_ms)
{
    std::unique_lock guard(lock_);
    if (down_) {
        size = 0;
        return cl_timeout;
    }
    const uint64_t generation = camera_.generation();
    const auto now = Clock::now();
    const auto start = std::max(now, tx_free_);
    const auto per_byte = byte_time(baud_);
    const auto deadline = now + std::chrono::milliseconds(timeout_ms);
    uint32_t sent = size;
    if (start + per_byte * size > deadline) {
        sent = deadline <= start ? 0 : static_cast<uint32_t>((deadline - start) / per_byte);
    }
    const auto done = start + per_byte * sent;
    tx_free_ = done;
    stats_.bytes_written += sent;
    if (sent > 0) {
        if (camera_.baud() != baud_) {
            stats_.garbled += sent;
        } else {
            auto replies = camera_.receive(data, sent);
            auto next = done;
            for (auto& reply : replies) {
                const auto reply_byte = byte_time(reply.baud);
                auto at = std::max(next, done + reply.delay);
                const bool garbled = reply.baud != baud_;
                for (const uint8_t value : reply.bytes) {
                    at += reply_byte;
                    rx_.push_back(Byte{static_cast<uint8_t>(garbled ? 0xFF : value), at});
                }
                if (garbled) {
                    stats_.garbled += reply.bytes.size();
                }
                next = at;
            }
        }
    }
    changed_.notify_all();
    // The call returns when the last byte has left, as a blocking serial write does.
    changed_.wait_until(guard, done, [&] { return down_; });
    const uint32_t requested = size;
    size = sent;
    guard.unlock();
    if (camera_changed_ && camera_.generation() != generation) {
        camera_changed_();
    }
    return sent < requested ? cl_timeout : cl_ok;
}

int32_t SerialLine::read(uint8_t* data, uint32_t size, uint32_t timeout_ms)
{
    std::unique_lock guard(lock_);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (down_) {
            return cl_timeout;
        }
        const auto now = Clock::now();
        if (arrived_locked(now) >= size) {
            break;
        }
        // Sleep until the size-th byte is due, if it is on its way, or until the deadline; a write from
        // another thread wakes us to look again.
        auto wake = deadline;
        if (rx_.size() >= size) {
            wake = std::min(wake, rx_[size - 1].arrives);
        }
        if (now >= deadline) {
            return cl_timeout;
        }
        changed_.wait_until(guard, wake);
    }
    for (uint32_t i = 0; i < size; ++i) {
        data[i] = rx_.front().value;
        rx_.pop_front();
    }
    stats_.bytes_read += size;
    return cl_ok;
}

uint32_t SerialLine::available()
{
    std::lock_guard guard(lock_);
    return static_cast<uint32_t>(arrived_locked(Clock::now()));
}

void SerialLine::flush()
{
    std::lock_guard guard(lock_);
    rx_.clear();
    ++stats_.flushes;
}

int32_t SerialLine::set_rate(uint32_t rate_bit)
{
    std::lock_guard guard(lock_);
    const uint32_t baud = baud_of_bit(rate_bit);
    if (baud == 0 || (rate_bit & config_.board_rates) == 0) {
        return cl_baud_not_supported;
    }
    baud_ = baud;
    return cl_ok;
}

uint32_t SerialLine::baud() const
{
    std::lock_guard guard(lock_);
    return baud_;
}

void SerialLine::shutdown()
{
    std::lock_guard guard(lock_);
    down_ = true;
    changed_.notify_all();
}

bool SerialLine::down() const
{
    std::lock_guard guard(lock_);
    return down_;
}

SerialLine::Stats SerialLine::stats() const
{
    std::lock_guard guard(lock_);
    return stats_;
}

}  // namespace vnsim
