// The frame around every exported GenTL function except GCInitLib and GCCloseLib. An export declares its
// row in one expression:
//
//     return CallFrame("TLGetNumInterfaces")
//         .check(not_null(hSystem, GC_ERR_INVALID_HANDLE, message::tl_null))
//         .check(not_null(piNumIfaces, GC_ERR_INVALID_PARAMETER, "The interface count ..."))
//         .check(system_module(hSystem))
//         .run([&](CallFrame&) { return module_of(hSystem).num_children(piNumIfaces); });
//
// Constructing the frame takes a counted manager reference, held until the end of the full expression, so
// GCCloseLib refuses while the call runs; without a manager the call answers GC_ERR_NOT_INITIALIZED with no
// record and no check looks at an argument. The checks then run in the order written until one fails; a
// failing check records its message with the export's name, file and the check's own line, and its code is
// the answer. Only when all pass does the body run; its code is the answer, unchanged. Anything thrown by a
// check or the body becomes a code and a record (memory exhaustion, other standard exceptions, anything
// else). Output handles are written by the body, only after its operation succeeded (HandleOut).
//
// Handles: a `live` check pins the handle in the live-handle table for the kinds the argument takes, or
// fails with GC_ERR_INVALID_HANDLE and never follows the value; a pinned object cannot be destroyed before
// the frame ends (its owner drains the handle first). The body reaches pinned objects with module_of and
// from_handle.
#pragma once

#include "cti/CtiManager.h"
#include "core/ErrorReport.h"
#include "core/HandleRegistry.h"
#include "modules/BaseModule.h"
#include "core/BasePort.h"
#include "modules/HandleMapping.h"
#include "modules/TLModule.h"

#include <gentl/GenTL.h>

#include <array>
#include <cstdint>
#include <limits>
#include <source_location>
#include <string>
#include <string_view>

namespace vngtl {

// Handle messages shared by several rows.
namespace message {
inline constexpr const char* input_null = "The input handle is invalid (null).";
inline constexpr const char* tl_null = "The transport-layer module handle is invalid (null).";
inline constexpr const char* tl_foreign =
    "The transport-layer module handle does not refer to this transport-layer's system module.";
inline constexpr const char* no_port = "The handle does not have a valid port interface.";
// A non-null handle that is not live (its object is gone, it is from before the library was last closed,
// or it never was one of this library's handles) or of another kind.
inline constexpr const char* port_dead = "The port handle is invalid (not a live port handle of this producer).";
inline constexpr const char* event_source_dead =
    "The event source handle is invalid (not a live module or buffer handle of this producer).";
inline constexpr const char* if_dead = "The interface module handle is invalid (not a live interface module).";
inline constexpr const char* dev_dead = "The device module handle is invalid (not a live device module).";
inline constexpr const char* ds_dead = "The data-stream handle is invalid (not a live data-stream module).";
inline constexpr const char* buffer_dead = "The buffer handle is invalid (not a live announced buffer).";
inline constexpr const char* event_dead = "The event handle is invalid (not a live registered event).";
}  // namespace message

// Turns the exception being handled into a code and a record; call only from inside a catch clause.
GenTL::GC_ERROR report_current_exception(const char* function, const std::source_location& where) noexcept;

class CallFrame {
public:
    // Inline, as is the pinning below: they are the whole of the frame's cost on a call that succeeds.
    explicit CallFrame(const char* function, std::source_location where = std::source_location::current()) noexcept
        : function_(function), where_(where), manager_(get_manager())
    {
        if (!manager_) {
            answer(GenTL::GC_ERR_NOT_INITIALIZED);
        }
    }
    ~CallFrame()
    {
        if (pin_count_ > 0) {
            HandleRegistry& registry = HandleRegistry::instance();
            while (pin_count_ > 0) {
                registry.unpin(pins_[static_cast<size_t>(--pin_count_)]);
            }
        }
    }
    CallFrame(const CallFrame&) = delete;
    CallFrame& operator=(const CallFrame&) = delete;

    // Runs `step` (a callable answering 0 to pass, or a recorded code) unless the call is answered already.
    // Always inline, like the handle checks: a row's checks then share one frame and one thread-local base.
    template <class Check>
    [[gnu::always_inline]] CallFrame& check(const Check& step) noexcept
    {
        if (!answered_) {
            try {
                if (const GenTL::GC_ERROR code = step(*this)) {
                    answer(code);
                }
            } catch (...) {
                answer(report_current_exception(function_, where_));
            }
        }
        return *this;
    }

    // The operation behind the row, once every check has passed; its code is the call's answer.
    template <class Body>
    GenTL::GC_ERROR run(Body&& body) noexcept
    {
        if (answered_) {
            return answer_;
        }
        try {
            return body(*this);
        } catch (...) {
            return report_current_exception(function_, where_);
        }
    }

