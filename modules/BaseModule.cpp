#include "modules/BaseModule.h"

#include "core/ErrorReport.h"
#include "core/SizeProtocol.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <set>

namespace vngtl {

using namespace GenTL;

BaseModule::BaseModule(std::string id, std::weak_ptr<BaseModule> parent, BasePort* port)
    : id_(std::move(id)), parent_(std::move(parent)), port_(port)
{
}

// A module dies only when nothing lists it any more (its parent owns it while it is listed), so there is
// nothing to unlist here; its children go with the last references to them.
BaseModule::~BaseModule() = default;

BasePort* BaseModule::get_port()
{
    return port_;
}

const BasePort* BaseModule::get_port() const
{
    return port_;
}

GC_ERROR BaseModule::not_open(const char* function) const
{
    return report_error(function, GC_ERR_INVALID_HANDLE, "Module \"" + id_ + "\" exists, but is not open.");
}

GC_ERROR BaseModule::register_event(EVENT_TYPE event_type, BaseEvent**)
{
    if (!is_open()) {
        return not_open("BaseModule::register_event");
    }
    return report_error("BaseModule::register_event", GC_ERR_NOT_IMPLEMENTED,
                        "This module does not implement the given event type (ID " + std::to_string(event_type) +
                            ").");
}

GC_ERROR BaseModule::unregister_event(EVENT_TYPE event_type)
{
    if (!is_open()) {
        return not_open("BaseModule::unregister_event");
    }
    return report_error("BaseModule::unregister_event", GC_ERR_NOT_IMPLEMENTED,
                        "This module does not implement the given event type (ID " + std::to_string(event_type) +
                            ").");
}

GC_ERROR BaseModule::valid_child_ids(std::vector<std::string>& list_out)
{
    list_out.clear();
    return GC_ERR_SUCCESS;
}

GC_ERROR BaseModule::make_new_child(std::shared_ptr<BaseModule>& child_out, size_t, const std::string&)
{
    child_out.reset();
    return report_error("BaseModule::make_new_child", GC_ERR_NOT_AVAILABLE,
                        "The module has not implemented a valid child generator method.");
}

GC_ERROR BaseModule::open(int32_t)
{
    bool expected = false;
    if (!is_open_.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
        return report_error("BaseModule::open", GC_ERR_RESOURCE_IN_USE,
                            "The \"" + id_ + "\" module has already been opened.");
    }
    update_children(nullptr, infinite);
    return GC_ERR_SUCCESS;
}

GC_ERROR BaseModule::close()
{
    if (!is_open()) {
        return report_error("BaseModule::close", GC_ERR_INVALID_HANDLE,
                            "The \"" + id_ + "\" module exists, but is not open, so it cannot be closed.");
    }
    close_children();
    set_open(false);
    return GC_ERR_SUCCESS;
}

std::shared_ptr<BaseModule> BaseModule::shared_self()
{
    std::shared_ptr<BaseModule> up = parent();
    return up ? up->find_child(id_) : nullptr;
}

GC_ERROR BaseModule::info(int32_t command, INFO_DATATYPE* type_out, void* buffer, size_t* size_in_out)
{
    if (!is_open()) {
        return not_open("BaseModule::info");
    }
    return BaseInfo::info(command, type_out, buffer, size_in_out);
}

uint64_t BaseModule::monotonic_ns() const
{
    const auto since_epoch = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count());
}

