#include "cti/CtiManager.h"

#include "board/BoardTable.h"
#include "board/VNBoards.h"
#include "core/ErrorReport.h"
#include "core/HandleRegistry.h"
#include "modules/TLModule.h"

#include <chrono>
#include <thread>

namespace vngtl {

namespace {

using WrapperOwner = std::shared_ptr<CtiManager::Wrapper>;

using library_calls::calls;
using library_calls::closing;
using library_calls::one_call;
using library_calls::published;

// The manager reference and the library mutex guarding it (held by GCInitLib, GCCloseLib and the end of
// the library, never by a call). Built on first use, which LibraryLifetime's construction makes the
// library's load, so that it is destroyed only after LibraryLifetime has ended the library.
//
// Calls find the manager without the mutex: a call adds itself to `calls` first, then reads `published`;
// GCCloseLib sets the closing bit first, then reads the count (both sequentially consistent). So either the
// call is counted before GCCloseLib looks, and GCCloseLib refuses, or the call sees the closing bit and waits
// for GCCloseLib's answer: then it finds the manager again (refused) or finds none (closed).
// The two atomics are constant-initialised and trivially destroyed, so that a call reaches them without
// the guard of a function's static.
struct LibraryState {
    std::mutex mutex;
    WrapperOwner reference;
    bool ended = false;  // the library is being unloaded or the process is ending: no new manager
};

LibraryState& library()
{
    static LibraryState state;
    return state;
}

}  // namespace

constinit std::atomic<CtiManager::Wrapper*> library_calls::published{nullptr};  // the ready manager
constinit std::atomic<uint64_t> library_calls::calls{0};  // one_call per call inside, plus closing

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

void prepare_library()
{
    static_cast<void>(library());
}

ManagerRef get_manager_while_closing() noexcept
{
    // A loop, not a call back into get_manager: a consumer closing the library again and again must not
    // grow this thread's stack.
    for (;;) {
        // The count added is still on: a GCCloseLib is looking at it, and its answer takes no longer than
        // that.
        calls.fetch_sub(one_call, std::memory_order_seq_cst);
        while ((calls.load(std::memory_order_acquire) & closing) != 0) {
            std::this_thread::yield();
        }
        if ((calls.fetch_add(one_call, std::memory_order_seq_cst) & closing) == 0) {
            if (CtiManager::Wrapper* const wrapper = published.load(std::memory_order_seq_cst)) {
                return ManagerRef(wrapper);
            }
            calls.fetch_sub(one_call, std::memory_order_release);
            return {};
        }
    }
}

GenTL::GC_ERROR init_library()
{
    LibraryState& state = library();
    WrapperOwner copy;
    {
        std::lock_guard guard(state.mutex);
        if (state.ended) {
            return GenTL::GC_ERR_NOT_AVAILABLE;
        }
        if (state.reference) {
            return GenTL::GC_ERR_RESOURCE_IN_USE;
        }
        state.reference = std::make_shared<CtiManager::Wrapper>();
        copy = state.reference;
    }
    const GenTL::GC_ERROR code = copy->init();
    if (code == GenTL::GC_ERR_SUCCESS) {
        // Calls find the manager only once it is whole, and only while it is still the library's.
        std::lock_guard guard(state.mutex);
        if (state.reference == copy) {
            published.store(copy.get(), std::memory_order_seq_cst);
        }
    }
    return code;
}

void discard_uninitialised_wrapper()
{
    LibraryState& state = library();
    WrapperOwner dropped;
    std::lock_guard guard(state.mutex);
    if (state.reference && !state.reference->ready()) {
        dropped = std::move(state.reference);
    }
}

GenTL::GC_ERROR close_library()
{
    LibraryState& state = library();
    WrapperOwner last;
    {
        std::lock_guard guard(state.mutex);
        if (!state.reference || !state.reference->ready()) {
            return GenTL::GC_ERR_NOT_INITIALIZED;
        }
        if (calls.fetch_or(closing, std::memory_order_seq_cst) >= one_call) {
            calls.fetch_and(~closing, std::memory_order_seq_cst);
            return GenTL::GC_ERR_RESOURCE_IN_USE;
        }
        published.store(nullptr, std::memory_order_seq_cst);
        calls.fetch_and(~closing, std::memory_order_seq_cst);
        last = std::move(state.reference);
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

bool end_library(std::chrono::milliseconds limit) noexcept
{
    LibraryState& state = library();
    WrapperOwner last;
    {
        std::lock_guard guard(state.mutex);
        state.ended = true;
        published.store(nullptr, std::memory_order_seq_cst);
        last = std::move(state.reference);
    }
    if (!last) {
        return true;
    }
    const auto until = std::chrono::steady_clock::now() + limit;
    const auto wait_until = [&](auto condition) {
        while (!condition()) {
            if (std::chrono::steady_clock::now() > until) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    };
    // A GCInitLib still building the manager on another thread finishes first.
    bool ended = wait_until([&] { return last->ready(); });
    if (ended) {
        try {
            // Closing the tree stops every stream and ends every wait; calls still running on other threads
            // then return, and no new call finds the manager.
            last->get()->close_tree();
        } catch (...) {
            ended = false;
        }
    }
    ended = ended && wait_until([&] { return calls.load(std::memory_order_seq_cst) < one_call; });
    if (!ended) {
        // Another thread is still inside a call: the manager and its threads are left as they are rather
        // than destroyed under it.
        static_cast<void>(new WrapperOwner(std::move(last)));
        return false;
    }
    HandleRegistry::instance().revoke_all();
    publish_error_store(nullptr);
    last.reset();
    return true;
}

void CtiManager::close_tree()
{
    std::shared_ptr<TLModule> system;
    {
        std::lock_guard guard(create_lock_);
        system = tl_module_;
    }
    if (system) {
        system->close();
    }
}

}  // namespace vngtl
