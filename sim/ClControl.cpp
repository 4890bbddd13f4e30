// The vnsim_cl_ control functions: the Camera Link camera and its serial line, for tests and tools.
#include "SimSystem.h"

#include <vnsim.h>

#include <algorithm>
#include <cstring>

using vnsim::SimSystem;

namespace {

// The board, which keeps its line alive while the caller holds it; null without a serial line.
std::shared_ptr<vnsim::SimBoard> cl_board(int board)
{
    auto found = SimSystem::instance().board(board);
    return found && found->serial_line() != nullptr ? found : nullptr;
}

}  // namespace

extern "C" {

int vnsim_cl_stats(int board, VnsimClStats* stats)
{
    auto owner = cl_board(board);
    if (!owner || stats == nullptr) {
        return -1;
    }
    auto* line = owner->serial_line();
    const auto camera = line->camera().stats();
    const auto serial = line->stats();
    *stats = VnsimClStats{camera.commands,      camera.resends,    camera.bad_packets, camera.dropped,
                          camera.corrupted,     camera.pending,    serial.bytes_written, serial.bytes_read,
                          serial.flushes,       serial.garbled,    line->baud(),        line->camera().baud()};
    return 0;
}

int vnsim_cl_peek(int board, uint32_t address, void* data, uint32_t length)
{
    auto owner = cl_board(board);
    if (!owner || data == nullptr) {
        return -1;
    }
    auto* line = owner->serial_line();
    return line->camera().peek(address, static_cast<uint8_t*>(data), length) ? 0 : -1;
}

int vnsim_cl_fault(int board, const char* name, uint32_t value)
{
    auto owner = cl_board(board);
    if (!owner || name == nullptr) {
        return -1;
    }
    auto* line = owner->serial_line();
    return line->camera().set_fault(name, value) ? 0 : -1;
}

size_t vnsim_cl_camera_xml(char* text, size_t size)
{
    const std::string& xml = vnsim::ClCamera::xml();
    if (text != nullptr && size > 0) {
        const size_t n = std::min(size - 1, xml.size());
        std::memcpy(text, xml.data(), n);
        text[n] = '\0';
    }
    return xml.size();
}

}  // extern "C"
