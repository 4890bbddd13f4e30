#include "OpenDevice.h"

#include <cstdio>
#include <cstdlib>

bool open_device(Producer& producer, TL_HANDLE system, const std::string& which, DEVICE_ACCESS_FLAGS access,
                 IF_HANDLE& iface, DEV_HANDLE& device, std::string& id)
{
    producer.TLUpdateInterfaceList(system, nullptr, 1000);
    uint32_t count = 0;
    producer.TLGetNumInterfaces(system, &count);
    char* end = nullptr;
    const unsigned long index = std::strtoul(which.c_str(), &end, 10);
    if (!which.empty() && *end == '\0') {
        if (index >= count) {
            std::fprintf(stderr, "vngtl: there is no device %s (%u found)\n", which.c_str(), count);
            return false;
        }
        id = text_of([&](char* text, size_t* size) {
            return producer.TLGetInterfaceID(system, static_cast<uint32_t>(index), text, size);
        });
    } else {
        id = which;
    }
    if (producer.TLOpenInterface(system, id.c_str(), &iface) != GC_ERR_SUCCESS) {
        std::fprintf(stderr, "vngtl: cannot open interface \"%s\": %s\n", id.c_str(), producer.last_error().c_str());
        return false;
    }
    producer.IFUpdateDeviceList(iface, nullptr, 1000);
    const std::string device_id =
        text_of([&](char* text, size_t* size) { return producer.IFGetDeviceID(iface, 0, text, size); });
    if (producer.IFOpenDevice(iface, device_id.c_str(), access, &device) != GC_ERR_SUCCESS) {
        std::fprintf(stderr, "vngtl: cannot open the device of \"%s\": %s\n", id.c_str(),
                     producer.last_error().c_str());
        producer.IFClose(iface);
        return false;
    }
    return true;
}
