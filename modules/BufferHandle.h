// One buffer that the consumer announced to a data stream: the consumer's own memory, or a block this library
// allocated for it. Its info values (BUFFER_INFO_*) live in its info map at fixed addresses; those that
// describe the last frame are read, at each query, from the fill record that the engine keeps with the buffer
// (PoolBuffer::fill_record). The pool moves the buffer between its queues.
//
// Ownership: the data-stream's BufferPool owns the handle (shared, as a PoolBuffer) from announcement to
// revocation; an allocated data block is owned by the handle and freed with it. External memory stays the
// consumer's.
//
// Thread safety: the state is atomic; the fill record is read under the buffer's own mutex, so the info
// values can be asked for from any thread, also while the buffer is queued or being filled. The data is
// written by the copy thread while the buffer is Filling.
#pragma once

#include "acquisition/PoolBuffer.h"
#include "modules/BaseHandle.h"
#include "modules/RegisterAddresses.h"
#include "modules/RegisterMapPort.h"
#include "modules/SystemValues.h"

#include <gentl/GenTL.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace vngtl {

class BufferHandle : public BaseHandle, public PoolBuffer {
public:
    static constexpr std::string_view module_name = "TLBuffer";
    // Where the buffer's data can be read as one register.
    static constexpr uint64_t data_register_address = reg::buffer::BufferData;

    // A buffer on the consumer's memory. `system` holds the values its port shares with the system module.
    BufferHandle(void* data, size_t size, void* user_pointer, const SystemValues& system = {});
    // A buffer on memory allocated here; when the allocation fails the buffer is Revoked, its BASE is null
    // and the failure is recorded.
    BufferHandle(size_t size, void* user_pointer, const SystemValues& system = {});
    // The pool's factory of buffers for a stream below the system module with `system`'s values.
    static BufferFactory factory(const SystemValues& system = {});
    ~BufferHandle() override;

    uint32_t handle_kind() const noexcept override;
    BufferHandle(const BufferHandle&) = delete;
    BufferHandle& operator=(const BufferHandle&) = delete;

    // The buffer's own port "BufferPort": its info values, the TLBuffer description and the data register.
    BasePort* get_port() override { return &port_; }
    const BasePort* get_port() const override { return &port_; }

    // Buffers have no events of their own.
    GenTL::GC_ERROR register_event(GenTL::EVENT_TYPE event_type, BaseEvent** event_out) override;
    GenTL::GC_ERROR unregister_event(GenTL::EVENT_TYPE event_type) override;

    const void* consumer_handle() const noexcept override;

private:
    void setup_port_and_info(const SystemValues& system);
    void setup_xml_file();

    RegisterMapPort port_;
};

}  // namespace vngtl
