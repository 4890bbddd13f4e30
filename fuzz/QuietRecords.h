// Error records are the producer's normal answer to bad input; a fuzz target keeps them in a last-error store
// without an echo instead of writing each one to standard error.
#pragma once
#include "core/ErrorReport.h"
#include "core/ThreadErrorMap.h"

#include <memory>

namespace vngtl_fuzz {

inline const bool records_kept_quiet = [] {
    vngtl::publish_error_store(std::make_shared<vngtl::ThreadErrorMap>());
    return true;
}();

}  // namespace vngtl_fuzz
