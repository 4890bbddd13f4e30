#include "Camera.h"

#include "OpenDevice.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <tuple>
#include <vector>

namespace {

constexpr uint64_t width_pointer = 0x3000;
constexpr uint64_t height_pointer = 0x3004;

struct BootstrapField {
    uint64_t address;
    size_t length;  // 4 for a register shown as a number, else a text field
    const char* name;
};

const BootstrapField bootstrap_fields[] = {
    {0x0000, 4, "Standard"},
    {0x0004, 4, "Revision"},
    {0x0008, 4, "XmlManifestSize"},
    {0x2000, 32, "DeviceVendorName"},
    {0x2020, 32, "DeviceModelName"},
    {0x2040, 48, "DeviceManufacturerInfo"},
    {0x2070, 32, "DeviceVersion"},
    {0x20B0, 16, "DeviceSerialNumber"},
    {0x20C0, 16, "DeviceUserID"},
    {0x4014, 4, "ConnectionConfig"},
    {0x4018, 4, "ConnectionConfigDefault"},
};

// The Camera Link camera's GenCP bootstrap strings and its feature registers (little-endian), as
// sim/ClCameraRegisters.h places them.
const BootstrapField gencp_bootstrap_fields[] = {
    {0x0004, 64, "ManufacturerName"}, {0x0044, 64, "ModelName"},    {0x0084, 64, "FamilyName"},
    {0x00C4, 64, "DeviceVersion"},    {0x0144, 64, "SerialNumber"}, {0x0184, 64, "UserDefinedName"},
};
constexpr uint64_t cl_width_register = 0x10000;
constexpr uint64_t cl_height_register = 0x10004;

struct PortInfoName {
    int32_t command;
    const char* name;
};

const PortInfoName port_info[] = {
    {PORT_INFO_ID, "ID"},
    {PORT_INFO_VENDOR, "vendor"},
    {PORT_INFO_MODEL, "model"},
    {PORT_INFO_TLTYPE, "TL type"},
    {PORT_INFO_MODULE, "module"},
    {PORT_INFO_VERSION, "version"},
    {PORT_INFO_PORTNAME, "port name"},
    {PORT_INFO_LITTLE_ENDIAN, "little endian"},
    {PORT_INFO_BIG_ENDIAN, "big endian"},
    {PORT_INFO_ACCESS_READ, "readable"},
    {PORT_INFO_ACCESS_WRITE, "writable"},
    {PORT_INFO_ACCESS_NA, "not available"},
    {PORT_INFO_ACCESS_NI, "not implemented"},
};
// The ports' own commands beyond the standard ones.
const PortInfoName cxp_port_info[] = {{1000, "read word rounding"}, {1001, "write word rounding"}};
const PortInfoName cl_port_info[] = {{1000, "CLProtocol Device ID"}};

std::string port_value(Producer& producer, PORT_HANDLE port, int32_t command)
{
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    size_t size = 0;
    GC_ERROR code = producer.GCGetPortInfo(port, command, &type, nullptr, &size);
    std::vector<char> bytes(size + 1, 0);
    if (code == GC_ERR_SUCCESS) {
        code = producer.GCGetPortInfo(port, command, &type, bytes.data(), &size);
    }
    if (code != GC_ERR_SUCCESS) {
        return "(error " + std::to_string(code) + ")";
    }
    if (type == INFO_DATATYPE_BOOL8) {
        return bytes[0] != 0 ? "true" : "false";
    }
    return bytes.data();
}

std::string url_value(Producer& producer, PORT_HANDLE port, uint32_t index, int32_t command)
{
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    size_t size = 0;
    GC_ERROR code = producer.GCGetPortURLInfo(port, index, command, &type, nullptr, &size);
    std::vector<char> bytes(size + 1, 0);
    if (code == GC_ERR_SUCCESS) {
        code = producer.GCGetPortURLInfo(port, index, command, &type, bytes.data(), &size);
    }
    if (code != GC_ERR_SUCCESS) {
        return "?";
    }
    if (type == INFO_DATATYPE_INT32) {
        int32_t value = 0;
        std::memcpy(&value, bytes.data(), sizeof value);
        return std::to_string(value);
    }
    return bytes.data();
}

bool is_camera_link(Producer& producer, PORT_HANDLE port)
{
    return port_value(producer, port, PORT_INFO_TLTYPE) == "CL";
}

bool read_le32(Producer& producer, PORT_HANDLE port, uint64_t address, uint32_t& value)
{
    uint8_t bytes[4] = {};
    size_t size = sizeof bytes;
    if (producer.GCReadPort(port, address, bytes, &size) != GC_ERR_SUCCESS) {
        return false;
    }
    value = bytes[0] | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) | (uint32_t{bytes[3]} << 24);
    return true;
}

