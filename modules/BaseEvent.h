// The common event: what an EVENT_HANDLE stands for and the Event functions act on. It carries the event's
// type and whether it is registered, and answers the event info commands (EVENT_INFO_CMD) from its info map;
// a derived event supplies the records (data, data_info), their counts, flush and kill.
//
// Thread safety: the registered flag is atomic, the handle is a HandleCell; the info map is filled at construction and only read after.
#pragma once

#include "core/BaseInfo.h"
#include "core/HandleCell.h"

#include <gentl/GenTL.h>

#include <atomic>
#include <cstdint>

namespace vngtl {

class BaseEvent : public BaseInfo {
public:
    explicit BaseEvent(GenTL::EVENT_TYPE event_type = GenTL::EVENT_NEW_BUFFER);
    // Unregisters a registered event.
    ~BaseEvent() override;

    // Refuses while the event is not registered; otherwise the info query of BaseInfo.
    GenTL::GC_ERROR info(int32_t command, GenTL::INFO_DATATYPE* type_out, void* buffer, size_t* size_in_out) override;

    virtual GenTL::GC_ERROR register_event();
    virtual GenTL::GC_ERROR unregister_event();

    // Records waiting to be delivered (EVENT_NUM_IN_QUEUE), and records that became available since the
    // event was registered (EVENT_NUM_FIRED). Both 0 for an event without a queue of its own.
    virtual GenTL::GC_ERROR queued_buffer_count(uint64_t& count);
    virtual GenTL::GC_ERROR firing_count(uint64_t& count);

    // Drops the records waiting to be delivered.
    virtual GenTL::GC_ERROR flush() = 0;
    // Waits up to `timeout_ms` for the next event record and delivers it by the size protocol.
    virtual GenTL::GC_ERROR data(void* buffer, size_t* size_in_out, uint64_t timeout_ms) = 0;
    // Information about a record that data() delivered.
    virtual GenTL::GC_ERROR data_info(const void* in_buffer, size_t in_size, int32_t command,
                                      GenTL::INFO_DATATYPE* type_out, void* buffer, size_t* size_in_out) = 0;
    // Ends a wait in data(): `immediate` for the consumer's EventKill, not immediate on unregistration.
    virtual GenTL::GC_ERROR kill(bool immediate) = 0;

    GenTL::EVENT_TYPE event_type() const noexcept { return event_type_; }
    bool is_registered() const noexcept { return registered_.load(); }

    // The event's handle: live from registration until unregistration. A derived event that may be
    // destroyed while a call waits on it drains the cell after it has ended that wait.
    HandleCell& handle_cell() noexcept { return handle_; }

private:
    const GenTL::EVENT_TYPE event_type_;
    std::atomic<bool> registered_{false};
    HandleCell handle_;
};

}  // namespace vngtl
