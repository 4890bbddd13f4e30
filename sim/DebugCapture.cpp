#include "DebugCapture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vnsim {

void DebugCapture::append(const char* text)
{
    std::unique_lock guard(lock_);
    if (stall_) {
        ++stalled_;
        stall_changed_.wait(guard, [this] { return !stall_; });
        --stalled_;
    }
    text_ += text;
    // A long-running process must not grow without end: past the limit only the newest part is kept.
    if (text_.size() > kept_limit) {
        text_.erase(0, text_.size() - kept_limit / 2);
    }
    const char* echo = std::getenv("VNSIM_DEBUG");
    if (echo != nullptr && std::strcmp(echo, "1") == 0) {
        std::fputs(text, stderr);
    }
}

std::string DebugCapture::text() const
{
    std::lock_guard guard(lock_);
    return text_;
}

void DebugCapture::clear()
{
    std::lock_guard guard(lock_);
    text_.clear();
}

void DebugCapture::set_stall(bool stall)
{
    {
        std::lock_guard guard(lock_);
        stall_ = stall;
    }
    stall_changed_.notify_all();
}

int DebugCapture::stalled() const
{
    std::lock_guard guard(lock_);
    return stalled_;
}

}  // namespace vnsim
