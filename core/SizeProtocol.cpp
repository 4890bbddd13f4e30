#include "core/SizeProtocol.h"

#include <algorithm>
#include <cstring>

namespace vngtl {

GenTL::GC_ERROR check_capacity(size_t needed, const void* buffer, size_t* size_in_out)
{
    if (size_in_out == nullptr) {
        return GenTL::GC_ERR_INVALID_PARAMETER;
    }
    const size_t capacity = *size_in_out;
    *size_in_out = needed;
    if (buffer != nullptr && needed > capacity) {
        return GenTL::GC_ERR_BUFFER_TOO_SMALL;
    }
    return GenTL::GC_ERR_SUCCESS;
}

GenTL::GC_ERROR deliver_bytes(const void* bytes, size_t count, size_t needed, void* buffer, size_t* size_in_out)
{
    const GenTL::GC_ERROR fits = check_capacity(needed, buffer, size_in_out);
    if (fits != GenTL::GC_ERR_SUCCESS || buffer == nullptr) {
        return fits;
    }
    count = std::min(count, needed);
    auto* out = static_cast<char*>(buffer);
    if (count > 0) {
        std::memcpy(out, bytes, count);
    }
    std::memset(out + count, 0, needed - count);
    return GenTL::GC_ERR_SUCCESS;
}

GenTL::GC_ERROR deliver_string(std::string_view text, void* buffer, size_t* size_in_out)
{
    text = text.substr(0, text.find('\0'));
    return deliver_bytes(text.data(), text.size(), text.size() + 1, buffer, size_in_out);
}

}  // namespace vngtl
