#include "cti/CallFrame.h"

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

GenTL::GC_ERROR CallFrame::fail(GenTL::GC_ERROR code, std::string_view message, std::source_location where) const
{
    return report_error_at(where.file_name(), where.line(), function_, code, message);
}

GenTL::GC_ERROR CallFrame::not_implemented(std::source_location where) const
{
    return fail(GenTL::GC_ERR_NOT_IMPLEMENTED, std::string(function_) + " is not implemented by this producer.", where);
}

}  // namespace vngtl
