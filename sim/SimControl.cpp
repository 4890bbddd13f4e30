// The vnsim_ control functions.
#include "CameraXml.h"
#include "FramePattern.h"
#include "SimSystem.h"

#include <vnsim.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>

using vnsim::SimSystem;

namespace {

int configure_from(const std::function<nlohmann::json()>& read)
{
    auto& system = SimSystem::instance();
    try {
        system.configure(read());
        system.set_last_error("");
        return 0;
    } catch (const std::exception& e) {
        system.set_last_error(e.what());
        return -1;
    }
}

// Runs action on the board with that configuration index; -1 when there is none.
template <typename Action>
int with_board(int board, Action action)
{
    auto found = SimSystem::instance().board(board);
    if (!found) {
        return -1;
    }
    return action(*found);
}

}  // namespace

extern "C" {

int vnsim_configure(const char* json)
{
    return configure_from([json] {
        if (json == nullptr) {
            throw std::invalid_argument("no configuration text");
        }
        return nlohmann::json::parse(json);
    });
}

int vnsim_configure_file(const char* path)
{
    return configure_from([path] {
        std::ifstream in(path == nullptr ? "" : path);
        if (!in) {
            throw std::invalid_argument(std::string("cannot read \"") + (path ? path : "") + "\"");
        }
        return nlohmann::json::parse(in);
    });
}

void vnsim_reset(void)
{
    SimSystem::instance().reset_to_default();
}

const char* vnsim_last_error(void)
{
    return SimSystem::instance().last_error();
}

size_t vnsim_debug_output(char* text, size_t size)
{
    const std::string output = SimSystem::instance().debug().text();
    if (text != nullptr && size > 0) {
        const size_t n = std::min(size - 1, output.size());
        std::memcpy(text, output.data(), n);
        text[n] = '\0';
    }
    return output.size();
}

void vnsim_debug_clear(void)
{
    SimSystem::instance().debug().clear();
}

void vnsim_debug_stall(int stall)
{
    SimSystem::instance().debug().set_stall(stall != 0);
}

int vnsim_debug_stalled(void)
{
    return SimSystem::instance().debug().stalled();
}

int vnsim_trigger(int board, uint32_t n)
{
    return with_board(board, [n](vnsim::SimBoard& b) { return b.trigger(n); });
}

int vnsim_pulse_trigger_input(int board, uint32_t n)
{
    return with_board(board, [n](vnsim::SimBoard& b) {
        b.pulse_trigger_input(n);
        return 0;
    });
}

int vnsim_set_rate(int board, double frames_per_second)
{
    if (!(frames_per_second >= 0)) {
        return -1;
    }
    return with_board(board, [frames_per_second](vnsim::SimBoard& b) {
        b.set_rate(frames_per_second);
        return 0;
    });
}

int vnsim_set_trigger_mode(int board, int mode)
{
    if (mode != VNSIM_TRIGGER_FREE && mode != VNSIM_TRIGGER_MANUAL) {
        return -1;
    }
    return with_board(board, [mode](vnsim::SimBoard& b) {
        b.set_trigger_mode(mode == VNSIM_TRIGGER_FREE ? vnsim::TriggerMode::Free : vnsim::TriggerMode::Manual);
        return 0;
    });
}

int vnsim_set_pattern(int board, int pattern)
{
    if (pattern != VNSIM_PATTERN_MOVING && pattern != VNSIM_PATTERN_BENCHMARK) {
        return -1;
    }
    return with_board(board, [pattern](vnsim::SimBoard& b) {
        b.set_pattern(pattern == VNSIM_PATTERN_MOVING ? vnsim::PatternMode::Moving : vnsim::PatternMode::Benchmark);
        return 0;
    });
}

int vnsim_frame_stats(int board, VnsimFrameStats* stats)
{
    if (stats == nullptr) {
        return -1;
    }
    return with_board(board, [stats](vnsim::SimBoard& b) {
        *stats = b.stats();
        return 0;
    });
}

int vnsim_open_handles(int board)
{
    return with_board(board, [](vnsim::SimBoard& b) { return b.open_handles(); });
}

long long vnsim_check_frame(const void* data, size_t size, uint32_t width, uint32_t height, uint32_t bits_per_pixel,
                            uint64_t counter)
{
    return vnsim::FramePattern::check(static_cast<const std::byte*>(data), size, {width, height, bits_per_pixel},
                                      counter);
}

uint64_t vnsim_frame_stamp(const void* data, size_t size)
{
    return vnsim::FramePattern::stamp(static_cast<const std::byte*>(data), size);
}

int vnsim_fault_open_fails(int board, uint32_t count)
{
    return with_board(board, [count](vnsim::SimBoard& b) {
        b.fault_open_fails(count);
        return 0;
    });
}

int vnsim_fault_stop_after(int board, uint32_t frames, int abort)
{
    return with_board(board, [frames, abort](vnsim::SimBoard& b) {
        b.fault_stop_after(frames, abort != 0);
        return 0;
    });
}

int vnsim_fault_next_fails(int board, int which)
{
    if (which != VNSIM_FAIL_ROI_SET && which != VNSIM_FAIL_BUFFER_ALLOC && which != VNSIM_FAIL_CIRC_SETUP) {
        return -1;
    }
    return with_board(board, [which](vnsim::SimBoard& b) {
        b.fault_next_fails(which);
        return 0;
    });
}

int vnsim_push_vb_error(int board, int32_t code)
{
    return with_board(board, [code](vnsim::SimBoard& b) {
        b.push_vb_error(code);
        return 0;
    });
}

int vnsim_push_vn_error(int board, int32_t code)
{
    return with_board(board, [code](vnsim::SimBoard& b) {
        b.push_vn_error(code);
        return 0;
    });
}

int vnsim_fault_board_missing(int board, int missing)
{
    return with_board(board, [missing](vnsim::SimBoard& b) {
        b.set_present(missing == 0);
        return 0;
    });
}

void vnsim_fault_enumeration_fails(int fails)
{
    SimSystem::instance().set_enumeration_fails(fails != 0);
}

int vnsim_cxp_link(int board, uint32_t* connections, uint32_t* speed_row)
{
    if (connections == nullptr || speed_row == nullptr) {
        return -1;
    }
    return with_board(board, [connections, speed_row](vnsim::SimBoard& b) {
        return b.cxp_link(*connections, *speed_row) ? 0 : -1;
    });
}

int vnsim_cxp_stats(int board, VnsimCxpStats* stats)
{
    if (stats == nullptr) {
        return -1;
    }
    return with_board(board, [stats](vnsim::SimBoard& b) { return b.cxp_stats(*stats) ? 0 : -1; });
}

int vnsim_cxp_clear_stats(int board)
{
    return with_board(board, [](vnsim::SimBoard& b) { return b.cxp_clear_stats() ? 0 : -1; });
}

int vnsim_cxp_read(int board, uint32_t address, void* data, uint32_t length)
{
    if (data == nullptr && length > 0) {
        return -1;
    }
    return with_board(board, [&](vnsim::SimBoard& b) {
        if (b.kind() != vnsim::BoardKind::CoaXPress) {
            return -1;
        }
        return static_cast<int>(b.cxp_peek(address, static_cast<uint8_t*>(data), length));
    });
}

int vnsim_cxp_write(int board, uint32_t address, const void* data, uint32_t length)
{
    if (data == nullptr && length > 0) {
        return -1;
    }
    return with_board(board, [&](vnsim::SimBoard& b) {
        if (b.kind() != vnsim::BoardKind::CoaXPress) {
            return -1;
        }
        return static_cast<int>(b.cxp_poke(address, static_cast<const uint8_t*>(data), length));
    });
}

int vnsim_cxp_read_register(int board, uint32_t address, uint32_t* value)
{
    if (value == nullptr) {
        return -1;
    }
    uint8_t bytes[4] = {};
    const int result = vnsim_cxp_read(board, address, bytes, 4);
    if (result == 0) {
        *value = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
    }
    return result;
}

int vnsim_cxp_write_register(int board, uint32_t address, uint32_t value)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return vnsim_cxp_write(board, address, bytes, 4);
}

int vnsim_cxp_fault_read(int board, uint32_t address, int32_t count)
{
    if (count < -1) {
        return -1;
    }
    return with_board(board, [&](vnsim::SimBoard& b) { return b.cxp_fault_reads(address, count) ? 0 : -1; });
}

int vnsim_cxp_fault_silent(int board, int silent)
{
    return with_board(board, [&](vnsim::SimBoard& b) { return b.cxp_fault_silent(silent != 0) ? 0 : -1; });
}

size_t vnsim_cxp_camera_xml(int zipped, void* data, size_t size)
{
    const auto bytes = zipped != 0 ? vnsim::CameraXml::zip() : vnsim::CameraXml::xml();
    if (data != nullptr) {
        std::memcpy(data, bytes.data(), std::min(size, bytes.size()));
    }
    return bytes.size();
}

}  // extern "C"
