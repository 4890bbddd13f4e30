// The root of everything that answers GenTL info queries (modules, buffers, ports, events): one register-map
// entry per info command, found through a table indexed by the command number, answered with the typed read
// of the entry (type, bytes and the size protocol of core/SizeProtocol.h).
//
// Ownership: the info map owns the value entries; the command table holds plain pointers into it (or into
// the map of an object that outlives this one, for values shared with the system module).
//
// Thread safety: none of its own. The table and map are filled while the owner is built; afterwards queries
// run unserialised on the callers' threads and only entry bytes and availability flags change.
#pragma once

#include "core/RegisterMap.h"
#include "core/RegisterMapHelpers.h"

#include <gentl/GenTL.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vngtl {

class BaseInfo {
public:
    // As an address: place the new entry at the end of the info map, rounded up to a multiple of 4.
    static constexpr uint64_t next_free = ~uint64_t{0};

    BaseInfo();
    virtual ~BaseInfo();
    BaseInfo(const BaseInfo&) = delete;
    BaseInfo& operator=(const BaseInfo&) = delete;

    // Answers info command `command`: not bound -> GC_ERR_NOT_IMPLEMENTED, bound to an entry marked
    // unavailable -> GC_ERR_NOT_AVAILABLE, else the entry's typed read. Overridden by objects that refuse
    // queries in some state and then answer through this one.
    virtual GenTL::GC_ERROR info(int32_t command, GenTL::INFO_DATATYPE* type_out, void* buffer, size_t* size_in_out);

    // Binds `command` to `entry`, or unbinds it with null (the table then ends at its last bound command).
    // False for a negative command, or for unbinding a command beyond the table.
    bool set_entry(int32_t command, RegisterMap::Entry* entry);

    // Inserts an entry into the info map (through `factory`, so computed entries can be made too), fills it
    // with `length` bytes of `initial` (zeros when null) and binds `command` to it. A negative command adds
    // the entry without binding it. Null when the insert failed (recorded by the map).
    RegisterMap::Entry* add_info(int32_t command, const void* initial, uint64_t address, uint64_t length,
                                 GenTL::INFO_DATATYPE type, bool readable, bool writable,
                                 RegisterMap::EntryFactory factory = make_plain_entry);

    // A string value. With a capacity the entry is that long (the text and its zero byte cut to fit, the rest
    // zeros); without one (0) it is the text's length plus 1.
    RegisterMap::Entry* add_info_string(int32_t command, std::string_view text, uint64_t address = next_free,
                                        uint64_t capacity = 0, bool readable = true, bool writable = false,
                                        RegisterMap::EntryFactory factory = make_plain_entry);

    // A read-only one-byte boolean (0 or 1).
    RegisterMap::Entry* add_info_bool8(int32_t command, bool value, uint64_t address = next_free,
                                       RegisterMap::EntryFactory factory = make_plain_entry);

    // The library's own way to read a string value: asks this object's (virtual) info, growing the buffer
    // as the answer requires. A value of another type answers GC_ERR_INVALID_PARAMETER without a record.
    GenTL::GC_ERROR info_string(int32_t command, std::string& text);

    // The entry bound to `command`, or null.
    RegisterMap::Entry* info_entry(int32_t command) const noexcept;
    // Length of the command table: one past the highest bound command.
    size_t command_table_size() const noexcept { return commands_.size(); }

    RegisterMap& info_map() noexcept { return info_map_; }
    const RegisterMap& info_map() const noexcept { return info_map_; }

    // Answers built on the spot rather than stored, by the same protocol as entries: `type_out` and
    // `size_in_out` must be given (else GC_ERR_INVALID_PARAMETER), `*size_in_out` always becomes the needed
    // size, a null buffer is a size query, a short one GC_ERR_BUFFER_TOO_SMALL. They record nothing; the
    // callers report.
    static GenTL::GC_ERROR copy_info_string(std::string_view text, GenTL::INFO_DATATYPE* type_out, void* buffer,
                                           size_t* size_in_out);
    // Each string with its zero byte, then one more zero byte (an empty list is a single zero byte).
    static GenTL::GC_ERROR copy_info_string_list(const std::vector<std::string>& list, GenTL::INFO_DATATYPE* type_out,
                                                 void* buffer, size_t* size_in_out);
    static GenTL::GC_ERROR copy_info_int32(int32_t value, GenTL::INFO_DATATYPE* type_out, void* buffer,
                                           size_t* size_in_out);

private:
    // Destroyed in reverse: the table (plain pointers) before the map that owns the entries.
    RegisterMap info_map_;
    std::vector<RegisterMap::Entry*> commands_;
};

}  // namespace vngtl
