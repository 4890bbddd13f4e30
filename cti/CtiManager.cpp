#include "cti/CtiManager.h"

#include "board/BoardTable.h"
#include "board/VNBoards.h"
#include "core/ErrorReport.h"
#include "core/HandleRegistry.h"
#include "modules/TLModule.h"

namespace vngtl {

namespace {

// The library mutex guards only the manager reference; it is never held while an operation runs.
std::mutex library_mutex;
ManagerRef manager_reference;

}  // namespace

GenTL::GC_ERROR CtiManager::Wrapper::init()
{
    if (manager_) {
        return report_error("CtiManager::Wrapper::init", GenTL::GC_ERR_RESOURCE_IN_USE,
                            "The manager has already been initialized.");
    }
    manager_ = std::make_unique<CtiManager>();
    ready_.store(true, std::memory_order_release);
    publish_error_store(manager_->error_store());
    return GenTL::GC_ERR_SUCCESS;
}

CtiManager::CtiManager()
    : errors_(std::make_shared<ThreadErrorMap>(&VNBoards::debug_output)),
      boards_(std::make_shared<VNBoards::BoardTable>())
{
}

CtiManager::~CtiManager() = default;

size_t CtiManager::board_count() const noexcept
{
    return boards_->size();
}

std::shared_ptr<VNBoards::Board> CtiManager::get_board(size_t index)
{
    return boards_->get_board(index);
}

std::shared_ptr<TLModule> CtiManager::get_tl_module()
{
    std::lock_guard guard(create_lock_);
    if (!tl_module_) {
        // Complete before anyone sees it: GCGetInfo reads its map without opening it.
        auto made = std::make_shared<TLModule>(boards_);
        made->prepare();
        tl_module_ = std::move(made);
    }
    return tl_module_;
}

TLModule* CtiManager::tl_module_address()
{
    return get_tl_module().get();
}

ManagerRef get_manager()
{
    ManagerRef copy;
    {
        std::lock_guard guard(library_mutex);
        copy = manager_reference;
    }
    // A wrapper still building its manager is not handed out: no call may see it without its manager.
    if (copy && !copy->ready()) {
        copy.reset();
    }
    return copy;
}

GenTL::GC_ERROR init_library()
{
    ManagerRef copy;
    {
        std::lock_guard guard(library_mutex);
        if (manager_reference) {
            return GenTL::GC_ERR_RESOURCE_IN_USE;
        }
        manager_reference = std::make_shared<CtiManager::Wrapper>();
        copy = manager_reference;
    }
    return copy->init();
}

void discard_uninitialised_wrapper()
{
    ManagerRef dropped;
    std::lock_guard guard(library_mutex);
    if (manager_reference && !manager_reference->ready()) {
        dropped = std::move(manager_reference);
    }
}

GenTL::GC_ERROR close_library()
{
    ManagerRef last;
    {
        std::lock_guard guard(library_mutex);
        if (!manager_reference || !manager_reference->ready()) {
            return GenTL::GC_ERR_NOT_INITIALIZED;
        }
        if (manager_reference.use_count() > 1) {
            return GenTL::GC_ERR_RESOURCE_IN_USE;
        }
        last = std::move(manager_reference);
        // No call holds the manager and none can get it now, so no handle is pinned: every handle handed
        // out so far ends here, also those of objects that outlive the tree for a moment.
        HandleRegistry::instance().revoke_all();
        // From here on records go to standard error, as they do before the library is initialised.
        publish_error_store(nullptr);
    }
    // The last reference goes here, outside the library mutex: the manager and its tree are destroyed.
    last.reset();
    return GenTL::GC_ERR_SUCCESS;
}

}  // namespace vngtl
