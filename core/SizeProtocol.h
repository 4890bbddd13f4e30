// The GenTL size protocol, the one implementation behind every answer that hands a value to the consumer
// through a buffer and a size (info queries, child IDs, URLs, the last-error text).
//
// The caller's *size_in_out is the buffer's capacity on entry and always the needed size on return
// (written before the capacity is compared), so a caller that gets GC_ERR_BUFFER_TOO_SMALL, or asked with
// a null buffer, holds the size to allocate. Nothing is recorded here: callers that must report do so.
#pragma once

#include <gentl/GenTL.h>

#include <cstddef>
#include <string_view>

namespace vngtl {

// Delivers `needed` bytes: the first `count` (at most `needed`) from `bytes`, the rest as zero bytes.
//   size_in_out null          -> GC_ERR_INVALID_PARAMETER, nothing written
//   buffer null               -> GC_ERR_SUCCESS (size query)
//   needed > caller's capacity -> GC_ERR_BUFFER_TOO_SMALL, buffer untouched
//   otherwise                 -> the bytes are copied, GC_ERR_SUCCESS
GenTL::GC_ERROR deliver_bytes(const void* bytes, size_t count, size_t needed, void* buffer, size_t* size_in_out);

// The size protocol without the copy, for an answer made only once it is known to fit (the answer of a wait):
// writes `needed` to *size_in_out and answers as deliver_bytes would, copying nothing. GC_ERR_SUCCESS with a
// buffer means the caller may write `needed` bytes to it; with none, the call was a size query.
GenTL::GC_ERROR check_capacity(size_t needed, const void* buffer, size_t* size_in_out);

// A string: `text` (cut at its first zero byte) followed by one zero byte; needed = its length + 1.
GenTL::GC_ERROR deliver_string(std::string_view text, void* buffer, size_t* size_in_out);

}  // namespace vngtl
