// The one owner of the library's lifetime inside its process. A single instance lives at namespace scope
// (LibraryLifetime.cpp): it is built when the library is loaded and destroyed when it is unloaded (dlclose)
// or the process ends (return from main, exit() on any thread), whether or not the consumer called
// GCCloseLib.
//
// Order of the library's statics: the constructor builds every static that the library builds on first use
// and that a call or a destructor may still reach (the live-handle table, the last-error store's slot, the
// manager reference, the module description table), so each is destroyed after this object, since statics
// go in the reverse order of their construction. The destructor ends the library (end_library) while all of
// them still stand: the tree is closed, waits end, the streams' threads are joined, and the calls still
// running on other threads have returned before the manager goes. Statics built later by the standard
// library or by the consumer are not the library's concern.
#pragma once

namespace vngtl {

class LibraryLifetime {
public:
    LibraryLifetime() noexcept;
    ~LibraryLifetime();
    LibraryLifetime(const LibraryLifetime&) = delete;
    LibraryLifetime& operator=(const LibraryLifetime&) = delete;
};

}  // namespace vngtl