    CtiManager& manager() const noexcept { return *manager_->get(); }
    const char* function() const noexcept { return function_; }

    // Records a failure found by the frame itself (a check, or a body answering without an operation).
    GenTL::GC_ERROR fail(GenTL::GC_ERROR code, std::string_view message,
                         std::source_location where = std::source_location::current()) const;
    // The answer of a function whose operation this producer does not offer.
    GenTL::GC_ERROR not_implemented(std::source_location where = std::source_location::current()) const;

    // Pins `handle` for the rest of the call when it is live and of one of `kinds`.
    bool pin(const void* handle, uint32_t kinds) noexcept
    {
        if (handle == nullptr || pin_count_ == static_cast<int>(pins_.size())) {
            return false;
        }
        HandleRegistry::Pinned pinned;
        if (HandleRegistry::instance().pin(reinterpret_cast<uintptr_t>(handle), kinds, pinned) !=
            HandleRegistry::PinResult::pinned) {
            return false;
        }
        const auto index = static_cast<size_t>(pin_count_++);
        pins_[index] = pinned.slot;
        pinned_handles_[index] = handle;
        pinned_objects_[index] = pinned.object;
        return true;
    }
    // The object of a handle this frame pinned, as the kind `Object`, without looking the handle up again;
    // null for a handle it did not pin.
    template <class Object>
    Object* pinned(const void* handle) const noexcept
    {
        for (int i = 0; i < pin_count_; ++i) {
            if (pinned_handles_[static_cast<size_t>(i)] == handle) {
                return object_as<Object>(pinned_objects_[static_cast<size_t>(i)]);
            }
        }
        return nullptr;
    }

private:
    void answer(GenTL::GC_ERROR code) noexcept
    {
        answered_ = true;
        answer_ = code;
    }

