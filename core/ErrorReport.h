// Error records: every failure of the producer is recorded once, where it is found, through report_error.
// The record names the code, the reporting source file and line, and the reporting operation, and is stored
// as the calling thread's last error (or written to standard error when the library is not initialised).
#pragma once

#include <gentl/GenTL.h>

#include <memory>
#include <source_location>
#include <string>
#include <string_view>

namespace vngtl {

class ThreadErrorMap;

using GenTL::GC_ERROR;

// The constant name of a GenTL code; codes below -9999 are "GC_ERR_CUSTOM", anything else not in the
// table "GC_ERR_UNKNOWN". The table deliberately stops at GC_ERR_OUT_OF_MEMORY (-1021).
const char* gc_error_name(GC_ERROR code) noexcept;

// The part of a compile-time source path after its last slash or backslash.
std::string_view source_file_name(std::string_view path) noexcept;

// The one-line record text: name " @ " file "[" line "], " function ": " message "\n".
std::string compose_error_record(GC_ERROR code, std::string_view file, unsigned line, std::string_view function,
                                 std::string_view message);

// Records a failure of `function` (a literal such as "DevClose" or "DSModule::queue_buffer") and returns
// `code` unchanged. The file and line are those of the call site. A code of 0 is composed but not stored.
GC_ERROR report_error(std::string_view function, GC_ERROR code, std::string_view message,
                      std::source_location where = std::source_location::current());

// The same, with the file and line given explicitly (the call frame reports with its export's location).
GC_ERROR report_error_at(std::string_view file_path, unsigned line, std::string_view function, GC_ERROR code,
                         std::string_view message);

// The last-error store that records go to: the manager publishes its store once the library is initialised
// and withdraws it (null) before it is destroyed. Without a store records are written to standard error.
void publish_error_store(std::shared_ptr<ThreadErrorMap> store) noexcept;

// Lower-case hexadecimal with the "0x" prefix, as addresses are written in messages.
std::string hex(uint64_t value);

}  // namespace vngtl