bool write_le32(Producer& producer, PORT_HANDLE port, uint64_t address, uint32_t value)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    size_t size = sizeof bytes;
    return producer.GCWritePort(port, address, bytes, &size) == GC_ERR_SUCCESS;
}

}  // namespace

bool read_camera_u32(Producer& producer, PORT_HANDLE port, uint64_t address, uint32_t& value)
{
    uint8_t bytes[4] = {};
    size_t size = sizeof bytes;
    if (producer.GCReadPort(port, address, bytes, &size) != GC_ERR_SUCCESS) {
        return false;
    }
    value = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
    return true;
}

bool write_camera_u32(Producer& producer, PORT_HANDLE port, uint64_t address, uint32_t value)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    size_t size = sizeof bytes;
    return producer.GCWritePort(port, address, bytes, &size) == GC_ERR_SUCCESS;
}

bool set_camera_geometry(Producer& producer, DEV_HANDLE device, std::optional<uint32_t> width,
                         std::optional<uint32_t> height)
{
    if (!width && !height) {
        return true;
    }
    PORT_HANDLE port = nullptr;
    if (producer.DevGetPort(device, &port) != GC_ERR_SUCCESS) {
        std::fprintf(stderr, "vngtl: the device has no camera port: %s\n", producer.last_error().c_str());
        return false;
    }
    if (is_camera_link(producer, port)) {
        // The Camera Link camera's registers are at fixed addresses, reached over the serial line.
        for (const auto& [value, address, name] : {std::tuple{width, cl_width_register, "Width"},
                                                   std::tuple{height, cl_height_register, "Height"}}) {
            if (!value) {
                continue;
            }
            if (!write_le32(producer, port, address, *value)) {
                std::fprintf(stderr, "vngtl: the camera refused %s %u: %s\n", name, *value,
                             producer.last_error().c_str());
                return false;
            }
            std::printf("camera %s set to %u\n", name, *value);
        }
        return true;
    }
    const struct {
        std::optional<uint32_t> value;
        uint64_t pointer;
        const char* name;
    } settings[] = {{width, width_pointer, "Width"}, {height, height_pointer, "Height"}};
    for (const auto& setting : settings) {
        if (!setting.value) {
            continue;
        }
        uint32_t address = 0;
        if (!read_camera_u32(producer, port, setting.pointer, address) || address == 0) {
            std::fprintf(stderr, "vngtl: the camera does not say where its %s register is: %s\n", setting.name,
                         producer.last_error().c_str());
            return false;
        }
        if (!write_camera_u32(producer, port, address, *setting.value)) {
            std::fprintf(stderr, "vngtl: the camera refused %s %u: %s\n", setting.name, *setting.value,
                         producer.last_error().c_str());
            return false;
        }
        std::printf("camera %s set to %u\n", setting.name, *setting.value);
    }
    return true;
}

