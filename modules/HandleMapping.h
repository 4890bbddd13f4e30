// How a GenTL handle and the library object it stands for map onto each other. A handle is a token of the
// live-handle table (core/HandleRegistry.h), never the object's address: handing an object out enters it
// with its kind (the first time; later hand-outs give the same token while it is live), and a handle that
// is not live or of another kind is found by no call. Every handle kind but events is entered as the
// object's BasePortMedium part (modules, buffers, the remote-device medium), so a module handle can be used
// as a port or event-source handle too; an event handle is entered as its BaseEvent part. Only this header
// converts between the two.
#pragma once

#include "modules/BaseEvent.h"
#include "core/BasePortMedium.h"
#include "core/HandleRegistry.h"

#include <cstdint>
#include <type_traits>

namespace vngtl {

// The handle of `object` (entering it into the table when it has no live handle); null for null.
template <class Object>
void* to_handle(Object* object)
{
    if (object == nullptr) {
        return nullptr;
    }
    if constexpr (std::is_base_of_v<BasePortMedium, Object>) {
        auto* medium = static_cast<BasePortMedium*>(object);
        return reinterpret_cast<void*>(medium->handle_cell().token(medium, medium->handle_kind()));
    } else {
        static_assert(std::is_base_of_v<BaseEvent, Object>, "handles are port media or events");
        auto* event = static_cast<BaseEvent*>(object);
        return reinterpret_cast<void*>(event->handle_cell().token(event, kind_event));
    }
}

// What the table keeps for a handle of the kind `Object` (HandleRegistry::object, or a pin's object), as
// that kind; null for null.
template <class Object>
Object* object_as(void* object) noexcept
{
    if (object == nullptr) {
        return nullptr;
    }
    if constexpr (std::is_base_of_v<BasePortMedium, Object>) {
        return static_cast<Object*>(static_cast<BasePortMedium*>(object));
    } else {
        static_assert(std::is_base_of_v<BaseEvent, Object>, "handles are port media or events");
        return static_cast<Object*>(static_cast<BaseEvent*>(object));
    }
}

// The object behind a live handle of the kind `Object`, or null for any other value. The table's kind is
// not compared here: callers have pinned the handle for its kind first (the call frame's live checks).
template <class Object>
Object* from_handle(void* handle) noexcept
{
    return object_as<Object>(HandleRegistry::instance().object(reinterpret_cast<uintptr_t>(handle)));
}

}  // namespace vngtl