    const char* function_;
    std::source_location where_;
    ManagerRef manager_;
    bool answered_ = false;
    GenTL::GC_ERROR answer_ = GenTL::GC_ERR_SUCCESS;
    std::array<uint32_t, 2> pins_{};  // the table slots pinned, given back in reverse order
    std::array<const void*, 2> pinned_handles_{};
    std::array<void*, 2> pinned_objects_{};
    int pin_count_ = 0;
};

// ---- Checks. Each keeps the line it was written on for its record.

struct NotNullCheck {
    const void* value;
    GenTL::GC_ERROR code;
    const char* message;
    std::source_location where;
    GenTL::GC_ERROR operator()(const CallFrame& frame) const
    {
        return value != nullptr ? GenTL::GC_ERR_SUCCESS : frame.fail(code, message, where);
    }
};

// Fails with `code` and `message` when `value` (a handle or an argument pointer) is null.
inline NotNullCheck not_null(const void* value, GenTL::GC_ERROR code, const char* message,
                             std::source_location where = std::source_location::current())
{
    return {value, code, message, where};
}

template <class Condition, class Message>
struct HoldsCheck {
    Condition condition;
    GenTL::GC_ERROR code;
    Message message;
    std::source_location where;
    GenTL::GC_ERROR operator()(const CallFrame& frame) const
    {
        return condition() ? GenTL::GC_ERR_SUCCESS : frame.fail(code, message(), where);
    }
};

// Fails with `code` and the text from `message()` unless `condition()` holds; both are called only when
// every earlier check passed, so they may use the handles those checks vouched for.
template <class Condition, class Message>
HoldsCheck<Condition, Message> holds(Condition condition, GenTL::GC_ERROR code, Message message,
                                     std::source_location where = std::source_location::current())
{
    return {std::move(condition), code, std::move(message), where};
}

struct LiveCheck {
    const void* handle;
    uint32_t kinds;
    const char* message;
    bool null_passes;
    std::source_location where;
    [[gnu::always_inline]] GenTL::GC_ERROR operator()(CallFrame& frame) const
    {
        if ((handle == nullptr && null_passes) || frame.pin(handle, kinds)) {
            return GenTL::GC_ERR_SUCCESS;
        }
        return frame.fail(GenTL::GC_ERR_INVALID_HANDLE, message, where);
    }
};

// A non-null handle must be live and of one of `kinds` (HandleKind bits); it stays pinned until the call
// ends. Fails with GC_ERR_INVALID_HANDLE and `message` otherwise, without following the handle.
inline LiveCheck live(const void* handle, uint32_t kinds, const char* message,
                      std::source_location where = std::source_location::current())
{
    return {handle, kinds, message, false, where};
}

// As live, but a null handle passes (for an operation that reports a null handle itself).
inline LiveCheck live_or_null(const void* handle, uint32_t kinds, const char* message,
                              std::source_location where = std::source_location::current())
{
    return {handle, kinds, message, true, where};
}

struct SystemModuleCheck {
    const void* handle;
    std::source_location where;
    GenTL::GC_ERROR operator()(const CallFrame& frame) const
    {
        // The system module is created here if this is its first use. It lives as long as the manager the
        // frame holds, so it needs no pin.
        if (handle == to_handle(frame.manager().tl_module_address())) {
            return GenTL::GC_ERR_SUCCESS;
        }
        return frame.fail(GenTL::GC_ERR_INVALID_HANDLE, message::tl_foreign, where);
    }
};

// A TL_HANDLE must be the manager's system module.
inline SystemModuleCheck system_module(const void* handle, std::source_location where = std::source_location::current())
{
    return {handle, where};
}

struct PortCheck {
    void* handle;
    BasePort** port;
    std::source_location where;
    [[gnu::always_inline]] GenTL::GC_ERROR operator()(const CallFrame& frame) const
    {
        BasePortMedium* medium = frame.pinned<BasePortMedium>(handle);
        if (medium == nullptr) {
            medium = from_handle<BasePortMedium>(handle);
        }
        *port = medium != nullptr ? medium->get_port() : nullptr;
        return *port != nullptr ? GenTL::GC_ERR_SUCCESS
                                : frame.fail(GenTL::GC_ERR_NOT_IMPLEMENTED, message::no_port, where);
    }
};

// The port behind a (checked, non-null) PORT_HANDLE, stored in `*port`; fails when the object has none.
inline PortCheck port_of(void* handle, BasePort** port, std::source_location where = std::source_location::current())
{
    return {handle, port, where};
}

// Whether a port address fits the platform's size type; on a 64-bit build every address does.
template <class SizeType>
constexpr bool address_fits(uint64_t address) noexcept
{
    if constexpr (sizeof(SizeType) >= sizeof(uint64_t)) {
        return true;
    } else {
        return address <= std::numeric_limits<SizeType>::max();
    }
}

template <class SizeType>
struct AddressRangeCheck {
    uint64_t address;
    std::source_location where;
    GenTL::GC_ERROR operator()(const CallFrame& frame) const
    {
        if (address_fits<SizeType>(address)) {
            return GenTL::GC_ERR_SUCCESS;
        }
        return frame.fail(GenTL::GC_ERR_INVALID_ADDRESS,
                          "The given address (" + hex(address) +
                              ") is outside of the maximum supported range for this platform (all > " +
                              hex(std::numeric_limits<SizeType>::max()) + ").",
                          where);
    }
};

// GCReadPort and GCWritePort: the address must fit the platform's size type (SizeType, for tests).
template <class SizeType = size_t>
AddressRangeCheck<SizeType> address_in_range(uint64_t address,
                                             std::source_location where = std::source_location::current())
{
    return {address, where};
}

// ---- Using handles in a body, once the checks have vouched for them.

// The module behind a (checked, pinned) module handle.
inline BaseModule& module_of(void* handle) noexcept
{
    return *from_handle<BaseModule>(handle);
}

// An output handle that the body fills only when its operation succeeded. slot() is what the operation
// writes its object to: null when the consumer gave no pointer, so that the operation's own check of it
// still applies.
template <class Object>
class HandleOut {
public:
    explicit HandleOut(void** out) noexcept : out_(out) {}
    Object** slot() noexcept { return out_ != nullptr ? &object_ : nullptr; }
    // Enters the object into the live-handle table if it has no live handle (which may throw).
    GenTL::GC_ERROR deliver(GenTL::GC_ERROR code)
    {
        if (code == GenTL::GC_ERR_SUCCESS && out_ != nullptr) {
            *out_ = to_handle(object_);
        }
        return code;
    }

private:
    void** out_;
    Object* object_ = nullptr;
};

// As HandleOut, for an operation that hands its object out counted (a module another thread may unlist):
// the object stays alive until its handle has been entered and the frame is done with it.
template <class Object>
class SharedHandleOut {
public:
    explicit SharedHandleOut(void** out) noexcept : out_(out) {}
    std::shared_ptr<Object>* slot() noexcept { return out_ != nullptr ? &object_ : nullptr; }
    GenTL::GC_ERROR deliver(GenTL::GC_ERROR code)
    {
        if (code == GenTL::GC_ERR_SUCCESS && out_ != nullptr) {
            *out_ = to_handle(object_.get());
        }
        return code;
    }

private:
    void** out_;
    std::shared_ptr<Object> object_;
};

}  // namespace vngtl
