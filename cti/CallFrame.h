// The frame around every exported GenTL function except GCInitLib and GCCloseLib: it holds a counted
// manager reference for the whole call (so GCCloseLib refuses meanwhile), answers GC_ERR_NOT_INITIALIZED
// without a record when the library is not initialised, runs the body, and turns anything thrown below it
// into a code and a record. Records are written with the export's own file and name.
#pragma once

#include "core/CtiManager.h"
#include "core/ErrorReport.h"

#include <gentl/GenTL.h>

#include <source_location>
#include <string>

namespace vngtl {

// Turns the exception being handled into a code and a record; call only from inside a catch clause.
GenTL::GC_ERROR report_current_exception(const char* function, const std::source_location& where) noexcept;

template <class Body>
GenTL::GC_ERROR call_frame(const char* function, Body&& body,
                           std::source_location where = std::source_location::current()) noexcept
{
    try {
        const ManagerRef manager = get_manager();
        if (!manager) {
            return GenTL::GC_ERR_NOT_INITIALIZED;
        }
        return body(*manager->get());
    } catch (...) {
        return report_current_exception(function, where);
    }
}

// Body of an exported function whose operation this producer does not offer.
inline GenTL::GC_ERROR not_implemented(const char* function, std::source_location where = std::source_location::current())
{
    return report_error_at(where.file_name(), where.line(), function, GenTL::GC_ERR_NOT_IMPLEMENTED,
                           std::string(function) + " is not implemented by this producer.");
}

}  // namespace vngtl
