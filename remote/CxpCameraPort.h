// The camera access that the bootstrap reader and the XML cache need: one 32-bit register read and write,
// and a block read. The CoaXPress port implements it over the board; tests give a camera of their own.
#pragma once

#include <gentl/GenTL.h>

#include <cstddef>
#include <cstdint>

namespace vngtl {

class CxpCameraPort {
public:
    virtual ~CxpCameraPort() = default;

    // One 32-bit register at a word-aligned address, its value as a number (the camera's big-endian bytes
    // already turned into host order by the board). Each failure is recorded by the implementation.
    virtual GenTL::GC_ERROR read_register(uint64_t address, uint32_t& value) = 0;
    virtual GenTL::GC_ERROR write_register(uint64_t address, uint32_t value) = 0;
    // `*size` bytes from `address` into `buffer`; on success `*size` is the count moved.
    virtual GenTL::GC_ERROR read_block(uint64_t address, void* buffer, size_t* size) = 0;

protected:
    CxpCameraPort() = default;
    CxpCameraPort(const CxpCameraPort&) = default;
    CxpCameraPort& operator=(const CxpCameraPort&) = default;
};

}  // namespace vngtl
