// The simulated system: its configuration and the captured debug output. One instance per process.
#pragma once

#include <nlohmann/json.hpp>

#include <condition_variable>
#include <mutex>
#include <string>

namespace vnsim {

class SimSystem {
public:
    static SimSystem& instance();

    // Replaces the configuration; throws std::exception with a readable text when it is invalid.
    void configure(const nlohmann::json& config);
    void reset_to_default();

    int32_t enumerate_boards(uint32_t* count);

    void append_debug(const char* text);
    std::string debug_output() const;
    void clear_debug();
    void set_debug_stall(bool stall);
    int debug_stalled() const;

    std::string last_error;

    static nlohmann::json default_config();

private:
    SimSystem();
    mutable std::mutex lock_;
    nlohmann::json config_;
    std::string debug_;
    std::condition_variable stall_changed_;
    bool stall_ = false;
    int stalled_ = 0;
};

}  // namespace vnsim
