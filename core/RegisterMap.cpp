#include "core/RegisterMap.h"

#include "core/ErrorReport.h"
#include "core/SizeProtocol.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <string_view>

namespace vngtl {

using namespace GenTL;

namespace {

bool aligned(uint64_t address) noexcept
{
    return address % 4 == 0;
}

uint64_t round_up_to_word(uint64_t value) noexcept
{
    return value + (4 - value % 4) % 4;
}

// A failed access's record, "<before><address in hex><after>". Built out of line: failures are rare, and a
// message composed inline costs every access of the port's hot path a larger frame.
[[gnu::cold, gnu::noinline]] GC_ERROR access_failure(const char* function, GC_ERROR code, const char* before,
                                                     uint64_t address, const char* after)
{
    return report_error(function, code, before + hex(address) + after);
}

// Hexadecimal digits without the prefix, for the later numbers of a message that has switched to hex.
std::string hex_digits(uint64_t value)
{
    return hex(value).substr(2);
}

std::string overlap_message(uint64_t address, uint64_t length)
{
    return "Unable to insert a register map entry at address " + hex(address) + ", length " + hex_digits(length) +
           ", because it would overlap with another entry.";
}

}  // namespace

RegisterMap::Entry::Entry(uint64_t address, void* external_data, uint64_t length, INFO_DATATYPE type, bool readable,
                          bool writable)
    : address_(address), length_(length), type_(type), readable_(readable), writable_(writable)
{
    if (external_data != nullptr) {
        data_ = static_cast<uint8_t*>(external_data);
        return;
    }
    if (length <= std::numeric_limits<size_t>::max()) {
        owned_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(length)]);
    }
    if (!owned_) {
        report_error("RegisterMap::Entry::Entry", GC_ERR_OUT_OF_MEMORY,
                     "Failed to allocate virtual registry map at " + hex(address) + ", length " + hex_digits(length) +
                         "B.");
        return;
    }
    data_ = owned_.get();
}

RegisterMap::Entry::~Entry() = default;

GC_ERROR RegisterMap::Entry::pre_read(uint8_t*, void*, size_t*)
{
    return GC_ERR_SUCCESS;
}

GC_ERROR RegisterMap::Entry::post_read(uint8_t*)
{
    return GC_ERR_SUCCESS;
}

GC_ERROR RegisterMap::Entry::pre_write(uint8_t*, const void*, size_t*)
{
    return GC_ERR_SUCCESS;
}

GC_ERROR RegisterMap::Entry::post_write(uint8_t*)
{
    return GC_ERR_SUCCESS;
}

namespace {

[[gnu::cold, gnu::noinline]] GC_ERROR outside_entry(const char* function, uint64_t address,
                                                    const RegisterMap::Entry& entry)
{
    return report_error(function, GC_ERR_INVALID_ADDRESS,
                        "The start address, " + hex(address) + ", is outside this register's range, [" +
                            hex(entry.address()) + ", " + hex(entry.end()) + "].");
}

// The checks shared by an entry's read and write, steps 3 and 4: word alignment and the entry's range.
GC_ERROR check_entry_range(const char* function, uint64_t address, const RegisterMap::Entry& entry)
{
    if (!aligned(address)) {
        return access_failure(function, GC_ERR_INVALID_ADDRESS, "The start address, ", address,
                              ", is not word-aligned.");
    }
    if (address < entry.address() || address > entry.end()) [[unlikely]] {
        return outside_entry(function, address, entry);
    }
    return GC_ERR_SUCCESS;
}

}  // namespace

bool RegisterMap::Entry::runs_hooks() const noexcept
{
    return false;
}

// The byte accesses ask runs_hooks() once: an entry whose hooks do nothing is read and written without the
// hook lock and without calling them, which is most of the registers a consumer polls.
GC_ERROR RegisterMap::Entry::read(uint64_t address, void* buffer, size_t* length_in_out)
{
    const bool hooked = runs_hooks();
    std::unique_lock<std::recursive_mutex> hooks;
    if (hooked && hook_lock_ != nullptr) {
        hooks = std::unique_lock(*hook_lock_);
    }
    static constexpr const char* function = "RegisterMap::Entry::read";
    if (buffer == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "A valid output buffer is required by this method.");
    }
    if (length_in_out == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "A valid read length is required by this method.");
    }
    if (const GC_ERROR code = check_entry_range(function, address, *this)) {
        return code;
    }
    if (hooked) {
        if (const GC_ERROR code = pre_read(data_, buffer, length_in_out)) {
            return code;
        }
    }
    if (!readable_) {
        return access_failure(function, GC_ERR_ACCESS_DENIED, "The virtual register map entry at ", address,
                              " is not readable.");
    }
    const uint64_t count = std::min<uint64_t>(*length_in_out, end() - address);
    std::memcpy(buffer, data_ + (address - address_), static_cast<size_t>(count));
    *length_in_out = static_cast<size_t>(count);
    return hooked ? post_read(data_) : GC_ERR_SUCCESS;
}