int camera(Producer& producer, TL_HANDLE system, const std::string& which)
{
    IF_HANDLE iface = nullptr;
    DEV_HANDLE device = nullptr;
    std::string id;
    if (!open_device(producer, system, which, DEVICE_ACCESS_READONLY, iface, device, id)) {
        return 1;
    }
    int result = 0;
    PORT_HANDLE port = nullptr;
    std::printf("interface %s: %s\n", which.c_str(), id.c_str());
    if (producer.DevGetPort(device, &port) != GC_ERR_SUCCESS) {
        std::printf("no camera port: %s\n", producer.last_error().c_str());
        result = 1;
    } else {
        const bool camera_link = is_camera_link(producer, port);
        std::printf("remote port\n");
        for (const auto& entry : port_info) {
            std::printf("  %-24s %s\n", entry.name, port_value(producer, port, entry.command).c_str());
        }
        if (camera_link) {
            for (const auto& entry : cl_port_info) {
                std::printf("  %-24s %s\n", entry.name, port_value(producer, port, entry.command).c_str());
            }
        } else {
            for (const auto& entry : cxp_port_info) {
                std::printf("  %-24s %s\n", entry.name, port_value(producer, port, entry.command).c_str());
            }
        }
        uint32_t urls = 0;
        producer.GCGetNumPortURLs(port, &urls);
        std::printf("XML URLs: %u\n", urls);
        for (uint32_t u = 0; u < urls; ++u) {
            std::printf("  %u  %s  (schema %s.%s)\n", u, url_value(producer, port, u, URL_INFO_URL).c_str(),
                        url_value(producer, port, u, URL_INFO_SCHEMA_VER_MAJOR).c_str(),
                        url_value(producer, port, u, URL_INFO_SCHEMA_VER_MINOR).c_str());
        }
        if (camera_link) {
            std::printf("bootstrap (GenCP, over the serial line)\n");
            for (const auto& field : gencp_bootstrap_fields) {
                std::vector<char> text(field.length + 1, 0);
                size_t size = field.length;
                if (producer.GCReadPort(port, field.address, text.data(), &size) == GC_ERR_SUCCESS) {
                    std::printf("  %-24s %s\n", field.name, text.data());
                } else {
                    std::printf("  %-24s (cannot read)\n", field.name);
                }
            }
            for (const auto& [address, name] :
                 {std::pair{cl_width_register, "Width"}, std::pair{cl_height_register, "Height"}}) {
                uint32_t value = 0;
                if (read_le32(producer, port, address, value)) {
                    std::printf("  %-24s %u (register 0x%llx)\n", name, value, static_cast<unsigned long long>(address));
                }
            }
            producer.DevClose(device);
            producer.IFClose(iface);
            return result;
        }
        std::printf("bootstrap\n");
        for (const auto& field : bootstrap_fields) {
            if (field.length == 4) {
                uint32_t value = 0;
                if (read_camera_u32(producer, port, field.address, value)) {
                    std::printf("  %-24s 0x%08x\n", field.name, value);
                } else {
                    std::printf("  %-24s (cannot read)\n", field.name);
                }
                continue;
            }
            std::vector<char> text(field.length + 1, 0);
            size_t size = field.length;
            if (producer.GCReadPort(port, field.address, text.data(), &size) == GC_ERR_SUCCESS) {
                text[std::min(size, field.length)] = '\0';
                std::printf("  %-24s %s\n", field.name, text.data());
            } else {
                std::printf("  %-24s (cannot read)\n", field.name);
            }
        }
        for (const auto& [pointer, name] : {std::pair{width_pointer, "Width"}, std::pair{height_pointer, "Height"}}) {
            uint32_t address = 0;
            uint32_t value = 0;
            if (read_camera_u32(producer, port, pointer, address) && address != 0 &&
                read_camera_u32(producer, port, address, value)) {
                std::printf("  %-24s %u (register 0x%x)\n", name, value, address);
            }
        }
    }
    producer.DevClose(device);
    producer.IFClose(iface);
    return result;
}
