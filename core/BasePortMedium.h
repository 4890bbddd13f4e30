// Everything that can stand behind a GenTL port handle: every module and buffer handle, and the remote
// device's port medium. The port entry points ask it for the port they then act on.
//
// Each medium holds its handle (HandleCell): the most derived class retires it first thing in its
// destructor, so that no call can find the object through its handle while its parts go; the cell's own
// destructor does it for classes that do not.
#pragma once

#include "core/HandleCell.h"
#include "core/HandleRegistry.h"

#include <cstdint>

namespace vngtl {

class BasePort;

class BasePortMedium {
public:
    virtual ~BasePortMedium();

    // The port reached through this handle, or null when it has none (yet). The medium outlives the port
    // it hands out, so callers use the pointer for the duration of their call only.
    virtual BasePort* get_port() = 0;
    virtual const BasePort* get_port() const = 0;

    // The kind its handle is entered with (one HandleKind bit). Default: the remote device's port.
    virtual uint32_t handle_kind() const noexcept;

    HandleCell& handle_cell() noexcept { return handle_; }

protected:
    BasePortMedium() = default;
    // A copy is another object: it gets a handle of its own when it is handed out.
    BasePortMedium(const BasePortMedium&) : BasePortMedium() {}
    BasePortMedium& operator=(const BasePortMedium&) { return *this; }

    // Ends the handle's life and waits for other threads' calls that found this object through it.
    void retire_handle() noexcept { handle_.retire(true); }

private:
    HandleCell handle_;
};

}  // namespace vngtl