GC_ERROR RegisterMap::Entry::write(uint64_t address, const void* buffer, size_t* length_in_out)
{
    const bool hooked = runs_hooks();
    std::unique_lock<std::recursive_mutex> hooks;
    if (hooked && hook_lock_ != nullptr) {
        hooks = std::unique_lock(*hook_lock_);
    }
    static constexpr const char* function = "RegisterMap::Entry::write";
    if (buffer == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "A valid input buffer is required by this method.");
    }
    if (length_in_out == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "A valid write length is required by this method.");
    }
    if (const GC_ERROR code = check_entry_range(function, address, *this)) {
        return code;
    }
    if (hooked) {
        if (const GC_ERROR code = pre_write(data_, buffer, length_in_out)) {
            return code;
        }
    }
    if (!writable_) {
        return access_failure(function, GC_ERR_ACCESS_DENIED, "The virtual register map entry at ", address,
                              " is not writable.");
    }
    const uint64_t count = std::min<uint64_t>(*length_in_out, end() - address);
    std::memcpy(data_ + (address - address_), buffer, static_cast<size_t>(count));
    *length_in_out = static_cast<size_t>(count);
    return hooked ? post_write(data_) : GC_ERR_SUCCESS;
}

GC_ERROR RegisterMap::Entry::read(INFO_DATATYPE* type_out, void* buffer, size_t* size_in_out)
{
    std::unique_lock<std::recursive_mutex> hooks;
    if (hook_lock_ != nullptr && runs_hooks()) {
        hooks = std::unique_lock(*hook_lock_);
    }
    static constexpr const char* function = "RegisterMap::Entry::read";
    if (const GC_ERROR code = pre_read(data_, buffer, size_in_out)) {
        return code;
    }
    if (!readable_) {
        return report_error(function, GC_ERR_ACCESS_DENIED,
                            "The virtual register map entry at " + hex(address_) + " is not readable.");
    }
    if (type_out == nullptr || size_in_out == nullptr || data_ == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "Error verifying the read parameters.");
    }
    *type_out = type_;
    const auto length = static_cast<size_t>(length_);
    GC_ERROR code = GC_ERR_SUCCESS;
    if (type_ == INFO_DATATYPE_STRING) {
        code = deliver_string(std::string_view(reinterpret_cast<const char*>(data_), length), buffer, size_in_out);
    } else {
        code = deliver_bytes(data_, length, length, buffer, size_in_out);
    }
    if (code != GC_ERR_SUCCESS) {
        return report_error(function, code, "Error verifying the read parameters.");
    }
    return post_read(data_);
}

RegisterMap::Entry* RegisterMap::insert(uint64_t address, void* external_data, uint64_t length, INFO_DATATYPE type,
                                        bool readable, bool writable, EntryFactory factory)
{
    static constexpr const char* function = "RegisterMap::insert";
    if (!aligned(address)) {
        report_error(function, GC_ERR_INVALID_ADDRESS,
                     "Unable to insert a register map entry at non-aligned address, " + hex(address) + ".");
        return nullptr;
    }
    if (length == 0) {
        report_error(function, GC_ERR_INVALID_ADDRESS, "Unable to insert a zero length register map entry.");
        return nullptr;
    }
    if (length > std::numeric_limits<uint64_t>::max() - address) {
        report_error(function, GC_ERR_INVALID_ADDRESS,
                     "Unable to insert a register map entry at address " + hex(address) + ", length " +
                         hex_digits(length) + ", because it would extend past the end of the address space.");
        return nullptr;
    }
    const auto successor = entries_.lower_bound(address);
    if (successor != entries_.end() && successor->first < address + length) {
        report_error(function, GC_ERR_INVALID_ADDRESS, overlap_message(address, length));
        return nullptr;
    }
    if (successor != entries_.begin() && std::prev(successor)->second->end() > address) {
        report_error(function, GC_ERR_INVALID_ADDRESS, overlap_message(address, length));
        return nullptr;
    }
    std::shared_ptr<Entry> entry = factory(address, external_data, length, type, readable, writable);
    if (!entry || entry->data() == nullptr) {
        return nullptr;
    }
    Entry* const added = entry.get();
    entry->hook_lock_ = &hook_lock_;
    // Room first, so that nothing below throws once the entry is in the map.
    starts_.reserve(starts_.size() + 1);
    ordered_.reserve(ordered_.size() + 1);
    entries_.emplace_hint(successor, address, std::move(entry));
    const auto position = std::upper_bound(starts_.begin(), starts_.end(), address) - starts_.begin();
    starts_.insert(starts_.begin() + position, address);
    ordered_.insert(ordered_.begin() + position, added);
    end_address_ = ordered_.back()->end();
    return added;
}

