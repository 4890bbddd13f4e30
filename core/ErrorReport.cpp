#include "core/ErrorReport.h"

#include "core/ThreadErrorMap.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace vngtl {

namespace {

// Read by every record, written at GCInitLib and GCCloseLib (and at the end of the library); the count held
// while a record is stored keeps the store alive even if the library closes meanwhile. Built on first use
// (the library's load, see cti/LibraryLifetime.h), so that it outlives the end of the library. A plain
// mutex rather than an atomic shared pointer: the standard library's atomic shared pointer guards itself
// with a lock bit that the thread sanitizer cannot see, and records are not a hot path.
struct ErrorStoreSlot {
    std::mutex mutex;
    std::shared_ptr<ThreadErrorMap> store;  // guarded by mutex
};

ErrorStoreSlot& error_store()
{
    static ErrorStoreSlot slot;
    return slot;
}

std::shared_ptr<ThreadErrorMap> current_error_store()
{
    ErrorStoreSlot& slot = error_store();
    std::lock_guard guard(slot.mutex);
    return slot.store;
}

}  // namespace

void publish_error_store(std::shared_ptr<ThreadErrorMap> store) noexcept
{
    ErrorStoreSlot& slot = error_store();
    std::shared_ptr<ThreadErrorMap> previous;
    {
        std::lock_guard guard(slot.mutex);
        previous = std::exchange(slot.store, std::move(store));
    }
    // The previous store, if this was its last count, goes with no lock held.
}

const char* gc_error_name(GC_ERROR code) noexcept
{
    static constexpr const char* names[] = {
        "GC_ERR_ERROR",           "GC_ERR_NOT_INITIALIZED", "GC_ERR_NOT_IMPLEMENTED",  "GC_ERR_RESOURCE_IN_USE",
        "GC_ERR_ACCESS_DENIED",   "GC_ERR_INVALID_HANDLE",  "GC_ERR_INVALID_ID",       "GC_ERR_NO_DATA",
        "GC_ERR_INVALID_PARAMETER", "GC_ERR_IO",            "GC_ERR_TIMEOUT",          "GC_ERR_ABORT",
        "GC_ERR_INVALID_BUFFER",  "GC_ERR_NOT_AVAILABLE",   "GC_ERR_INVALID_ADDRESS",  "GC_ERR_BUFFER_TOO_SMALL",
        "GC_ERR_INVALID_INDEX",   "GC_ERR_PARSING_CHUNK_DATA", "GC_ERR_INVALID_VALUE", "GC_ERR_RESOURCE_EXHAUSTED",
        "GC_ERR_OUT_OF_MEMORY",
    };
    static_assert(std::size(names) == 21);
    if (code == GenTL::GC_ERR_SUCCESS) {
        return "GC_ERR_SUCCESS";
    }
    if (code <= GenTL::GC_ERR_ERROR && code >= GenTL::GC_ERR_OUT_OF_MEMORY) {
        return names[GenTL::GC_ERR_ERROR - code];
    }
    if (code < -9999) {
        return "GC_ERR_CUSTOM";
    }
    return "GC_ERR_UNKNOWN";
}

std::string_view source_file_name(std::string_view path) noexcept
{
    const auto cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string compose_error_record(GC_ERROR code, std::string_view file, unsigned line, std::string_view function,
                                 std::string_view message)
{
    std::string text;
    text.reserve(64 + file.size() + function.size() + message.size());
    text += gc_error_name(code);
    text += " @ ";
    text += file;
    text += '[';
    text += std::to_string(line);
    text += "], ";
    text += function;
    text += ": ";
    text += message;
    text += '\n';
    return text;
}

GC_ERROR report_error_at(std::string_view file_path, unsigned line, std::string_view function, GC_ERROR code,
                         std::string_view message)
{
    const std::string text = compose_error_record(code, source_file_name(file_path), line, function, message);
    if (const std::shared_ptr<ThreadErrorMap> store = current_error_store()) {
        if (code != GenTL::GC_ERR_SUCCESS) {
            store->set_error(code, text);
        }
    } else {
        std::fputs(text.c_str(), stderr);
    }
    return code;
}

GC_ERROR report_error(std::string_view function, GC_ERROR code, std::string_view message, std::source_location where)
{
    return report_error_at(where.file_name(), where.line(), function, code, message);
}

std::string hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace vngtl
