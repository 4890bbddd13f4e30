// The common event: what an EVENT_HANDLE stands for and the Event functions act on. Its info queries come
// from BaseInfo.
#pragma once

#include "core/BaseInfo.h"

#include <gentl/GenTL.h>

#include <cstdint>

namespace vngtl {

class BaseEvent : public BaseInfo {
public:
    // Waits up to `timeout_ms` for the next event record and delivers it by the size protocol.
    virtual GenTL::GC_ERROR data(void* buffer, size_t* size_in_out, uint64_t timeout_ms) = 0;
    // Information about a record that data() delivered.
    virtual GenTL::GC_ERROR data_info(const void* in_buffer, size_t in_size, int32_t command,
                                      GenTL::INFO_DATATYPE* type_out, void* buffer, size_t* size_in_out) = 0;
    // Drops the records waiting to be delivered.
    virtual GenTL::GC_ERROR flush() = 0;
    // Ends a wait in data(): `immediate` for the consumer's EventKill, not immediate on unregistration.
    virtual GenTL::GC_ERROR kill(bool immediate) = 0;
};

}  // namespace vngtl
