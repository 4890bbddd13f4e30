// One buffer that the consumer announced to a data stream: the consumer's own memory, or a block this library
// allocated for it. Its info values (BUFFER_INFO_*) live in its info map at fixed addresses; the copy thread
// fills the data and the values describing the frame (fill), the pool moves it between its queues.
//
// Ownership: the data-stream's BufferPool owns the handle (shared, as a PoolBuffer) from announcement to
// revocation; an allocated data block is owned by the handle and freed with it. External memory stays the
// consumer's.
//
// Thread safety: the state is atomic. The data and the frame values are written by the copy thread while
// the buffer is Filling, and by the pool (under its pool lock) on queueing; the pool's queues hand the buffer
// from one side to the other, so the consumer reads them only while it holds the buffer (Announced).
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

    // Copies what fits of the frame into the buffer and sets the values describing it. Called by the copy
    // thread with a view the board handed out.
    bool fill(const VNBoards::FrameView& frame, FrameCopier& copier) override;

    // What queueing resets: SIZE_FILLED and DATA_SIZE become 0.
    void reset_fill_sizes() override;
    const void* consumer_handle() const noexcept override;

    // The pixel format (PFNC) the board's bits per pixel stand for; 0x80000000 for a depth without one.
    static uint64_t pixel_format(uint32_t bit_depth) noexcept;

private:
    void setup_port_and_info(const SystemValues& system);
    template <class T>
    void store(RegisterMap::Entry* entry, T value);

    void setup_xml_file();

    RegisterMapPort port_;

    // The values that fill and queueing change (entries of the info map).
    RegisterMap::Entry* width_ = nullptr;
    RegisterMap::Entry* height_ = nullptr;
    RegisterMap::Entry* timestamp_ = nullptr;
    RegisterMap::Entry* tltype_ = nullptr;
    RegisterMap::Entry* size_filled_ = nullptr;
    RegisterMap::Entry* x_offset_ = nullptr;
    RegisterMap::Entry* y_offset_ = nullptr;
    RegisterMap::Entry* x_padding_ = nullptr;
    RegisterMap::Entry* y_padding_ = nullptr;
    RegisterMap::Entry* frame_id_ = nullptr;
    RegisterMap::Entry* image_present_ = nullptr;
    RegisterMap::Entry* pixel_format_ = nullptr;
    RegisterMap::Entry* delivered_image_height_ = nullptr;
    RegisterMap::Entry* data_size_ = nullptr;
    RegisterMap::Entry* timestamp_ns_ = nullptr;
    RegisterMap::Entry* data_larger_than_buffer_ = nullptr;
};

}  // namespace vngtl
