// The vnsim_ control functions.
#include "SimSystem.h"

#include <vnsim.h>

#include <cstring>
#include <fstream>

using vnsim::SimSystem;

extern "C" {

int vnsim_configure(const char* json)
{
    auto& system = SimSystem::instance();
    try {
        if (json == nullptr) {
            throw std::invalid_argument("no configuration text");
        }
        system.configure(nlohmann::json::parse(json));
        system.last_error.clear();
        return 0;
    } catch (const std::exception& e) {
        system.last_error = e.what();
        return -1;
    }
}

int vnsim_configure_file(const char* path)
{
    auto& system = SimSystem::instance();
    try {
        std::ifstream in(path == nullptr ? "" : path);
        if (!in) {
            throw std::invalid_argument(std::string("cannot read \"") + (path ? path : "") + "\"");
        }
        system.configure(nlohmann::json::parse(in));
        system.last_error.clear();
        return 0;
    } catch (const std::exception& e) {
        system.last_error = e.what();
        return -1;
    }
}

void vnsim_reset(void)
{
    SimSystem::instance().reset_to_default();
}

const char* vnsim_last_error(void)
{
    return SimSystem::instance().last_error.c_str();
}

size_t vnsim_debug_output(char* text, size_t size)
{
    const std::string output = SimSystem::instance().debug_output();
    if (text != nullptr && size > 0) {
        const size_t n = std::min(size - 1, output.size());
        std::memcpy(text, output.data(), n);
        text[n] = '\0';
    }
    return output.size();
}

void vnsim_debug_clear(void)
{
    SimSystem::instance().clear_debug();
}

void vnsim_debug_stall(int stall)
{
    SimSystem::instance().set_debug_stall(stall != 0);
}

int vnsim_debug_stalled(void)
{
    return SimSystem::instance().debug_stalled();
}

}  // extern "C"
