// Everything that can stand behind a GenTL port handle: every module and buffer handle, and the remote
// device's port medium. The port entry points ask it for the port they then act on.
#pragma once

namespace vngtl {

class BasePort;

class BasePortMedium {
public:
    virtual ~BasePortMedium();

    // The port reached through this handle, or null when it has none (yet). The medium outlives the port
    // it hands out, so callers use the pointer for the duration of their call only.
    virtual BasePort* get_port() = 0;
    virtual const BasePort* get_port() const = 0;

protected:
    BasePortMedium() = default;
    BasePortMedium(const BasePortMedium&) = default;
    BasePortMedium& operator=(const BasePortMedium&) = default;
};

}  // namespace vngtl
