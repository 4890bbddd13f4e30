// The remote-device port medium of an opened device: what DevGetPort hands out. It chooses the camera port
// from the board's family and owns it.
//
// Ownership: owns its port (destroyed first, so the port's back-pointer to the medium never dangles); shares
// the board with the device module.
//
// Thread safety: built once by the device's open; afterwards get_port is called from any thread and takes
// no lock (the port's good() takes the board's state lock).
#pragma once

#include "core/BasePortMedium.h"

#include <memory>

namespace VNBoards {
class Board;
}

namespace vngtl {

class BasePort;

class VNRemDevPortMedium : public BasePortMedium {
public:
    // Never throws: failures are recorded and leave the medium without a port.
    explicit VNRemDevPortMedium(std::shared_ptr<VNBoards::Board> board);
    ~VNRemDevPortMedium() override;

    // The port when there is one and it is usable now, else null.
    BasePort* get_port() override;
    const BasePort* get_port() const override;
    // The port whether or not it is usable now (the device module sets its access mode).
    BasePort* port() const noexcept { return port_.get(); }

private:
    std::shared_ptr<VNBoards::Board> board_;
    std::shared_ptr<BasePort> port_;
};

}  // namespace vngtl
