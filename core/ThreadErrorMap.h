// The last-error store: the last error record of every thread that has had one while the manager lives.
#pragma once

#include <gentl/GenTL.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace vngtl {

// The operating system's id of the calling thread.
uint32_t current_thread_id() noexcept;

class ThreadErrorMap {
public:
    // Where each record is echoed as one debug line: the board driver's debug output in the library.
    using DebugSink = void (*)(const char* line);

    // Without a sink records are stored but not echoed.
    explicit ThreadErrorMap(DebugSink sink = nullptr) noexcept : sink_(sink) {}

    // Stores the record as the calling thread's last error and echoes it to the debug sink.
    void set_error(GenTL::GC_ERROR code, const std::string& text);

    // The body of GCGetLastError: the calling thread's code and record ("No Error" when it has none), the
    // text delivered by the GenTL string protocol. Never writes a record of its own.
    GenTL::GC_ERROR get_last_error(GenTL::GC_ERROR* piErrorCode, char* sErrText, size_t* piSize) const;

    // The line echoed to the debug output for a record of thread `id`.
    static std::string debug_line(uint32_t id, GenTL::GC_ERROR code, const std::string& text);

private:
    struct Record {
        GenTL::GC_ERROR code;
        std::string text;
    };
    const DebugSink sink_;
    mutable std::mutex lock_;  // guards entries_; held through the debug echo, no other lock taken inside
    std::map<uint32_t, Record> entries_;
};

}  // namespace vngtl
