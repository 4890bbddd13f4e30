#include "core/ThreadErrorMap.h"

#include "core/ErrorReport.h"
#include "core/SizeProtocol.h"

#include <cstdio>
#include <unistd.h>

namespace vngtl {

uint32_t current_thread_id() noexcept
{
    return static_cast<uint32_t>(::gettid());
}

std::string ThreadErrorMap::debug_line(uint32_t id, GenTL::GC_ERROR code, const std::string& text)
{
    std::string line = "VNGTL thread ";
    if (id == 0) {
        line += "{Not-any-thread}";
    } else {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%x", id);
        line += digits;
    }
    line += " [";
    line += gc_error_name(code);
    line += "] = ";
    line += text;
    line += '\n';
    return line;
}

void ThreadErrorMap::set_error(GenTL::GC_ERROR code, const std::string& text)
{
    std::lock_guard guard(lock_);
    const uint32_t id = current_thread_id();
    entries_.insert_or_assign(id, Record{code, text});
    const std::string line = debug_line(id, code, text);
    if (sink_ != nullptr) {
        sink_(line.c_str());
    }
}

GenTL::GC_ERROR ThreadErrorMap::get_last_error(GenTL::GC_ERROR* piErrorCode, char* sErrText, size_t* piSize) const
{
    std::lock_guard guard(lock_);
    if (piErrorCode == nullptr) {
        return GenTL::GC_ERR_INVALID_PARAMETER;
    }
    std::string_view text = "No Error";
    if (const auto found = entries_.find(current_thread_id()); found != entries_.end()) {
        *piErrorCode = found->second.code;
        text = found->second.text;
    } else {
        *piErrorCode = GenTL::GC_ERR_SUCCESS;
    }
    // A null piSize is refused by the size protocol; the code above stays written.
    return deliver_string(text, sErrText, piSize);
}

}  // namespace vngtl
