// The simulated system: the boards of the current configuration, the table of open SDK handles and serial
// handles, and the captured debug output. One instance per process, never destroyed (the producer may
// call the SDK from its own static destructors).
//
// Thread safety: all operations are thread-safe; lock_ guards the board list and the handle tables. It is
// taken before a board's lock (to ask whether the board is present); boards never call back in here.
#pragma once

#include "DebugCapture.h"
#include "SimBoard.h"

#include <VantrelSdk.h>

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vnsim {

class SimSystem {
public:
    static SimSystem& instance();

    // Replaces the configuration: every open handle becomes invalid and the old boards stop. Throws
    // std::invalid_argument (the system unchanged) when the document is not a valid configuration.
    void configure(const nlohmann::json& document);
    void reset_to_default();
    void set_last_error(std::string text);
    const char* last_error() const;

    int32_t enumerate_boards(uint32_t* count) const;
    void set_enumeration_fails(bool fails);

    // By index in the configuration, or by board number (the index among the boards present).
    std::shared_ptr<SimBoard> board(int index) const;
    std::shared_ptr<SimBoard> board_by_number(uint32_t number) const;
    std::vector<std::shared_ptr<SimBoard>> present_boards() const;

    struct Handle {
        std::shared_ptr<SimBoard> board;
        bool acquisition = false;
    };
    VN_HANDLE add_handle(std::shared_ptr<SimBoard> board, bool acquisition);
    std::optional<Handle> find(VN_HANDLE handle) const;
    std::optional<Handle> remove(VN_HANDLE handle);

    // Camera Link serial handles (reference = false) and serial references (reference = true). A serial
    // reference lives until the board handle it came from is closed, a serial handle until clSerialClose.
    void* add_serial(VN_HANDLE owner, std::shared_ptr<SimBoard> board, bool reference);
    std::shared_ptr<SimBoard> find_serial(void* serial, bool reference) const;
    bool remove_serial(void* serial);

    DebugCapture& debug() { return debug_; }

private:
    SimSystem();

    struct Serial {
        std::shared_ptr<SimBoard> board;
        bool reference = false;
        uintptr_t owner = 0;
    };

    mutable std::mutex lock_;
    std::vector<std::shared_ptr<SimBoard>> boards_;
    std::map<uintptr_t, Handle> handles_;
    std::map<uintptr_t, Serial> serials_;
    uintptr_t next_id_ = 1;
    bool enumeration_fails_ = false;
    std::string last_error_;
    DebugCapture debug_;
};

}  // namespace vnsim
