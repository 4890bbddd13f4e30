// The kinds of register-map entries that modules put into their maps, and one factory per kind for
// RegisterMap::insert.
#pragma once

#include "core/RegisterMap.h"

#include <functional>

namespace vngtl {

// An entry whose four hooks are callbacks; an empty callback answers 0. Modules bind their own functions to
// compute a value before a read (pre_read refreshes the entry's bytes) or act on it after a write. `N` is
// the info command or feature number the class is instantiated for; all instantiations behave alike.
template <int N>
class InfoFuncEntry : public RegisterMap::Entry {
public:
    using ReadHook = std::function<GenTL::GC_ERROR(RegisterMap::Entry&, uint8_t* data, void* buffer, size_t* length)>;
    using WriteHook =
        std::function<GenTL::GC_ERROR(RegisterMap::Entry&, uint8_t* data, const void* buffer, size_t* length)>;
    using AfterHook = std::function<GenTL::GC_ERROR(RegisterMap::Entry&, uint8_t* data)>;

    using RegisterMap::Entry::Entry;

    // Bind before the entry's owner hands out its handle. Accesses that run them are serialised by the
    // map's hook lock.
    ReadHook on_pre_read;
    AfterHook on_post_read;
    WriteHook on_pre_write;
    AfterHook on_post_write;

    bool runs_hooks() const noexcept override
    {
        return on_pre_read || on_post_read || on_pre_write || on_post_write;
    }

protected:
    GenTL::GC_ERROR pre_read(uint8_t* data, void* buffer, size_t* length) override
    {
        return on_pre_read ? on_pre_read(*this, data, buffer, length) : GenTL::GC_ERR_SUCCESS;
    }
    GenTL::GC_ERROR post_read(uint8_t* data) override
    {
        return on_post_read ? on_post_read(*this, data) : GenTL::GC_ERR_SUCCESS;
    }
    GenTL::GC_ERROR pre_write(uint8_t* data, const void* buffer, size_t* length) override
    {
        return on_pre_write ? on_pre_write(*this, data, buffer, length) : GenTL::GC_ERR_SUCCESS;
    }
    GenTL::GC_ERROR post_write(uint8_t* data) override
    {
        return on_post_write ? on_post_write(*this, data) : GenTL::GC_ERR_SUCCESS;
    }
};

// A command feature: a 4-byte writable register. Writing 1 runs the command; any write leaves the register
// reading 0 again.
class CommandEntry : public RegisterMap::Entry {
public:
    using RegisterMap::Entry::Entry;

    std::function<GenTL::GC_ERROR()> command;

    bool runs_hooks() const noexcept override { return true; }

protected:
    GenTL::GC_ERROR post_write(uint8_t* data) override;
};

// Factories for RegisterMap::insert.
std::shared_ptr<RegisterMap::Entry> make_plain_entry(uint64_t address, void* external_data, uint64_t length,
                                                     GenTL::INFO_DATATYPE type, bool readable, bool writable);
std::shared_ptr<RegisterMap::Entry> make_command_entry(uint64_t address, void* external_data, uint64_t length,
                                                       GenTL::INFO_DATATYPE type, bool readable, bool writable);

template <int N>
std::shared_ptr<RegisterMap::Entry> make_info_func_entry(uint64_t address, void* external_data, uint64_t length,
                                                         GenTL::INFO_DATATYPE type, bool readable, bool writable)
{
    return std::make_shared<InfoFuncEntry<N>>(address, external_data, length, type, readable, writable);
}

}  // namespace vngtl
