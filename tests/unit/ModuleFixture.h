// Shared fixture for tests of the system, interface and device modules through the exported functions, on
// the simulator's boards (by default board 0 CoaXPress, board 1 Camera Link).
#pragma once

#include "FrameTestObjects.h"
#include "modules/HandleMapping.h"

#include <cstring>
#include <string>
#include <vector>

class ModuleTest : public InitialisedTest {
protected:
    // Opens the system module (and with it the interface list).
    TL_HANDLE open_system()
    {
        TL_HANDLE system = nullptr;
        EXPECT_EQ(TLOpen(&system), GC_ERR_SUCCESS);
        return system;
    }

    static std::string interface_id(TL_HANDLE system, uint32_t index)
    {
        char id[512] = {};
        size_t size = sizeof id;
        EXPECT_EQ(TLGetInterfaceID(system, index, id, &size), GC_ERR_SUCCESS);
        return id;
    }

    static IF_HANDLE open_interface(TL_HANDLE system, uint32_t index)
    {
        IF_HANDLE iface = nullptr;
        EXPECT_EQ(TLOpenInterface(system, interface_id(system, index).c_str(), &iface), GC_ERR_SUCCESS);
        return iface;
    }

    DEV_HANDLE open_device(uint32_t index, DEVICE_ACCESS_FLAGS flags = DEVICE_ACCESS_CONTROL)
    {
        const TL_HANDLE system = open_system();
        const IF_HANDLE iface = open_interface(system, index);
        DEV_HANDLE device = nullptr;
        EXPECT_EQ(IFOpenDevice(iface, "TLDevice", flags, &device), GC_ERR_SUCCESS);
        return device;
    }

    static GC_ERROR read_u32(void* port, uint64_t address, uint32_t& value)
    {
        size_t size = sizeof value;
        return GCReadPort(port, address, &value, &size);
    }
    static uint32_t u32(void* port, uint64_t address)
    {
        uint32_t value = 0xdeadbeef;
        EXPECT_EQ(read_u32(port, address, value), GC_ERR_SUCCESS) << std::hex << address;
        return value;
    }
    static GC_ERROR write_u32(void* port, uint64_t address, uint32_t value)
    {
        size_t size = sizeof value;
        return GCWritePort(port, address, &value, &size);
    }

    // A string register of `length` bytes, up to its first zero byte.
    static GC_ERROR read_text(void* port, uint64_t address, size_t length, std::string& text)
    {
        std::vector<char> bytes(length, '\x7f');
        size_t size = length;
        const GC_ERROR code = GCReadPort(port, address, bytes.data(), &size);
        text.assign(bytes.data(), strnlen(bytes.data(), bytes.size()));
        return code;
    }
    static std::string text(void* port, uint64_t address, size_t length = 256)
    {
        std::string value;
        EXPECT_EQ(read_text(port, address, length, value), GC_ERR_SUCCESS) << std::hex << address;
        return value;
    }
    // Writes `value` with its zero byte.
    static GC_ERROR write_text(void* port, uint64_t address, const std::string& value)
    {
        size_t size = value.size() + 1;
        return GCWritePort(port, address, value.c_str(), &size);
    }

    // A string info value through one of the Get...Info functions.
    template <class Query>
    static std::string info_text(Query&& query)
    {
        INFO_DATATYPE type = 0;
        char buffer[1024] = {};
        size_t size = sizeof buffer;
        EXPECT_EQ(query(&type, buffer, &size), GC_ERR_SUCCESS);
        EXPECT_EQ(type, INFO_DATATYPE_STRING);
        return buffer;
    }

    static ::testing::AssertionResult recorded(const std::string& code, const std::string& file,
                                               const std::string& function, const std::string& message)
    {
        return is_record(last_error(), code, file, function, message);
    }
};
