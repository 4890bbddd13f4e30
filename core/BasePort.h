// The common port: what GCReadPort, GCWritePort, GCGetPortInfo and the URL functions act on. The module
// ports answer from a register map (RegisterMapPort), the remote-device ports from the camera.
//
// Ownership: a port is a member of the object that is its medium (a module, a buffer, the remote-device
// medium) and dies with it; `medium` is a plain pointer to that owner.
//
// Thread safety: the port takes no lock. `readable` and `writable` may be changed while other threads use
// the port (a device opened read-only), so they are atomic; the medium is set while the owner is built.
#pragma once

#include "core/BaseInfo.h"

#include <gentl/GenTL.h>

#include <atomic>
#include <cstdint>

namespace vngtl {

class BasePortMedium;

class BasePort : public BaseInfo {
public:
    BasePort();
    ~BasePort() override;

    // Whether the port can be used now. A port that must be bound to its space first answers false until
    // then; the default port needs nothing.
    virtual bool good() const;

    // One 32-bit register at a word-aligned address. The port's bytes are taken in big-endian order: the
    // value read is the byte-swapped raw word, and a value is byte-swapped before it is written.
    GenTL::GC_ERROR read(uint64_t address, uint32_t* value);
    GenTL::GC_ERROR write(uint64_t address, uint32_t value);

    // A byte range of the port's space; `*size_in_out` is the number of bytes to move.
    virtual GenTL::GC_ERROR read(uint64_t address, void* buffer, size_t* size_in_out) = 0;
    virtual GenTL::GC_ERROR write(uint64_t address, const void* buffer, size_t* size_in_out) = 0;

    // The XML descriptions announced by the port, by the size protocol where they answer bytes.
    virtual GenTL::GC_ERROR num_urls(uint32_t* count_out) = 0;
    virtual GenTL::GC_ERROR url_info(uint32_t index, GenTL::URL_INFO_CMD command, GenTL::INFO_DATATYPE* type_out,
                                     void* buffer, size_t* size_in_out) = 0;
    // The first URL as a string, by the string size protocol; GC_ERR_INVALID_INDEX when there is none.
    virtual GenTL::GC_ERROR get_url(char* buffer, size_t* size_in_out);

    BasePortMedium* medium() const noexcept { return medium_.load(std::memory_order_acquire); }
    void set_medium(BasePortMedium* medium) noexcept { medium_.store(medium, std::memory_order_release); }
    bool readable() const noexcept { return readable_.load(std::memory_order_relaxed); }
    void set_readable(bool readable) noexcept { readable_.store(readable, std::memory_order_relaxed); }
    bool writable() const noexcept { return writable_.load(std::memory_order_relaxed); }
    void set_writable(bool writable) noexcept { writable_.store(writable, std::memory_order_relaxed); }

private:
    std::atomic<BasePortMedium*> medium_{nullptr};
    std::atomic<bool> readable_{true};
    std::atomic<bool> writable_{true};
};

}  // namespace vngtl
