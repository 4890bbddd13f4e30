#include "resources/VersionNote.h"

#include <algorithm>
#include <iterator>

namespace vngtl {

// A section whose name begins with ".note" is a note section; the linker gathers it into the file's note
// segment. "used" keeps it although the code only takes its address.
[[gnu::section(".note.vngtl.version"), gnu::used, gnu::aligned(4)]]
extern constinit const VersionNote version_note = [] {
    VersionNote note{};
    note.owner_size = sizeof version_note_owner;
    note.descriptor_size = sizeof file_version_text;
    note.note_type = version_note_type;
    std::copy(std::begin(version_note_owner), std::end(version_note_owner), note.owner_name);
    std::copy(std::begin(file_version_text), std::end(file_version_text), note.descriptor);
    return note;
}();

}  // namespace vngtl
