// How a GenTL handle and the library object it stands for map onto each other: a handle is the object's
// address, handed out and taken back unchanged. Every handle kind but events is the address of the
// object's BasePortMedium part (modules, buffers, the remote-device medium), so a module handle can be used
// as a port or event-source handle too; an event handle is the address of its BaseEvent part. Only this
// header converts between the two, so that a stricter mapping (a table of live handles) can replace it.
#pragma once

#include "modules/BaseEvent.h"
#include "core/BasePortMedium.h"

#include <type_traits>

namespace vngtl {

template <class Object>
void* to_handle(Object* object) noexcept
{
    if constexpr (std::is_base_of_v<BasePortMedium, Object>) {
        return static_cast<void*>(static_cast<BasePortMedium*>(object));
    } else {
        static_assert(std::is_base_of_v<BaseEvent, Object>, "handles are port media or events");
        return static_cast<void*>(static_cast<BaseEvent*>(object));
    }
}

// The object behind a handle of the kind `Object`, or null for a null handle. A non-null handle is taken to
// be a live object of that kind: handles that never came from this library, or of another kind, are
// outside what the library supports.
template <class Object>
Object* from_handle(void* handle) noexcept
{
    if constexpr (std::is_base_of_v<BasePortMedium, Object>) {
        return static_cast<Object*>(static_cast<BasePortMedium*>(handle));
    } else {
        static_assert(std::is_base_of_v<BaseEvent, Object>, "handles are port media or events");
        return static_cast<Object*>(static_cast<BaseEvent*>(handle));
    }
}

}  // namespace vngtl
