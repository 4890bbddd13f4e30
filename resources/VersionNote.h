// The library's file version, carried in the library file itself as an ELF note: owner "VNGTL", type 1,
// descriptor the zero-terminated text "major, minor, subminor, build". The linker puts the note section
// into every file that links the producer's code (VNGTL.cti, and programs linking it statically), where
// DynamicResourceDepot::FileVersion reads it back from the file.
#pragma once

#include "resources/FileVersion.h"

#include <cstdint>

namespace vngtl {

inline constexpr char version_note_owner[] = "VNGTL";
inline constexpr uint32_t version_note_type = 1;

// Note owners and descriptors take whole 4-byte words.
constexpr uint64_t note_padded(uint64_t size)
{
    return (size + 3) / 4 * 4;
}

// The layout of one ELF note: three header words, then owner and descriptor.
struct VersionNote {
    uint32_t owner_size;
    uint32_t descriptor_size;
    uint32_t note_type;
    char owner_name[note_padded(sizeof version_note_owner)];
    char descriptor[note_padded(sizeof file_version_text)];
};

// The note in the producer's code; its address is also an address inside the library file.
extern const VersionNote version_note;

}  // namespace vngtl
