// A file compiled into the library (the module XML descriptions), stored under a resource type and a
// numeric ID. The bytes are the file as stored, not zero-terminated, and live as long as the library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vngtl {

struct EmbeddedResource {
    const char* type;
    uint32_t id;
    const unsigned char* bytes;
    size_t size;
};

// Generated at build time from resources/*.xml (EmbedResources.cmake).
extern const EmbeddedResource embedded_resources[];
extern const size_t embedded_resource_count;

}  // namespace vngtl
