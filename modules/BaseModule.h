// The root of the four GenTL module kinds (system, interface, device, data stream): an ID, a weak link to
// the parent, the module's own port, the open state and the children, refreshed by update_children.
//
// Ownership: a module owns its children through shared pointers, listed by child ID; a child links back to
// its parent weakly. Closing a module does not free it: it stays listed (closed) until an update no longer
// wants it or its parent goes, so its handle stays valid meanwhile. `port` points at a member of the derived
// module and lives as long as it.
//
// Thread safety: the module does not serialise its operations against each other. The child lists are
// guarded by `children_lock_`, a leaf lock held only while the lists themselves are read or changed: no
// child operation, generator or hook runs under it and no other lock is taken inside it, so it has no place
// in the lock order. The open flag is atomic.
#pragma once

#include "modules/BaseHandle.h"

#include <gentl/GenTL.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vngtl {

class BaseModule : public BaseHandle {
public:
    // update_children's time-out value for "no limit".
    static constexpr uint64_t infinite = ~uint64_t{0};

    // `parent` is empty for the system module; `port` is the derived module's own port member (or null).
    BaseModule(std::string id, std::weak_ptr<BaseModule> parent, BasePort* port);
    ~BaseModule() override;

    BasePort* get_port() override;
    const BasePort* get_port() const override;

    // Default: not open -> GC_ERR_INVALID_HANDLE; open -> GC_ERR_NOT_IMPLEMENTED (no event of this kind).
    GenTL::GC_ERROR register_event(GenTL::EVENT_TYPE event_type, BaseEvent** event_out) override;
    GenTL::GC_ERROR unregister_event(GenTL::EVENT_TYPE event_type) override;

    // The IDs of the children that should exist now (empty elements are skipped). Default: none.
    virtual GenTL::GC_ERROR valid_child_ids(std::vector<std::string>& list_out);
    // Creates the child `id`, which stands at `index` of the list from valid_child_ids. Default: fails.
    virtual GenTL::GC_ERROR make_new_child(std::shared_ptr<BaseModule>& child_out, size_t index,
                                           const std::string& id);
    // Default open: refuses a second open, else opens and brings the children up to date (the update's
    // answer does not matter). `flags` is the GenTL access flag where the module kind has one.
    virtual GenTL::GC_ERROR open(int32_t flags);
    // Default close: closes the open children (they stay listed), then this module.
    virtual GenTL::GC_ERROR close();
    // A shared pointer to this module as its parent lists it; empty without a parent.
    virtual std::shared_ptr<BaseModule> shared_self();

    // Refused while the module is closed, else BaseInfo::info.
    GenTL::GC_ERROR info(int32_t command, GenTL::INFO_DATATYPE* type_out, void* buffer, size_t* size_in_out) override;

    // Merges the children that should exist (valid_child_ids) with those that exist: vanished ones are
    // closed and removed, new ones created. `changed_out` (may be null) tells whether anything changed;
    // `timeout_ms` limits the whole update, `infinite` for no limit.
    GenTL::GC_ERROR update_children(GenTL::bool8_t* changed_out, uint64_t timeout_ms);
    GenTL::GC_ERROR num_children(uint32_t* count_out) const;
    // The ID of child `index` in the order the children were added, by the string size protocol.
    GenTL::GC_ERROR get_child_id(uint32_t index, char* buffer, size_t* size_in_out) const;
    // The child `id`, whether or not it is open. The module is handed out counted, as are the two below:
    // an update on another thread may unlist it at any moment, and it must outlive the caller's use.
    GenTL::GC_ERROR get_child(const char* id, std::shared_ptr<BaseModule>* module_out) const;
    // Opens the child `id`; `*module_out` is set only when it opened.
    GenTL::GC_ERROR open_child(const char* id, std::shared_ptr<BaseModule>* module_out, int32_t flags);
    // The parent, while it is listed and open; empty once its own parent has let it go.
    GenTL::GC_ERROR get_parent(std::shared_ptr<BaseModule>* module_out) const;

    // Lists `child` under its ID; false (and nothing changes) when the ID is listed already.
    bool add_child(std::shared_ptr<BaseModule> child);
    // Unlists the child `id` and closes it if it is open; false for an unknown ID.
    bool remove_child(const std::string& id);
    // Closes every open child, in ID order.
    void close_children();
    std::shared_ptr<BaseModule> find_child(const std::string& id) const;
    std::shared_ptr<BaseModule> child_at(size_t index) const;

    const std::string& id() const noexcept { return id_; }
    bool is_open() const noexcept { return is_open_.load(std::memory_order_acquire); }

protected:
    // The monotonic clock of update_children's time-outs, in nanoseconds.
    virtual uint64_t monotonic_ns() const;

    void set_open(bool open) noexcept { is_open_.store(open, std::memory_order_release); }
    std::shared_ptr<BaseModule> parent() const { return parent_.lock(); }

private:
    GenTL::GC_ERROR not_open(const char* function) const;

    const std::string id_;
    const std::weak_ptr<BaseModule> parent_;
    BasePort* const port_;
    mutable std::mutex children_lock_;
    std::map<std::string, std::shared_ptr<BaseModule>> children_;  // guarded by children_lock_
    std::vector<std::string> child_ids_;                            // guarded by children_lock_
    std::atomic<bool> is_open_{false};
};

}  // namespace vngtl
