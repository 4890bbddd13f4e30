#include "SimSystem.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace vnsim {

nlohmann::json SimSystem::default_config()
{
    return nlohmann::json::parse(R"({
  "boards": [
    {"kind": "CXP"},
    {"kind": "CL"}
  ]
})");
}

SimSystem& SimSystem::instance()
{
    static SimSystem system;
    return system;
}

SimSystem::SimSystem()
{
    const char* path = std::getenv("VNSIM_CONFIG");
    if (path != nullptr && *path != '\0') {
        try {
            std::ifstream in(path);
            if (!in) {
                throw std::runtime_error(std::string("cannot read the configuration file \"") + path + "\"");
            }
            configure(nlohmann::json::parse(in));
            return;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vnsim: %s; using the built-in default configuration\n", e.what());
        }
    }
    configure(default_config());
}

void SimSystem::configure(const nlohmann::json& config)
{
    if (!config.is_object() || !config.contains("boards") || !config["boards"].is_array()) {
        throw std::invalid_argument("the configuration needs a \"boards\" array");
    }
    std::lock_guard guard(lock_);
    config_ = config;
}

void SimSystem::reset_to_default()
{
    configure(default_config());
}

int32_t SimSystem::enumerate_boards(uint32_t* count)
{
    std::lock_guard guard(lock_);
    if (count == nullptr) {
        return 1;
    }
    const auto& faults = config_.value("faults", nlohmann::json::object());
    if (faults.value("enumeration_fails", false)) {
        return 1;
    }
    *count = static_cast<uint32_t>(config_["boards"].size());
    return 0;
}

void SimSystem::append_debug(const char* text)
{
    std::unique_lock guard(lock_);
    if (stall_) {
        ++stalled_;
        stall_changed_.wait(guard, [this] { return !stall_; });
        --stalled_;
    }
    debug_ += text;
    const char* echo = std::getenv("VNSIM_DEBUG");
    if (echo != nullptr && std::string(echo) == "1") {
        std::fputs(text, stderr);
    }
}

std::string SimSystem::debug_output() const
{
    std::lock_guard guard(lock_);
    return debug_;
}

void SimSystem::clear_debug()
{
    std::lock_guard guard(lock_);
    debug_.clear();
}

}  // namespace vnsim

namespace vnsim {

void SimSystem::set_debug_stall(bool stall)
{
    {
        std::lock_guard guard(lock_);
        stall_ = stall;
    }
    stall_changed_.notify_all();
}

int SimSystem::debug_stalled() const
{
    std::lock_guard guard(lock_);
    return stalled_;
}

}  // namespace vnsim
