// The state of one data stream's acquisition, as the engine reports it and the data-stream module gates
// its calls by.
#pragma once

#include <cstdint>
#include <string_view>

namespace vngtl {

enum class AcquisitionState : uint32_t {
    NoBoard = 0,        // no board, or the acquisition thread is not running
    NotConfigured = 1,  // the board has no circular buffers set up for this stream
    Ready = 2,          // configured, not acquiring
    Running = 3,        // acquiring
    Completed = 4,      // a finite acquisition delivered its count; the board is stopped
};

// The state's name, as records name it.
constexpr std::string_view state_name(AcquisitionState state) noexcept
{
    switch (state) {
    case AcquisitionState::NoBoard: return "NoBoard";
    case AcquisitionState::NotConfigured: return "NotConfigured";
    case AcquisitionState::Ready: return "Ready";
    case AcquisitionState::Running: return "Running";
    case AcquisitionState::Completed: return "Completed";
    }
    return "unknown";
}

}  // namespace vngtl
