// The library-wide manager: everything that lives between GCInitLib and GCCloseLib hangs off it.
//
// Ownership: the library-wide manager reference owns the Wrapper; every exported call in progress is
// counted as inside it (see ManagerRef), and the Wrapper is not destroyed while a call is inside. The
// Wrapper owns the CtiManager exclusively. The manager owns
// the last-error store (published to the error records while the library is initialised), the board table
// and the system module; the table, its boards and the system module are shared so that a module or thread
// can finish with them after the manager has let go. Only the call frame (cti/) asks for the manager: the
// system module is handed the board table when it is built and hands its values down the tree.
#pragma once

#include "core/ThreadErrorMap.h"

#include <gentl/GenTL.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

namespace VNBoards {
class Board;
class BoardTable;
}

namespace vngtl {

class TLModule;

class CtiManager {
public:
    class Wrapper {
    public:
        // Builds the manager (which enumerates the boards). Refuses when it already owns one.
        GenTL::GC_ERROR init();
        // The manager; non-null once init has succeeded (get_manager hands out no wrapper before that).
        CtiManager* get() const noexcept { return manager_.get(); }
        bool ready() const noexcept { return ready_.load(std::memory_order_acquire); }

    private:
        std::unique_ptr<CtiManager> manager_;
        std::atomic<bool> ready_{false};
    };

    CtiManager();
    ~CtiManager();
    CtiManager(const CtiManager&) = delete;
    CtiManager& operator=(const CtiManager&) = delete;

    ThreadErrorMap& errors() noexcept { return *errors_; }
    const std::shared_ptr<ThreadErrorMap>& error_store() const noexcept { return errors_; }

    // Length of the board table, fixed when the manager was built.
    size_t board_count() const noexcept;

    // The board of slot `index` (below board_count), created on first use; two threads asking for the same
    // empty slot get one board.
    std::shared_ptr<VNBoards::Board> get_board(size_t index);

    // The one system module, created on first use.
    std::shared_ptr<TLModule> get_tl_module();
    TLModule* tl_module_address();
    // Closes the system module and with it every open module below: streams stop, waits end.
    void close_tree();

private:
    // Members are destroyed in reverse order: the system module first, then the boards, then the store.
    std::shared_ptr<ThreadErrorMap> errors_;
    std::shared_ptr<VNBoards::BoardTable> boards_;
    std::shared_ptr<TLModule> tl_module_;
    std::mutex create_lock_;  // guards lazy creation of tl_module_
};

// A call counted inside the library-wide manager, or empty when the library is not initialised. Callers
// hold it for the whole of their call: while any is held, GCCloseLib refuses and the end of the library
// waits, so the manager cannot be destroyed under them. Taking and giving one back is an atomic count on
// the library, without a lock.
class ManagerRef {
public:
    ManagerRef() noexcept = default;
    ~ManagerRef() { release(); }
    ManagerRef(ManagerRef&& other) noexcept : wrapper_(other.wrapper_) { other.wrapper_ = nullptr; }
    ManagerRef& operator=(ManagerRef&& other) noexcept
    {
        if (this != &other) {
            release();
            wrapper_ = other.wrapper_;
            other.wrapper_ = nullptr;
        }
        return *this;
    }
    ManagerRef(const ManagerRef&) = delete;
    ManagerRef& operator=(const ManagerRef&) = delete;

    explicit operator bool() const noexcept { return wrapper_ != nullptr; }
    CtiManager::Wrapper* operator->() const noexcept { return wrapper_; }

private:
    friend ManagerRef get_manager() noexcept;
    friend ManagerRef get_manager_while_closing() noexcept;
    explicit ManagerRef(CtiManager::Wrapper* wrapper) noexcept : wrapper_(wrapper) {}
    void release() noexcept;

    CtiManager::Wrapper* wrapper_ = nullptr;
};

// The count of calls inside the library and the manager they find (the protocol is described where they
// are defined, in CtiManager.cpp). Declared here so that every call takes and gives back its count inline.
namespace library_calls {
inline constexpr uint64_t closing = 1;   // while GCCloseLib decides whether it may close
inline constexpr uint64_t one_call = 2;  // one call inside
extern constinit std::atomic<CtiManager::Wrapper*> published;
extern constinit std::atomic<uint64_t> calls;
}  // namespace library_calls

// get_manager's way when it met a GCCloseLib looking at the count: waits for its answer, then tries again
// until it finds none.
ManagerRef get_manager_while_closing() noexcept;

// The manager, counted, or empty when the library is not initialised (or a GCCloseLib has just ended it).
inline ManagerRef get_manager() noexcept
{
    using namespace library_calls;
    if ((calls.fetch_add(one_call, std::memory_order_seq_cst) & closing) != 0) [[unlikely]] {
        return get_manager_while_closing();
    }
    CtiManager::Wrapper* const wrapper = published.load(std::memory_order_seq_cst);
    if (wrapper != nullptr) [[likely]] {
        return ManagerRef(wrapper);
    }
    calls.fetch_sub(one_call, std::memory_order_release);
    return {};
}

inline void ManagerRef::release() noexcept
{
    if (wrapper_ != nullptr) {
        // Release: the call's uses of the manager happen before the end of the library that waits for the
        // count to drop (it loads the count sequentially consistently, which includes acquire).
        library_calls::calls.fetch_sub(library_calls::one_call, std::memory_order_release);
        wrapper_ = nullptr;
    }
}
// Builds the manager reference and the library mutex; called at the library's load (LibraryLifetime), so
// that they are destroyed only after the library has been ended.
void prepare_library();

// GCInitLib and GCCloseLib without the exception frame (the exports add it).
GenTL::GC_ERROR init_library();
GenTL::GC_ERROR close_library();
// Removes a wrapper that failed to build its manager, so that the library is not left half-initialised.
void discard_uninitialised_wrapper();
// Ends the library for good, whatever the consumer left open (the library is unloaded or the process is
// ending): no new GCInitLib (GC_ERR_NOT_AVAILABLE) and no new call finds the manager; the module tree is
// closed, which stops the streams and ends the waits; once the calls still running on other threads have
// returned (within `limit`), the manager and its threads go. False when a call did not return in time: then
// the manager is left alive, since destroying it would free what that call uses.
bool end_library(std::chrono::milliseconds limit) noexcept;

}  // namespace vngtl