GC_ERROR RegisterMap::containing_entry(uint64_t address, Entry** out) const
{
    // A consumer polls the same register again and again: the entry found last is tried before the search.
    // Relaxed is enough, since every entry was built before the map's owner was handed out and is never
    // removed; the hint only saves the search, and a stale one fails the range test.
    if (Entry* const last = last_found_.load(std::memory_order_relaxed);
        last != nullptr && last->address() <= address && address < last->end()) {
        *out = last;
        return GC_ERR_SUCCESS;
    }
    const auto after = std::upper_bound(starts_.begin(), starts_.end(), address);
    if (after != starts_.begin()) {
        Entry* const candidate = ordered_[static_cast<size_t>(after - starts_.begin() - 1)];
        if (candidate->end() > address) {
            last_found_.store(candidate, std::memory_order_relaxed);
            *out = candidate;
            return GC_ERR_SUCCESS;
        }
    }
    return access_failure("RegisterMap::containing_entry", GC_ERR_INVALID_ADDRESS,
                          "The simulated register space doesn't contain an entry for address ", address, ".");
}

uint64_t RegisterMap::end_address() const noexcept
{
    return end_address_;
}

uint64_t RegisterMap::next_free_address() const noexcept
{
    return round_up_to_word(end_address());
}

namespace {

// The walk shared by RegisterMap::read and write: the range checks, then one entry access after another.
// `access` moves the bytes of one entry at `address` to or from `offset` within the caller's buffer.
template <class Access>
GC_ERROR walk_entries(const RegisterMap& map, const char* function, uint64_t address, bool has_buffer,
                      size_t length, const char* length_text, const char* buffer_text, const char* range_text,
                      Access&& access)
{
    if (!aligned(address)) {
        return access_failure(function, GC_ERR_INVALID_ADDRESS, "The given address (", address,
                              ") is not byte aligned.");
    }
    if (length == 0) {
        return report_error(function, GC_ERR_INVALID_ADDRESS, length_text);
    }
    if (!has_buffer) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, buffer_text);
    }
    // Written so that an address near the top of the 64-bit space cannot wrap around.
    const uint64_t end_address = map.end_address();
    if (length > end_address || address > end_address - length) {
        return report_error(function, GC_ERR_INVALID_ADDRESS, range_text);
    }
    const uint64_t end = address + length;
    uint64_t current = address;
    while (current < end) {
        RegisterMap::Entry* entry = nullptr;
        if (const GC_ERROR code = map.containing_entry(current, &entry)) {
            return code;
        }
        auto count = static_cast<size_t>(std::min(entry->length(), end - current));
        if (const GC_ERROR code = access(*entry, current, static_cast<size_t>(current - address), &count)) {
            return code;
        }
        // A hook that lowered the count to nothing must not stall the walk on the same word.
        current = round_up_to_word(current + std::max<size_t>(count, 1));
    }
    return GC_ERR_SUCCESS;
}

}  // namespace

GC_ERROR RegisterMap::read(uint64_t address, void* buffer, size_t length) const
{
    return walk_entries(*this, "RegisterMap::read", address, buffer != nullptr, length,
                        "A valid read length is required by this method.", "Cannot read to a null data buffer.",
                        "The address-plus-length is outside the readable register space.",
                        [buffer](Entry& entry, uint64_t at, size_t offset, size_t* count) {
                            return entry.read(at, static_cast<uint8_t*>(buffer) + offset, count);
                        });
}

GC_ERROR RegisterMap::write(uint64_t address, const void* buffer, size_t length) const
{
    return walk_entries(*this, "RegisterMap::write", address, buffer != nullptr, length,
                        "A valid write length is required by this method.", "Cannot write from a null data buffer.",
                        "The address-plus-length is outside the writable register space.",
                        [buffer](Entry& entry, uint64_t at, size_t offset, size_t* count) {
                            return entry.write(at, static_cast<const uint8_t*>(buffer) + offset, count);
                        });
}

}  // namespace vngtl
