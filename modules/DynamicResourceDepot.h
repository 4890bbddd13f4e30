// The library's own resources: the five module XML descriptions compiled into it, its file version as
// written into the library file, and the path of that file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace vngtl {

class DynamicResourceDepot {
public:
    struct Resource {
        uint32_t id;                   // numeric resource ID
        std::string_view module_file;  // the file name a module announces in its URL
    };

    // The resource table, keyed by resource name ("Resources\TLSystem.xml" and its siblings).
    static const std::map<std::string, Resource, std::less<>>& resources();

    // The type a resource is stored under: its name with letters upper-cased and every character that is
    // not a letter or digit replaced by '_' ("Resources\TLSystem.xml" -> "RESOURCES_TLSYSTEM_XML").
    static std::string resource_type(std::string_view name);

    // The bytes of the named resource, their count in *size_out. Null, with the failure recorded, when
    // `size_out` is null or the resource does not exist. The bytes are not zero-terminated, are never
    // copied, and stay valid for the life of the library.
    static const uint8_t* Get(std::string_view name, size_t* size_out);

    // The four numbers of the file version written into the library file at `path` ("major, minor,
    // subminor, build"). Each output may be null. False, with the failure recorded, when the file has none.
    static bool FileVersion(const std::string& path, uint32_t* major_out, uint32_t* minor_out,
                            uint32_t* subminor_out, uint32_t* build_out);

    // The absolute path of the file that holds the producer's code (VNGTL.cti, or the program the code
    // is linked into); empty when the loader cannot tell.
    static std::string LibraryPath();
};

}  // namespace vngtl
