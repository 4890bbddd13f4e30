#include "cti/LibraryLifetime.h"

#include "core/ErrorReport.h"
#include "core/HandleRegistry.h"
#include "cti/CtiManager.h"
#include "modules/DynamicResourceDepot.h"

#include <chrono>

namespace vngtl {

namespace {

// How long the end of the library waits for calls on other threads to return once the tree is closed. A
// wait in EventGetData ends at once; a camera access ends within its own time-out.
constexpr std::chrono::seconds calls_return_within{10};

}  // namespace

LibraryLifetime::LibraryLifetime() noexcept
{
    // Built here, in this order, so that they are destroyed after this object.
    static_cast<void>(HandleRegistry::instance());
    publish_error_store(nullptr);
    prepare_library();
    static_cast<void>(DynamicResourceDepot::resources());
}

LibraryLifetime::~LibraryLifetime()
{
    end_library(calls_return_within);
}

namespace {

const LibraryLifetime library_lifetime;

}  // namespace

}  // namespace vngtl
