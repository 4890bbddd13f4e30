// How the modules put the registers of their XML descriptions into their maps: each register is an entry
// at the address the description names, bound as a custom info command of the module.
#pragma once

#include "core/BaseInfo.h"
#include "core/RegisterMapHelpers.h"
#include "modules/RegisterMapPort.h"

#include <gentl/GenTL.h>

#include <cstring>
#include <functional>
#include <source_location>
#include <span>
#include <string_view>

namespace vngtl {

// The hooks a module gives a computed register: `read` refreshes the entry's bytes before a read, `written`
// acts on the bytes after a write. Either may be empty.
struct RegisterHooks {
    using Hook = std::function<GenTL::GC_ERROR(RegisterMap::Entry&, uint8_t* data)>;
    Hook read;
    Hook written;

    static RegisterHooks on_read(Hook hook) { return {std::move(hook), {}}; }
    static RegisterHooks on_write(Hook hook) { return {{}, std::move(hook)}; }
};

// A register holding `initial` (zeros when null) with the given hooks; null when the insert failed.
inline RegisterMap::Entry* add_register(BaseInfo& module, int32_t command, uint64_t address, uint64_t length,
                                        GenTL::INFO_DATATYPE type, bool readable, bool writable,
                                        RegisterHooks hooks = {}, const void* initial = nullptr)
{
    if (!hooks.read && !hooks.written) {
        return module.add_info(command, initial, address, length, type, readable, writable);
    }
    auto* entry = static_cast<InfoFuncEntry<GenTL::TL_INFO_CUSTOM_ID>*>(module.add_info(
        command, initial, address, length, type, readable, writable, make_info_func_entry<GenTL::TL_INFO_CUSTOM_ID>));
    if (entry == nullptr) {
        return nullptr;
    }
    if (hooks.read) {
        entry->on_pre_read = [read = std::move(hooks.read)](RegisterMap::Entry& self, uint8_t* data, void*, size_t*) {
            return read(self, data);
        };
    }
    if (hooks.written) {
        entry->on_post_write = std::move(hooks.written);
    }
    return entry;
}

// A 4-byte unsigned register with a fixed or initial value.
inline RegisterMap::Entry* add_uint32_register(BaseInfo& module, int32_t command, uint64_t address, uint32_t value,
                                               bool readable, bool writable, RegisterHooks hooks = {})
{
    return add_register(module, command, address, sizeof value, GenTL::INFO_DATATYPE_UINT32, readable, writable,
                        std::move(hooks), &value);
}

// A command register: writing 1 runs `command`.
inline RegisterMap::Entry* add_command_register(BaseInfo& module, int32_t command_id, uint64_t address,
                                                std::function<GenTL::GC_ERROR()> command)
{
    const uint32_t zero = 0;
    auto* entry = static_cast<CommandEntry*>(module.add_info(command_id, &zero, address, sizeof zero,
                                                             GenTL::INFO_DATATYPE_UINT32, false, true,
                                                             make_command_entry));
    if (entry != nullptr) {
        entry->command = std::move(command);
    }
    return entry;
}

// The 32-bit value an entry holds (in the machine's byte order, as the descriptions' registers are).
inline uint32_t entry_uint32(const RegisterMap::Entry* entry)
{
    uint32_t value = 0;
    if (entry != nullptr) {
        std::memcpy(&value, entry->data(), sizeof value);
    }
    return value;
}

inline void set_entry_uint32(RegisterMap::Entry& entry, uint32_t value)
{
    std::memcpy(entry.data(), &value, sizeof value);
}

// The text of a string entry, up to its first zero byte.
inline std::string_view entry_text(const RegisterMap::Entry& entry)
{
    const auto* text = reinterpret_cast<const char*>(entry.data());
    return {text, strnlen(text, static_cast<size_t>(entry.length()))};
}

// One register of a module's description, as a row of the module's register table.
struct RegisterRow {
    enum Kind : uint8_t {
        Value,    // holds its bytes (a fixed or initial value)
        Computed, // the module's read hook refreshes it before each read
        Acts,     // the module's write hook acts on it after each write
        Both,     // read hook and write hook
        Command,  // writing 1 runs the module's command for it
    };
    int32_t command;  // the custom info command the register is bound as
    uint64_t address;
    uint64_t length;
    GenTL::INFO_DATATYPE type;
    bool readable;
    bool writable;
    Kind kind;
};

// What the table's rows are given by the module: each hook and value is asked with the row's command.
struct RegisterTableHooks {
    std::function<GenTL::GC_ERROR(int32_t command, RegisterMap::Entry&, uint8_t* data)> read;
    std::function<GenTL::GC_ERROR(int32_t command, RegisterMap::Entry&, uint8_t* data)> written;
    std::function<GenTL::GC_ERROR(int32_t command)> run;
    // The initial value of a Value, Computed or Acts register of up to 8 bytes (0 when empty).
    std::function<uint64_t(int32_t command)> initial;
};

// Inserts every row of `table` into the module's map at its address; a row that cannot be inserted is
// recorded by the map and left out.
inline void add_register_table(BaseInfo& module, std::span<const RegisterRow> table, const RegisterTableHooks& hooks)
{
    for (const RegisterRow& row : table) {
        const int32_t command = row.command;
        if (row.kind == RegisterRow::Command) {
            add_command_register(module, command, row.address, [run = hooks.run, command] { return run(command); });
            continue;
        }
        RegisterHooks row_hooks;
        if (row.kind == RegisterRow::Computed || row.kind == RegisterRow::Both) {
            row_hooks.read = [read = hooks.read, command](RegisterMap::Entry& entry, uint8_t* data) {
                return read(command, entry, data);
            };
        }
        if (row.kind == RegisterRow::Acts || row.kind == RegisterRow::Both) {
            row_hooks.written = [written = hooks.written, command](RegisterMap::Entry& entry, uint8_t* data) {
                return written(command, entry, data);
            };
        }
        const uint64_t initial = hooks.initial && row.length <= sizeof(uint64_t) ? hooks.initial(command) : 0;
        add_register(module, command, row.address, row.length, row.type, row.readable, row.writable,
                     std::move(row_hooks), row.length <= sizeof initial ? &initial : nullptr);
    }
}

// A module's embedded XML description: the depot's resource, the file name it is announced under, and the
// address of the port's map it is placed at.
struct ModuleXml {
    const char* resource_name;
    const char* xml_file_name;
    uint64_t address;
};

// Sets up a module's description: places its XML file on the module's port and, when that succeeded, inserts
// the rows of its register table, their read and write hooks dispatched to the module's `read` and `written`
// members, `run` serving its commands and `initial` its values. A failure is recorded against `function` at
// the caller's location, and the module is left without description and registers.
template <typename Module>
void setup_module_xml(Module& module, RegisterMapPort& port, const char* function, const ModuleXml& xml,
                      std::span<const RegisterRow> table,
                      GenTL::GC_ERROR (Module::*read)(int32_t, RegisterMap::Entry&, uint8_t*),
                      GenTL::GC_ERROR (Module::*written)(int32_t, RegisterMap::Entry&, uint8_t*),
                      std::function<GenTL::GC_ERROR(int32_t command)> run,
                      std::function<uint64_t(int32_t command)> initial,
                      std::source_location where = std::source_location::current())
{
    if (!port.add_module_xml(function, xml.resource_name, xml.xml_file_name, xml.address, where)) {
        return;
    }
    add_register_table(module, table,
                       {[&module, read](int32_t command, RegisterMap::Entry& entry, uint8_t* data) {
                            return (module.*read)(command, entry, data);
                        },
                        [&module, written](int32_t command, RegisterMap::Entry& entry, uint8_t* data) {
                            return (module.*written)(command, entry, data);
                        },
                        std::move(run), std::move(initial)});
}

}  // namespace vngtl
