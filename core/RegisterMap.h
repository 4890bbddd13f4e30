// The simulated register space: an ordered set of non-overlapping byte ranges (entries), each backed by a
// block of bytes and by four hooks that run around every access. It is the register space behind every
// module port and the store of every object's info values.
//
// Ownership: the map owns its entries through shared pointers; others (an info-command table, a port that
// shares a module's values) keep plain pointers to entries of a map that outlives them. An entry owns its
// backing bytes unless it was given external storage, which its creator keeps alive for the entry's life.
//
// Thread safety: a map is filled while its owner is built, before the owner's handle is handed out, and only
// read and written (never restructured) afterwards. Accesses to an entry that runs hooks (a computed value,
// an action after a write, a command) are serialised per map by the map's hook lock, so two callers reading
// one computed register do not both write its bytes; the lock is recursive, since a hook may read the map
// again, and it is taken before any lock a hook takes (a board's state lock, the pool's locks). Accesses to
// plain entries take no lock: their bytes are the callers' to order.
#pragma once

#include <gentl/GenTL.h>

#include <cstddef>
#include <cstdint>
#include <atomic>
#include <map>
#include <vector>
#include <memory>
#include <mutex>

namespace vngtl {

class RegisterMap {
public:
    class Entry {
    public:
        // Takes `external_data` as the backing bytes when given (never freed here); otherwise allocates
        // `length` bytes, left uninitialised for the creator to fill. When that allocation fails the
        // failure is recorded and the entry has no data, which makes RegisterMap::insert discard it.
        Entry(uint64_t address, void* external_data, uint64_t length, GenTL::INFO_DATATYPE type, bool readable,
              bool writable);
        virtual ~Entry();
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

        uint64_t address() const noexcept { return address_; }
        uint64_t length() const noexcept { return length_; }
        uint64_t end() const noexcept { return address_ + length_; }
        GenTL::INFO_DATATYPE type() const noexcept { return type_; }
        bool readable() const noexcept { return readable_; }
        bool writable() const noexcept { return writable_; }
        uint8_t* data() const noexcept { return data_; }

        // Modules clear this for values that do not apply now; info queries then answer not-available.
        bool available() const noexcept { return available_.load(std::memory_order_relaxed); }
        void set_available(bool available) noexcept { available_.store(available, std::memory_order_relaxed); }

        // This entry's part of a map access at `address`: moves up to *length_in_out bytes (lowered to what
        // the entry holds from `address` on) between its bytes and `buffer`, with the hooks around it.
        GenTL::GC_ERROR read(uint64_t address, void* buffer, size_t* length_in_out);
        GenTL::GC_ERROR write(uint64_t address, const void* buffer, size_t* length_in_out);

        // The typed read of info queries: the value's type and bytes by the size protocol (`buffer` null
        // asks for the size). A string answers its text up to the first zero byte plus one zero byte.
        GenTL::GC_ERROR read(GenTL::INFO_DATATYPE* type_out, void* buffer, size_t* size_in_out);

        // Whether the entry's hooks do anything: only then are its accesses serialised by the map's hook lock,
        // and only then do its byte reads and writes call the hooks. Default: no.
        virtual bool runs_hooks() const noexcept;

    protected:
        // Hooks around every access; each answers a GenTL code, 0 to go on. The base ones do nothing.
        // pre_read may compute the value into `data` or refuse; post_read's answer is the read's answer.
        virtual GenTL::GC_ERROR pre_read(uint8_t* data, void* buffer, size_t* length);
        virtual GenTL::GC_ERROR post_read(uint8_t* data);
        // pre_write may refuse; post_write may act on the new value and rewrite it, and its answer is the
        // write's answer.
        virtual GenTL::GC_ERROR pre_write(uint8_t* data, const void* buffer, size_t* length);
        virtual GenTL::GC_ERROR post_write(uint8_t* data);

    private:
        uint64_t address_;
        uint64_t length_;
        GenTL::INFO_DATATYPE type_;
        bool readable_;
        bool writable_;
        std::atomic<bool> available_{true};
        std::unique_ptr<uint8_t[]> owned_;
        uint8_t* data_ = nullptr;
        std::recursive_mutex* hook_lock_ = nullptr;  // the map's, taken while runs_hooks()
        friend class RegisterMap;
    };

    // Makes one kind of entry from exactly the constructor's arguments (see RegisterMapHelpers.h).
    using EntryFactory = std::shared_ptr<Entry> (*)(uint64_t address, void* external_data, uint64_t length,
                                                    GenTL::INFO_DATATYPE type, bool readable, bool writable);

    // Adds an entry made by `factory` at [address, address + length). The address must be a multiple of 4
    // and the range must not overlap another entry (touching is fine). Null on failure (recorded).
    // Appending callers pass next_free_address().
    Entry* insert(uint64_t address, void* external_data, uint64_t length, GenTL::INFO_DATATYPE type,
                  bool readable, bool writable, EntryFactory factory);

    // The entry whose range holds `address`.
    GenTL::GC_ERROR containing_entry(uint64_t address, Entry** out) const;

    // Copies `length` bytes at `address` entry by entry. The up to 3 bytes that pad an entry whose length is
    // not a multiple of 4 are skipped (left as they are in the buffer); an access that touches a gap fails
    // there, keeping what was moved before it.
    GenTL::GC_ERROR read(uint64_t address, void* buffer, size_t length) const;
    GenTL::GC_ERROR write(uint64_t address, const void* buffer, size_t length) const;

    // address + length of the highest entry; 0 for an empty map.
    uint64_t end_address() const noexcept;
    // end_address() rounded up to a multiple of 4: where the next appended entry goes.
    uint64_t next_free_address() const noexcept;

    size_t size() const noexcept { return entries_.size(); }

    // The hook lock, for an owner that reads or writes entries with hooks outside a map access (so that it
    // sees no access half done); taken, as always, before any lock a hook takes.
    std::recursive_mutex& hook_lock() noexcept { return hook_lock_; }

private:
    std::map<uint64_t, std::shared_ptr<Entry>> entries_;
    // The same entries as two arrays in address order, for the lookup of every access: a binary search over
    // contiguous start addresses rather than a walk down the tree. Changed only with entries_.
    std::vector<uint64_t> starts_;
    std::vector<Entry*> ordered_;
    uint64_t end_address_ = 0;  // the highest entry's end, kept with the arrays
    mutable std::atomic<Entry*> last_found_{nullptr};  // the entry containing_entry found last
    std::recursive_mutex hook_lock_;
};

}  // namespace vngtl
