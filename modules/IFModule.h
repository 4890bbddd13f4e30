// The interface module: one per board channel of the manager's board table, created by the system module.
// It shows the board's identity and family, the camera file the board is opened with (settable while the
// board is not configured for acquisition), a window onto the board's own registers by name or index, and
// at most one child, the device module of the camera on the board.
//
// Thread safety: the module takes no lock of its own; every board access is one board operation, which
// takes the board's state lock. The register names are read once, at construction; the selection is atomic.
#pragma once

#include "modules/BaseModule.h"
#include "modules/RegisterMapPort.h"
#include "modules/SystemValues.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace VNBoards {
class Board;
}

namespace vngtl {

class IFModule : public BaseModule {
public:
    // `system` holds the values the ports of this module and the modules below it share with the system.
    IFModule(std::shared_ptr<VNBoards::Board> board, std::weak_ptr<BaseModule> parent, const SystemValues& system = {});
    ~IFModule() override;

    uint32_t handle_kind() const noexcept override;

    // "TLDevice" when the board has a camera file, else nothing.
    GenTL::GC_ERROR valid_child_ids(std::vector<std::string>& list_out) override;
    GenTL::GC_ERROR make_new_child(std::shared_ptr<BaseModule>& child_out, size_t index,
                                   const std::string& id) override;

    const std::shared_ptr<VNBoards::Board>& board() const noexcept { return board_; }
    // Board register names (lower case) and numbers.
    const std::map<std::string, uint32_t>& register_names() const noexcept { return register_names_; }

private:
    // The description's computed registers, by their info command.
    GenTL::GC_ERROR pre_read(int32_t command, RegisterMap::Entry& entry, uint8_t* data);
    GenTL::GC_ERROR post_write(int32_t command, RegisterMap::Entry& entry, uint8_t* data);
    void setup_xml_file();
    void read_register_names();

    GenTL::GC_ERROR read_device_value(int32_t command, RegisterMap::Entry& entry, uint8_t* data);
    GenTL::GC_ERROR set_camera_file(const std::string& file);
    // The selected board register, or register_names_.end().
    std::map<std::string, uint32_t>::const_iterator selected() const;
    GenTL::GC_ERROR no_selection(const char* function) const;

    static constexpr size_t none = ~size_t{0};

    std::shared_ptr<VNBoards::Board> board_;
    const SystemValues system_;
    RegisterMapPort port_;
    std::map<std::string, uint32_t> register_names_;
    std::atomic<size_t> selected_{none};  // position in register_names_
};

}  // namespace vngtl