GC_ERROR BaseModule::update_children(bool8_t* changed_out, uint64_t timeout_ms)
{
    static constexpr const char* function = "BaseModule::update_children";
    if (!is_open()) {
        return report_error(function, GC_ERR_INVALID_HANDLE,
                            "The children of module \"" + id_ +
                                "\" cannot be updated, because the module is not open.");
    }
    // "Timed out" means the clock reads at or past the deadline; a deadline beyond the clock's range is none.
    constexpr uint64_t never = std::numeric_limits<uint64_t>::max();
    constexpr uint64_t ns_per_ms = 1'000'000;
    const uint64_t start = monotonic_ns();
    uint64_t deadline = never;
    if (timeout_ms != infinite && timeout_ms <= (never - start) / ns_per_ms) {
        deadline = start + timeout_ms * ns_per_ms;
    }
    const auto timed_out = [&] { return deadline != never && monotonic_ns() >= deadline; };
    if (changed_out != nullptr) {
        *changed_out = false;
    }

    if (timed_out()) {
        return report_error(function, GC_ERR_TIMEOUT, "Timed out waiting for access to the CTI manager.");
    }
    std::set<std::string> extant;
    {
        std::lock_guard guard(children_lock_);
        for (const auto& listed : children_) {
            extant.insert(listed.first);
        }
    }
    if (timed_out()) {
        return report_error(function, GC_ERR_TIMEOUT, "Timed out retrieving the extant child list.");
    }
    std::vector<std::string> wanted;
    if (const GC_ERROR code = valid_child_ids(wanted)) {
        return code;
    }
    if (timed_out()) {
        return report_error(function, GC_ERR_TIMEOUT, "Timed out while generating a list of new children.");
    }
    // Afterwards `extant` holds the children to drop and the non-empty elements of `wanted` those to create.
    for (std::string& wanted_id : wanted) {
        if (!wanted_id.empty() && extant.erase(wanted_id) == 1) {
            wanted_id.clear();
        }
    }
    static constexpr const char* coalescing = "Timed out while coalescing the lists of new and extant children.";
    if (timed_out()) {
        return report_error(function, GC_ERR_TIMEOUT, coalescing);
    }
    for (const std::string& gone : extant) {
        if (remove_child(gone)) {
            if (changed_out != nullptr) {
                *changed_out = true;
            }
        } else {
            report_error(function, GC_ERR_ERROR,
                         "Failed to remove the child \"" + gone + "\" from module \"" + id_ + "\".");
        }
    }
    if (timed_out()) {
        return report_error(function, GC_ERR_TIMEOUT, coalescing);
    }
    for (size_t index = 0; index < wanted.size(); ++index) {
        if (wanted[index].empty()) {
            continue;
        }
        std::shared_ptr<BaseModule> child;
        if (const GC_ERROR code = make_new_child(child, index, wanted[index])) {
            return code;
        }
        if (!child || !add_child(std::move(child))) {
            report_error(function, GC_ERR_ERROR,
                         "Failed attempting to add a child interface for transport-layer \"" + id_ + "\".");
        }
        if (changed_out != nullptr) {
            *changed_out = true;
        }
        if (timed_out()) {
            return report_error(function, GC_ERR_TIMEOUT,
                                "Timed out after generating a new interface with ID \"" + wanted[index] + "\".");
        }
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR BaseModule::num_children(uint32_t* count_out) const
{
    if (!is_open()) {
        return not_open("BaseModule::num_children");
    }
    if (count_out == nullptr) {
        return report_error("BaseModule::num_children", GC_ERR_INVALID_PARAMETER,
                            "The return variable is a null pointer.");
    }
    std::lock_guard guard(children_lock_);
    *count_out = static_cast<uint32_t>(child_ids_.size());
    return GC_ERR_SUCCESS;
}

GC_ERROR BaseModule::get_child_id(uint32_t index, char* buffer, size_t* size_in_out) const
{
    static constexpr const char* function = "BaseModule::get_child_id";
    if (!is_open()) {
        return not_open(function);
    }
    std::string child_id;
    size_t count = 0;
    {
        std::lock_guard guard(children_lock_);
        count = child_ids_.size();
        if (index < count) {
            child_id = child_ids_[index];
        }
    }
    if (index >= count) {
        return report_error(function, GC_ERR_INVALID_INDEX,
                            "The module has only " + std::to_string(count) + " items. " + std::to_string(index) +
                                " is out of range.");
    }
    if (const GC_ERROR code = deliver_string(child_id, buffer, size_in_out)) {
        return report_error(function, code, "Encountered a problem copying data to the output buffer.");
    }
    return GC_ERR_SUCCESS;
}

namespace {

// The checks shared by get_child and open_child; the child when they pass.
GC_ERROR find_listed_child(const BaseModule& module, const char* function, const char* id,
                           const std::shared_ptr<BaseModule>* module_out, std::shared_ptr<BaseModule>& child)
{
    if (!module.is_open()) {
        return report_error(function, GC_ERR_INVALID_HANDLE, "Module \"" + module.id() + "\" exists, but is not open.");
    }
    if (id == nullptr) {
        return report_error(function, GC_ERR_INVALID_ID, "The child ID string is invalid (null).");
    }
    if (module_out == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "The module return handle pointer is null.");
    }
    child = module.find_child(id);
    if (!child) {
        return report_error(function, GC_ERR_INVALID_ID,
                            std::string("No child exists with the given ID (") + id + ").");
    }
    return GC_ERR_SUCCESS;
}

}  // namespace

GC_ERROR BaseModule::get_child(const char* id, std::shared_ptr<BaseModule>* module_out) const
{
    std::shared_ptr<BaseModule> child;
    if (const GC_ERROR code = find_listed_child(*this, "BaseModule::get_child", id, module_out, child)) {
        return code;
    }
    *module_out = std::move(child);
    return GC_ERR_SUCCESS;
}

GC_ERROR BaseModule::open_child(const char* id, std::shared_ptr<BaseModule>* module_out, int32_t flags)
{
    std::shared_ptr<BaseModule> child;
    if (const GC_ERROR code = find_listed_child(*this, "BaseModule::open_child", id, module_out, child)) {
        return code;
    }
    if (const GC_ERROR code = child->open(flags)) {
        return code;
    }
    *module_out = std::move(child);
    return GC_ERR_SUCCESS;
}

GC_ERROR BaseModule::get_parent(std::shared_ptr<BaseModule>* module_out) const
{
    static constexpr const char* function = "BaseModule::get_parent";
    if (!is_open()) {
        return not_open(function);
    }
    if (module_out == nullptr) {
        return report_error(function, GC_ERR_INVALID_PARAMETER, "The parent module handle pointer is invalid (null).");
    }
    std::shared_ptr<BaseModule> up = parent();
    if (!up) {
        return report_error(function, GC_ERR_INVALID_HANDLE,
                            "Unable to retrieve the parent of module \"" + id_ +
                                "\". Are trying to retrieve the parent of a top-level module?");
    }
    if (!up->is_open()) {
        return report_error(function, GC_ERR_INVALID_HANDLE,
                            "Module \"" + up->id() + "\", parent of \"" + id_ +
                                "\", exists, but is not open, so we cannot retrieve it. This is most likely a bug.");
    }
    *module_out = std::move(up);
    return GC_ERR_SUCCESS;
}

bool BaseModule::add_child(std::shared_ptr<BaseModule> child)
{
    std::lock_guard guard(children_lock_);
    const std::string& child_id = child->id();
    if (!children_.try_emplace(child_id, child).second) {
        return false;
    }
    child_ids_.push_back(child_id);
    return true;
}

bool BaseModule::remove_child(const std::string& id)
{
    std::shared_ptr<BaseModule> removed;
    {
        std::lock_guard guard(children_lock_);
        const auto found = children_.find(id);
        if (found == children_.end()) {
            return false;
        }
        removed = std::move(found->second);
        children_.erase(found);
        child_ids_.erase(std::find(child_ids_.begin(), child_ids_.end(), id));
    }
    // Closed outside the lock (closing reaches the child's own children and its board); once unlisted no
    // other caller can find it, so it is closed once. It dies here unless a caller still holds it.
    if (removed->is_open()) {
        removed->close();
    }
    return true;
}

void BaseModule::close_children()
{
    std::vector<std::shared_ptr<BaseModule>> snapshot;
    {
        std::lock_guard guard(children_lock_);
        for (const auto& listed : children_) {
            snapshot.push_back(listed.second);
        }
    }
    for (const auto& child : snapshot) {
        if (child->is_open()) {
            child->close();
        }
    }
}

std::shared_ptr<BaseModule> BaseModule::find_child(const std::string& id) const
{
    std::lock_guard guard(children_lock_);
    const auto found = children_.find(id);
    return found == children_.end() ? nullptr : found->second;
}

std::shared_ptr<BaseModule> BaseModule::child_at(size_t index) const
{
    std::lock_guard guard(children_lock_);
    if (index >= child_ids_.size()) {
        return nullptr;
    }
    return children_.at(child_ids_[index]);
}

}  // namespace vngtl
