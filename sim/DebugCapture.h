// The text passed to VNOutputDebugString, the newest megabyte of it kept in memory for the control interface and echoed to standard
// error when VNSIM_DEBUG=1. Thread-safe; a stall holds writers until it is lifted (for tests that need a
// call held in progress).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

namespace vnsim {

class DebugCapture {
public:
    // At most this many bytes are kept; when more arrive, the oldest go until half of it is left.
    static constexpr size_t kept_limit = size_t{1} << 20;

    void append(const char* text);
    std::string text() const;
    void clear();
    void set_stall(bool stall);
    int stalled() const;

private:
    mutable std::mutex lock_;  // guards every field
    std::condition_variable stall_changed_;
    std::string text_;
    bool stall_ = false;
    int stalled_ = 0;
};

}  // namespace vnsim
