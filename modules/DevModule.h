// The device module "TLDevice": the camera behind one board channel, created by the interface module when
// the board has a camera file. It carries the device's identity values, the access mode it was opened with
// and the XML-cache features of CoaXPress cameras; the remote-device port medium (the route to the camera's
// own registers) is held here while the device is open.
//
// Thread safety: the module takes no lock of its own; each board access is one board operation, which takes
// the board's state lock. The remote medium is exchanged by open and close under a leaf lock; a register hook
// that uses the camera's port holds a counted reference to the medium for the whole access, so a close on
// another thread only drops the device's own reference and the medium goes when the last user lets go.
#pragma once

#include "modules/BaseModule.h"
#include "modules/RegisterMapPort.h"
#include "modules/SystemValues.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace VNBoards {
class Board;
}

namespace vngtl {

class VNPortCXP;

class DevModule : public BaseModule {
public:
    // `system` holds the system module's values: the vendor shown as the device's, and those the ports of
    // the device and its stream share.
    DevModule(std::shared_ptr<VNBoards::Board> board, std::weak_ptr<BaseModule> parent,
              const SystemValues& system = {});
    ~DevModule() override;

    uint32_t handle_kind() const noexcept override;

    // The device's one data stream, "TLDataStream", on the device's board.
    GenTL::GC_ERROR valid_child_ids(std::vector<std::string>& list_out) override;
    GenTL::GC_ERROR make_new_child(std::shared_ptr<BaseModule>& child_out, size_t index,
                                   const std::string& id) override;
    // Opens with a GenTL DEVICE_ACCESS_FLAGS value: read-only, control or exclusive (which opens the board
    // for acquisition). Any other flag closes the device again and is refused.
    GenTL::GC_ERROR open(int32_t flags) override;
    // Closes the device and drops the remote-device medium; the access status reads read/write again.
    GenTL::GC_ERROR close() override;

    // The object behind DevGetPort's handle, or null while the device has none.
    std::shared_ptr<BasePortMedium> remote_medium() const;
    // The remote medium's port when it is usable, else null. The pointer shares the medium's ownership,
    // so the port lives as long as the caller holds it, also when the device is closed meanwhile.
    std::shared_ptr<BasePort> remote_port() const;
    bool read_only() const noexcept { return read_only_.load(); }

    const std::shared_ptr<VNBoards::Board>& board() const noexcept { return board_; }

private:
    GenTL::GC_ERROR pre_read(int32_t command, RegisterMap::Entry& entry, uint8_t* data);
    GenTL::GC_ERROR post_write(int32_t command, RegisterMap::Entry& entry, uint8_t* data);
    void setup_xml_file();
    GenTL::GC_ERROR delete_xml_file();
    GenTL::GC_ERROR sync_cache_with_camera();
    // The remote port when it is a usable CoaXPress port, else null; owned as remote_port's.
    std::shared_ptr<VNPortCXP> cxp_port() const;
    GenTL::GC_ERROR port_unavailable(const char* function) const;
    // The usable CoaXPress port the XML cache's commands act on, in `port`; else the error they answer: a board
    // of another kind refuses the manual XML `action`, a CoaXPress board without a usable port says so.
    GenTL::GC_ERROR xml_cache_port(const char* function, const char* action, std::shared_ptr<VNPortCXP>& port) const;
    std::string vfg() const;

    std::shared_ptr<VNBoards::Board> board_;
    const SystemValues system_;
    RegisterMapPort port_;
    // A leaf lock: only copying the pointer in or out runs under it (the medium is destroyed outside it).
    mutable std::mutex remote_lock_;
    std::shared_ptr<BasePortMedium> remote_medium_;
    // The device's access status; its info entry reads it on every access, so that a close or an open on
    // one thread and a port read of the entry on another need no common lock.
    std::atomic<int32_t> access_status_{GenTL::DEVICE_ACCESS_STATUS_UNKNOWN};
    RegisterMap::Entry* xml_selector_ = nullptr;
    std::atomic<bool> read_only_{false};
};

}  // namespace vngtl
