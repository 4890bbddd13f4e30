// The root of every object handed to the consumer as a module or buffer handle: a port medium that answers
// info queries and is an event source.
#pragma once

#include "core/BaseInfo.h"
#include "core/BasePortMedium.h"

#include <gentl/GenTL.h>

namespace vngtl {

class BaseEvent;

class BaseHandle : public BasePortMedium, public BaseInfo {
public:
    ~BaseHandle() override;

    // Registers the event of `event_type` on this source; on success `*event_out` is the event, which the
    // source owns and keeps until it is unregistered.
    virtual GenTL::GC_ERROR register_event(GenTL::EVENT_TYPE event_type, BaseEvent** event_out) = 0;
    virtual GenTL::GC_ERROR unregister_event(GenTL::EVENT_TYPE event_type) = 0;
};

}  // namespace vngtl
