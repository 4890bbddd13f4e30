// The common port: what GCReadPort, GCWritePort, GCGetPortInfo and the URL functions act on. The module
// ports answer from a register map, the remote-device ports from the camera.
#pragma once

#include "core/BaseInfo.h"

#include <gentl/GenTL.h>

#include <cstdint>

namespace vngtl {

class BasePort : public BaseInfo {
public:
    // A byte range of the port's space; `*size_in_out` is the number of bytes to move.
    virtual GenTL::GC_ERROR read(uint64_t address, void* buffer, size_t* size_in_out) = 0;
    virtual GenTL::GC_ERROR write(uint64_t address, const void* buffer, size_t* size_in_out) = 0;

    // The XML descriptions announced by the port, by the size protocol where they answer bytes.
    virtual GenTL::GC_ERROR num_urls(uint32_t* count_out) = 0;
    virtual GenTL::GC_ERROR url_info(uint32_t index, GenTL::URL_INFO_CMD command, GenTL::INFO_DATATYPE* type_out,
                                     void* buffer, size_t* size_in_out) = 0;
    // The first URL as a string.
    virtual GenTL::GC_ERROR get_url(char* buffer, size_t* size_in_out) = 0;
};

}  // namespace vngtl
