#include "cti/CallFrame.h"

#include "core/HandleRegistry.h"

#include <exception>
#include <new>

namespace vngtl {

GenTL::GC_ERROR report_current_exception(const char* function, const std::source_location& where) noexcept
{
    const char* file = where.file_name();
    const unsigned line = where.line();
    try {
        try {
            throw;
        } catch (const std::bad_alloc& e) {
            return report_error_at(file, line, function, GenTL::GC_ERR_OUT_OF_MEMORY,
                                   std::string("Program memory is exhausted, and the GenTL producer may no longer "
                                               "be able to function: ") + e.what());
        } catch (const std::exception& e) {
            return report_error_at(file, line, function, GenTL::GC_ERR_ERROR,
                                   std::string("Caught an exception: ") + e.what());
        } catch (...) {
            return report_error_at(file, line, function, GenTL::GC_ERR_ERROR,
                                   "Caught an unexpected exception. System resources may be exhausted, or this is "
                                   "a bug.");
        }
    } catch (...) {
        // Composing the record failed too (memory is gone): the code still reaches the consumer.
        return GenTL::GC_ERR_OUT_OF_MEMORY;
    }
}

CallFrame::CallFrame(const char* function, std::source_location where) noexcept : function_(function), where_(where)
{
    try {
        manager_ = get_manager();
    } catch (...) {
        answer(report_current_exception(function_, where_));
        return;
    }
    if (!manager_) {
        answer(GenTL::GC_ERR_NOT_INITIALIZED);
    }
}

CallFrame::~CallFrame()
{
    HandleRegistry& registry = HandleRegistry::instance();
    while (pin_count_ > 0) {
        registry.unpin(pins_[static_cast<size_t>(--pin_count_)]);
    }
}

bool CallFrame::pin(const void* handle, uint32_t kinds) noexcept
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

GenTL::GC_ERROR CallFrame::fail(GenTL::GC_ERROR code, std::string_view message, std::source_location where) const
{
    return report_error_at(where.file_name(), where.line(), function_, code, message);
}

GenTL::GC_ERROR CallFrame::not_implemented(std::source_location where) const
{
    return fail(GenTL::GC_ERR_NOT_IMPLEMENTED, std::string(function_) + " is not implemented by this producer.", where);
}

}  // namespace vngtl
