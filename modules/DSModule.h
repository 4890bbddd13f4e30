// The data-stream module "TLDataStream" of one board: the object behind a data-stream handle. It owns the
// stream's acquisition engine (VNAcquisition, the one owner of the stream's life) and the new-buffer event,
// and turns the DS functions into the engine's doors: each call passes the engine's state gate
// (VNAcquisition::transition), which decides whether it may run and runs its work under the gate's lock, and
// its refusals are recorded here against the call. The module carries the stream's info values and the custom
// registers through which the consumer chooses the board's own buffer count, the copy offset and the region
// of interest; the engine configures the board from them (when a buffer is announced or one of those
// registers is written) and releases it when the last buffer is revoked or the module is closed.
//
// Thread safety: operations run on the consumer's threads; the engine and its pool guard their own state. The
// engine reads the count and region registers, and configures the board from them, under the port map's hook
// lock, which the port's accesses to those registers hold too.
#pragma once

#include "acquisition/StreamCall.h"
#include "acquisition/VNAcquisition.h"
#include "board/BoardTypes.h"
#include "modules/BaseModule.h"
#include "modules/RegisterMapPort.h"
#include "modules/SystemValues.h"
#include "modules/VNNewBufferEvent.h"

#include <gentl/GenTL.h>

#include <cstdint>
#include <atomic>
#include <memory>
#include <string>

namespace VNBoards {
class Board;
}

namespace vngtl {

class BufferHandle;

class DSModule : public BaseModule {
public:
    static constexpr const char* module_name = "TLDataStream";

    // `system` holds the values the stream's port and its buffers' ports share with the system module.
    DSModule(std::shared_ptr<VNBoards::Board> board, std::weak_ptr<BaseModule> parent,
             const SystemValues& system = {});
    ~DSModule() override;

    uint32_t handle_kind() const noexcept override;

    // A second open is refused; a failed open closes the module again.
    GenTL::GC_ERROR open(int32_t flags) override;
    // Closes, releases the board from acquisition and unregisters the new-buffer event.
    GenTL::GC_ERROR close() override;

    GenTL::GC_ERROR register_event(GenTL::EVENT_TYPE event_type, BaseEvent** event_out) override;
    GenTL::GC_ERROR unregister_event(GenTL::EVENT_TYPE event_type) override;

    // The buffers are handed out counted (here and by get_buffer_id): a revoke or close on another thread
    // cannot free one before its handle is entered.
    GenTL::GC_ERROR announce_buffer(void* data, size_t size, void* user_pointer,
                                    std::shared_ptr<BufferHandle>* handle_out);
    GenTL::GC_ERROR alloc_and_announce_buffer(size_t size, void* user_pointer,
                                              std::shared_ptr<BufferHandle>* handle_out);
    GenTL::GC_ERROR revoke_buffer(BufferHandle* handle, void** data_out, void** user_pointer_out);
    GenTL::GC_ERROR queue_buffer(BufferHandle* handle);
    // By ACQ_QUEUE_TYPE; the two discarding flushes also drop the frames not copied yet.
    GenTL::GC_ERROR flush_queue(int32_t operation);
    GenTL::GC_ERROR get_buffer_id(uint64_t index, std::shared_ptr<BufferHandle>* handle_out);
    // `count` buffers, GENTL_INFINITE for no limit.
    GenTL::GC_ERROR start_acquisition(int32_t flags, uint64_t count);
    // ACQ_STOP_FLAGS_DEFAULT stops the board, ACQ_STOP_FLAGS_KILL aborts it. Queues are left as they are.
    GenTL::GC_ERROR stop_acquisition(int32_t flags);

    VNAcquisition& acquisition() noexcept { return *acquisition_; }
    VNNewBufferEvent& event() noexcept { return *event_; }
    const std::shared_ptr<VNBoards::Board>& board() const noexcept { return board_; }

private:
    // Fails with the module's "not open" record (register_event's own text when `as_module`).
    GenTL::GC_ERROR check_open(const char* function, bool as_module = false) const;
    void setup_info();
    void setup_xml_file();
    // The computed registers of the description, by their info command.
    GenTL::GC_ERROR pre_read(int32_t command, RegisterMap::Entry& entry, uint8_t* data);
    GenTL::GC_ERROR post_write(int32_t command, RegisterMap::Entry& entry, uint8_t* data);
    GenTL::GC_ERROR refresh_roi();
    GenTL::GC_ERROR write_copy_offset(uint64_t offset);
    GenTL::GC_ERROR write_desired_count(uint64_t desired);
    VNBoards::Roi requested_roi() const;
    uint64_t desired_count() const;
    std::string board_text() const;
    // Passes `call` through the engine's state gate, which runs `change` when the call may run; a refusal is
    // recorded against `function`.
    GenTL::GC_ERROR gate(StreamCall call, const char* function, const VNAcquisition::Change& change = {});

    std::shared_ptr<VNBoards::Board> board_;
    RegisterMapPort port_;
    std::unique_ptr<VNAcquisition> acquisition_;
    // The board's geometry generation that the region registers refer to.
    mutable std::atomic<uint64_t> roi_generation_{0};
    // Borrows the engine: destroyed before it.
    std::unique_ptr<VNNewBufferEvent> event_;

    RegisterMap::Entry* desired_ = nullptr;
    RegisterMap::Entry* offset_x_ = nullptr;
    RegisterMap::Entry* offset_y_ = nullptr;
    RegisterMap::Entry* width_ = nullptr;
    RegisterMap::Entry* height_ = nullptr;
};

}  // namespace vngtl
